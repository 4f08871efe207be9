// Firmware-customising messages end to end: a QuorvelTool copy, a page on
// Python's websockets, a scripted chooser that prints a preset path, and
// packages built by Python's zipfile and mksquashfs.

#include "FirmwareTestSupport.h"
#include "ServiceTestSupport.h"

using namespace FirmwareTest;
using namespace ServiceTest;

namespace {

// The chooser stand-in: prints the text of Browse.answer (none: cancelled;
// "block": waits until it is ended) and notes its arguments.
// The answer is read before the arguments are noted, so a test that waits for
// the note may change the answer for the next chooser.
const char *kChooser = R"(#!/bin/sh
cancelled=
if [ -f "$0.answer" ]; then answer=$(cat "$0.answer"); else cancelled=1; fi
printf '%s\n' "$*" >> "$0.args"
[ -z "$cancelled" ] || exit 1
if [ "$answer" = block ]; then read x; exit 1; fi
printf '%s' "$answer"
)";

} // namespace

class TestDiyMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void replies_data();
    void replies();
    void packageRoundTrip();
    void customisePackage();
    void languagesThroughLink();
    void chooserReplaced();

private:
    void choose(const QString &answer)
    {
        QFile::remove(m_service.appDir + QStringLiteral("/Browse.answer"));
        if (!answer.isNull())
            writeFile(m_service.appDir + QStringLiteral("/Browse.answer"), answer.toUtf8());
    }
    QJsonObject ask(PageClient &page, const QString &request)
    {
        if (!page.send(request))
            return QJsonObject();
        return parseObject(page.receive(60));
    }

    ServiceCopy m_service;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    QTemporaryDir m_scratch;
};

