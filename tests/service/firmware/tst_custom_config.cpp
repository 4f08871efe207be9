// Custom configuration of a package: the custom files split into one JSON
// file per setting (each checked by Python's json.tool), the page's writes
// merged into the stored files, the version rule and the language list.

#include "DiyFirmware.h"
#include "FirmwareTestSupport.h"
#include "common/Json.h"

using namespace FirmwareTest;

namespace {

// A session over a scratch tree: the custom partition under the unpack
// folder, an empty produce folder beside it.
struct Session
{
    QTemporaryDir dir;
    QString unzip, custom, produce;
    CDiyFirmware firmware { dir.path() };

    Session()
    {
        unzip = dir.path() + QStringLiteral("/UnZip/p_1");
        custom = unzip + QStringLiteral("/custom-x/root");
        produce = dir.path() + QStringLiteral("/Produce/p_1");
        QDir().mkpath(custom + QStringLiteral("/CustomConfig"));
        QDir().mkpath(produce);
        auto *info = new DiySessionInfo;
        std::memset(info, 0, sizeof(*info));
        DiyText::set(info->unzipFolder, unzip);
        DiyText::set(info->customPartPath, custom);
        DiyText::set(info->produceFolder, produce);
        DiyText::set(info->firmName, QStringLiteral("DVR_V2"));
        firmware.addSessionInfo(1, info);
    }
    QString version()
    {
        DiySessionInfo info;
        firmware.getSessionInfo(1, &info);
        return DiyText::get(info.diyVersion);
    }
};

QJsonValue parsed(const QByteArray &text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text);
    return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
}

using Files = QMap<QString, QString>;

} // namespace

class TestCustomConfig : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
    void write_data();
    void write();
    void version_data();
    void version();
    void read_data();
    void read();
    void links_data();
    void links();
    void elements_data();
    void elements();
    void mergeWalkers_data();
    void mergeWalkers();
};

