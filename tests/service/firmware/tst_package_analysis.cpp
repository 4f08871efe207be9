// Package analysis on packages built by Python's zipfile with squashfs
// partitions made by mksquashfs, extracted by Debian's unsquashfs.

#include "DiyFirmware.h"
#include "FirmwareTestSupport.h"
#include "SquashfsExtractor.h"

#include <unistd.h>

using namespace FirmwareTest;

using Tree = QMap<QString, QString>; // path -> content; "->x" makes a link to x

namespace {

// The service log's lines, which also go to Qt's debug output.
QStringList g_logLines;
QtMessageHandler g_previousHandler = nullptr;

void keepLogLine(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    g_logLines.append(text);
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

const QString kDvrDesc = QStringLiteral(
    R"({"Hardware":"AHB7008T-MH","UpgradeCommand":[{"DirName":"/mnt/mtd/Log/","Command":"RemoveDir","FileName":"logo-x.cramfs.img"}]})");

Tree customTree(const QString &firmwareInfo)
{
    return { { "FirmwareInfo", firmwareInfo }, { "qn_version/buildtime", "Build:2023-06-29\nmore" },
        { "ProductDefinition",
            R"({"LogoPartType":"squashfs","LogoArea":{"Begin":"0x100000","End":"0x200000"}})" },
        { "rootlink", "->/" }, { "hostlink", "->HOST" } };
}

} // namespace

class TestPackageAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void analyse_data();
    void analyse();
    void extractor_data();
    void extractor();
    void refused_data();
    void refused();
};

