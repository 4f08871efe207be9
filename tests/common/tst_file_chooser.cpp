// The caller's side of the file chooser against scripted choosers: what it
// passes, what it takes as a choice, and that it answers once and releases
// the process in every ending.

#include "common/FileChooser.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestFileChooser : public QObject
{
    Q_OBJECT

private slots:
    void answer_data()
    {
        QTest::addColumn<QByteArray>("script"); // body of the chooser; empty: no program at all
        QTest::addColumn<bool>("executable");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("path");
        QTest::newRow("chosen") << QByteArray("printf '%s' '/home/u/Ab c/01_clip.h265x'") << true << true
                                << QStringLiteral("/home/u/Ab c/01_clip.h265x");
        QTest::newRow("output kept whole") << QByteArray("printf ' /x/\\303\\251t\\303\\251\\n'") << true
                                           << true << QStringLiteral(" /x/\u00e9t\u00e9\n");
        QTest::newRow("nothing printed") << QByteArray("exit 0") << true << true << QString();
        QTest::newRow("cancelled") << QByteArray("exit 1") << true << false << QString();
        QTest::newRow("printed, then failed")
            << QByteArray("printf /x; exit 3") << true << false << QString();
        QTest::newRow("crashed") << QByteArray("printf /x; kill -SEGV $$") << true << false << QString();
        QTest::newRow("not executable") << QByteArray("printf /x") << false << false << QString();
        QTest::newRow("missing") << QByteArray() << true << false << QString();
    }

    void answer()
    {
        QFETCH(QByteArray, script);
        QFETCH(bool, executable);
        QFETCH(bool, ok);
        QFETCH(QString, path);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString program = FileChooser::programPath(dir.path());
        QCOMPARE(program, dir.path() + QStringLiteral("/Browse"));
        if (!script.isEmpty()) {
            QFile file(program);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(
                "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$(dirname \"$0\")/args\"\n"
                + script + "\n");
            file.close();
            if (executable)
                QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        }

        QObject owner;
        int answers = 0;
        FileChooser::Answer got;
        QPointer<QProcess> process = FileChooser::start(&owner, program,
            { QStringLiteral("101"), QStringLiteral("1"), QStringLiteral("/d ir"), QString(),
                QStringLiteral(".Zip(*.zip)") },
            [&](const FileChooser::Answer &a) {
                ++answers;
                got = a;
            });
        QVERIFY(process);
        QCOMPARE(process->parent(), &owner);
        QCOMPARE(answers, 0); // never from inside the call
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, 20000);
        QCOMPARE(got.ok, ok);
        QCOMPARE(got.path, path);
        QTRY_VERIFY(process.isNull());
        QCoreApplication::processEvents();
        QCOMPARE(answers, 1);
        if (!script.isEmpty() && executable) {
            QFile args(dir.filePath(QStringLiteral("args")));
            QVERIFY(args.open(QIODevice::ReadOnly));
            QCOMPARE(args.readAll(), QByteArray("[101][1][/d ir][][.Zip(*.zip)]"));
        }
    }

    // A chooser that the caller ends (a new one replaces it) answers "nothing chosen".
    void endedByTheCaller()
    {
        QTemporaryDir dir;
        const QString program = FileChooser::programPath(dir.path());
        QFile file(program);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nprintf /x\nexec sleep 60\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
        QObject owner;
        int answers = 0;
        bool ok = true;
        QPointer<QProcess> process = FileChooser::start(
            &owner, program, { QStringLiteral("6"), QStringLiteral("1") }, [&](const FileChooser::Answer &a) {
                ++answers;
                ok = a.ok;
            });
        QVERIFY(process->waitForStarted(10000));
        process->kill();
        QTRY_COMPARE_WITH_TIMEOUT(answers, 1, 20000);
        QVERIFY(!ok);
        QTRY_VERIFY(process.isNull());
    }
};

QTEST_GUILESS_MAIN(TestFileChooser)
#include "tst_file_chooser.moc"
