// A package being analysed holds up no one but its own page: a QuorvelTool
// copy whose squashfs extractor (a stand-in in front of Debian's unsquashfs)
// waits until the test lets it go, pages on Python's websockets, the player
// double. Also the extractor and the session folders when the service ends.

#include "FirmwareTestSupport.h"
#include "ServiceTestSupport.h"

using namespace FirmwareTest;
using namespace ServiceTest;

namespace {

// The extractor stand-in: lists at once; unpacks (with the real program) only
// once "<itself>.release" exists, having noted its process id.
const char *kExtractor = R"(#!/bin/sh
[ "$1" = -lls ] && exec /usr/bin/unsquashfs "$@"
echo $$ > "$0.tmp"; mv "$0.tmp" "$0.pid"
while [ ! -f "$0.release" ]; do sleep 0.05; done
exec /usr/bin/unsquashfs "$@"
)";

const char *kChooser = "#!/bin/sh\ncat \"$0.answer\"\n";

// How long a page may wait for what must come while the extraction is held.
constexpr double kAnswerS = 10;
// How long the test watches for what must not come before the release.
constexpr double kQuietS = 1;
constexpr int kProcessMs = 20000;

// Session folders below UnZip and Produce of the package "fw".
QStringList sessionFolders(const QString &appDir)
{
    QStringList out;
    for (const char *area : { "UnZip", "Produce" }) {
        const QDir dir(appDir + QLatin1Char('/') + QLatin1String(area));
        for (const QString &name : dir.entryList({ QStringLiteral("fw_*") }, QDir::AllEntries | QDir::System))
            out << QLatin1String(area) + QLatin1Char('/') + name;
    }
    return out;
}

} // namespace

class TestDiyIsolation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void duringExtraction_data();
    void duringExtraction();
    void leftFolders_data();
    void leftFolders();
    void serviceEnds_data();
    void serviceEnds();

private:
    bool prepare(ServiceCopy &copy)
    {
        const QString extractor = copy.appDir + QStringLiteral("/unsquashfs");
        const QString chooser = copy.appDir + QStringLiteral("/Browse");
        return writeFile(extractor, kExtractor) && writeFile(chooser, kChooser)
            && writeFile(chooser + QStringLiteral(".answer"), QFile::encodeName(m_package))
            && QFile::setPermissions(extractor, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
            && QFile::setPermissions(chooser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Page `page` asks for the package; true once its extractor waits.
    bool startExtraction(PageClient &page, const QString &appDir, qint64 *pid)
    {
        const QString extractor = appDir + QStringLiteral("/unsquashfs");
        QFile::remove(extractor + QStringLiteral(".pid"));
        QFile::remove(extractor + QStringLiteral(".release"));
        if (!page.opened() || !page.send(R"({"MainType":201,"SubType":1,"MsgID":1})"))
            return false;
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(extractor + QStringLiteral(".pid")) && t.elapsed() < kProcessMs)
            QTest::qWait(20);
        *pid = readFile(extractor + QStringLiteral(".pid")).trimmed().toLongLong();
        return *pid > 0 && processAlive(*pid);
    }
    void release(const QString &appDir) { writeFile(appDir + QStringLiteral("/unsquashfs.release"), "go"); }

    QTemporaryDir m_scratch;
    QString m_package;
    ServiceCopy m_service;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
};

void TestDiyIsolation::initTestCase()
{
    const QString tree = m_scratch.path() + QStringLiteral("/custom");
    QVERIFY(writeFile(tree + QStringLiteral("/FirmwareInfo"), "NET_UPGRADE_FILE=IPC_V5\n"));
    QVERIFY(writeFile(tree + QStringLiteral("/data/Strings/English"), "x"));
    m_package = m_scratch.path() + QStringLiteral("/fw.zip");
    QVERIFY(makeCustomPackage(m_package, R"({"Hardware":"IPC5M","UpgradeCommand":[]})",
        QStringLiteral("squashfs"), tree, m_scratch.path()));
    QVERIFY(m_service.prepare());
    QVERIFY(prepare(m_service));
    m_process = m_service.start(&m_port);
    QVERIFY(m_port != 0);
}

void TestDiyIsolation::cleanupTestCase()
{
    release(m_service.appDir);
    stopService(m_process);
}

void TestDiyIsolation::duringExtraction_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("another page is relayed") << "relay";
    QTest::newRow("a new page connects") << "connect";
    QTest::newRow("the page's own requests wait, in order") << "own";
    QTest::newRow("the page leaves") << "leave";
    QTest::newRow("the page sends more than can wait") << "flood";
}

