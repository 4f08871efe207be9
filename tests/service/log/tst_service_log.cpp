#include "ServiceLog.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void touch(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class TestServiceLog : public QObject
{
    Q_OBJECT

private slots:
    void lineFormats_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("normal") << 0 << "DIYMsg nSessionID:3"
                                << QByteArray(
                                       " [NORMAL] [A::b] [2026-03-15 10:11:12 013] DIYMsg nSessionID:3\n");
        QTest::newRow("warning") << 1 << "w" << QByteArray(" [WARNING] [A::b] [2026-03-15 10:11:12 013] w\n");
        QTest::newRow("error") << 2 << "e" << QByteArray(" [ERROR] [A::b] [2026-03-15 10:11:12 013] e\n");
        QTest::newRow("line breaks removed")
            << 0 << "one\r\ntwo\nthree\r"
            << QByteArray(" [NORMAL] [A::b] [2026-03-15 10:11:12 013] onetwothree\n");
        QTest::newRow("other level: message alone") << 7 << "raw\r\n" << QByteArray("raw");
        QTest::newRow("percent signs kept")
            << 0 << "%1 %2" << QByteArray(" [NORMAL] [A::b] [2026-03-15 10:11:12 013] %1 %2\n");
    }
    void lineFormats()
    {
        QFETCH(int, level);
        QFETCH(QString, message);
        QFETCH(QByteArray, expected);
        QTemporaryDir dir;
        ServiceLog log(dir.path());
        log.setClock([] { return QDateTime(QDate(2026, 3, 15), QTime(10, 11, 12, 13)); });
        log.init(dir.path() + "/Log", ServiceLog::KeepAll);
        log.write(level, "A::b", message, ServiceLog::Diy);
        QCOMPARE(readFile(dir.path() + "/Log/Diy/20260315.log"), expected);
    }

    // The first line of a day names the file; later modules write into it.
    void oneFilePerDay()
    {
        QTemporaryDir dir;
        ServiceLog log(dir.path());
        QDateTime now(QDate(2026, 3, 15), QTime(23, 59, 59, 900));
        log.setClock([&now] { return now; });
        log.init(dir.path() + "/Log", ServiceLog::KeepAll);
        for (const char *folder : { "Plugin", "Quorvat", "Diy", "Auto" })
            QVERIFY(QFileInfo(dir.path() + "/Log/" + folder).isDir());

        log.write(0, "F", "first", ServiceLog::Quorvat);
        log.write(0, "F", "second", ServiceLog::Diy);
        QVERIFY(!QFile::exists(dir.path() + "/Log/Diy/20260315.log"));
        const QByteArray day1 = readFile(dir.path() + "/Log/Quorvat/20260315.log");
        QVERIFY(day1.contains("first"));
        QVERIFY(day1.contains("second"));

        now = QDateTime(QDate(2026, 3, 16), QTime(0, 0, 0, 100));
        log.write(0, "F", "after midnight", ServiceLog::Diy);
        QVERIFY(readFile(dir.path() + "/Log/Diy/20260316.log").contains("after midnight"));
        QVERIFY(!readFile(dir.path() + "/Log/Quorvat/20260315.log").contains("after midnight"));
    }

    void disabledLogCreatesEmptyFile()
    {
        QTemporaryDir dir;
        {
            QSettings cfg(dir.path() + "/ClientCfg.ini", QSettings::IniFormat);
            cfg.setValue("Enable/PrintLogEn", false);
        }
        ServiceLog log(dir.path());
        QVERIFY(!log.isEnabled());
        log.setClock([] { return QDateTime(QDate(2026, 3, 15), QTime(8, 0)); });
        log.init(dir.path() + "/Log", ServiceLog::KeepAll);
        log.write(0, "F", "not written", ServiceLog::Plugin);
        const QString file = dir.path() + "/Log/Plugin/20260315.log";
        QVERIFY(QFile::exists(file));
        QCOMPARE(QFileInfo(file).size(), 0);
    }

    // Before init there is no root: nothing lands in a folder of "/".
    void writeBeforeInit()
    {
        QTemporaryDir dir;
        ServiceLog log(dir.path());
        const QString probe = QStringLiteral("/Quorvat");
        const bool existed = QFileInfo::exists(probe);
        log.write(0, "F", "early line", ServiceLog::Quorvat);
        QCOMPARE(QFileInfo::exists(probe), existed);
        QCOMPARE(log.moduleFolder(ServiceLog::Quorvat), probe);
    }

    void pruning_data()
    {
        QTest::addColumn<int>("keepMode");
        QTest::addColumn<QStringList>("kept");
        QTest::addColumn<QStringList>("deleted");
        QTest::newRow("month") << int(ServiceLog::KeepMonth)
                               << QStringList { "20260215.log", "20260310.log", "notes.log", ".log",
                                      "readme.txt" }
                               << QStringList { "20260214.log", "1.log", "20251231.log" };
        QTest::newRow("week") << int(ServiceLog::KeepWeek) << QStringList { "20260308.log", "notes.log" }
                              << QStringList { "20260307.log", "20260215.log", "1.log" };
        QTest::newRow("everything") << int(ServiceLog::KeepAll)
                                    << QStringList { "20200101.log", "1.log", "20260315.log" }
                                    << QStringList {};
    }
    void pruning()
    {
        QFETCH(int, keepMode);
        QFETCH(QStringList, kept);
        QFETCH(QStringList, deleted);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/Log/Diy";
        QDir().mkpath(folder);
        for (const QString &name : kept + deleted)
            touch(folder + "/" + name);
        ServiceLog log(dir.path());
        log.setClock([] { return QDateTime(QDate(2026, 3, 15), QTime(9, 0)); });
        log.init(dir.path() + "/Log", keepMode);
        for (const QString &name : kept)
            QVERIFY2(QFile::exists(folder + "/" + name), qPrintable(name));
        for (const QString &name : deleted)
            QVERIFY2(!QFile::exists(folder + "/" + name), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestServiceLog)
#include "tst_service_log.moc"
