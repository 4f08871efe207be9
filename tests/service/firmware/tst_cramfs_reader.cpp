// The cramfs reader against images made by mkfs.cramfs: our extraction equals
// the source tree and fsck.cramfs's own extraction of the same image.

#include "CramfsReader.h"
#include "ImageTestSupport.h"

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>

using namespace imagetest;

Q_DECLARE_METATYPE(imagetest::Tree)

namespace {

// Runs the extraction with standard error going to a file, and gives back what it printed.
int extractCapturingStderr(const QString &image, const QString &out, QByteArray *err)
{
    QTemporaryFile capture;
    capture.open();
    std::fflush(stderr);
    const int saved = ::dup(2);
    ::dup2(capture.handle(), 2);
    const int rc
        = cramfsExtractImage(QFile::encodeName(image).constData(), QFile::encodeName(out).constData());
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    capture.seek(0);
    *err = capture.readAll();
    return rc;
}

Tree withoutOthers(Tree tree)
{
    for (auto it = tree.begin(); it != tree.end();)
        it = it.value() == "<other>" ? tree.erase(it) : it + 1;
    return tree;
}

Tree nestedTree()
{
    return Tree { { "a/", {} }, { "a/b/", {} }, { "a/b/c/", {} }, { "empty/", {} }, { "a/b/empty too/", {} },
        { "a/b/c/deep.txt", content(1, 9000) }, { "top.bin", content(2, 5000) }, { "a/one", "1" } };
}

Tree blockEdgeTree()
{
    Tree t;
    for (int size : { 0, 1, 4095, 4096, 4097, 8192, 12289 })
        t.insert(QString("size%1").arg(size), content(quint32(size), size));
    return t;
}

Tree manyFilesTree()
{
    Tree t;
    for (int i = 0; i < 2000; ++i)
        t.insert(QString("d%1/f%2").arg(i % 20).arg(i), content(quint32(i), 100 + i % 700));
    return t;
}

Tree duplicateTree()
{
    const QByteArray same = content(7, 10000);
    return Tree { { "one", same }, { "two", same }, { "sub/three", same }, { "other", content(8, 10000) } };
}

Tree holeTree()
{
    return Tree { { "sparse", content(3, 4096) + QByteArray(3 * 4096, '\0') + content(4, 100) },
        { "zero tail", content(5, 10) + QByteArray(4096 * 2, '\0') } };
}

} // namespace

class TestCramfsReader : public QObject
{
    Q_OBJECT

private slots:
    void againstMkfs_data()
    {
        QTest::addColumn<Tree>("tree");
        QTest::addColumn<QStringList>("mkfsArgs");
        QTest::addColumn<bool>("oldFormat");
        QTest::addColumn<bool>("specials");
        QTest::addColumn<bool>("fsckReads"); // fsck.cramfs refuses images with holes

        const QString longName(252, 'n');
        QTest::newRow("nested and empty folders") << nestedTree() << QStringList() << false << false << true;
        QTest::newRow("sizes at block edges") << blockEdgeTree() << QStringList() << false << false << true;
        QTest::newRow("16 MiB less one byte") << Tree { { "big", content(9, 16 * 1024 * 1024 - 1) } }
                                              << QStringList() << false << false << true;
        QTest::newRow("252-byte names") << Tree { { longName + "/", {} }, { longName + "/" + longName, "x" } }
                                        << QStringList() << false << false << true;
        QTest::newRow("2000 small files") << manyFilesTree() << QStringList() << false << false << true;
        QTest::newRow("duplicate contents share data")
            << duplicateTree() << QStringList() << false << false << true;
        QTest::newRow("padded image") << nestedTree() << QStringList { "-p" } << false << false << true;
        QTest::newRow("holes") << holeTree() << QStringList { "-z" } << false << false << false;
        QTest::newRow("old format") << nestedTree() << QStringList() << true << false << true;
        QTest::newRow("links, fifos and devices skipped")
            << nestedTree() << QStringList() << false << true << true;
    }
    void againstMkfs()
    {
        QFETCH(Tree, tree);
        QFETCH(QStringList, mkfsArgs);
        QFETCH(bool, oldFormat);
        QFETCH(bool, specials);
        QFETCH(bool, fsckReads);
        QTemporaryDir dir;
        const QString src = dir.path() + "/src", image = dir.path() + "/image", ours = dir.path() + "/ours";
        QVERIFY(writeTree(src, tree));
        if (specials) {
            QVERIFY(QFile::link("a/one", src + "/link"));
            QVERIFY(QFile::link("/etc/passwd", src + "/a/outside"));
            QCOMPARE(::mkfifo(QFile::encodeName(src + "/fifo").constData(), 0644), 0);
            if (::geteuid() == 0)
                QCOMPARE(
                    ::mknod(QFile::encodeName(src + "/null").constData(), S_IFCHR | 0600, makedev(1, 3)), 0);
        }
        const Run mkfs = run("mkfs.cramfs", mkfsArgs + QStringList { src, image });
        QVERIFY2(mkfs.exitCode == 0, mkfs.err.constData());
        if (oldFormat) {
            QByteArray bytes = readAll(image);
            bytes[8] = char(bytes[8] & ~1);
            QVERIFY(writeAll(image, bytes));
        }

        QByteArray warnings;
        QCOMPARE(extractCapturingStderr(image, ours, &warnings), 0);
        QCOMPARE(warnings.contains("warning: old cramfs format\n"), oldFormat);
        const Tree expected = withoutOthers(readTree(src));
        QCOMPARE(readTree(ours), expected); // nothing but folders and regular files

        if (!fsckReads)
            return;
        const QString theirs = dir.path() + "/fsck";
        const Run fsck = run("fsck.cramfs", { "--extract=" + theirs, image });
        QVERIFY2(fsck.exitCode == 0, fsck.err.constData());
        QCOMPARE(withoutOthers(readTree(theirs)), expected);
    }

    // Permission bits come from the image without set-id bits, and the owner
    // may always read and write what was extracted.
    void modes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("imageMode");
        QTest::addColumn<int>("extractedMode");
        QTest::newRow("setuid file") << "f" << 04755 << 0755;
        QTest::newRow("setgid and sticky file") << "f" << 03711 << 0711;
        QTest::newRow("read-only file") << "f" << 0444 << 0644;
        QTest::newRow("owner read only") << "f" << 0400 << 0600;
        QTest::newRow("read-only folder") << "d/" << 0555 << 0755;
        QTest::newRow("setgid folder") << "d/" << 02750 << 0750;
    }
    void modes()
    {
        QFETCH(QString, name);
        QFETCH(int, imageMode);
        QFETCH(int, extractedMode);
        QTemporaryDir dir;
        const QString src = dir.path() + "/src", image = dir.path() + "/image", out = dir.path() + "/out";
        QVERIFY(writeTree(src, Tree { { name, "data" } }));
        const QString entry = QString(name).remove('/');
        QCOMPARE(::chmod(QFile::encodeName(src + "/" + entry).constData(), mode_t(imageMode)), 0);
        QCOMPARE(run("mkfs.cramfs", { src, image }).exitCode, 0);
        QCOMPARE(
            cramfsExtractImage(QFile::encodeName(image).constData(), QFile::encodeName(out).constData()), 0);
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(out + "/" + entry).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), extractedMode);
        ::chmod(QFile::encodeName(src + "/" + entry).constData(), 0755);
    }
};

QTEST_GUILESS_MAIN(TestCramfsReader)
#include "tst_cramfs_reader.moc"
