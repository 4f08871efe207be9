// Damaged and hostile cramfs images, generated here from images made by
// mkfs.cramfs: every one gives a negative answer (or, for blind byte flips,
// possibly 0), writes nothing outside the output folder, no links, and stays
// under the limits. QV_CRAMFS_CORPUS=<folder> also saves the images there,
// to seed the fuzzer's corpus.

#include "CramfsReader.h"
#include "ImageTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace imagetest;

Q_DECLARE_METATYPE(CramfsLimits)

namespace {

using Patch = std::function<void(QByteArray &)>;

// Offset of the inode of the entry with this (4-byte) name.
int inodeOf(const QByteArray &image, const char *name)
{
    const int at = image.indexOf(QByteArray(name, 4));
    return at < 12 ? -1 : at - 12;
}

quint32 offsetOf(const QByteArray &image, int inode)
{
    return (le32(image, inode + 8) >> 6) * 4;
}

void setOffset(QByteArray &image, int inode, quint32 offset)
{
    setLe32(image, inode + 8, (le32(image, inode + 8) & 0x3F) | (offset / 4) << 6);
}

void setSize(QByteArray &image, int inode, quint32 size)
{
    setLe32(image, inode + 4, (le32(image, inode + 4) & 0xFF000000) | (size & 0xFFFFFF));
}

Patch renameTo(const QByteArray &name)
{
    return [name](QByteArray &b) { b.replace(b.indexOf("AAAA"), 4, name.leftJustified(4, '\0', true)); };
}

// The base tree: AAAA (small file), DDDD/EEEE/GGGG, FFFF (several blocks), many/ (files of one content).
Tree baseTree(int copies = 3)
{
    Tree t { { "AAAA", content(1, 300) }, { "DDDD/EEEE/GGGG", content(2, 5000) },
        { "FFFF", content(3, 40000) } };
    for (int i = 0; i < copies; ++i)
        t.insert(QString("many/c%1").arg(i, 4, 10, QChar('0')), QByteArray(64 * 1024, 'z'));
    return t;
}

QByteArray mkfsImage(const Tree &tree, const QStringList &args = {})
{
    QTemporaryDir dir;
    if (!writeTree(dir.path() + "/src", tree))
        return {};
    const Run r = run("mkfs.cramfs", args + QStringList { dir.path() + "/src", dir.path() + "/image" });
    return r.exitCode == 0 ? readAll(dir.path() + "/image") : QByteArray();
}

Tree deepTree(int depth)
{
    QString path;
    for (int i = 0; i < depth; ++i)
        path += QString("level%1/").arg(i);
    return Tree { { path + "file", "x" } };
}

} // namespace

class TestCramfsHostile : public QObject
{
    Q_OBJECT

private:
    // Extracts, checks what the output may hold, and gives the answer.
    int extractContained(const QByteArray &image, const CramfsLimits &limits, const QString &tag)
    {
        QTemporaryDir dir;
        const QString imagePath = dir.path() + "/image", parent = dir.path() + "/parent";
        const QString out = parent + "/out";
        writeAll(imagePath, image);
        QDir().mkpath(parent);
        const int rc = cramfsExtractImage(
            QFile::encodeName(imagePath).constData(), QFile::encodeName(out).constData(), limits);

        const QStringList beside
            = QDir(parent).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (!(beside.isEmpty() || beside == QStringList { "out" }))
            qFatal("%s: written beside the output folder: %s", qPrintable(tag), qPrintable(beside.join(',')));
        const QStringList top
            = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        if (top != QStringList({ "image", "parent" }))
            qFatal("%s: written outside: %s", qPrintable(tag), qPrintable(top.join(',')));
        const Tree tree = readTree(out);
        qint64 bytes = 0;
        int entries = 0;
        measureTree(out, &bytes, &entries);
        if (tree.values().contains("<other>"))
            qFatal("%s: something other than files and folders was written", qPrintable(tag));
        if (quint64(bytes) > limits.maxTotalBytes || quint32(entries) > limits.maxEntries)
            qFatal("%s: limits passed: %lld bytes, %d entries", qPrintable(tag), bytes, entries);
        for (const QString &path : tree.keys()) {
            if (path.count('/') - path.endsWith('/') + 1 > int(limits.maxDepth) + 1
                || out.size() + 1 + path.size() - path.endsWith('/') > int(limits.maxPathLength))
                qFatal("%s: too deep or too long: %s", qPrintable(tag), qPrintable(path));
        }
        return rc;
    }

