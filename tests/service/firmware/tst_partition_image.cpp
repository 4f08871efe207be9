// Header strip and file-system detector, on images made by mkfs.cramfs and
// mksquashfs and packages written by Python's zipfile.

#include "ImageTestSupport.h"
#include "PartitionImage.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>

using namespace imagetest;

class TestPartitionImage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.path() + "/" + name; }
    static QByteArray header() { return content(99, 64); }

private slots:
    void initTestCase()
    {
        QVERIFY(writeTree(path("src"), Tree { { "a/b", content(1, 5000) }, { "c", "c" } }));
        QCOMPARE(run("mkfs.cramfs", { path("src"), path("cramfs") }).exitCode, 0);
        QCOMPARE(run("mksquashfs", { path("src"), path("squashfs"), "-quiet", "-no-progress" }).exitCode, 0);
        const QByteArray cramfs = readAll(path("cramfs")), squashfs = readAll(path("squashfs"));
        QVERIFY(cramfs.startsWith("E=\xcd\x28") && squashfs.startsWith("hsqs"));
        QVERIFY(writeAll(path("cramfs.img"), header() + cramfs));
        QVERIFY(writeAll(path("squashfs.img"), header() + squashfs));
        QVERIFY(writeAll(path("cramfs-hsqs"), "hsqs" + cramfs.mid(4)));
        QVERIFY(writeAll(path("text"), content(2, 1000)));
        const QString script = "import sys, zipfile\n"
                               "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                               "z.writestr('readme.txt', 'hsqs' * 10)\n"
                               "z.write(sys.argv[2], 'custom-x.cramfs.img', zipfile.ZIP_STORED)\n"
                               "z.write(sys.argv[3], 'logo-x.squashfs.img', zipfile.ZIP_DEFLATED)\n"
                               "z.close()\n";
        QCOMPARE(
            run("python3", { "-c", script, path("package.zip"), path("cramfs.img"), path("squashfs.img") })
                .exitCode,
            0);
    }

    void strip_data()
    {
        QTest::addColumn<QString>("source"); // empty: no source file
        QTest::addColumn<int>("sourceSize");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("expected");
        QTest::newRow("missing source") << "" << 0 << "t" << -1;
        QTest::newRow("source is a folder") << "src" << 0 << "t" << -2;
        QTest::newRow("empty source") << "s" << 0 << "t" << -4;
        QTest::newRow("63 bytes") << "s" << 63 << "t" << -4;
        QTest::newRow("exactly the header") << "s" << 64 << "t" << 0;
        QTest::newRow("several copy chunks") << "s" << 3 * 1024 * 1024 + 77 << "t" << 0;
        QTest::newRow("target folder missing") << "s" << 100 << "none/t" << -3;
    }
    void strip()
    {
        QFETCH(QString, source);
        QFETCH(int, sourceSize);
        QFETCH(QString, target);
        QFETCH(int, expected);
        QTemporaryDir dir;
        const QByteArray bytes = content(quint32(sourceSize), sourceSize);
        QString sourcePath = dir.path() + "/missing";
        if (source == "src")
            sourcePath = dir.path();
        else if (!source.isEmpty())
            QVERIFY(writeAll(sourcePath = dir.path() + "/" + source, bytes));
        const QString targetPath = dir.path() + "/" + target;
        QCOMPARE(stripImageHeader(
                     QFile::encodeName(sourcePath).constData(), QFile::encodeName(targetPath).constData()),
            expected);
        QCOMPARE(QFileInfo::exists(targetPath), expected == 0); // no partial target after a failure
        if (expected == 0)
            QCOMPARE(readAll(targetPath), bytes.mid(64));
    }

    void detect_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("match");
        QTest::addColumn<int>("expected");
        QTest::newRow("squashfs at the start") << 3 << "squashfs"
                                               << "" << 0 << 0 << 2;
        QTest::newRow("cramfs at the start") << 3 << "cramfs"
                                             << "" << 0 << 0 << 1;
        QTest::newRow("cramfs wins over hsqs") << 3 << "cramfs-hsqs"
                                               << "" << 0 << 0 << 1;
        QTest::newRow("header not skipped") << 3 << "squashfs.img"
                                            << "" << 0 << 0 << 0;
        QTest::newRow("squashfs after the header") << 2 << "squashfs.img"
                                                   << "" << 0 << 0 << 2;
        QTest::newRow("cramfs after the header") << 2 << "cramfs.img"
                                                 << "" << 0 << 0 << 1;
        QTest::newRow("cramfs at an offset") << 1 << "cramfs.img"
                                             << "" << 64 << 0 << 1;
        QTest::newRow("wrong offset") << 1 << "cramfs.img"
                                      << "" << 4 << 0 << 0;
        QTest::newRow("offset past the end") << 1 << "text"
                                             << "" << 100000 << 0 << 0;
        QTest::newRow("neither") << 3 << "text"
                                 << "" << 0 << 0 << 0;
        QTest::newRow("missing file") << 3 << "none"
                                      << "" << 0 << 0 << 0;
        QTest::newRow("empty path") << 3 << ""
                                    << "" << 0 << 0 << 0;
        QTest::newRow("zip, exact name") << 0 << "package.zip"
                                         << "custom-x.cramfs.img" << 0 << 0 << 1;
        QTest::newRow("zip, part of a deflated name") << 0 << "package.zip"
                                                      << "logo-x" << 0 << 1 << 2;
        QTest::newRow("zip, part of a name asked exactly") << 0 << "package.zip"
                                                           << "logo-x" << 0 << 0 << 0;
        QTest::newRow("zip, entry too short") << 0 << "package.zip"
                                              << "readme" << 0 << 1 << 0;
        QTest::newRow("zip, empty name") << 0 << "package.zip"
                                         << "" << 0 << 1 << 0;
        QTest::newRow("not a zip") << 0 << "text"
                                   << "custom" << 0 << 1 << -1;
        QTest::newRow("no zip") << 0 << "none"
                                << "custom" << 0 << 1 << -1;
    }
    void detect()
    {
        QFETCH(int, mode);
        QFETCH(QString, file);
        QFETCH(QString, name);
        QFETCH(int, offset);
        QFETCH(int, match);
        QFETCH(int, expected);
        const QByteArray filePath = file.isEmpty() ? QByteArray() : QFile::encodeName(path(file));
        const QByteArray entry = name.toUtf8();
        const uint32_t offset32 = uint32_t(offset);
        const void *arg = mode == 0 ? static_cast<const void *>(entry.constData()) : &offset32;
        QCOMPARE(detectImageFsType(mode, filePath.constData(), arg, match), expected);
    }
};

QTEST_GUILESS_MAIN(TestPartitionImage)
#include "tst_partition_image.moc"