void TestDiyMessages::initTestCase()
{
    QVERIFY(m_service.prepare());
    const QString chooser = m_service.appDir + QStringLiteral("/Browse");
    QVERIFY(writeFile(chooser, kChooser));
    QVERIFY(QFile::setPermissions(chooser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    m_process = m_service.start(&m_port);
    QVERIFY(m_port != 0);
}

void TestDiyMessages::cleanupTestCase()
{
    stopService(m_process);
}

void TestDiyMessages::replies_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("chooser");
    QTest::addColumn<QString>("reply"); // the whole reply

    QTest::newRow("unknown sub type") << R"({"MainType":201,"SubType":5,"MsgID":"m5"})" << QString()
                                      << R"({"Msg":201,"SubMsg":5,"MsgID":"m5"})";
    QTest::newRow("package choice cancelled") << R"({"MainType":201,"SubType":1,"MsgID":1})" << QString()
                                              << R"({"Msg":201,"SubMsg":1,"MsgID":1,"Ret":300030})";
    QTest::newRow("empty choice") << R"({"MainType":201,"SubType":1,"MsgID":1})"
                                  << ""
                                  << R"({"Msg":201,"SubMsg":1,"MsgID":1,"ProgramPath":"","Ret":300030})";
    QTest::newRow("configuration not found")
        << R"({"MainType":201,"SubType":2,"MsgID":2,"Name":"Net","Channel":1})" << QString()
        << R"({"Msg":201,"SubMsg":2,"MsgID":2,"JsonName":"Net","JsonData":"","Ret":300002})";
    QTest::newRow("write without a package")
        << R"({"MainType":201,"SubType":3,"MsgID":3,"Name":"Net","JsonData":{}})" << QString()
        << R"({"Msg":201,"SubMsg":3,"MsgID":3,"Ret":300001})";
    QTest::newRow("produce without a package")
        << R"({"MainType":201,"SubType":4,"MsgID":4,"NewVersion":"11"})" << QString()
        << R"({"Msg":201,"SubMsg":4,"MsgID":4,"Ret":300001})";
    QTest::newRow("no languages") << R"({"MainType":201,"SubType":6,"MsgID":6})" << QString()
                                  << R"({"Msg":201,"SubMsg":6,"MsgID":6,"Ret":300000})";
    QTest::newRow("logo choice cancelled") << R"({"MainType":201,"SubType":7,"MsgID":7,"LogoType":2})"
                                           << QString() << R"({"Msg":201,"SubMsg":7,"MsgID":7,"Ret":1016})";
    QTest::newRow("mistyped sub type") << R"({"MainType":201,"SubType":"x","MsgID":8})" << QString()
                                       << R"({"Msg":201,"SubMsg":"x","MsgID":8})";
}

void TestDiyMessages::replies()
{
    QFETCH(QString, request);
    QFETCH(QString, chooser);
    QFETCH(QString, reply);
    PageClient page(wsUrl(m_port));
    QVERIFY(page.opened());
    choose(chooser);
    QCOMPARE(ask(page, request), parseObject(reply));
}

void TestDiyMessages::packageRoundTrip()
{
    const QString tree = m_scratch.path() + QStringLiteral("/custom");
    QVERIFY(writeFile(tree + QStringLiteral("/FirmwareInfo"), "NET_UPGRADE_FILE=DVR_V2\n"));
    QVERIFY(writeFile(tree + QStringLiteral("/qn_version/buildtime"), "Build:2023-06-29\n"));
    QVERIFY(writeFile(tree + QStringLiteral("/ProductDefinition"),
        R"({"LogoPartType":"squashfs","LogoArea":{"Begin":"0x100000","End":"0x200000"}})"));
    QVERIFY(QFile::link(QStringLiteral("/"), tree + QStringLiteral("/rootlink")));
    const QString folder = m_scratch.path() + QStringLiteral("/packages");
    QDir().mkpath(folder);
    QVERIFY(makeCustomPackage(folder + QStringLiteral("/fw_v2.zip"),
        R"({"Hardware":"AHB7008T-MH","UpgradeCommand":[]})", QStringLiteral("squashfs"), tree,
        m_scratch.path()));
    QVERIFY(makePackage(folder + QStringLiteral("/bad.zip"),
        { textEntry(QStringLiteral("InstallDesc"), "{}"), textEntry(QStringLiteral("../evil"), "x") },
        m_scratch.path()));
    // Another session's work, which no failure of this one may touch.
    const QString otherWork = m_service.appDir + QStringLiteral("/UnZip/other_999/keep.txt");
    QVERIFY(writeFile(otherWork, "keep"));

    PageClient page(wsUrl(m_port));
    QVERIFY(page.opened());
    // The chooser's answer, with "\" separators as a Windows chooser gives them.
    const QString chosen = folder + QStringLiteral("\\fw_v2.zip");
    choose(chosen);
    const QJsonObject unpacked = ask(page, R"({"MainType":201,"SubType":1,"MsgID":11})");
    const QString unzip = unpacked.value("DecompressPath").toString();
    const QString session = unzip.section(QLatin1Char('_'), -1);
    QCOMPARE(unzip, m_service.appDir + QStringLiteral("/UnZip/fw_v2_") + session);
    QCOMPARE(unpacked,
        parseObject(QStringLiteral(
            R"({"Msg":201,"SubMsg":1,"MsgID":11,"ProgramPath":"%1","BootLogo":"","DevType":"DVR","FirmName":"DVR_V2",
            "BuildTime":"2023-06-29","DiyVersion":"10","Hardware":"AHB7008T-MH","Channel":8,"DecompressPath":"%2","Ret":100})")
                        .arg(QString(chosen).replace("\\", "\\\\"), unzip)));
    QVERIFY(QFileInfo(unzip + QStringLiteral("/custom-x/root/rootlink")).isSymLink());

    // The produce folder's files become the output package.
    const QString produce = m_service.appDir + QStringLiteral("/Produce/fw_v2_") + session;
    QVERIFY(writeFile(produce + QStringLiteral("/logo/Colse/close.jpg"), "jpeg"));
    QVERIFY(writeFile(produce + QStringLiteral("/CustomConfig/Net.json"), "{}"));
    const QString output = m_scratch.path() + QStringLiteral("/out.zip");
    choose(output);
    QFile::remove(m_service.appDir + QStringLiteral("/Browse.args"));
    const QJsonObject produced = ask(page, R"({"MainType":201,"SubType":4,"MsgID":12,"NewVersion":"11"})");
    QCOMPARE(produced,
        parseObject(
            QStringLiteral(R"({"Msg":201,"SubMsg":4,"MsgID":12,"ZipFilePath":"%1","Ret":100})").arg(output)));
    const QString args = QString::fromUtf8(readFile(m_service.appDir + QStringLiteral("/Browse.args")));
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^101 1 %1/Produce %1/Produce/fw_v2_\\d{14}\\.zip \\.Zip\\(\\*\\.zip\\)\n$")
                     .arg(QRegularExpression::escape(m_service.appDir)))
                 .match(args)
                 .hasMatch(),
        qPrintable(args));
    QCOMPARE(runTool(QStringLiteral("unzip"), { QStringLiteral("-tq"), output }).exitCode, 0);
    QStringList listed
        = QString::fromUtf8(runTool(QStringLiteral("unzip"), { QStringLiteral("-Z1"), output }).out)
              .split('\n', Qt::SkipEmptyParts);
    listed.sort();
    QCOMPARE(listed,
        (QStringList { "CustomConfig/Net.json", "ExtDevIDConfig", "ProgramInfo", "logo/Colse/close.jpg" }));

    // A second, hostile package: the first one's folders go, the failure
    // removes this session's unpack folder only.
    choose(folder + QStringLiteral("/bad.zip"));
    const QJsonObject refused = ask(page, R"({"MainType":201,"SubType":1,"MsgID":13})");
    QCOMPARE(refused.value("Ret").toInt(), 300003);
    QVERIFY(!QFileInfo::exists(unzip));
    QVERIFY(!QFileInfo::exists(produce));
    QVERIFY(!QFileInfo::exists(m_service.appDir + QStringLiteral("/UnZip/bad_") + session));
    QCOMPARE(readFile(otherWork), QByteArray("keep"));
    QVERIFY(!QFileInfo::exists(m_scratch.path() + QStringLiteral("/evil")));

    // Leaving removes the session's folders.
    choose(chosen);
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":1,"MsgID":14})").value("Ret").toInt(), 100);
    QVERIFY(QFileInfo::exists(unzip));
    QVERIFY(page.close());
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(unzip) && !QFileInfo::exists(produce), 20000);
    QCOMPARE(readFile(otherWork), QByteArray("keep"));
}

