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

    // A link planted where the private folder belongs is not followed.
    void plantedLinkRefused()
    {
        QTemporaryDir tmp;
        QTemporaryDir elsewhere;
        qputenv("TMPDIR", QFile::encodeName(tmp.path()));
        qunsetenv("XDG_RUNTIME_DIR");
        const QString path = tmp.path() + "/runtime-" + QString::number(::getuid());
        QVERIFY(QFile::link(elsewhere.path(), path));
        // Nor is a home that others may write into (a usable home is taken
        // instead: see the service's limits test).
        const QByteArray home = qgetenv("HOME");
        ::chmod(QFile::encodeName(elsewhere.path()).constData(), 0777);
        qputenv("HOME", QFile::encodeName(elsewhere.path()));
        const QString found = UserRuntime::dir();
        qputenv("HOME", home);
        QCOMPARE(found, QString());
    }
};

QTEST_GUILESS_MAIN(TestUserRuntime)
#include "tst_user_runtime.moc"
