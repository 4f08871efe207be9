#include "LightWeightLog.h"
#include "WriteLogThread.h"
#include "common/LogText.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

QStringList logFiles(const QString &folder)
{
    return QDir(folder).entryList({ QStringLiteral("log_*.log") }, QDir::Files, QDir::Name);
}

QByteArray readAll(const QString &folder)
{
    QByteArray all;
    for (const QString &name : logFiles(folder)) {
        QFile f(folder + QLatin1Char('/') + name);
        f.open(QIODevice::ReadOnly);
        all += f.readAll();
    }
    return all;
}

// A file named like a log of process `pid`, last modified `ageSeconds` ago.
void makeOldLog(const QString &folder, qint64 pid, int ageSeconds, const QString &suffix = QString())
{
    const QDateTime when = QDateTime::currentDateTime().addSecs(-ageSeconds);
    const QString name = QStringLiteral("%1/log_%2_%3%4.log")
                             .arg(folder)
                             .arg(pid)
                             .arg(when.toString(QStringLiteral("yyyyMMddhhmmss")), suffix);
    QFile f(name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("old\n");
    f.close();
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
}

// A pid that belongs to no running process.
qint64 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("/bin/true"), QStringList());
    p.waitForFinished();
    return p.processId() > 0 ? p.processId() : 999999;
}

} // namespace

