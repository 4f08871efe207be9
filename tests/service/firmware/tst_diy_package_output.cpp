// The output package saved by two pages to one path at once, as the
// customiser's workers do: every round leaves one whole package, read by
// Python's zipfile and Info-ZIP's unzip.

#include "DiyFirmware.h"
#include "FirmwareTestSupport.h"

#include <QRandomGenerator>

#include <atomic>
#include <thread>

using namespace FirmwareTest;

namespace {

// Each entry's name and the SHA-1 of its bytes, sorted, after zipfile's own
// check of every entry; a zip it cannot read prints its error instead.
const char kListZip[] = R"(
import hashlib, sys, zipfile
try:
    with zipfile.ZipFile(sys.argv[1]) as z:
        bad = z.testzip()
        if bad is not None:
            print("bad entry", bad)
            sys.exit(1)
        for name in sorted(z.namelist()):
            print(name, hashlib.sha1(z.read(name)).hexdigest())
except zipfile.BadZipFile as e:
    print("bad zip", e)
    sys.exit(1)
)";

// `count` files of `bytes` bytes each that deflate does not shrink much.
void fillFolder(const QString &folder, int count, int bytes, quint32 seed)
{
    QRandomGenerator random(seed);
    for (int i = 0; i < count; ++i) {
        QByteArray data(bytes, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(data.data()), bytes / 4);
        QVERIFY(writeFile(QStringLiteral("%1/part%2/file%3.bin").arg(folder).arg(i % 2).arg(i), data));
    }
}

// The files of a folder as kListZip prints them.
QStringList fileListing(const QString &folder)
{
    QStringList files;
    for (const QString &line : treeListing(folder)) {
        if (!line.endsWith(QLatin1Char('/')))
            files.append(line);
    }
    return files;
}

} // namespace

class TestDiyPackageOutput : public QObject
{
    Q_OBJECT

private slots:
    void concurrentSaves_data();
    void concurrentSaves();
};

void TestDiyPackageOutput::concurrentSaves_data()
{
    QTest::addColumn<QString>("zipName"); // relative to the scratch folder
    QTest::newRow("beside both folders") << "out.zip";
    // The other page's package on its way is no file of the first folder.
    QTest::newRow("inside the first folder") << "a/out.zip";
}

void TestDiyPackageOutput::concurrentSaves()
{
    QFETCH(QString, zipName);
    constexpr int kRounds = 12;
    QTemporaryDir dir;
    const QString sources[2] = { dir.path() + QStringLiteral("/a"), dir.path() + QStringLiteral("/b") };
    fillFolder(sources[0], 6, 192 * 1024, 1);
    fillFolder(sources[1], 5, 256 * 1024, 2);
    const QString zip = dir.path() + QLatin1Char('/') + zipName;
    const QStringList wanted[2] = { fileListing(sources[0]), fileListing(sources[1]) };
    QVERIFY(wanted[0] != wanted[1]);

    CDiyFirmware firmware(dir.path());
    for (int round = 0; round < kRounds; ++round) {
        std::atomic<int> ready { 0 };
        bool written[2] = { false, false };
        auto save = [&](int i) {
            ready.fetch_add(1);
            while (ready.load() < 2)
                std::this_thread::yield();
            written[i] = firmware.makeProduceZip(sources[i], zip);
        };
        std::thread first(save, 0);
        std::thread second(save, 1);
        first.join();
        second.join();
        QVERIFY(written[0] && written[1]);

        const ToolRun listed
            = runTool(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), kListZip, zip });
        QVERIFY2(listed.exitCode == 0, listed.out.constData());
        const QStringList entries
            = QString::fromUtf8(listed.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(entries == wanted[0] || entries == wanted[1], qPrintable(entries.join(QLatin1Char('\n'))));
        const ToolRun tested = runTool(QStringLiteral("unzip"), { QStringLiteral("-tq"), zip });
        QVERIFY2(tested.exitCode == 0, tested.out.constData());
    }
    // Nothing of the saves stays beside the package.
    const QStringList left
        = QDir(QFileInfo(zip).absolutePath()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(left.filter(QStringLiteral(".part-")), QStringList());
}

QTEST_GUILESS_MAIN(TestDiyPackageOutput)
#include "tst_diy_package_output.moc"