    void saveToCorpus(const QByteArray &image, const QString &tag)
    {
        const QString corpus = qEnvironmentVariable("QV_CRAMFS_CORPUS");
        if (!corpus.isEmpty() && image.size() <= 64 * 1024)
            writeAll(corpus + "/" + QString(tag).replace(QRegularExpression("[^A-Za-z0-9]+"), "_"), image);
    }

private slots:
    void damaged_data()
    {
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<CramfsLimits>("limits");
        QTest::addColumn<int>("expected");

        const QByteArray base = mkfsImage(baseTree());
        QVERIFY(!base.isEmpty());
        const CramfsLimits defaults;
        const int a = inodeOf(base, "AAAA"), d = inodeOf(base, "DDDD"), e = inodeOf(base, "EEEE");
        const int f = inodeOf(base, "FFFF");
        QVERIFY(a > 0 && d > 0 && e > 0 && f > 0);
        const quint32 fData = offsetOf(base, f);
        const quint32 fFirstBlock = fData + 4 * 10; // 40000 bytes: 10 pointers

        auto row
            = [&](const char *name, const Patch &patch, int expected, CramfsLimits limits = CramfsLimits()) {
                  QByteArray image = base;
                  patch(image);
                  QTest::newRow(name) << image << limits << expected;
              };
        auto oldFormat = [](QByteArray &b) { b[8] = char(b[8] & ~1); };

        QTest::newRow("shorter than a superblock") << base.left(75) << defaults << int(CramfsTooShort);
        QTest::newRow("no magic") << content(5, 8192) << defaults << int(CramfsBadSuperblock);
        QTest::newRow("big-endian") << mkfsImage(baseTree(), { "-N", "big" }) << defaults
                                    << int(CramfsBadSuperblock);
        QTest::newRow("cut short of its size")
            << base.left(base.size() - 1) << defaults << int(CramfsBadSuperblock);
        row(
            "unsupported flag", [](QByteArray &b) { b[9] = char(b[9] | 0x08); }, CramfsBadSuperblock);
        row(
            "size below a page", [](QByteArray &b) { setLe32(b, 4, 4095); }, CramfsBadSuperblock);
        row(
            "no file count", [](QByteArray &b) { setLe32(b, 44, 0); }, CramfsBadSuperblock);
        row(
            "root is a file", [](QByteArray &b) { b[65] = char(0x81); }, CramfsBadRootInode);
        row(
            "root data elsewhere", [](QByteArray &b) { setOffset(b, 64, 200); }, CramfsBadRootInode);

        row("name ..", renameTo(".."), CramfsEntriesRefused);
        row("name .", renameTo("."), CramfsEntriesRefused);
        row("name a/b", renameTo("a/b"), CramfsEntriesRefused);
        row("name with backslash", renameTo("a\\b"), CramfsEntriesRefused);
        row("empty name", renameTo(QByteArray()), CramfsEntriesRefused);
        row(
            "name length 0", [a](QByteArray &b) { b[a + 8] = char(b[a + 8] & ~0x3F); }, CramfsEntriesRefused);
        row(
            "folder entry points at the root", [d](QByteArray &b) { setOffset(b, d, 76); },
            CramfsEntriesRefused);
        row(
            "folder entry points at its parent", [d, e](QByteArray &b) { setOffset(b, e, offsetOf(b, d)); },
            CramfsEntriesRefused);
        row(
            "folder data past the end", [d](QByteArray &b) { setOffset(b, d, quint32(b.size()) & ~3u); },
            CramfsEntriesRefused);
        row(
            "folder without data", [d](QByteArray &b) { setOffset(b, d, 0); }, CramfsEntriesRefused);

        row(
            "block pointer past the end", [fData](QByteArray &b) { setLe32(b, int(fData), 0x7FFFFFF0); },
            CramfsEntriesRefused);
        row(
            "block end below its start",
            [fData](QByteArray &b) { setLe32(b, int(fData) + 4, le32(b, int(fData)) - 1); },
            CramfsEntriesRefused);
        row(
            "compressed block over 8192 bytes",
            [fData, fFirstBlock](QByteArray &b) { setLe32(b, int(fData), fFirstBlock + 8193); },
            CramfsEntriesRefused);
        row(
            "block gives more than the size", [f](QByteArray &b) { setSize(b, f, 39999); },
            CramfsEntriesRefused);
        row(
            "block gives less than the size", [f](QByteArray &b) { setSize(b, f, 40001); },
            CramfsEntriesRefused);
        row(
            "huge size", [f](QByteArray &b) { setSize(b, f, 0xFFFFFF); }, CramfsEntriesRefused);
        row(
            "size without offset", [a](QByteArray &b) { setOffset(b, a, 0); }, CramfsEntriesRefused);
        row(
            "data past the superblock's size", [](QByteArray &b) { setLe32(b, 4, 8192); },
            CramfsDataPastSize);
        row(
            "old format cut in file data",
            [oldFormat, fFirstBlock](QByteArray &b) {
                oldFormat(b);
                b.truncate(int(fFirstBlock) + 5000);
            },
            CramfsEntriesRefused);
        // A file of one hole whose pointer table lies in the superblock.
        row(
            "file data inside the superblock",
            [a](QByteArray &b) {
                setSize(b, a, 4096);
                setOffset(b, a, 40);
                setLe32(b, 40, 44);
            },
            CramfsDataBeforeSuperblockEnd);
        // The first file's data moved into the padding at the end: a gap after the folders.
        row(
            "gap between folders and file data",
            [a](QByteArray &b) {
                const int at = (b.size() - 8) & ~3;
                setSize(b, a, 100);
                setOffset(b, a, quint32(at));
                setLe32(b, at, quint32(at) + 4);
            },
            CramfsDirectoryEndMismatch);

        CramfsLimits bytes;
        bytes.maxTotalBytes = 1024 * 1024;
        QTest::newRow("many entries of one shared file")
            << mkfsImage(baseTree(300)) << bytes << int(CramfsLimitExceeded);
        CramfsLimits entries;
        entries.maxEntries = 50;
        QTest::newRow("entry count") << mkfsImage(baseTree(100)) << entries << int(CramfsLimitExceeded);
        CramfsLimits depth;
        depth.maxDepth = 4;
        QTest::newRow("depth") << mkfsImage(deepTree(7)) << depth << int(CramfsEntriesRefused);
        CramfsLimits length;
        length.maxPathLength = 150; // the temporary output folder's path is about 40 bytes
        QTest::newRow("path length") << mkfsImage(deepTree(20)) << length << int(CramfsEntriesRefused);
    }
    void damaged()
    {
        QFETCH(QByteArray, image);
        QFETCH(CramfsLimits, limits);
        QFETCH(int, expected);
        saveToCorpus(image, QTest::currentDataTag());
        QCOMPARE(extractContained(image, limits, QTest::currentDataTag()), expected);
    }

