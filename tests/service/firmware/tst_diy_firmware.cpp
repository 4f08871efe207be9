// The customiser's session records, folder removal and whole-file reads.

#include "DiyFirmware.h"
#include "FirmwareTestSupport.h"

#include <sys/stat.h>

using namespace FirmwareTest;

class TestDiyFirmware : public QObject
{
    Q_OBJECT

private slots:
    void sessionMap_data();
    void sessionMap();
    void texts_data();
    void texts();
    void removeTree();
    void readFiles_data();
    void readFiles();
};

void TestDiyFirmware::sessionMap_data()
{
    QTest::addColumn<QString>("steps"); // a(dd) g(et) u(pdate) r(emove) + session id
    QTest::addColumn<QList<int>>("results");

    QTest::newRow("unknown session") << "g1 u1 r1" << QList<int> { 300001, 300001, 300001 };
    QTest::newRow("add, get, update") << "a1 g1 u1 g1" << QList<int> { 100, 100, 100, 100 };
    QTest::newRow("remove twice") << "a2 r2 r2 g2" << QList<int> { 100, 1, 300001, 300001 };
    QTest::newRow("sessions apart") << "a1 a2 r1 g2 g1" << QList<int> { 100, 100, 1, 100, 300001 };
    QTest::newRow("add again replaces") << "a4 a4 r4 r4" << QList<int> { 100, 100, 1, 300001 };
}

void TestDiyFirmware::sessionMap()
{
    QFETCH(QString, steps);
    QFETCH(QList<int>, results);
    CDiyFirmware firmware(QStringLiteral("/nonexistent"));
    QList<int> got;
    int counter = 0;
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        const int id = step.mid(1).toInt();
        DiySessionInfo info;
        std::memset(&info, 0, sizeof(info));
        switch (step.at(0).toLatin1()) {
        case 'a': {
            auto *record = new DiySessionInfo;
            std::memset(record, 0, sizeof(*record));
            record->channel = ++counter;
            got << firmware.addSessionInfo(id, record);
            break;
        }
        case 'g': {
            const int r = firmware.getSessionInfo(id, &info);
            got << r;
            // A copy of the stored record, or the caller's buffer untouched.
            QCOMPARE(info.sessionId, r == 100 ? id : 0);
            if (r == 100)
                QCOMPARE(info.hardware, "stored");
            break;
        }
        case 'u':
            DiyText::set(info.hardware, QStringLiteral("stored"));
            info.sessionId = id;
            got << firmware.updateSessionInfo(id, &info);
            break;
        default:
            got << firmware.removeSessionInfo(id);
        }
        if (step.at(0) == QLatin1Char('a')) {
            DiySessionInfo copy;
            firmware.getSessionInfo(id, &copy);
            DiyText::set(copy.hardware, QStringLiteral("stored"));
            firmware.updateSessionInfo(id, &copy);
        }
    }
    QCOMPARE(got, results);
}

void TestDiyFirmware::texts_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QString>("cut");

    QTest::newRow("short") << "AHB7008T-MH" << true << "AHB7008T-MH";
    QTest::newRow("31 bytes fit with the terminator") << QString(31, 'x') << true << QString(31, 'x');
    QTest::newRow("32 bytes do not") << QString(32, 'x') << false << QString(31, 'x');
    QTest::newRow("cut at a whole character")
        << QString(30, 'x') + QString::fromUtf8("\xc3\xa9\xc3\xa9") << false << QString(30, 'x');
}

void TestDiyFirmware::texts()
{
    QFETCH(QString, value);
    QFETCH(bool, fits);
    QFETCH(QString, cut);
    char field[32];
    std::memset(field, 'z', sizeof(field));
    DiyText::setCut(field, QStringLiteral("before"));
    QCOMPARE(DiyText::set(field, value), fits);
    QCOMPARE(DiyText::get(field), fits ? value : QStringLiteral("before"));
    DiyText::setCut(field, value);
    QCOMPARE(DiyText::get(field), cut);
    QCOMPARE(field[31], '\0');
}