void TestPackageAnalysis::analyse_data()
{
    QTest::addColumn<QString>("installDesc");
    QTest::addColumn<QStringList>("images"); // image file names; "custom-x" ones get the custom tree
    QTest::addColumn<Tree>("custom");
    QTest::addColumn<QString>("extraEntry");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("devType");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("firmName");
    QTest::addColumn<QString>("buildTime");
    QTest::addColumn<int>("usedSlots");

    const QStringList one { "custom-x.squashfs.img" };
    const Tree dvr = customTree("NET_UPGRADE_FILE=DVR_V2\n");
    QTest::newRow("dvr, build time read once the type is known")
        << kDvrDesc << one << dvr << QString() << 100 << 1 << 8 << "DVR_V2"
        << "2023-06-29" << 1;
    QTest::newRow("ipc whatever the hardware")
        << kDvrDesc << one << customTree("x=1\nNET_UPGRADE_FILE=IPC_X\n") << QString() << 100 << 0 << 1
        << "IPC_X"
        << "" << 1;
    QTest::newRow("nvr, last line without line feed not read")
        << QString(kDvrDesc).replace("AHB", "NBD") << one
        << customTree("NET_UPGRADE_FILE=NVR_1\nNET_UPGRADE_FILE=IPC_2") << QString() << 100 << 2 << 8
        << "NVR_1"
        << "2023-06-29" << 1;
    QTest::newRow("channel without a dash") << QString(kDvrDesc).replace("AHB7008T-MH", "AHB7008") << one
                                            << dvr << QString() << 100 << 1 << 0 << "DVR_V2"
                                            << "2023-06-29" << 1;
    QTest::newRow("dash too early") << QString(kDvrDesc).replace("AHB7008T-MH", "AHB-7") << one << dvr
                                    << QString() << 100 << 1 << 0 << "DVR_V2"
                                    << "2023-06-29" << 1;
    QTest::newRow("no upgrade commands")
        << R"({"Hardware":"AHB7008T-MH"})" << one << dvr << QString() << 300002 << 0 << 0 << ""
        << "" << 0;
    QTest::newRow("removes the config folder")
        << QString(kDvrDesc).replace("/mnt/mtd/Log/", "/mnt/mtd/Config/") << one << dvr << QString() << 300033
        << 0 << 0 << ""
        << "" << 0;
    QTest::newRow("removes mtd") << QString(kDvrDesc).replace("/mnt/mtd/Log/", "/mnt/mtd/") << one << dvr
                                 << QString() << 300033 << 0 << 0 << ""
                                 << "" << 0;
    QTest::newRow("mistyped command")
        << R"({"Hardware":"A","UpgradeCommand":[{"DirName":{},"Command":"RemoveDir"}]})" << one << dvr
        << QString() << 300002 << 0 << 0 << ""
        << "" << 0;
    QTest::newRow("no hardware") << R"({"UpgradeCommand":[]})" << one << dvr << QString() << 300007 << 0 << 0
                                 << ""
                                 << "" << 0;
    QTest::newRow("install description no JSON") << "{" << one << dvr << QString() << 300002 << 0 << 0 << ""
                                                 << "" << 0;
    QTest::newRow("no install description") << "" << one << dvr << QString() << 300004 << 0 << 0 << ""
                                            << "" << 0;
    QTest::newRow("hostile entry refuses the package")
        << kDvrDesc << one << dvr << "../evil" << 300003 << 0 << 0 << ""
        << "" << 0;
    QTest::newRow("firmware info linked to a host file")
        << kDvrDesc << one << Tree { { "FirmwareInfo", "->HOST" } } << QString() << 300002 << 0 << 0 << ""
        << "" << 1;
    QTest::newRow("build time linked to a host file")
        << kDvrDesc << one
        << Tree { { "FirmwareInfo", "NET_UPGRADE_FILE=DVR_V2\n" }, { "qn_version/buildtime", "->HOST" } }
        << QString() << 300013 << 0 << 0 << ""
        << "" << 1;
    QTest::newRow("start address 0: that image only")
        << kDvrDesc << QStringList { "a-x.img", "custom-x.squashfs.img" } << dvr << QString() << 100 << 1 << 8
        << "DVR_V2"
        << "2023-06-29" << 1;
    QTest::newRow("image names by case, custom.img is none")
        << kDvrDesc << QStringList { "custom-x.squashfs.img", "Sys-X.IMG", "custom.img" } << dvr << QString()
        << 100 << 1 << 8 << "DVR_V2"
        << "2023-06-29" << 2;
    QTest::newRow("second image of one part refused")
        << kDvrDesc << QStringList { "custom-x.squashfs.img", "custom-x.v2.img" } << dvr << QString() << 100
        << 1 << 8 << "DVR_V2"
        << "2023-06-29" << 1;
    QStringList eleven { "custom-x.squashfs.img" };
    for (int i = 1; i <= 10; ++i)
        eleven << QStringLiteral("p%1-x.img").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("eleventh image refused, no slot left for the logo")
        << kDvrDesc << eleven << dvr << QString() << 300019 << 1 << 8 << "DVR_V2"
        << "2023-06-29" << 10;
    QTest::newRow("no logo area")
        << kDvrDesc << one
        << Tree { { "FirmwareInfo", "NET_UPGRADE_FILE=DVR_V2\n" },
               { "ProductDefinition",
                   R"({"LogoPartType":"cramfs","LogoArea":{"Begin":"0x10","End":"0x10"}})" } }
        << QString() << 300019 << 1 << 8 << "DVR_V2"
        << "" << 1;
}