// What a page does with a package: languages, a setting read and written
// back, a boot logo, the produced zip checked by Info-ZIP's unzip.
void TestDiyMessages::customisePackage()
{
    const QString tree = m_scratch.path() + QStringLiteral("/custom2/custom");
    QVERIFY(writeFile(tree + QStringLiteral("/FirmwareInfo"), "NET_UPGRADE_FILE=IPC_V3\n"));
    QVERIFY(writeFile(tree + QStringLiteral("/CustomConfig/Net.custom"),
        R"({"Wifi":{"On":1,"Ssid":"shop"},"Port":{"Http":80}})"));
    QVERIFY(writeFile(tree + QStringLiteral("/CustomConfig/ColorConfig.custom"), "{}"));
    QVERIFY(writeFile(tree + QStringLiteral("/data/Strings/English"), "x"));
    QVERIFY(writeFile(tree + QStringLiteral("/data/Strings/Chinese"), "x"));
    const QString package = m_scratch.path() + QStringLiteral("/ipc_v3.zip");
    QVERIFY(makeCustomPackage(package, R"({"Hardware":"IPC5M","UpgradeCommand":[]})",
        QStringLiteral("cramfs"), tree, m_scratch.path()));
    const QString logo = m_scratch.path() + QStringLiteral("/boot.jpg");
    QCOMPARE(runTool(QStringLiteral("convert"),
                 { QStringLiteral("-size"), QStringLiteral("800x600"), QStringLiteral("gradient:navy-gold"),
                     logo })
                 .exitCode,
        0);

    PageClient page(wsUrl(m_port));
    QVERIFY(page.opened());
    choose(package);
    const QJsonObject unpacked = ask(page, R"({"MainType":201,"SubType":1,"MsgID":1})");
    QCOMPARE(unpacked.value("Ret").toInt(), 100);
    QCOMPARE(unpacked.value("DevType").toString(), QStringLiteral("IPC"));
    QCOMPARE(unpacked.value("DiyVersion").toString(), QStringLiteral("10"));
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":6,"MsgID":2})"),
        parseObject(R"({"Msg":201,"SubMsg":6,"MsgID":2,"MultiLanguage":["Chinese","English"],"Ret":100})"));

    const QJsonObject setting
        = ask(page, R"({"MainType":201,"SubType":2,"MsgID":3,"Name":"Net.Wifi","Channel":0})");
    QCOMPARE(setting.value("Ret").toInt(), 100);
    QCOMPARE(parseObject(setting.value("JsonData").toString()),
        parseObject(R"({"Name":"Net.Wifi","Net.Wifi":{"On":1,"Ssid":"shop"}})"));
    QCOMPARE(
        ask(page,
            R"({"MainType":201,"SubType":3,"MsgID":4,"Name":"Net.Wifi","JsonData":{"Name":"Net.Wifi","Net.Wifi":{"On":0}}})")
            .value("Ret")
            .toInt(),
        100);
    QCOMPARE(
        ask(page, R"({"MainType":201,"SubType":3,"MsgID":5,"Name":"../../evil","JsonData":{"Name":"x"}})")
            .value("Ret")
            .toInt(),
        300002);
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":2,"MsgID":6,"Name":"../ipc","Channel":0})")
                 .value("Ret")
                 .toInt(),
        300002);

    choose(logo);
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":7,"MsgID":7,"LogoType":0})"),
        parseObject(
            QStringLiteral(R"({"Msg":201,"SubMsg":7,"MsgID":7,"LogoPath":"%1","Ret":100})").arg(logo)));

    const QString output = m_scratch.path() + QStringLiteral("/ipc_custom.zip");
    choose(output);
    QCOMPARE(
        ask(page, R"({"MainType":201,"SubType":4,"MsgID":8,"NewVersion":"11"})").value("Ret").toInt(), 100);
    QCOMPARE(runTool(QStringLiteral("unzip"), { QStringLiteral("-tq"), output }).exitCode, 0);
    QStringList listed
        = QString::fromUtf8(runTool(QStringLiteral("unzip"), { QStringLiteral("-Z1"), output }).out)
              .split('\n', Qt::SkipEmptyParts);
    listed.sort();
    QCOMPARE(
        listed, (QStringList { "ExtDevIDConfig", "Net.Port", "Net.Wifi", "ProgramInfo", "logo/trvnet.jpg" }));
    auto unzipped = [&](const char *name) {
        return runTool(QStringLiteral("unzip"), { QStringLiteral("-p"), output, QLatin1String(name) }).out;
    };
    QCOMPARE(QJsonDocument::fromJson(unzipped("Net.Wifi")).object(),
        parseObject(R"({"Name":"Net.Wifi","Net.Wifi":{"On":0,"Ssid":"shop"}})"));
    QCOMPARE(unzipped("logo/trvnet.jpg"), readFile(logo));
    QCOMPARE(QJsonDocument::fromJson(unzipped("ExtDevIDConfig"))
                 .object()
                 .value("ExtDevIDCfg")
                 .toObject()
                 .value("OEMSelfDef")
                 .toString(),
        QStringLiteral("11"));
    QVERIFY(!QFileInfo::exists(m_service.appDir + QStringLiteral("/evil")));
    QVERIFY(!QFileInfo::exists(m_service.appDir + QStringLiteral("/Produce/evil")));
    // Saving cancelled.
    choose(QString());
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":4,"MsgID":9,"NewVersion":"11"})"),
        parseObject(R"({"Msg":201,"SubMsg":4,"MsgID":9,"Ret":300000})"));
    QVERIFY(page.close());
}

