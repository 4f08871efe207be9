#include "UserRuntime.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestUserRuntime : public QObject
{
    Q_OBJECT

private slots:
    void fromEnvironment()
    {
        QTemporaryDir dir;
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
        QCOMPARE(UserRuntime::dir(), dir.path());
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(dir.path()).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0700); // tightened
    }

    void fallbackWhenUnsetOrUnusable_data()
    {
        QTest::addColumn<QByteArray>("xdg");
        QTest::newRow("unset") << QByteArray();
        QTest::newRow("not a folder") << QByteArray("/dev/null");
    }
    void fallbackWhenUnsetOrUnusable()
    {
        QFETCH(QByteArray, xdg);
        QTemporaryDir tmp;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        if (xdg.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", xdg);
        const QString expected = tmp.path() + "/runtime-" + QString::number(::getuid());
        QCOMPARE(UserRuntime::dir(), expected);
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(expected).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(int(st.st_mode & 0777), 0700);
    }

    // A link or another user's folder planted where the private folder
    // belongs is never used: the folder goes to the home, or there is none
    // when the home is no private folder of this user either.
    void plantedNameRefused_data()
    {
        QTest::addColumn<bool>("link");
        QTest::addColumn<bool>("usableHome");
        QTest::newRow("link, home usable") << true << true;
        QTest::newRow("link, no home") << true << false;
        QTest::newRow("other user's folder, home usable") << false << true;
        QTest::newRow("other user's folder, no home") << false << false;
    }
    void plantedNameRefused()
    {
        QFETCH(bool, link);
        QFETCH(bool, usableHome);
        QTemporaryDir tmp;
        QTemporaryDir elsewhere;
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        qunsetenv("XDG_RUNTIME_DIR");
        const QString uid = QString::number(::getuid());
        const QString path = tmp.path() + "/runtime-" + uid;
        if (link) {
            QVERIFY(QFile::link(elsewhere.path(), path));
        } else {
            if (::getuid() != 0)
                QSKIP("only root can make a folder of another user");
            QVERIFY(QDir().mkdir(path));
            QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        }
        // A home others may write into is no safe place either.
        ::chmod(QFile::encodeName(home.path()).constData(), usableHome ? 0700 : 0777);
        qputenv("HOME", QFile::encodeName(home.path()));
        const QString found = UserRuntime::dir();
        qputenv("HOME", oldHome);
        const QString expected = usableHome ? home.path() + "/.runtime-" + uid : QString();
        QCOMPARE(found, expected);
        if (usableHome) {
            struct stat st;
            QCOMPARE(::lstat(QFile::encodeName(expected).constData(), &st), 0);
            QVERIFY(S_ISDIR(st.st_mode));
            QCOMPARE(int(st.st_mode & 0777), 0700);
        }
    }
};

QTEST_GUILESS_MAIN(TestUserRuntime)
#include "tst_user_runtime.moc"