void TestDiyFirmware::removeTree()
{
    QTemporaryDir dir;
    const QString host = dir.path() + QStringLiteral("/host");
    QVERIFY(writeFile(host + QStringLiteral("/keep.txt"), "keep"));
    const QString tree = dir.path() + QStringLiteral("/UnZip/fw_1");
    QVERIFY(writeFile(tree + QStringLiteral("/a/b/ro.txt"), "x"));
    QVERIFY(QFile::link(host, tree + QStringLiteral("/a/hostdir")));
    QVERIFY(QFile::link(host + QStringLiteral("/keep.txt"), tree + QStringLiteral("/hostfile")));
    QVERIFY(QFile::link(QStringLiteral("/"), tree + QStringLiteral("/a/b/root")));
    ::chmod(QFile::encodeName(tree + QStringLiteral("/a/b/ro.txt")).constData(), 0400);
    ::chmod(QFile::encodeName(tree + QStringLiteral("/a/b")).constData(), 0500);
    const QString other = dir.path() + QStringLiteral("/UnZip/fw_2/x.txt");
    QVERIFY(writeFile(other, "other session"));

    QVERIFY(CDiyFirmware::removeFilesRecursively(tree));
    QVERIFY(QFileInfo(tree + QStringLiteral("/a/b")).isDir());
    QVERIFY(!QFileInfo::exists(tree + QStringLiteral("/a/b/ro.txt")));
    QVERIFY(CDiyFirmware::removeDirRecursively(tree));
    QVERIFY(!QFileInfo::exists(tree));
    QVERIFY(CDiyFirmware::removeDirRecursively(tree)); // gone already
    QCOMPARE(readFile(host + QStringLiteral("/keep.txt")), QByteArray("keep"));
    QCOMPARE(readFile(other), QByteArray("other session"));
    // A link given as the folder goes as a link.
    QVERIFY(QFile::link(host, dir.path() + QStringLiteral("/link")));
    QVERIFY(CDiyFirmware::removeDirRecursively(dir.path() + QStringLiteral("/link")));
    QVERIFY(QFileInfo::exists(host + QStringLiteral("/keep.txt")));
}

void TestDiyFirmware::readFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // "->x": a link to x (relative to the scratch folder)
    QTest::addColumn<int>("binResult");
    QTest::addColumn<int>("jsonResult");

    QTest::newRow("json") << "s/a.json" << QByteArray(R"({"a":1} // comment)") << 100 << 100;
    QTest::newRow("not json") << "s/a.json" << QByteArray("{") << 100 << 300002;
    QTest::newRow("empty") << "s/a.json" << QByteArray() << 300014 << 300014;
    QTest::newRow("missing") << "s/none" << QByteArray("-") << 300013 << 300016;
    // Links are never followed, wherever they point.
    QTest::newRow("link inside the session") << "s/l" << QByteArray("->s/t.json") << 300013 << 300016;
    QTest::newRow("link out of the session") << "s/l" << QByteArray("->host.json") << 300013 << 300016;
    QTest::newRow("link to a folder") << "s/l" << QByteArray("->s") << 300013 << 300016;
    QTest::newRow("folder level a link out") << "s/up/host.json" << QByteArray("->.") << 300013 << 300016;
    QTest::newRow("parent level") << "s/../host.json" << QByteArray("-") << 300013 << 300016;
    QTest::newRow("fifo") << "s/fifo" << QByteArray("fifo") << 300013 << 300016;
    QTest::newRow("above the cap") << "s/big" << QByteArray("big") << 300005 << 300005;
}

void TestDiyFirmware::readFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, binResult);
    QFETCH(int, jsonResult);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.path() + QStringLiteral("/host.json"), "{}"));
    QVERIFY(writeFile(dir.path() + QStringLiteral("/s/t.json"), "{}"));
    const QString path = dir.path() + QLatin1Char('/') + name;
    if (content == "->.") // the level above the file links to the scratch folder
        QVERIFY(QFile::link(dir.path(), QFileInfo(path).path()));
    else if (content.startsWith("->"))
        QVERIFY(QFile::link(dir.path() + QLatin1Char('/') + QString::fromUtf8(content.mid(2)), path));
    else if (content == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (content == "big")
        QVERIFY(
            QFile(path).open(QIODevice::WriteOnly) && QFile::resize(path, CDiyFirmware::kMaxReadBytes + 1));
    else if (content != "-")
        QVERIFY(writeFile(path, content));

    const QString within = dir.path() + QStringLiteral("/s");
    QByteArray data;
    QCOMPARE(CDiyFirmware::getBinDataFromLocalFile(path, &data, within), binResult);
    Json::Value value;
    QCOMPARE(CDiyFirmware::readJsonFile(path, &value, within), jsonResult);
}

QTEST_GUILESS_MAIN(TestDiyFirmware)
#include "tst_diy_firmware.moc"
