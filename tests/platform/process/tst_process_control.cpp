#include "ProcessControl.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

class TestProcessControl : public QObject
{
    Q_OBJECT

private slots:
    void terminateRunningChild()
    {
        QProcess child;
        child.start("sleep", { "60" });
        QVERIFY(child.waitForStarted());
        const qint64 pid = child.processId();
        QVERIFY(ProcessControl::terminate(&child));
        QCOMPARE(child.state(), QProcess::NotRunning);
        QVERIFY(!QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
        // Once ended, nothing more happens, whatever now has that id.
        QVERIFY(ProcessControl::terminate(&child));
        QVERIFY(ProcessControl::terminate(nullptr));
    }

    // Far more output than a pipe holds: the child must not block on it.
    void chattyChildFinishes()
    {
        QProcess child;
        ProcessControl::withoutPipes(&child);
        child.start("sh", { "-c", "head -c 4194304 /dev/zero; echo done" });
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestProcessControl)
#include "tst_process_control.moc"
