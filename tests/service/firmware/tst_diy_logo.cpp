// Logos: pictures made by ImageMagick checked against each type's format and
// limits, and put in their fixed places of the produce tree.

#include "DiyFirmware.h"
#include "FirmwareTestSupport.h"

using namespace FirmwareTest;

namespace {

// A picture made by `convert`, then padded with zero bytes after its end
// (readers stop at the end marker) to `padTo` bytes when that is larger.
QString makePicture(const QString &folder, const QString &name, const QStringList &convert, qint64 padTo = 0)
{
    const QString path = folder + QLatin1Char('/') + name;
    if (runTool(QStringLiteral("convert"), convert + QStringList { path }).exitCode != 0)
        return QString();
    QFile file(path);
    if (padTo > 0
        && (file.size() > padTo || !file.open(QIODevice::Append)
            || file.write(QByteArray(int(padTo - file.size()), 0)) < 0))
        return QString();
    return path;
}

} // namespace

class TestDiyLogo : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();
    void place_data();
    void place();

private:
    QTemporaryDir m_dir;
};

void TestDiyLogo::check_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("convert");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<qint64>("padTo");
    QTest::addColumn<int>("result");

    const QStringList jpeg800 { "-size", "800x600", "gradient:red-blue", "-quality", "60" };
    QTest::newRow("boot 800x600 of exactly 120000 bytes") << 0 << jpeg800 << "jpg" << qint64(120000) << 1;
    QTest::newRow("boot of 120001 bytes") << 0 << jpeg800 << "jpg" << qint64(120001) << 300023;
    QTest::newRow("boot 802x100") << 0 << QStringList { "-size", "802x100", "gradient:" } << "jpg"
                                  << qint64(0) << 300025;
    QTest::newRow("boot 801x100 reads as 800")
        << 0 << QStringList { "-size", "801x100", "gradient:" } << "jpg" << qint64(0) << 1;
    QTest::newRow("boot 800x601") << 0 << QStringList { "-size", "800x601", "xc:red" } << "jpg" << qint64(0)
                                  << 300025;
    QTest::newRow("boot grayscale") << 0
                                    << QStringList { "-size", "333x222", "gradient:", "-colorspace", "Gray" }
                                    << "jpg" << qint64(0) << 1;
    QTest::newRow("boot cmyk") << 0 << QStringList { "-size", "40x40", "xc:red", "-colorspace", "CMYK" }
                               << "jpg" << qint64(0) << 300024;
    QTest::newRow("boot png") << 0 << QStringList { "-size", "40x40", "xc:red" } << "png" << qint64(0)
                              << 300024;
    QTest::newRow("close of 122880 bytes") << 1 << jpeg800 << "jpg" << qint64(122880) << 1;
    QTest::newRow("close of 122881 bytes") << 1 << jpeg800 << "jpg" << qint64(122881) << 300023;
    QTest::newRow("close gif") << 1 << QStringList { "-size", "40x40", "xc:red" } << "gif" << qint64(0)
                               << 300027;
    QTest::newRow("close 900x100") << 1 << QStringList { "-size", "900x100", "xc:red" } << "jpg" << qint64(0)
                                   << 300025;
    QTest::newRow("video loss gif") << 2 << QStringList { "-size", "1280x720", "gradient:" } << "gif"
                                    << qint64(0) << 1;
    QTest::newRow("video loss jpeg") << 2 << QStringList { "-size", "40x40", "xc:red" } << "jpg" << qint64(0)
                                     << 300026;
    QTest::newRow("blind gif") << 3 << QStringList { "-size", "40x40", "xc:red" } << "gif" << qint64(0) << 1;
    QTest::newRow("blind png") << 3 << QStringList { "-size", "40x40", "xc:red" } << "png" << qint64(0)
                               << 300028;
    QTest::newRow("login logo 417x10")
        << 4 << QStringList { "-size", "417x10", "xc:red" } << "png" << qint64(0) << 1;
    QTest::newRow("login logo 1x223")
        << 4 << QStringList { "-size", "1x223", "xc:red" } << "png" << qint64(0) << 1;
    QTest::newRow("login logo 416x222")
        << 4 << QStringList { "-size", "416x222", "xc:red" } << "png" << qint64(0) << 300032;
    QTest::newRow("login logo jpeg") << 4 << QStringList { "-size", "417x223", "xc:red" } << "jpg"
                                     << qint64(0) << 300031;
    QTest::newRow("web logo 300x50") << 5 << QStringList { "-size", "300x50", "xc:red" } << "png" << qint64(0)
                                     << 1;
    QTest::newRow("web logo 200x51") << 5 << QStringList { "-size", "200x51", "xc:red" } << "png" << qint64(0)
                                     << 1;
    QTest::newRow("web logo 201x51") << 5 << QStringList { "-size", "201x51", "xc:red" } << "png" << qint64(0)
                                     << 300032;
    QTest::newRow("other type not looked at")
        << 6 << QStringList { "-size", "1x1", "xc:red" } << "png" << qint64(0) << 1;
}