class TestLightWeightLog : public QObject
{
    Q_OBJECT

private slots:
    void lineFormat_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("expected");
        const QString time = QStringLiteral("2026-01-02 03:04:05 006");
        Q_UNUSED(time)
        QTest::newRow("normal") << 0 << "main"
                                << "start plugin"
                                << "[ NORMAL] [0x0000abcd] [T] [" + QString(41, QLatin1Char(' '))
                + "main] start plugin\n";
        QTest::newRow("warning") << 1 << "A::b"
                                 << "x"
                                 << "[WARNING] [0x0000abcd] [T] [" + QString(41, QLatin1Char(' '))
                + "A::b] x\n";
        QTest::newRow("error") << 2 << "A::b"
                               << "x"
                               << "[  ERROR] [0x0000abcd] [T] [" + QString(41, QLatin1Char(' '))
                + "A::b] x\n";
        QTest::newRow("line breaks removed")
            << 0 << "A::b"
            << "a\r\nb"
            << "[ NORMAL] [0x0000abcd] [T] [" + QString(41, QLatin1Char(' ')) + "A::b] ab\n";
        const QString longName(50, QLatin1Char('f'));
        QTest::newRow("long function kept whole") << 0 << longName << "m"
                                                  << "[ NORMAL] [0x0000abcd] [T] [" + longName + "] m\n";
        QTest::newRow("other level unformatted") << 7 << "A::b"
                                                 << "raw\ntext"
                                                 << "rawtext";
        QTest::newRow("password hidden") << 0 << "A::b"
                                         << R"(RecvWeb msg={"MainType":8,"Password":"pw"})"
                                         << "[ NORMAL] [0x0000abcd] [T] [" + QString(41, QLatin1Char(' '))
                + R"(A::b] RecvWeb msg={"MainType":8,"Password":"***"})" + "\n";
        QTest::newRow("percent signs stay")
            << 0 << "A::b"
            << "%1 %2"
            << "[ NORMAL] [0x0000abcd] [T] [" + QString(41, QLatin1Char(' ')) + "A::b] %1 %2\n";
    }
    void lineFormat()
    {
        QFETCH(int, level);
        QFETCH(QString, function);
        QFETCH(QString, message);
        QFETCH(QString, expected);
        QCOMPARE(LightWeightLog::formatLine(function, message, level, 0xabcd, QStringLiteral("T")), expected);
    }

    void wideThreadIdIsWrittenWhole()
    {
        const QString line = LightWeightLog::formatLine(
            QStringLiteral("f"), QStringLiteral("m"), 0, quintptr(0x7f12345678ab), QStringLiteral("T"));
        QVERIFY(line.startsWith(QStringLiteral("[ NORMAL] [0x7f12345678ab] [T]")));
    }

    void disabledLogMakesNoFolder()
    {
        QTemporaryDir dir;
        QFile cfg(dir.filePath(QStringLiteral("ClientCfg.ini")));
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write("[Enable]\nPrintLogEn=false\n");
        cfg.close();
        {
            LightWeightLog log(dir.path());
            QVERIFY(!log.isEnabled());
            log.PrintLog(QStringLiteral("A::b"), QStringLiteral("nothing"), 0);
        }
        QVERIFY(!QDir(dir.filePath(QStringLiteral("log"))).exists());
    }

    // Lines from several threads all reach the file by the time the log is
    // stopped, each thread's lines in its own order.
    void linesReachDiskAtStop()
    {
        QTemporaryDir dir;
        {
            LightWeightLog log(dir.path());
            QVector<QThread *> threads;
            for (int t = 0; t < 4; ++t) {
                threads.append(QThread::create([&log, t] {
                    for (int i = 0; i < 200; ++i)
                        log.PrintLog(QStringLiteral("T::run"), QStringLiteral("t%1 n%2").arg(t).arg(i), 0);
                }));
                threads.last()->start();
            }
            for (QThread *th : threads) {
                th->wait();
                delete th;
            }
            log.stop();
        }
        const QByteArray text = readAll(dir.filePath(QStringLiteral("log")));
        for (int t = 0; t < 4; ++t) {
            int last = -1;
            for (int i = 0; i < 200; ++i) {
                const int at = text.indexOf(QStringLiteral("] t%1 n%2\n").arg(t).arg(i).toUtf8());
                QVERIFY2(at > last, qPrintable(QStringLiteral("t%1 n%2").arg(t).arg(i)));
                last = at;
            }
        }
    }

    // Without a stop, lines reach the file by themselves: a line after a
    // quiet spell, lines that keep coming while a batch is due, and a line
    // after the writer has gone quiet again.
    void linesReachDiskWhileRunning()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("log"));
        LightWeightLog log(dir.path());
        auto written = [&](const QString &text) { return readAll(folder).contains(text.toUtf8() + '\n'); };

        log.PrintLog(QStringLiteral("T::run"), QStringLiteral("first"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(written(QStringLiteral("first")), 5000);
        for (int i = 0; i < 50; ++i)
            log.PrintLog(QStringLiteral("T::run"), QStringLiteral("burst %1").arg(i), 0);
        QTRY_VERIFY_WITH_TIMEOUT(written(QStringLiteral("burst 49")), 5000);
        // Well past the batch time: the writer looked once more, found
        // nothing and sleeps until the next line wakes it.
        QTest::qWait(5 * WriteLogThread::kBatchMs);
        log.PrintLog(QStringLiteral("T::run"), QStringLiteral("after quiet"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(written(QStringLiteral("after quiet")), 5000);
        log.stop();
    }

    // The line that takes a file past 512 KiB still goes into it; the next
    // opens a new file. Two rotations within one second never reuse a name.
    void rotationNeverOverwrites()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("log"));
        int lines = 0;
        {
            LightWeightLog log(dir.path());
            // Lines as long as a log line keeps; a file takes at most this
            // many before it passes the rotation size.
            const QString big(LogText::kMaxLogText - 8, QLatin1Char('x'));
            const int perFile = int(WriteLogThread::kRotateSize / big.size()) + 1;
            lines = 2 * perFile + 1;
            for (int i = 0; i < lines; ++i)
                log.PrintLog(QStringLiteral("A::b"), QStringLiteral("%1 %2").arg(i, 4).arg(big), 0);
            log.stop();
        }
        const QStringList files = logFiles(folder);
        // Two full files and a third one begun.
        QCOMPARE(files.size(), 3);
        qint64 total = 0;
        for (int f = 0; f < files.size(); ++f) {
            const qint64 size = QFileInfo(folder + QLatin1Char('/') + files[f]).size();
            QVERIFY(f == files.size() - 1 || size > WriteLogThread::kRotateSize);
            total += size;
        }
        QVERIFY(total > lines * (LogText::kMaxLogText - 8));
        const QByteArray text = readAll(folder);
        for (int i = 0; i < lines; ++i)
            QVERIFY(text.contains(QStringLiteral("] %1 xxx").arg(i, 4).toUtf8()));
    }

    void namePattern_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("ours");
        QTest::newRow("plain") << "log_123_20261208101010.log" << true;
        QTest::newRow("suffix") << "log_123_20261208101010_2.log" << true;
        QTest::newRow("other text") << "notes.txt" << false;
        QTest::newRow("short time") << "log_123_2026.log" << false;
        QTest::newRow("other extension") << "log_123_20261208101010.log.bak" << false;
    }
    void namePattern()
    {
        QFETCH(QString, name);
        QFETCH(bool, ours);
        QCOMPARE(WriteLogThread::isLogFileName(name), ours);
    }

    // At start the folder keeps its 4 newest logs; other files stay, and so
    // does the log of a player that still runs.
    void pruneAtStart()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("log"));
        QDir().mkpath(folder);
        const qint64 dead = deadPid();
        for (int i = 0; i < 6; ++i)
            makeOldLog(folder, dead, 600 - i * 60);
        // The oldest of all belongs to a running process (our parent).
        makeOldLog(folder, qint64(getppid()), 3600);
        QFile other(folder + QStringLiteral("/notes.txt"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();

        const QStringList before = logFiles(folder);
        WriteLogThread writer(folder);
        const QStringList after = logFiles(folder);
        QCOMPARE(after.size(), 4);
        QVERIFY(QFile::exists(folder + QStringLiteral("/notes.txt")));
        QVERIFY(after.join(QLatin1Char(' ')).contains(QStringLiteral("log_%1_").arg(getppid())));
        // The three deleted are the three oldest of the dead process.
        QStringList deleted = before;
        for (const QString &f : after)
            deleted.removeAll(f);
        QCOMPARE(deleted.size(), 3);
        writer.stop();
    }

    // Lines written as one batch still rotate where single lines would: the
    // file is replaced once it holds more than 512 KiB, and no line is lost
    // or split.
    void batchRotatesBetweenLines()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("log"));
        QDir().mkpath(folder);
        WriteLogThread writer(folder);
        writer.start();
        QByteArray expected;
        for (char c : { 'a', 'b', 'c' }) {
            const QString line = QString(300 * 1024, QLatin1Char(c)) + QLatin1Char('\n');
            writer.post(line);
            expected += line.toLatin1();
        }
        writer.stop();
        QCOMPARE(logFiles(folder).size(), 2);
        QCOMPARE(readAll(folder), expected);
        QFile second(folder + QLatin1Char('/') + logFiles(folder).last());
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.size(), qint64(300 * 1024 + 1));
    }

    // At a rotation with 12 files, the 2 oldest go and the new file makes 11.
    void pruneAtRotation()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("log"));
        QDir().mkpath(folder);
        WriteLogThread writer(folder);
        writer.start();
        const QString big(600 * 1024, QLatin1Char('y'));
        QMetaObject::invokeMethod(
            &writer, [&] { writer.writeLog(big + QLatin1Char('\n')); }, Qt::BlockingQueuedConnection);
        const qint64 dead = deadPid();
        for (int i = 0; i < 11; ++i)
            makeOldLog(folder, dead, 7200 - i * 60);
        QCOMPARE(logFiles(folder).size(), 12);
        QMetaObject::invokeMethod(
            &writer, [&] { writer.writeLog(QStringLiteral("next\n")); }, Qt::BlockingQueuedConnection);
        QCOMPARE(logFiles(folder).size(), 11);
        writer.stop();
    }
};

QTEST_GUILESS_MAIN(TestLightWeightLog)
#include "tst_light_weight_log.moc"
