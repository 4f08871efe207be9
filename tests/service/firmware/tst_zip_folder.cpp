// Package zips: unpacking hostile packages built by Python's zipfile, and the
// output package checked by Info-ZIP's unzip.

#include "DiyFirmware.h"
#include "FirmwareTestSupport.h"
#include "ZipFolder.h"

#include <unistd.h>

using namespace FirmwareTest;

class TestZipFolder : public QObject
{
    Q_OBJECT

private slots:
    void unzipEntries_data();
    void unzipEntries();
    void unzipLimits_data();
    void unzipLimits();
    void writeZip_data();
    void writeZip();
};

void TestZipFolder::unzipEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("expected"); // the target tree, beside "good.txt"
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("form"); // of the named entry: "" plain, "link" or "badcrc"

    QTest::newRow("link entry") << "ln" << QStringList() << -2 << "link";
    QTest::newRow("damaged entry") << "d.txt" << QStringList() << -2 << "badcrc";
    QTest::newRow("plain") << "a.txt" << QStringList { "a.txt" } << 0 << QString();
    QTest::newRow("all folder levels")
        << "deep/er/x.bin" << QStringList { "deep/", "deep/er/", "deep/er/x.bin" } << 0 << QString();
    QTest::newRow("backslashes split") << "a\\b.txt" << QStringList { "a/", "a/b.txt" } << 0 << QString();
    QTest::newRow("folder entry") << "empty/" << QStringList { "empty/" } << 0 << QString();
    QTest::newRow("parent") << "../evil" << QStringList() << -2 << QString();
    QTest::newRow("parent inside") << "a/../../evil" << QStringList() << -2 << QString();
    QTest::newRow("backslash parents") << "a\\..\\..\\b" << QStringList() << -2 << QString();
    QTest::newRow("absolute") << "/abs" << QStringList() << -2 << QString();
    QTest::newRow("drive") << "C:/evil" << QStringList() << -2 << QString();
    QTest::newRow("empty segment") << "a//b" << QStringList() << -2 << QString();
    QTest::newRow("dot") << "./a" << QStringList() << -2 << QString();
    QTest::newRow("through link") << "link/evil" << QStringList() << -2 << QString();
    QTest::newRow("onto link") << "link" << QStringList() << -2 << QString();
}

void TestZipFolder::unzipEntries()
{
    QFETCH(QString, name);
    QFETCH(QStringList, expected);
    QFETCH(int, result);
    QFETCH(QString, form);

    QTemporaryDir dir;
    const QString zip = dir.path() + QStringLiteral("/p.zip");
    QJsonObject entry = textEntry(name, QStringLiteral("payload"));
    if (!form.isEmpty())
        entry.insert(form, true);
    QVERIFY(
        makePackage(zip, { entry, textEntry(QStringLiteral("good.txt"), QStringLiteral("ok")) }, dir.path()));
    const QString outside = dir.path() + QStringLiteral("/outside");
    const QString target = dir.path() + QStringLiteral("/work/target");
    QVERIFY(QDir().mkpath(outside) && QDir().mkpath(target));
    QVERIFY(QFile::link(outside, target + QStringLiteral("/link")));

    QCOMPARE(
        unzipToFolder(QFile::encodeName(zip).constData(), QFile::encodeName(target).constData()), result);

    QStringList tree = treeListing(target);
    QStringList want = expected;
    for (QString &line : want) {
        if (!line.endsWith(QLatin1Char('/')))
            line += QStringLiteral(" ")
                + QString::fromLatin1(QCryptographicHash::hash("payload", QCryptographicHash::Sha1).toHex());
    }
    want << QStringLiteral("good.txt ")
            + QString::fromLatin1(QCryptographicHash::hash("ok", QCryptographicHash::Sha1).toHex())
         << QStringLiteral("link -> link");
    want.sort();
    QCOMPARE(tree, want);
    QVERIFY(treeListing(outside).isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        (QStringList { "outside", "p.zip", "package.json", "work" }));
    QCOMPARE(QDir(dir.path() + QStringLiteral("/work")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        QStringList { "target" });
}

void TestZipFolder::unzipLimits_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("entryBytes");
    QTest::addColumn<qint64>(
        "declare"); // what the central directory says each entry unpacks to; -1: the truth
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<int>("maxEntries");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("filesLeft");
    QTest::addColumn<bool>("folderMade");

    const qint64 gib4 = qint64(4) * 1024 * 1024 * 1024;
    QTest::newRow("under the caps") << 3 << 100000 << qint64(-1) << qint64(300000) << 3 << 0 << 3 << true;
    // Refused on what the zip says, before the folder is made.
    QTest::newRow("declared past the bytes cap: nothing written")
        << 3 << 1000000 << qint64(-1) << qint64(2500000) << 10 << -1 << 0 << false;
    QTest::newRow("declared past the default cap: nothing written")
        << 2 << 1000 << qint64(0xFFFFFFF0) << gib4 << 10 << -1 << 0 << false;
    // An entry that says less than it holds is read to its declared size
    // only, and fails its checksum.
    QTest::newRow("declared small: every entry refused")
        << 3 << 1000000 << qint64(1000) << qint64(2500000) << 10 << -2 << 0 << true;
    QTest::newRow("entry count cap: nothing written")
        << 5 << 10 << qint64(-1) << qint64(1000000) << 4 << -1 << 0 << false;
    QTest::newRow("missing zip") << -1 << 0 << qint64(-1) << qint64(1000) << 10 << -1 << 0 << false;
    // Past 65,535 entries the end record holds 0xFFFF and the zip64 record
    // the count; zziplib would walk the first 65,535 only.
    QTest::newRow("65,536 entries, counted from the zip64 record")
        << 65536 << 0 << qint64(-1) << qint64(1000) << 65535 << -1 << 0 << false;
    QTest::newRow("65,536 entries and one more")
        << 65537 << 0 << qint64(-1) << qint64(1000) << 65535 << -1 << 0 << false;
}

