// Settings requests through the dispatcher: the folders and file types in
// "ClientCfg.ini" (read back by Python's configparser), the alarm-type
// filter, and the folder and file choices through a scripted chooser.

#include "LiveFixture.h"
#include "common/Json.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace live_fixture;

namespace {

// The value of `key` in `section` of an INI file, as Python reads it.
QString pythonIni(const QString &file, const QString &section, const QString &key)
{
    QProcess python;
    python.start(QStringLiteral("python3"),
        { QStringLiteral("-c"),
            QStringLiteral(
                "import configparser,sys\n"
                "c=configparser.ConfigParser(interpolation=None)\n"
                "c.read(sys.argv[1],encoding='utf-8')\n"
                "sys.stdout.buffer.write(c.get(sys.argv[2],sys.argv[3],fallback='<none>').encode())"),
            file, section, key });
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return QStringLiteral("<python failed: %1>").arg(QString::fromUtf8(python.readAllStandardError()));
    return QString::fromUtf8(python.readAllStandardOutput());
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private:
    LiveFixture f;
    QScopedPointer<QTemporaryDir> m_dir;

    QString cfg() const { return m_dir->filePath(QStringLiteral("ClientCfg.ini")); }

    // The chooser's answer, which comes when the chooser has ended.
    QJsonObject chooserReply(const QString &request)
    {
        f.sent.clear();
        f.post(request);
        QJsonObject found;
        (void)QTest::qWaitFor(
            [&] {
                for (const QString &m : f.sent) {
                    if (object(m).contains(QStringLiteral("nRet")))
                        found = object(m);
                }
                return !found.isEmpty();
            },
            30000);
        return found;
    }

private slots:
    void initTestCase() { f.initTestCase(this); }
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        RequestContext::setAppFolder(m_dir->path());
        QVERIFY(f.start(device()));
        // No window: the settings are read from the file itself.
        f.install(false);
    }
    void cleanup()
    {
        f.stop();
        RequestContext::setAppFolder(QString());
    }
    void cleanupTestCase() { f.cleanupTestCase(); }

    void folders_data()
    {
        QTest::addColumn<QString>("path"); // saved as all three folders; empty: nothing saved
        QTest::addColumn<QString>("spoil"); // "directory" or ""
        QTest::addColumn<int>("ret");
        QTest::newRow("fresh install") << QString() << QString() << 100;
        QTest::newRow("non-ASCII") << QStringLiteral("/srv/录像 files/été") << QString() << 100;
        // Kept whole: no folder cut to 259 characters.
        QTest::newRow("long") << QStringLiteral("/data/") + QString(300, QLatin1Char('d')) << QString()
                              << 100;
        QTest::newRow("unwritable file") << QStringLiteral("/srv/new") << QStringLiteral("directory") << 1016;
    }
    void folders()
    {
        QFETCH(QString, path);
        QFETCH(QString, spoil);
        QFETCH(int, ret);
        const QString folder = m_dir->path();
        // A settings file that cannot be written (here: a folder in its place).
        if (!spoil.isEmpty())
            QVERIFY(QDir(folder).mkdir(QStringLiteral("ClientCfg.ini")));
        if (!path.isEmpty()) {
            Json::Value save(Json::objectValue);
            save["MainType"] = 18;
            save["SubType"] = '2';
            save["MsgID"] = 6;
            save["RecPath"] = save["CapPath"] = save["DownPath"] = path.toStdString();
            save["RecordType"] = 2;
            save["ImageType"] = 1;
            QCOMPARE(f.replyTo(JsonUtil::writeCompactText(save)),
                object(QStringLiteral(R"({"Msg":18,"SubMsg":50,"MsgID":6,"Ret":%1})").arg(ret)));
        }
        if (!spoil.isEmpty())
            return;

        const QJsonObject report = f.replyTo(R"({"MainType":18,"SubType":51,"MsgID":7})");
        QCOMPARE(report.value("Ret").toInt(), 100);
        const QString rec = path.isEmpty() ? folder + QStringLiteral("/Device/Record") : path;
        const QString cap = path.isEmpty() ? folder + QStringLiteral("/Device/Capture") : path;
        QCOMPARE(report.value("RecPath").toString(), rec);
        QCOMPARE(report.value("CapPath").toString(), cap);
        QCOMPARE(report.value("RecordFileType").toInt(), path.isEmpty() ? 0 : 2);
        QCOMPARE(report.value("ImageType").toInt(), path.isEmpty() ? 0 : 1);
        // What the file holds, as another reader sees it (defaults written back).
        QCOMPARE(pythonIni(cfg(), QStringLiteral("Path"), QStringLiteral("RecPath")), rec);
        QCOMPARE(pythonIni(cfg(), QStringLiteral("Path"), QStringLiteral("CapPath")), cap);
    }