void TestPackageAnalysis::analyse()
{
    QFETCH(QString, installDesc);
    QFETCH(QStringList, images);
    QFETCH(Tree, custom);
    QFETCH(QString, extraEntry);
    QFETCH(int, result);
    QFETCH(int, devType);
    QFETCH(int, channel);
    QFETCH(QString, firmName);
    QFETCH(QString, buildTime);
    QFETCH(int, usedSlots);

    QTemporaryDir dir;
    const QString host = dir.path() + QStringLiteral("/host.txt");
    QVERIFY(writeFile(host, "NET_UPGRADE_FILE=IPC_HOST\nBuild:host\n"));
    const QString customDir = dir.path() + QStringLiteral("/customtree");
    const QString plainDir = dir.path() + QStringLiteral("/plaintree");
    QVERIFY(writeFile(plainDir + QStringLiteral("/bin/app"), "app"));
    for (auto it = custom.constBegin(); it != custom.constEnd(); ++it) {
        const QString path = customDir + QLatin1Char('/') + it.key();
        QDir().mkpath(QFileInfo(path).path());
        if (it.value().startsWith(QLatin1String("->"))) {
            const QString target = it.value().mid(2) == QLatin1String("HOST") ? host : it.value().mid(2);
            QVERIFY(QFile::link(target, path));
        } else {
            QVERIFY(writeFile(path, it.value().toUtf8()));
        }
    }
    QJsonArray entries;
    if (!installDesc.isEmpty())
        entries.append(textEntry(QStringLiteral("InstallDesc"), installDesc));
    for (const QString &name : images) {
        const bool customPart = name.startsWith(QLatin1String("custom-x"));
        entries.append(QJsonObject { { "name", name }, { "squashfs", customPart ? customDir : plainDir },
            { "start", name.startsWith(QLatin1String("a-x")) ? 0 : 0x10000 }, { "end", 0x20000 } });
    }
    if (!extraEntry.isEmpty())
        entries.append(textEntry(extraEntry, QStringLiteral("x")));
    const QString package = dir.path() + QStringLiteral("/fw_v2.zip");
    QVERIFY(makePackage(package, entries, dir.path()));

    const QString appDir = dir.path() + QStringLiteral("/Service");
    CDiyFirmware firmware(appDir);
    auto *record = new DiySessionInfo;
    std::memset(record, 0, sizeof(*record));
    const QString unzip = appDir + QStringLiteral("/UnZip/fw_v2_3");
    QVERIFY(DiyText::set(record->unzipFolder, unzip));
    QVERIFY(
        DiyText::set(record->programFolder, CDiyFirmware::createPath(unzip + QStringLiteral("/Program"))));
    // What an earlier package left: cleared by the new analysis.
    record->partitions[9].used = 1;
    DiyText::set(record->firmName, QStringLiteral("OLD"));
    DiyText::set(record->buildTime, QStringLiteral("OLD"));
    QCOMPARE(firmware.addSessionInfo(3, record), 100);

    QCOMPARE(firmware.dealUnzipWithProgram(package, 3), result);
    DiySessionInfo info;
    QCOMPARE(firmware.getSessionInfo(3, &info), 100);
    QCOMPARE(info.devType, devType);
    QCOMPARE(info.channel, channel);
    QCOMPARE(DiyText::get(info.firmName), firmName);
    QCOMPARE(DiyText::get(info.buildTime), buildTime);
    int used = 0;
    for (const DiyPartitionInfo &part : info.partitions)
        used += part.used;
    QCOMPARE(used, usedSlots);
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/evil")));
    if (result == 100) {
        QCOMPARE(DiyText::get(info.hardware),
            QJsonDocument::fromJson(installDesc.toUtf8()).object().value("Hardware").toString());
        // The extracted tree holds the links as links; removing it leaves the host alone.
        QVERIFY(QFileInfo(unzip + QStringLiteral("/custom-x/root/rootlink")).isSymLink());
    }
    QVERIFY(CDiyFirmware::removeDirRecursively(unzip));
    QVERIFY(!QFileInfo::exists(unzip));
    QCOMPARE(readFile(host), QByteArray("NET_UPGRADE_FILE=IPC_HOST\nBuild:host\n"));
}