void TestZipFolder::unzipLimits()
{
    QFETCH(int, entries);
    QFETCH(int, entryBytes);
    QFETCH(qint64, declare);
    QFETCH(qint64, maxBytes);
    QFETCH(int, maxEntries);
    QFETCH(int, result);
    QFETCH(int, filesLeft);
    QFETCH(bool, folderMade);

    QTemporaryDir dir;
    const QString zip = dir.path() + QStringLiteral("/bomb.zip");
    QJsonArray list;
    if (entryBytes == 0)
        list.append(QJsonObject { { "name", "f" }, { "many", entries } });
    for (int i = 0; i < entries && entryBytes > 0; ++i) {
        QJsonObject entry { { "name", QStringLiteral("f%1").arg(i) }, { "bytes", entryBytes } };
        if (declare >= 0)
            entry.insert(QStringLiteral("declare"), declare);
        list.append(entry);
    }
    if (entries >= 0)
        QVERIFY(makePackage(zip, list, dir.path()));
    const QString target = dir.path() + QStringLiteral("/out");
    UnzipLimits limits;
    limits.maxTotalBytes = maxBytes;
    limits.maxEntries = maxEntries;
    QCOMPARE(unzipToFolder(QFile::encodeName(zip).constData(), QFile::encodeName(target).constData(), limits),
        result);
    QCOMPARE(QFileInfo::exists(target), folderMade);
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), filesLeft);
    for (const QFileInfo &file : QDir(target).entryInfoList(QDir::Files))
        QCOMPARE(file.size(), qint64(entryBytes));
}

void TestZipFolder::writeZip_data()
{
    QTest::addColumn<bool>("minizip");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("zipName"); // relative to the scratch folder
    QTest::addColumn<bool>("ok");

    const QStringList tree { "logo/Colse/close.jpg", "CustomConfig/a.json", "top.txt", ".hidden" };
    QTest::newRow("nested") << false << tree << "out.zip" << true;
    QTest::newRow("empty folder") << false << QStringList() << "out.zip" << true;
    QTest::newRow("replaces an existing zip") << false << tree << "existing.zip" << true;
    QTest::newRow("zip inside the folder") << false << tree << "produce/self.zip" << true;
    QTest::newRow("folder that cannot hold the zip") << false << tree << "missing/out.zip" << false;
    QTest::newRow("minizip writer") << true << tree << "out.zip" << true;
}

void TestZipFolder::writeZip()
{
    QFETCH(bool, minizip);
    QFETCH(QStringList, files);
    QFETCH(QString, zipName);
    QFETCH(bool, ok);

    QTemporaryDir dir;
    const QString source = dir.path() + QStringLiteral("/produce");
    QVERIFY(QDir().mkpath(source));
    for (const QString &file : files)
        QVERIFY(writeFile(source + QLatin1Char('/') + file, file.toUtf8().repeated(1000)));
    QVERIFY(QFile::link(QStringLiteral("/etc"), source + QStringLiteral("/hostlink")));
    const QString zip = dir.path() + QLatin1Char('/') + zipName;
    writeFile(dir.path() + QStringLiteral("/existing.zip"), QByteArray("not a zip").repeated(100000));
    const QStringList before = treeListing(source);

    CDiyFirmware firmware(dir.path());
    const bool written = minizip
        ? zipFolder(QFile::encodeName(source).constData(), QFile::encodeName(zip).constData()) == 0
        : firmware.makeProduceZip(source, zip);
    QCOMPARE(written, ok);
    if (!ok) {
        QVERIFY(!QFileInfo::exists(zip));
        return;
    }

    const ToolRun test = runTool(QStringLiteral("unzip"), { QStringLiteral("-tq"), zip });
    QVERIFY2(test.exitCode == 0 || (files.isEmpty() && test.out.contains("empty")), test.out.constData());
    if (files.isEmpty())
        return;
    QStringList listed
        = QString::fromUtf8(runTool(QStringLiteral("unzip"), { QStringLiteral("-Z1"), zip }).out)
              .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    listed.sort();
    QStringList want = files;
    want.sort();
    QCOMPARE(listed, want);
    const QString extracted = dir.path() + QStringLiteral("/extracted");
    QCOMPARE(runTool(QStringLiteral("unzip"), { QStringLiteral("-q"), zip, QStringLiteral("-d"), extracted })
                 .exitCode,
        0);
    QStringList wantTree = before;
    wantTree.removeAll(QStringLiteral("hostlink -> link"));
    QCOMPARE(treeListing(extracted), wantTree);
}

QTEST_GUILESS_MAIN(TestZipFolder)
#include "tst_zip_folder.moc"