void TestCustomConfig::split_data()
{
    QTest::addColumn<Files>("custom"); // CustomConfig files
    QTest::addColumn<int>("result");
    QTest::addColumn<Files>("produce"); // every file expected in the produce folder, as JSON

    QTest::newRow("skipped names") << Files { { "ColorConfig.custom", R"({"a":1})" },
        { "BaseStationAlarmFunc", "[1]" }, { "Foo.json", R"({"a":1})" } }
                                   << 100 << Files();
    QTest::newRow("key without a dot and second part custom")
        << Files { { "Foo", R"({"x":1,"y":[2]})" }, { "Bar.custom.bak", "[1,2]" } } << 100
        << Files { { "Foo.x", R"({"Name":"Foo.x","Foo.x":1})" },
               { "Foo.y", R"({"Name":"Foo.y","Foo.y":[2]})" }, { "Bar", R"({"Name":"Bar","Bar":[1,2]})" } };
    QTest::newRow("ability members") << Files { { "Ability.custom", R"({"a":{"On":true},"b":3})" } } << 100
                                     << Files { { "Ability.a", R"({"Name":"a","a":{"On":true}})" },
                                            { "Ability.b", R"({"Name":"b","b":3})" } };
    QTest::newRow("ability not an object") << Files { { "Ability.custom", "[1]" } } << 100 << Files();
    QTest::newRow("copied whole") << Files { { "ExtDevIDConfig.custom",
                                                 R"({"ExtDevIDCfg":{"OEMSelfDef":"12"}})" },
        { "AppDowloadLink", R"({"Url":"http://x"})" } }
                                  << 100
                                  << Files { { "ExtDevIDConfig", R"({"ExtDevIDCfg":{"OEMSelfDef":"12"}})" },
                                         { "AppDowloadLink", R"({"Url":"http://x"})" } };
    QTest::newRow("trailing comma repaired")
        << Files { { "Net.custom", "{\"Wifi\": {\"On\": 1},\n }" } } << 100
        << Files { { "Net.Wifi", R"({"Name":"Net.Wifi","Net.Wifi":{"On":1}})" } };
    // A broken setting ends the walk: the package does not open without it.
    QTest::newRow("no closing brace ends the walk")
        << Files { { "Net.custom", R"({"Wifi": {"On": 1},)" }, { "Ok", "[0]" } } << 300002 << Files();
    QTest::newRow("a bare number ends the walk")
        << Files { { "Net", "5" }, { "Ok", "[0]" } } << 300002 << Files();
    QTest::newRow("an empty file ends the walk")
        << Files { { "Net", "" }, { "Ok", "[0]" } } << 300002 << Files();
    QTest::newRow("a file over the read cap ends the walk")
        << Files { { "Net", "<big>" }, { "Ok", "[0]" } } << 300002 << Files();
    QTest::newRow("an empty copied file ends the walk")
        << Files { { "AppDowloadLink", "" }, { "Ok", "[0]" } } << 300002 << Files();
    QTest::newRow("empty object") << Files { { "Empty", "{}" } } << 100 << Files();
    // A refused member stops its file's other members; a later file's write
    // gives the answer.
    QTest::newRow("member names leaving the folder")
        << Files { { "Ability.custom", R"({"a/b":2,"ok":4})" } } << 300002 << Files();
    QTest::newRow("a later file answers") << Files { { "Ability.custom", R"({"../up":1})" },
        { "Zed", "[1]" } } << 100 << Files { { "Zed", R"({"Name":"Zed","Zed":[1]})" } };
    QTest::newRow("object key with a slash ends the walk")
        << Files { { "Foo", R"({"x/../../y":1})" } } << 300002 << Files();
}

void TestCustomConfig::split()
{
    QFETCH(Files, custom);
    QFETCH(int, result);
    QFETCH(Files, produce);
    Session s;
    for (auto it = custom.begin(); it != custom.end(); ++it) {
        const QString path = s.custom + QStringLiteral("/CustomConfig/") + it.key();
        QVERIFY(writeFile(path, it.value() == QLatin1String("<big>") ? "{}" : it.value().toUtf8()));
        if (it.value() == QLatin1String("<big>")) // sparse: no disk is spent on it
            QVERIFY(QFile::resize(path, CDiyFirmware::kMaxReadBytes + 1));
    }
    QCOMPARE(s.firmware.readProgromCustom(1), result);

    const QStringList made = QDir(s.produce).entryList(QDir::Files);
    QCOMPARE(made, QStringList(produce.keys()));
    for (const QString &name : made) {
        const QString path = s.produce + QLatin1Char('/') + name;
        QCOMPARE(
            runTool(QStringLiteral("python3"), { QStringLiteral("-m"), QStringLiteral("json.tool"), path })
                .exitCode,
            0);
        QCOMPARE(parsed(readFile(path)), parsed(produce.value(name).toUtf8()));
    }
    // Nothing beside the produce folder.
    QCOMPARE(
        QDir(s.dir.path() + QStringLiteral("/Produce")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { "p_1" });
    QCOMPARE(QDir(s.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList { "Produce", "UnZip" }));
}

void TestCustomConfig::write_data()
{
    QTest::addColumn<QString>("stored"); // null: no file
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("after"); // the file afterwards; null: none

    const QString net = R"({"Name":"Net","Net":{"Ip":"1.1.1.1","Port":80,"List":[{"a":1,"b":2},5]}})";
    QTest::newRow("new file") << QString() << "Net"
                              << R"({"Name":"Net","Net":{"Port":81}})" << 100
                              << R"({"Name":"Net","Net":{"Port":81}})";
    QTest::newRow("stored members kept")
        << net << "Net"
        << R"({"Name":"Net","Net":{"Port":81,"New":true,"List":[{"b":3},6,7]}})" << 100
        << R"({"Name":"Net","Net":{"Ip":"1.1.1.1","Port":81,"New":true,"List":[{"a":1,"b":3},6,7]}})";
    QTest::newRow("different name refused") << net << "Net"
                                            << R"({"Name":"Other","Net":{}})" << 300002 << net;
    QTest::newRow("page text not json keeps the file") << net << "Net"
                                                       << "{oops" << 100 << net;
    QTest::newRow("app link as given") << R"({"Name":"x","Url":"a"})"
                                       << "AppDowloadLink.custom"
                                       << R"({"Url":"b"})" << 100 << R"({"Url":"b"})";
    QTest::newRow("device ids as given") << R"({"ExtDevIDCfg":{"A":"1"}})"
                                         << "ExtDevIDConfig"
                                         << R"({"ExtDevIDCfg":{}})" << 100 << R"({"ExtDevIDCfg":{}})";
    QTest::newRow("not json") << QString() << "Net"
                              << "{oops" << 300002 << QString();
    QTest::newRow("parent name") << QString() << "../x"
                                 << R"({"Name":"../x"})" << 300002 << QString();
    QTest::newRow("name with a slash") << QString() << "a/b"
                                       << R"({"Name":"a/b"})" << 300002 << QString();
    QTest::newRow("name with a backslash") << QString() << "a\\b"
                                           << R"({"Name":"a"})" << 300002 << QString();
    QTest::newRow("dot name") << QString() << "."
                              << "{}" << 300002 << QString();
    QTest::newRow("dot dot name") << QString() << ".."
                                  << "{}" << 300002 << QString();
    QTest::newRow("empty name") << QString() << ""
                                << "{}" << 300002 << QString();
    QTest::newRow("name with NUL") << QString() << QString("a") + QChar(0) + "b"
                                   << "{}" << 300002 << QString();
}

void TestCustomConfig::write()
{
    QFETCH(QString, stored);
    QFETCH(QString, name);
    QFETCH(QString, page);
    QFETCH(int, result);
    QFETCH(QString, after);
    Session s;
    const QString folder = s.produce + QStringLiteral("/logo");
    const QString target = folder + QLatin1Char('/') + name;
    QVERIFY(QDir().mkpath(folder));
    if (!stored.isNull())
        QVERIFY(writeFile(target, stored.toUtf8()));
    QCOMPARE(s.firmware.writeCustomConfig(folder, name, page), result);
    if (after.isNull()) {
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    } else {
        QCOMPARE(parsed(readFile(target)), parsed(after.toUtf8()));
        QCOMPARE(
            runTool(QStringLiteral("python3"), { QStringLiteral("-m"), QStringLiteral("json.tool"), target })
                .exitCode,
            0);
    }
    QCOMPARE(QDir(s.produce).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "logo" });
    QCOMPARE(QDir(s.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList { "Produce", "UnZip" }));
}

void TestCustomConfig::version_data()
{
    QTest::addColumn<QString>("stored"); // ExtDevIDConfig.custom; null: none
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("copied"); // the split's answer
    QTest::addColumn<QString>("produced"); // ExtDevIDConfig written for version "15", from the produce file
    const QString defaults
        = R"({"ExtDevIDCfg":{"PrimerIntel":"0","AdvIntel":"0","WifiType":"04","SubDevID":"0","ExtProtocol":"00","OEMSelfDef":"15"}})";
    QTest::newRow("12") << R"({"ExtDevIDCfg":{"OEMSelfDef":"12","WifiType":"05"}})"
                        << "12" << 100 << R"({"ExtDevIDCfg":{"OEMSelfDef":"15","WifiType":"05"}})";
    QTest::newRow("09 counts as less") << R"({"ExtDevIDCfg":{"OEMSelfDef":"09"}})"
                                       << "10" << 100 << R"({"ExtDevIDCfg":{"OEMSelfDef":"15"}})";
    QTest::newRow("1 counts as less") << R"({"ExtDevIDCfg":{"OEMSelfDef":"1"}})"
                                      << "10" << 100 << R"({"ExtDevIDCfg":{"OEMSelfDef":"15"}})";
    QTest::newRow("9 counts as greater") << R"({"ExtDevIDCfg":{"OEMSelfDef":"9"}})"
                                         << "9" << 100 << R"({"ExtDevIDCfg":{"OEMSelfDef":"15"}})";
    QTest::newRow("missing file") << QString() << "10" << 100 << defaults;
    QTest::newRow("unparsable: not copied") << "{x"
                                            << "10" << 300002 << defaults;
    QTest::newRow("settings not an object") << R"({"ExtDevIDCfg":[1]})"
                                            << "10" << 100 << QString();
}

void TestCustomConfig::version()
{
    QFETCH(QString, stored);
    QFETCH(QString, produced);
    Session s;
    if (!stored.isNull())
        QVERIFY(writeFile(s.custom + QStringLiteral("/CustomConfig/ExtDevIDConfig.custom"), stored.toUtf8()));
    QCOMPARE(s.firmware.readExtDevIDConfig(1), 100);
    QTEST(s.version(), "version");

    QTEST(s.firmware.readProgromCustom(1), "copied");
    const int r = s.firmware.writeExtDevIDConfig(QStringLiteral("15"), 1);
    const QString path = s.produce + QStringLiteral("/ExtDevIDConfig");
    if (produced.isNull()) {
        // What the package held cannot take the version: refused, kept as it was.
        QCOMPARE(r, 300002);
    } else {
        QCOMPARE(r, 100);
        QCOMPARE(parsed(readFile(path)), parsed(produced.toUtf8()));
    }
    QCOMPARE(s.firmware.writeProgramInfo(1), 100);
    QCOMPARE(parsed(readFile(s.produce + QStringLiteral("/ProgramInfo"))),
        parsed(R"({"FirmName":"DVR_V2","Hardware":"","BuildTime":""})"));
}

void TestCustomConfig::read_data()
{
    QTest::addColumn<Files>("produce");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("answer"); // JSON; empty: none
    QTest::newRow("first in folder order")
        << Files { { "Foo", R"({"Name":"Foo","Foo":1})" }, { "Foo.x", R"({"Name":"Foo.x","Foo.x":2})" } }
        << "Foo"
        << R"({"Name":"Foo","Foo":1})";
    QTest::newRow("part of a name") << Files { { "Net.Wifi", R"({"Name":"Net.Wifi","Net.Wifi":[1]})" } }
                                    << "Wifi"
                                    << R"({"Name":"Net.Wifi","Net.Wifi":[1]})";
    QTest::newRow("case matters") << Files { { "Net", "{}" } } << "net" << QString();
    QTest::newRow("broken file") << Files { { "Net", "{" }, { "Net2", "{}" } } << "Net" << QString();
    QTest::newRow("parent name") << Files { { "Net", "{}" } } << "../Produce" << QString();
    QTest::newRow("empty name") << Files { { "Net", "{}" } } << "" << QString();
}

void TestCustomConfig::read()
{
    QFETCH(Files, produce);
    QFETCH(QString, name);
    QFETCH(QString, answer);
    Session s;
    for (auto it = produce.begin(); it != produce.end(); ++it)
        QVERIFY(writeFile(s.produce + QLatin1Char('/') + it.key(), it.value().toUtf8()));
    const QString text = s.firmware.getCustomConfig(name, 0, 1);
    QCOMPARE(text.isEmpty(), answer.isEmpty());
    if (!answer.isEmpty())
        QCOMPARE(parsed(text.toUtf8()), parsed(answer.toUtf8()));

    // The language list: the plain files of the strings folder, in folder order.
    QVERIFY(writeFile(s.custom + QStringLiteral("/data/Strings/English"), "x"));
    QVERIFY(writeFile(s.custom + QStringLiteral("/data/Strings/Deutsch"), "x"));
    QVERIFY(QDir().mkpath(s.custom + QStringLiteral("/data/Strings/folder")));
    QCOMPARE(s.firmware.getMultiLanguage(1), QStringLiteral("Deutsch English"));
    QCOMPARE(s.firmware.getMultiLanguage(2), QString());
}

void TestCustomConfig::links_data()
{
    QTest::addColumn<QString>("link"); // below the custom partition, pointing at the host folder
    QTest::addColumn<QString>("languages");
    QTest::addColumn<QStringList>("produce");

    QTest::newRow("none") << QString() << "Deutsch English" << QStringList { "Net.On" };
    QTest::newRow("strings folder") << "data/Strings"
                                    << "" << QStringList { "Net.On" };
    QTest::newRow("data folder") << "data"
                                 << "" << QStringList { "Net.On" };
    QTest::newRow("one language") << "data/Strings/Host"
                                  << "Deutsch English" << QStringList { "Net.On" };
    QTest::newRow("settings folder") << "CustomConfig"
                                     << "Deutsch English" << QStringList();
    QTest::newRow("one setting") << "CustomConfig/Host"
                                 << "Deutsch English" << QStringList { "Net.On" };
}

// Nothing of the unpacked tree is reached through a link: a link there is
// what the package author put in, and may point anywhere on the host.
void TestCustomConfig::links()
{
    QFETCH(QString, link);
    Session s;
    const QString host = s.dir.path() + QStringLiteral("/host");
    // Read through a link, it would show as a language and as a setting.
    QVERIFY(writeFile(host + QStringLiteral("/Leak"), R"({"Key":1})"));
    QVERIFY(writeFile(s.custom + QStringLiteral("/data/Strings/English"), "x"));
    QVERIFY(writeFile(s.custom + QStringLiteral("/data/Strings/Deutsch"), "x"));
    QVERIFY(writeFile(s.custom + QStringLiteral("/CustomConfig/Net"), R"({"On":1})"));
    if (!link.isEmpty()) {
        const QString path = s.custom + QLatin1Char('/') + link;
        if (QFileInfo(path).isDir())
            QVERIFY(QDir(path).removeRecursively());
        QVERIFY(
            QFile::link(link.endsWith(QLatin1String("Host")) ? host + QStringLiteral("/Leak") : host, path));
    }
    QTEST(s.firmware.getMultiLanguage(1), "languages");
    QCOMPARE(s.firmware.readProgromCustom(1), 100);
    QTEST(QDir(s.produce).entryList(QDir::Files), "produce");
    QCOMPARE(readFile(host + QStringLiteral("/Leak")), QByteArray(R"({"Key":1})"));
}

void TestCustomConfig::elements_data()
{
    QTest::addColumn<QString>("array");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("result");
    QTest::addColumn<Files>("produce");

    QTest::newRow("each element a setting")
        << R"([{"On":1},5])"
        << "Chan" << 100
        << Files { { "Chan.[0]", R"({"Name":"Chan.[0]","Chan.[0]":{"On":1}})" },
               { "Chan.[1]", R"({"Name":"Chan.[1]","Chan.[1]":5})" } };
    QTest::newRow("empty array") << "[]"
                                 << "Chan" << 100 << Files();
    QTest::newRow("key leaving the folder") << "[1]"
                                            << "../x" << 300002 << Files();
}

void TestCustomConfig::elements()
{
    QFETCH(QString, array);
    QFETCH(QString, key);
    QFETCH(Files, produce);
    Session s;
    QTEST(
        s.firmware.writeCustomConfigElements(QJsonDocument::fromJson(array.toUtf8()).array(), key, s.produce),
        "result");
    QCOMPARE(QDir(s.produce).entryList(QDir::Files), QStringList(produce.keys()));
    for (auto it = produce.begin(); it != produce.end(); ++it)
        QCOMPARE(parsed(readFile(s.produce + QLatin1Char('/') + it.key())), parsed(it.value().toUtf8()));
}

void TestCustomConfig::mergeWalkers_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("merged");

    QTest::newRow("members kept, taken and added") << R"({"a":1,"b":{"c":2,"d":3}})"
                                                   << R"({"b":{"c":5},"e":[1]})"
                                                   << R"({"a":1,"b":{"c":5,"d":3},"e":[1]})";
    QTest::newRow("arrays by index") << R"([{"a":1,"b":2},7])"
                                     << R"([{"b":3},8,9])"
                                     << R"([{"a":1,"b":3},8,9])";
    QTest::newRow("a null stored member takes the page's") << R"({"a":null})"
                                                           << R"({"a":{"x":1}})"
                                                           << R"({"a":{"x":1}})";
    QTest::newRow("another kind replaces") << R"({"a":[1]})"
                                           << R"({"a":{"x":1}})"
                                           << R"({"a":{"x":1}})";
    QTest::newRow("empty page keeps all") << R"({"a":1})"
                                          << "{}"
                                          << R"({"a":1})";
}

// The Qt and the jsoncpp walker merge alike.
void TestCustomConfig::mergeWalkers()
{
    QFETCH(QString, stored);
    QFETCH(QString, page);
    QFETCH(QString, merged);
    QJsonValue target = parsed(stored.toUtf8());
    CDiyFirmware::compareJsonValue(target, parsed(page.toUtf8()));
    QCOMPARE(target, parsed(merged.toUtf8()));

    Json::Value node;
    Json::Value given;
    QVERIFY(JsonUtil::parse(stored.toStdString(), &node) && JsonUtil::parse(page.toStdString(), &given));
    CDiyFirmware::compareJsonNode(node, given);
    QCOMPARE(parsed(QByteArray::fromStdString(JsonUtil::writeCompact(node))), parsed(merged.toUtf8()));
}

QTEST_GUILESS_MAIN(TestCustomConfig)
#include "tst_custom_config.moc"