void TestPackageAnalysis::refused_data()
{
    QTest::addColumn<QString>("fileSystem"); // of the custom partition
    QTest::addColumn<Tree>("extra"); // added to the custom tree; "<N>": a sparse file of N bytes
    QTest::addColumn<int>("entries"); // empty entries added to the package
    QTest::addColumn<bool>("shortRead"); // of the install description
    QTest::addColumn<qint64>("partitionCap");
    QTest::addColumn<int>("result");

    const qint64 readCap = CDiyFirmware::kMaxReadBytes;
    const qint64 mib = 1024 * 1024;
    QTest::newRow("fits") << "squashfs" << Tree { { "half", "<524288>" } } << 0 << false << mib << 100;
    QTest::newRow("squashfs file past the partition cap")
        << "squashfs" << Tree { { "big", "<8388608>" } } << 0 << false << mib << 300003;
    QTest::newRow("cramfs file past the partition cap")
        << "cramfs" << Tree { { "big", "<2097152>" } } << 0 << false << mib << 300003;
    QTest::newRow("firmware info over the read cap")
        << "squashfs" << Tree { { "FirmwareInfo", QStringLiteral("<%1>").arg(readCap + 1) } } << 0 << false
        << 2 * readCap << 300005;
    QTest::newRow("65,536 entries and then the install description")
        << "squashfs" << Tree() << 65536 << false << mib << 300003;
    QTest::newRow("install description read short") << "squashfs" << Tree() << 0 << true << mib << 300006;
}

namespace {

// Reads half of what is asked, then finds the file at its end, as when it
// shrinks while read.
ssize_t readHalf(int fd, void *data, size_t length)
{
    const ssize_t n = ::read(fd, data, length / 2);
    ::lseek(fd, 0, SEEK_END);
    return n;
}

} // namespace

void TestPackageAnalysis::refused()
{
    QFETCH(QString, fileSystem);
    QFETCH(Tree, extra);
    QFETCH(int, entries);
    QFETCH(bool, shortRead);
    QFETCH(qint64, partitionCap);
    QFETCH(int, result);

    QTemporaryDir dir;
    const QString customDir = dir.path() + QStringLiteral("/custom");
    Tree tree = customTree("NET_UPGRADE_FILE=DVR_V2\n");
    tree.remove("rootlink");
    tree.remove("hostlink");
    for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
        tree.insert(it.key(), it.value());
    for (auto it = tree.constBegin(); it != tree.constEnd(); ++it) {
        const QString path = customDir + QLatin1Char('/') + it.key();
        QVERIFY(writeFile(path, it.value().toUtf8()));
        if (it.value().startsWith(QLatin1Char('<')))
            QVERIFY(QFile::resize(path, it.value().mid(1).chopped(1).toLongLong()));
    }
    QJsonArray list;
    if (entries > 0)
        list.append(QJsonObject { { "name", "e" }, { "many", entries } });
    list.append(textEntry(QStringLiteral("InstallDesc"), kDvrDesc));
    list.append(QJsonObject { { "name", QStringLiteral("custom-x.%1.img").arg(fileSystem) },
        { fileSystem, customDir }, { "start", 0x10000 }, { "end", 0x20000 } });
    const QString package = dir.path() + QStringLiteral("/fw.zip");
    QVERIFY(makePackage(package, list, dir.path()));

    CDiyFirmware firmware(dir.path() + QStringLiteral("/Service"));
    firmware.setPartitionMaxBytes(partitionCap);
    if (shortRead)
        firmware.setInstallDescReadCall(readHalf);
    auto *record = new DiySessionInfo;
    std::memset(record, 0, sizeof(*record));
    const QString unzip = dir.path() + QStringLiteral("/Service/UnZip/fw_3");
    QVERIFY(DiyText::set(record->unzipFolder, unzip));
    QVERIFY(
        DiyText::set(record->programFolder, CDiyFirmware::createPath(unzip + QStringLiteral("/Program"))));
    QCOMPARE(firmware.addSessionInfo(3, record), 100);
    QCOMPARE(firmware.dealUnzipWithProgram(package, 3), result);
    // A partition past the cap leaves nothing of its tree behind.
    QCOMPARE(QFileInfo::exists(unzip + QStringLiteral("/custom-x/root")), result == 100 || result == 300005);
    QVERIFY(SquashfsExtractor::treeBytes(QFile::encodeName(unzip), qint64(1) << 40) < (qint64(1) << 25));
}

