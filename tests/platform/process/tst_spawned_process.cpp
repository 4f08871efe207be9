#include "SpawnedProcess.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("(missing)");
}

} // namespace

class TestSpawnedProcess : public QObject
{
    Q_OBJECT

private slots:
    // How a child ends reaches the event loop as its exit code or its signal.
    void endings_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("crashed");
        QTest::newRow("exit 0") << "exit 0" << 0 << false;
        QTest::newRow("exit 3") << "exit 3" << 3 << false;
        QTest::newRow("exit 255") << "exit 255" << 255 << false;
        QTest::newRow("killed by TERM") << "kill -TERM $$" << int(SIGTERM) << true;
        QTest::newRow("aborted") << "kill -ABRT $$" << int(SIGABRT) << true;
    }
    void endings()
    {
        QFETCH(QString, script);
        QFETCH(int, code);
        QFETCH(bool, crashed);
        SpawnedProcess child;
        QSignalSpy finished(&child, &SpawnedProcess::finished);
        QVERIFY2(child.start("/bin/sh", { "-c", script }, QString()), qPrintable(child.errorString()));
        QVERIFY(child.processId() > 0);
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), code);
        QCOMPARE(finished.at(0).at(1).toBool(), crashed);
        QVERIFY(!child.isRunning());
        // Reaped: the id names no process of ours any more.
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(child.processId())));
    }

    // What the child is given: its folder, /dev/null for input and output, the
    // default SIGPIPE action even when the parent ignores it, its arguments whole.
    void childSetup_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("working folder") << "pwd > \"$OUT\"" << QByteArray("(dir)");
        QTest::newRow("input") << "readlink /proc/$$/fd/0 > \"$OUT\"" << QByteArray("/dev/null");
        // Through a pipe, so that the shell's own output is not redirected meanwhile.
        QTest::newRow("output") << "readlink /proc/$$/fd/1 | cat > \"$OUT\"" << QByteArray("/dev/null");
        // Bit 13 of the ignored signals is SIGPIPE.
        QTest::newRow("SIGPIPE") << "grep SigIgn /proc/$$/status | cut -f2 | cut -c13 > \"$OUT\""
                                 << QByteArray("0");
        QTest::newRow("arguments") << "printf '%s|' \"$0\" \"$1\" > \"$OUT\""
                                   << QByteArray("two words|\xc3\xa9t\xc3\xa9|");
    }
    void childSetup()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        if (expected == "(dir)")
            expected = QFile::encodeName(QFileInfo(dir.path()).canonicalFilePath());
        // The child has the parent's environment: it finds its output file there.
        qputenv("OUT", QFile::encodeName(dir.path() + "/out"));
        const auto previous = std::signal(SIGPIPE, SIG_IGN);
        SpawnedProcess child;
        QSignalSpy finished(&child, &SpawnedProcess::finished);
        const bool started = child.start("/bin/sh",
            { "-c", script, QStringLiteral("two words"), QString::fromUtf8("\xc3\xa9t\xc3\xa9") },
            dir.path());
        std::signal(SIGPIPE, previous);
        QVERIFY2(started, qPrintable(child.errorString()));
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.at(0).at(0).toInt(), 0);
        QCOMPARE(readFile(dir.path() + "/out"), expected);
    }

    // A program that cannot run is known when start returns, and nothing
    // else follows.
    void cannotRun_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("folder");
        QTest::newRow("missing program") << "/nonexistent/player" << QString();
        QTest::newRow("not executable") << "/etc/hostname" << QString();
        QTest::newRow("missing folder") << "/bin/true"
                                        << "/nonexistent/folder";
    }
    void cannotRun()
    {
        QFETCH(QString, program);
        QFETCH(QString, folder);
        SpawnedProcess child;
        QSignalSpy finished(&child, &SpawnedProcess::finished);
        QVERIFY(!child.start(program, {}, folder));
        QVERIFY(!child.errorString().isEmpty());
        QVERIFY(!child.isRunning());
        QVERIFY(child.waitForFinished(0));
        QVERIFY(!finished.wait(200));
        // A second start of the same object is refused.
        QVERIFY(!child.start("/bin/true", {}, QString()));
    }

    void killAndDestroy()
    {
        SpawnedProcess child;
        QVERIFY(child.start("/bin/sleep", { "60" }, QString()));
        QVERIFY(!child.waitForFinished(0));
        QSignalSpy finished(&child, &SpawnedProcess::finished);
        QVERIFY(child.terminate());
        QVERIFY(!child.isRunning());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), int(SIGKILL));
        QVERIFY(child.terminate());

        qint64 pid = 0;
        {
            SpawnedProcess running;
            QVERIFY(running.start("/bin/sleep", { "60" }, QString()));
            pid = running.processId();
        }
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
    }
};

QTEST_GUILESS_MAIN(TestSpawnedProcess)
#include "tst_spawned_process.moc"
