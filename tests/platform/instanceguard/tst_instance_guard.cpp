#include "InstanceGuard.h"

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

class TestInstanceGuard : public QObject
{
    Q_OBJECT

private slots:
    void oneHolderPerName()
    {
        InstanceGuard first("tst_guard_a");
        InstanceGuard second("tst_guard_a");
        InstanceGuard other("tst_guard_b");
        QVERIFY(first.lockFilePath().startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/"));
        QVERIFY(first.tryAcquire());
        QVERIFY(!second.tryAcquire());
        QVERIFY(second.errorText().isEmpty());
        QVERIFY(other.tryAcquire());
        first.release();
        QVERIFY(second.tryAcquire());
        QCOMPARE(QFileInfo(second.lockFilePath()).permissions() & (QFile::ReadOther | QFile::WriteOther),
            QFile::Permissions());
    }

    // A child started while the guard is held must not keep it alive.
    void childDoesNotInheritTheLock()
    {
        QProcess child;
        {
            InstanceGuard guard("tst_guard_c");
            QVERIFY(guard.tryAcquire());
            child.start("sleep", { "30" });
            QVERIFY(child.waitForStarted());
        }
        InstanceGuard next("tst_guard_c");
        QVERIFY(next.tryAcquire());
        child.kill();
        child.waitForFinished();
    }

    // The kernel drops the lock of a process that was killed.
    void killedHolderReleases()
    {
        InstanceGuard probe("tst_guard_d");
        QProcess holder;
        holder.start("/usr/bin/python3",
            { "-c",
                "import fcntl,sys,time; f=open(sys.argv[1],'a'); "
                "fcntl.flock(f, fcntl.LOCK_EX); print('held', flush=True); time.sleep(30)",
                probe.lockFilePath() });
        QVERIFY(holder.waitForReadyRead(10000));
        QVERIFY(!probe.tryAcquire());
        holder.kill();
        holder.waitForFinished();
        QTRY_VERIFY(probe.tryAcquire());
    }
};

QTEST_GUILESS_MAIN(TestInstanceGuard)
#include "tst_instance_guard.moc"