void TestPackageAnalysis::extractor_data()
{
    QTest::addColumn<QString>("script"); // the extractor stand-in; empty: no such program
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("runs"); // listing, then unpacking
    QTest::addColumn<bool>("treeLeft");
    QTest::addColumn<QString>(
        "ending"); // how the log says the extractor's last run ended; empty: no such line

    const QString listing = "if [ \"$1\" = -lls ]; then echo '-rw-r--r-- root/root %1 2024-01-01 00:00 r/f'; "
                            "exit 0; fi\n";
    QTest::newRow("missing program") << QString() << 300012 << 0 << false << QString();
    QTest::newRow("failing listing: nothing unpacked")
        << "echo broken >&2; exit 3" << 100 << 1 << false << "exit:3 ";
    QTest::newRow("listing over the time limit") << "exec sleep 600" << 100 << 1 << false << "exit:killed ";
    QTest::newRow("both runs") << listing.arg(5) + "mkdir -p \"$4\"; echo 1234 > \"$4/f\"" << 100 << 2 << true
                               << "exit:0 ";
    QTest::newRow("unpacking fails") << listing.arg(5) + "exit 2" << 100 << 2 << false << "exit:2 ";
    QTest::newRow("listed past the cap") << listing.arg(1048577) << 300003 << 1 << false << QString();
    QTest::newRow("listed size unreadable") << listing.arg("12x") << 300003 << 1 << false << QString();
    // The listing says little, the unpacking writes more: ended once past the cap.
    QTest::newRow("unpacked past the cap")
        << listing.arg(5) + "mkdir -p \"$4\"; truncate -s 64M \"$4/big\"; exec sleep 600" << 300003 << 2
        << false << QString();
    // The listing ended with 0; the unpacking was killed.
    QTest::newRow("unpacking over the time limit")
        << listing.arg(5) + "mkdir -p \"$4\"; exec sleep 600" << 100 << 2 << true << "exit:killed ";
}

void TestPackageAnalysis::extractor()
{
    QFETCH(QString, script);
    QFETCH(int, result);
    QFETCH(int, runs);
    QFETCH(bool, treeLeft);
    QFETCH(QString, ending);
    QTemporaryDir dir;
    CDiyFirmware firmware(dir.path());
    const QString program = dir.path() + QStringLiteral("/extract.sh");
    if (!script.isEmpty()) {
        // The stand-in notes its process id and arguments, then acts.
        QVERIFY(writeFile(program, "#!/bin/sh\necho $$ \"$@\" >> \"$0.runs\"\n" + script.toUtf8() + "\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    firmware.setUnsquashfsProgram(program);
    firmware.setExtractTimeoutMs(1500);
    firmware.setPartitionMaxBytes(1024 * 1024);
    const QString target = dir.path() + QStringLiteral("/out/root");
    g_logLines.clear();
    g_previousHandler = qInstallMessageHandler(keepLogLine);
    const int answer = firmware.runUnsquashfs("/img/a b.img", QFile::encodeName(target));
    qInstallMessageHandler(g_previousHandler);
    QCOMPARE(answer, result);
    QCOMPARE(QFileInfo::exists(target), treeLeft);
    const QStringList endings = g_logLines.filter(QStringLiteral("unsquashfs path:/img/a b.img "));
    QCOMPARE(endings.size(), ending.isEmpty() ? 0 : 1);
    if (!ending.isEmpty())
        QVERIFY2(endings[0].contains(ending), qPrintable(endings[0]));
    const QList<QByteArray> lines = readFile(program + QStringLiteral(".runs")).split('\n');
    QCOMPARE(lines.size() - 1, runs);
    const QList<QList<QByteArray>> expected { { "-lls", "-d", QFile::encodeName(target), "/img/a", "b.img" },
        { "-no-progress", "-no-xattrs", "-d", QFile::encodeName(target), "/img/a", "b.img" } };
    for (int i = 0; i < runs; ++i) {
        const QList<QByteArray> run = lines.at(i).split(' ');
        QCOMPARE(run.mid(1), expected.at(i));
        // Every run has ended and been reaped, whatever it did.
        QVERIFY(!QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(run.first())));
    }
}

QTEST_GUILESS_MAIN(TestPackageAnalysis)
#include "tst_package_analysis.moc"