    void missingImage()
    {
        QTemporaryDir dir;
        QCOMPARE(cramfsExtractImage(QFile::encodeName(dir.path() + "/none").constData(),
                     QFile::encodeName(dir.path() + "/out").constData()),
            int(CramfsCannotStat));
        QVERIFY(!QFileInfo::exists(dir.path() + "/out"));
    }

    // Blind damage: every truncation and many byte flips of a small image.
    void blindDamage_data()
    {
        QTest::addColumn<bool>("oldFormat");
        QTest::newRow("current format") << false;
        QTest::newRow("old format (size not checked against the file)") << true;
    }
    void blindDamage()
    {
        QFETCH(bool, oldFormat);
        QByteArray base = mkfsImage(baseTree(2));
        QVERIFY(!base.isEmpty());
        if (oldFormat)
            base[8] = char(base[8] & ~1);
        CramfsLimits limits;
        limits.maxTotalBytes = 4 * 1024 * 1024;
        limits.maxEntries = 200;
        const QString prefix = oldFormat ? "old" : "new";
        for (int cut = 0; cut < base.size(); cut += 127) {
            const int rc = extractContained(base.left(cut), limits, prefix + QString(" cut %1").arg(cut));
            // Without a size to compare with, an old-format image cut in its end padding is whole.
            QVERIFY2(
                rc < 0 || (oldFormat && rc == 0), qPrintable(QString("cut at %1 gave %2").arg(cut).arg(rc)));
        }
        quint32 x = 12345;
        for (int i = 0; i < 260; ++i) {
            x = x * 1103515245u + 12345u;
            QByteArray image = base;
            const int at = i < 130 ? int(x >> 8) % 700 : int(x >> 8) % image.size(); // structures first
            image[at] = char(image[at] ^ (1 + (x >> 4) % 255));
            const int rc = extractContained(image, limits, prefix + QString(" flip %1").arg(at));
            QVERIFY2(rc <= 0 && rc >= CramfsCannotCreateFolder,
                qPrintable(QString("flip at %1 gave %2").arg(at).arg(rc)));
        }
    }
};

QTEST_GUILESS_MAIN(TestCramfsHostile)
#include "tst_cramfs_hostile.moc"
