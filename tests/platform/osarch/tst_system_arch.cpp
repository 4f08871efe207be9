#include "SystemArch.h"

#include <QProcess>
#include <QtTest>

class TestSystemArch : public QObject
{
    Q_OBJECT

private slots:
    void matchesTheKernel()
    {
        QProcess uname;
        uname.start("uname", { "-m" });
        QVERIFY(uname.waitForFinished());
        const QString machine = QString::fromLatin1(uname.readAllStandardOutput().trimmed());
        QCOMPARE(SystemArch::machine(), machine);
        QCOMPARE(SystemArch::is64Bit(), machine.contains("64"));
    }

    void forced()
    {
        SystemArch::force(false);
        QVERIFY(!SystemArch::is64Bit());
        SystemArch::force(true);
        QVERIFY(SystemArch::is64Bit());
        SystemArch::clearForce();
        QCOMPARE(SystemArch::is64Bit(), SystemArch::machine().contains("64"));
    }
};

QTEST_GUILESS_MAIN(TestSystemArch)
#include "tst_system_arch.moc"