void TestDiyLogo::check()
{
    QFETCH(int, type);
    QFETCH(QStringList, convert);
    QFETCH(QString, suffix);
    QFETCH(qint64, padTo);
    const QString path = makePicture(m_dir.path(), QStringLiteral("logo.") + suffix, convert, padTo);
    QVERIFY(!path.isEmpty());
    if (padTo > 0)
        QCOMPARE(QFileInfo(path).size(), padTo);
    CDiyFirmware firmware(m_dir.path());
    QTEST(firmware.checkLogoFormat(path, type), "result");
}

void TestDiyLogo::place_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("session"); // the session asked for (1 has a record)
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("target"); // under the produce folder; empty: nothing
    QTest::newRow("boot") << 0 << 1 << 100 << "logo/trvnet.jpg";
    QTest::newRow("close") << 1 << 1 << 100 << "logo/Colse/close.jpg";
    QTest::newRow("video loss") << 2 << 1 << 100 << "logo/VideoLoss/videoLoss.gif";
    QTest::newRow("blind") << 3 << 1 << 100 << "logo/VideoBlank/blind.gif";
    QTest::newRow("login logo") << 4 << 1 << 100 << "webLogo/LoginTopLogo.png";
    QTest::newRow("web logo") << 5 << 1 << 100 << "webLogo/logo.png";
    QTest::newRow("type outside") << 6 << 1 << 300029 << QString();
    QTest::newRow("negative type") << -1 << 1 << 300029 << QString();
    QTest::newRow("no record") << 0 << 2 << 300001 << QString();
}

void TestDiyLogo::place()
{
    QFETCH(int, type);
    QFETCH(int, session);
    QFETCH(QString, target);
    QTemporaryDir dir;
    const QString produce = dir.path() + QStringLiteral("/Produce/p_1");
    const QString unzip = dir.path() + QStringLiteral("/UnZip/p_1");
    CDiyFirmware firmware(dir.path());
    auto *info = new DiySessionInfo;
    std::memset(info, 0, sizeof(*info));
    DiyText::set(info->produceFolder, produce);
    DiyText::set(info->unzipFolder, unzip);
    firmware.addSessionInfo(1, info);

    // Without a logo partition the boot logo stays away; a link in its place
    // is not followed; a package's own file is copied.
    QCOMPARE(firmware.readPowerOnLogo(1), 100);
    QVERIFY(!QFileInfo::exists(produce + QStringLiteral("/logo/trvnet.jpg")));
    const QString secret = dir.path() + QStringLiteral("/secret");
    QVERIFY(writeFile(secret, "not the package's"));
    QVERIFY(QDir().mkpath(unzip + QStringLiteral("/logo-x/root")));
    QVERIFY(QFile::link(secret, unzip + QStringLiteral("/logo-x/root/trvnet.jpg")));
    QCOMPARE(firmware.readPowerOnLogo(1), 300029);
    QVERIFY(!QFileInfo::exists(produce + QStringLiteral("/logo/trvnet.jpg")));
    QVERIFY(QFile::remove(unzip + QStringLiteral("/logo-x/root/trvnet.jpg")));
    QVERIFY(writeFile(unzip + QStringLiteral("/logo-x/root/trvnet.jpg"), "package logo"));
    QCOMPARE(firmware.readPowerOnLogo(1), 100);
    QCOMPARE(readFile(produce + QStringLiteral("/logo/trvnet.jpg")), QByteArray("package logo"));
    QCOMPARE(firmware.readPowerOnLogo(2), 300001);

    const QString first = dir.path() + QStringLiteral("/first");
    const QString second = dir.path() + QStringLiteral("/second");
    QVERIFY(writeFile(first, "first") && writeFile(second, "second"));
    QTEST(firmware.dealWithLogo(session, first, type), "result");
    if (target.isEmpty()) {
        QVERIFY(!QFileInfo::exists(produce + QStringLiteral("/webLogo")));
        QCOMPARE(QDir(produce + QStringLiteral("/logo")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QStringList { "trvnet.jpg" });
        QCOMPARE(readFile(produce + QStringLiteral("/logo/trvnet.jpg")), QByteArray("package logo"));
        return;
    }
    QCOMPARE(readFile(produce + QLatin1Char('/') + target), QByteArray("first"));
    // A second choice replaces the first; a missing picture answers its failure.
    QCOMPARE(firmware.dealWithLogo(session, second, type), 100);
    QCOMPARE(readFile(produce + QLatin1Char('/') + target), QByteArray("second"));
    QCOMPARE(firmware.dealWithLogo(session, dir.path() + QStringLiteral("/missing"), type), 300029);
}

QTEST_GUILESS_MAIN(TestDiyLogo)
#include "tst_diy_logo.moc"