void TestDiyIsolation::duringExtraction()
{
    QFETCH(QString, action);
    PageClient page(wsUrl(m_port));
    qint64 extractor = 0;
    QVERIFY(startExtraction(page, m_service.appDir, &extractor));

    if (action == QLatin1String("relay")) {
        PageClient other(wsUrl(m_port));
        QVERIFY(other.opened());
        for (int i = 0; i < 3; ++i) {
            QVERIFY(other.send(QStringLiteral(R"({"MainType":4,"SubType":0,"MsgID":%1})").arg(i)));
            const QJsonObject echo = parseObject(other.receive(kAnswerS));
            QCOMPARE(echo.value("MsgID").toInt(-1), i);
            QCOMPARE(echo.value("Ret").toInt(), 1020);
        }
    } else if (action == QLatin1String("connect")) {
        PageClient late(wsUrl(m_port));
        QVERIFY(late.opened());
        QVERIFY(late.send(R"({"MainType":201,"SubType":5,"MsgID":"late"})"));
        QCOMPARE(
            parseObject(late.receive(kAnswerS)), parseObject(R"({"Msg":201,"SubMsg":5,"MsgID":"late"})"));
    } else if (action == QLatin1String("own")) {
        QVERIFY(page.send(R"({"MainType":201,"SubType":6,"MsgID":2})"));
        QVERIFY(page.send(R"({"MainType":4,"SubType":0,"MsgID":3})"));
        QCOMPARE(page.receiveEvent(kQuietS).value("event").toString(), QStringLiteral("timeout"));
    } else {
        if (action == QLatin1String("flood")) {
            // 8 MiB of text a message: the fifth passes what may wait (64 MiB as UTF-16).
            QVERIFY(page.flood(6, 8 * 1024 * 1024) >= 5);
            QCOMPARE(page.receiveEvent(kAnswerS).value("code").toInt(), 1009);
        } else {
            QVERIFY(page.close());
        }
        // The extractor is killed at once, not after its time limit, and the
        // session's folders go.
        QTRY_VERIFY_WITH_TIMEOUT(!processAlive(extractor), kProcessMs);
        QTRY_COMPARE_WITH_TIMEOUT(sessionFolders(m_service.appDir), QStringList(), kProcessMs);
        return;
    }
    QVERIFY(processAlive(extractor));
    release(m_service.appDir);
    const QJsonObject unpacked = parseObject(page.receive(kProcessMs / 1000));
    QCOMPARE(unpacked.value("MsgID").toInt(), 1);
    QCOMPARE(unpacked.value("Ret").toInt(), 100);
    QCOMPARE(unpacked.value("DevType").toString(), QStringLiteral("IPC"));
    if (action == QLatin1String("own")) {
        QCOMPARE(parseObject(page.receive(kAnswerS)),
            parseObject(R"({"Msg":201,"SubMsg":6,"MsgID":2,"MultiLanguage":["English"],"Ret":100})"));
        QCOMPARE(parseObject(page.receive(kAnswerS)).value("MsgID").toInt(), 3);
    }
    QVERIFY(page.close());
    QTRY_COMPARE_WITH_TIMEOUT(sessionFolders(m_service.appDir), QStringList(), kProcessMs);
}

void TestDiyIsolation::leftFolders_data()
{
    QTest::addColumn<QString>("entry"); // below the service's folder
    QTest::addColumn<QString>("kind"); // "folder", "file" or "link" (to a host folder)
    QTest::addColumn<bool>("kept");

    QTest::newRow("unpack folder of a session") << "UnZip/fw_v2_7"
                                                << "folder" << false;
    QTest::newRow("produce folder of a session") << "Produce/fw_v2_7"
                                                 << "folder" << false;
    QTest::newRow("name without a session") << "UnZip/notes"
                                            << "folder" << true;
    QTest::newRow("no digits after the last _") << "Produce/fw_x"
                                                << "folder" << true;
    QTest::newRow("a file named like a session") << "UnZip/keep_1"
                                                 << "file" << true;
    QTest::newRow("a link named like a session") << "UnZip/link_9"
                                                 << "link" << true;
    QTest::newRow("outside UnZip and Produce") << "Log/fw_3"
                                               << "folder" << true;
}

// What a killed run left: only session folders go at the next start.
void TestDiyIsolation::leftFolders()
{
    QFETCH(QString, entry);
    QFETCH(QString, kind);
    QFETCH(bool, kept);
    ServiceCopy copy;
    QVERIFY(copy.prepare());
    const QString path = copy.appDir + QLatin1Char('/') + entry;
    const QString host = m_scratch.path() + QStringLiteral("/host_3");
    QVERIFY(writeFile(host + QStringLiteral("/keep.txt"), "keep"));
    if (kind == QLatin1String("link")) {
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QVERIFY(QFile::link(host, path));
    } else {
        QVERIFY(
            writeFile(kind == QLatin1String("file") ? path : path + QStringLiteral("/Program/x.img"), "x"));
    }
    int port = 0;
    std::unique_ptr<QProcess> service = copy.start(&port);
    QVERIFY(port != 0);
    stopService(service);
    QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), kept);
    QCOMPARE(readFile(host + QStringLiteral("/keep.txt")), QByteArray("keep"));
}

void TestDiyIsolation::serviceEnds_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("foldersLeft"); // until the next start
    QTest::newRow("terminated: its normal shutdown") << int(SIGTERM) << false;
    QTest::newRow("interrupted: its normal shutdown") << int(SIGINT) << false;
    QTest::newRow("killed") << int(SIGKILL) << true;
}

// The service ends while a package is extracted: the extractor ends with it,
// and the session's folders go at once or at the next start.
void TestDiyIsolation::serviceEnds()
{
    QFETCH(int, signal);
    QFETCH(bool, foldersLeft);
    ServiceCopy copy;
    QVERIFY(copy.prepare());
    QVERIFY(prepare(copy));
    int port = 0;
    std::unique_ptr<QProcess> service = copy.start(&port);
    QVERIFY(port != 0);
    PageClient page(wsUrl(port));
    qint64 extractor = 0;
    QVERIFY(startExtraction(page, copy.appDir, &extractor));
    QCOMPARE(sessionFolders(copy.appDir).size(), 2);
    QCOMPARE(::kill(pid_t(service->processId()), signal), 0);
    QVERIFY(service->waitForFinished(kProcessMs));
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(extractor), kProcessMs);
    QCOMPARE(sessionFolders(copy.appDir).size(), foldersLeft ? 2 : 0);
    service = copy.start(&port);
    QVERIFY(port != 0);
    QCOMPARE(sessionFolders(copy.appDir), QStringList());
    stopService(service);
}

QTEST_GUILESS_MAIN(TestDiyIsolation)
#include "tst_diy_isolation.moc"
