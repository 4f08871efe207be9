// The exit guard ends an exit that does not come from main's own end before
// static objects are destroyed, also those first used after the guard was
// installed (their destructors would otherwise run first, while other
// threads still use them). Each row runs this program again as a child that
// plays one way of ending.
#include "common/ExitGuard.h"

#include <QProcess>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

const char kScenarioVariable[] = "QV_EXIT_GUARD_SCENARIO";

// Says on standard error when it is destroyed.
struct Marker
{
    const char *name;
    ~Marker()
    {
        std::fprintf(stderr, "destroyed %s\n", name);
        std::fflush(stderr);
    }
};

Marker &madeFirst()
{
    static Marker m { "made before the guard" };
    return m;
}

Marker &madeLater()
{
    static Marker m { "made after the guard" };
    return m;
}

int runScenario(const char *scenario)
{
    madeFirst();
    ExitGuard::install("child");
    madeLater();
    if (std::strcmp(scenario, "abrupt") == 0)
        std::exit(3);
    if (std::strcmp(scenario, "orderly") == 0) {
        ExitGuard::markOrderlyExit();
        std::exit(0);
    }
    if (std::strcmp(scenario, "abrupt on another thread") == 0) {
        std::thread([] { std::exit(3); }).join();
        return 4;
    }
    return 5;
}

} // namespace

class TestExitGuard : public QObject
{
    Q_OBJECT

private slots:
    void endings_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("destroyed"); // in this order
        QTest::newRow("abrupt exit on the installing thread") << "abrupt" << 1 << QStringList {};
        QTest::newRow("orderly exit")
            << "orderly" << 0 << QStringList { "made after the guard", "made before the guard" };
        // The handler alone: what came after the guard is already gone.
        QTest::newRow("abrupt exit on another thread")
            << "abrupt on another thread" << 1 << QStringList { "made after the guard" };
    }
    void endings()
    {
        QFETCH(QString, scenario);
        QFETCH(int, exitCode);
        QFETCH(QStringList, destroyed);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kScenarioVariable), scenario);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), exitCode);
        const QString err = QString::fromUtf8(child.readAllStandardError());
        QStringList seen;
        for (const QString &line : err.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("destroyed ")))
                seen.append(line.mid(10));
        QCOMPARE(seen, destroyed);
        QCOMPARE(err.contains(QLatin1String("child: unexpected exit, ending at once")), exitCode == 1);
    }
};

int main(int argc, char **argv)
{
    if (const char *scenario = std::getenv(kScenarioVariable))
        return runScenario(scenario);
    QCoreApplication app(argc, argv);
    TestExitGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_exit_guard.moc"
