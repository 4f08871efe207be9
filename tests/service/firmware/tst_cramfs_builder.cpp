// The cramfs builder against fsck.cramfs: images pass its full check with the
// CRC, extract to the source tree with fsck and with our reader, are the same
// byte for byte on every build, and hold the blocks mkfs.cramfs makes.

#include "CramfsBuilder.h"
#include "CramfsReader.h"
#include "ImageTestSupport.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace imagetest;

Q_DECLARE_METATYPE(imagetest::Tree)

namespace {

int build(const QString &source, const QString &image, unsigned threads = 0)
{
    CramfsBuildOptions options;
    options.listing = nullptr;
    options.threads = threads;
    return cramfsBuildImage(
        QFile::encodeName(source).constData(), QFile::encodeName(image).constData(), options);
}

Tree withoutSkipped(Tree tree)
{
    for (auto it = tree.begin(); it != tree.end();) {
        const bool skipped
            = it.value() == "<other>" || it.key().contains("Thumbs.db") || it.key().contains(".svn/");
        it = skipped ? tree.erase(it) : it + 1;
    }
    return tree;
}

} // namespace

class TestCramfsBuilder : public QObject
{
    Q_OBJECT

private slots:
    void againstFsck_data()
    {
        QTest::addColumn<Tree>("tree");
        Tree sizes;
        for (int size : { 0, 1, 4095, 4096, 4097, 70000 })
            sizes.insert(QString("size%1").arg(size), content(quint32(size), size));
        Tree many;
        for (int i = 0; i < 2000; ++i)
            many.insert(QString("d%1/f%2").arg(i % 37).arg(i), content(quint32(i), i % 900));
        const QString longName(252, 'n');

        QTest::newRow("nested and empty folders") << Tree { { "a/b/c/deep", content(1, 9000) },
            { "a/empty/", {} }, { "empty/", {} }, { "top", "t" } };
        QTest::newRow("sizes at block edges") << sizes;
        QTest::newRow("2000 small files") << many;
        QTest::newRow("252-byte names") << Tree { { longName + "/" + longName, "x" } };
        QTest::newRow("skipped entries") << Tree { { "Thumbs.db", "t" }, { "a/Thumbs.db", "t" },
            { ".svn/entries", "e" }, { "a/.svn/x", "e" }, { "a/kept", "k" }, { ".svnx", "kept too" } };
        QTest::newRow("empty tree") << Tree {};
    }
    void againstFsck()
    {
        QFETCH(Tree, tree);
        QTemporaryDir dir;
        const QString src = dir.path() + "/src", image = dir.path() + "/image";
        QVERIFY(writeTree(src, tree));
        QVERIFY(QFile::link("/etc/passwd", src + "/link"));
        QCOMPARE(::mkfifo(QFile::encodeName(src + "/fifo").constData(), 0644), 0);
        const Tree expected = withoutSkipped(readTree(src));

        QCOMPARE(build(src, image), 0);
        const QByteArray bytes = readAll(image);
        QVERIFY(le32(bytes, 8) & 1); // the CRC is there to be checked
        const Run check = run("fsck.cramfs", { "-v", image });
        QVERIFY2(check.exitCode == 0, check.err.constData());
        QVERIFY2(!check.err.contains("old cramfs format") && !check.err.contains("unable to test CRC"),
            check.err.constData());

        const Run extract = run("fsck.cramfs", { "--extract=" + dir.path() + "/fsck", image });
        QVERIFY2(extract.exitCode == 0, extract.err.constData());
        QCOMPARE(readTree(dir.path() + "/fsck"), expected);
        const QString ours = dir.path() + "/ours";
        QCOMPARE(
            cramfsExtractImage(QFile::encodeName(image).constData(), QFile::encodeName(ours).constData()), 0);
        QCOMPARE(readTree(ours), expected);

        QCOMPARE(build(src, dir.path() + "/again", 1), 0); // one thread, same bytes
        QVERIFY(readAll(dir.path() + "/again") == bytes);

        QByteArray flipped = bytes;
        flipped[bytes.size() / 2] = char(flipped[bytes.size() / 2] ^ 0x10);
        QVERIFY(writeAll(image, flipped));
        const Run damaged = run("fsck.cramfs", { image });
        QVERIFY(damaged.exitCode != 0);
        QVERIFY2(damaged.err.contains("crc error"), damaged.err.constData());
    }

    // Our blocks are the bytes mkfs.cramfs writes for the same data (zlib level 6).
    void blocksLikeMkfs()
    {
        QTemporaryDir dir;
        const QString src = dir.path() + "/src";
        QVERIFY(writeTree(src, Tree { { "FFFF", content(4, 5 * 4096 + 100) } }));
        QCOMPARE(build(src, dir.path() + "/ours"), 0);
        QCOMPARE(run("mkfs.cramfs", { src, dir.path() + "/mkfs" }).exitCode, 0);
        const QByteArray ours = readAll(dir.path() + "/ours"), mkfs = readAll(dir.path() + "/mkfs");
        const int inode = ours.indexOf("FFFF") - 12;
        QVERIFY(inode > 0);
        const quint32 offset = (le32(ours, inode + 8) >> 6) * 4;
        quint32 start = offset + 4 * 6;
        for (int block = 0; block < 6; ++block) {
            const quint32 end = le32(ours, int(offset) + 4 * block);
            QVERIFY(end > start);
            QVERIFY2(
                mkfs.contains(ours.mid(int(start), int(end - start))), qPrintable(QString::number(block)));
            start = end;
        }
    }

    void failures_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("image");
        QTest::newRow("missing source") << "none"
                                        << "image";
        QTest::newRow("source is a file") << "file"
                                          << "image";
        QTest::newRow("image folder missing") << "src"
                                              << "none/image";
        QTest::newRow("name longer than 252 bytes") << "long"
                                                    << "image";
    }
    void failures()
    {
        QFETCH(QString, source);
        QFETCH(QString, image);
        QTemporaryDir dir;
        QVERIFY(writeTree(dir.path() + "/src", Tree { { "a", "a" } }));
        QVERIFY(writeTree(dir.path() + "/long", Tree { { QString(253, 'n'), "a" } }));
        QVERIFY(writeAll(dir.path() + "/file", "f"));
        QCOMPARE(build(dir.path() + "/" + source, dir.path() + "/" + image), -1);
        QVERIFY(!QFileInfo::exists(dir.path() + "/" + image)); // no partial image
    }
};

QTEST_GUILESS_MAIN(TestCramfsBuilder)
#include "tst_cramfs_builder.moc"