// A package whose strings folder is a link to a folder of the host: the
// language list is that of the package, never the host folder's file names.
void TestDiyMessages::languagesThroughLink()
{
    const QString host = m_scratch.path() + QStringLiteral("/hostfolder");
    QVERIFY(writeFile(host + QStringLiteral("/id_rsa"), "secret"));
    const QString tree = m_scratch.path() + QStringLiteral("/linked/custom");
    QVERIFY(writeFile(tree + QStringLiteral("/FirmwareInfo"), "NET_UPGRADE_FILE=IPC_V4\n"));
    QVERIFY(QDir().mkpath(tree + QStringLiteral("/data")));
    QVERIFY(QFile::link(host, tree + QStringLiteral("/data/Strings")));
    const QString package = m_scratch.path() + QStringLiteral("/linked.zip");
    QVERIFY(makeCustomPackage(package, R"({"Hardware":"IPC5M","UpgradeCommand":[]})",
        QStringLiteral("squashfs"), tree, m_scratch.path()));

    PageClient page(wsUrl(m_port));
    QVERIFY(page.opened());
    choose(package);
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":1,"MsgID":1})").value("Ret").toInt(), 100);
    QCOMPARE(ask(page, R"({"MainType":201,"SubType":6,"MsgID":2})"),
        parseObject(R"({"Msg":201,"SubMsg":6,"MsgID":2,"Ret":300000})"));
    QVERIFY(page.close());
}

void TestDiyMessages::chooserReplaced()
{
    PageClient page(wsUrl(m_port));
    QVERIFY(page.opened());
    choose(QStringLiteral("block"));
    QVERIFY(page.send(R"({"MainType":201,"SubType":7,"MsgID":1,"LogoType":1})"));
    // The second chooser starts once the first one is waiting.
    const QString args = m_service.appDir + QStringLiteral("/Browse.args");
    QFile::remove(args);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(args).contains("8 1 1"), 20000);
    choose(QStringLiteral("/pictures/logo.jpg"));
    QVERIFY(page.send(R"({"MainType":201,"SubType":7,"MsgID":2,"LogoType":1})"));
    QCOMPARE(parseObject(page.receive(30)), parseObject(R"({"Msg":201,"SubMsg":7,"MsgID":1,"Ret":1016})"));
    const QJsonObject second = parseObject(page.receive(30));
    QCOMPARE(second.value("MsgID").toInt(), 2);
    QCOMPARE(second.value("LogoPath").toString(), QStringLiteral("/pictures/logo.jpg"));
}

QTEST_GUILESS_MAIN(TestDiyMessages)
#include "tst_diy_messages.moc"