    void alarmTypes_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("ret");
        QTest::addColumn<QStringList>("on"); // names read back as true
        QTest::addColumn<QString>("motion"); // "alarmtype/Motion" in the file
        QTest::newRow("one kind") << R"({"Motion":true})" << 100 << QStringList { "Motion" } << "true";
        QTest::newRow("numbers count")
            << R"({"all":1,"Carshape":true,"IO":0})" << 100 << QStringList { "all", "Carshape" } << "false";
        QTest::newRow("no filter") << R"(null)" << 100 << QStringList() << "false";
        // A text stops the writing: the kinds before it keep their new values.
        QTest::newRow("text member") << R"({"Prompt":true,"all":true,"Motion":"yes","Human":true})" << 1016
                                     << QStringList { "Prompt", "all" } << "<none>";
    }
    void alarmTypes()
    {
        QFETCH(QString, filter);
        QFETCH(int, ret);
        QFETCH(QStringList, on);
        QFETCH(QString, motion);
        // A fresh install reports every kind off.
        QJsonObject read = f.replyTo(R"({"MainType":15,"SubType":3,"MsgID":1})");
        QCOMPARE(read.value("alarmtype").toObject().size(), 12);
        for (const QJsonValue v : read.value("alarmtype").toObject())
            QCOMPARE(v.toBool(), false);

        const QString store
            = QStringLiteral(R"({"MainType":14,"SubType":5,"MsgID":2,"alarmtype":%1})").arg(filter);
        QCOMPARE(
            f.replyTo(store), object(QStringLiteral(R"({"Msg":14,"SubMsg":0,"MsgID":2,"Ret":%1})").arg(ret)));
        read = f.replyTo(R"({"MainType":15,"MsgID":3})");
        QCOMPARE(read.value("Ret").toInt(), 100);
        QCOMPARE(read.value("SubMsg").toInt(), 0);
        QStringList seen;
        const QJsonObject types = read.value("alarmtype").toObject();
        for (auto it = types.begin(); it != types.end(); ++it) {
            if (it.value().toBool())
                seen.append(it.key());
        }
        std::sort(on.begin(), on.end());
        QCOMPARE(seen, on);
        QCOMPARE(pythonIni(cfg(), QStringLiteral("alarmtype"), QStringLiteral("Motion")), motion);
    }

    // Choices through the chooser beside the player: its arguments per
    // caller and its output as the path.
    void chooser_data()
    {
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("script"); // empty: no chooser
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("reply");
        const QString chosen = QStringLiteral("printf '/home/u/视频 dir'\nexit 0\n");
        QTest::newRow("folder kind 0")
            << R"({"MainType":18,"SubType":48,"MsgID":1})" << chosen << "0 0"
            << R"({"Msg":18,"SubMsg":48,"MsgID":1,"nRet":100,"Path":"/home/u/视频 dir"})";
        QTest::newRow("folder kind 2")
            << R"({"MainType":18,"SubType":53,"MsgID":1})" << chosen << "2 0"
            << R"({"Msg":18,"SubMsg":53,"MsgID":1,"nRet":100,"Path":"/home/u/视频 dir"})";
        QTest::newRow("firmware file")
            << R"({"MainType":25,"SubType":0,"MsgID":9})" << chosen << "4 1"
            << R"({"Msg":25,"SubMsg":1,"MsgID":9,"nRet":100,"Path":"/home/u/视频 dir"})";
        QTest::newRow("cancelled") << R"({"MainType":18,"SubType":48,"MsgID":1})"
                                   << "exit 1\n"
                                   << "0 0"
                                   << R"({"Msg":18,"SubMsg":48,"MsgID":1,"nRet":1016})";
        QTest::newRow("empty choice") << R"({"MainType":25,"SubType":0,"MsgID":9})"
                                      << "exit 0\n"
                                      << "4 1"
                                      << R"({"Msg":25,"SubMsg":1,"MsgID":9,"nRet":1016})";
    }
    void chooser()
    {
        QFETCH(QString, request);
        QFETCH(QString, script);
        QFETCH(QString, args);
        QFETCH(QString, reply);
        const QString argsFile = m_dir->filePath(QStringLiteral("args"));
        {
            QFile browse(m_dir->filePath(QStringLiteral("Browse")));
            QVERIFY(browse.open(QIODevice::WriteOnly));
            browse.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n%2").arg(argsFile, script).toUtf8());
            browse.close();
            QVERIFY(browse.setPermissions(
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        }
        QCOMPARE(chooserReply(request), object(reply));
        QFile written(argsFile);
        QCOMPARE(
            written.open(QIODevice::ReadOnly) ? QString::fromUtf8(written.readAll()).trimmed() : QString(),
            args);
        // Other requests and SubTypes without a meaning get no answer.
        QCOMPARE(f.answersTo(R"({"MainType":18,"SubType":52})"), QStringList());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
