// The logo size readers against ImageMagick: pictures made by `convert`,
// sizes compared with `identify`; hostile PNG, JPEG and GIF files built by hand.

#include "FirmwareTestSupport.h"
#include "ImageSize.h"

using namespace FirmwareTest;

namespace {

// A GIF built from frames whose LZW data uses one code width throughout
// (a clear code before the table would widen it).
struct GifFrame
{
    int left = 0, top = 0, width = 0, height = 0;
    int minCodeSize = 2;
    QByteArray indexes; // one byte a pixel
    QByteArray localTable; // empty: the global table
    bool interlaced = false;
};

QByteArray lzwData(const QByteArray &indexes, int minCodeSize)
{
    const int width = minCodeSize + 1, clear = 1 << minCodeSize, perRun = (1 << minCodeSize) - 2;
    QByteArray bytes;
    quint32 bits = 0;
    int count = 0;
    auto put = [&](int code) {
        bits |= quint32(code) << count;
        for (count += width; count >= 8; count -= 8, bits >>= 8)
            bytes.append(char(bits & 0xFF));
    };
    for (int i = 0; i < indexes.size(); ++i) {
        if (i % perRun == 0)
            put(clear);
        put(quint8(indexes[i]));
    }
    put(clear + 1);
    if (count > 0)
        bytes.append(char(bits & 0xFF));
    return bytes;
}

QByteArray le16(int v)
{
    return QByteArray(1, char(v & 0xFF)) + char((v >> 8) & 0xFF);
}

QByteArray makeGif(int screenWidth, int screenHeight, const QByteArray &globalTable,
    const QList<GifFrame> &frames, const QByteArray &signature = "GIF89a")
{
    QByteArray out = signature + le16(screenWidth) + le16(screenHeight);
    int bitsOfTable = 0;
    while ((2 << bitsOfTable) * 3 < globalTable.size())
        ++bitsOfTable;
    out += char(globalTable.isEmpty() ? 0 : (0x80 | bitsOfTable));
    out += QByteArray(2, 0);
    out += globalTable;
    for (const GifFrame &f : frames) {
        int localBits = 0;
        while ((2 << localBits) * 3 < f.localTable.size())
            ++localBits;
        out += ',' + le16(f.left) + le16(f.top) + le16(f.width) + le16(f.height);
        out += char((f.localTable.isEmpty() ? 0 : (0x80 | localBits)) | (f.interlaced ? 0x40 : 0));
        out += f.localTable;
        out += char(f.minCodeSize);
        const QByteArray data = lzwData(f.indexes, qBound(2, f.minCodeSize, 11));
        for (int at = 0; at < data.size(); at += 255) {
            const QByteArray block = data.mid(at, 255);
            out += char(block.size()) + block;
        }
        out += char(0);
    }
    return out + ';';
}

const QByteArray kFourColours("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);

QByteArray pngHead(quint32 width, quint32 height, const QByteArray &type = "IHDR")
{
    QByteArray out("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12);
    out += type;
    for (quint32 v : { width, height })
        for (int s = 24; s >= 0; s -= 8)
            out += char((v >> s) & 0xFF);
    return out + QByteArray(5, 0);
}

} // namespace

class TestImageSize : public QObject
{
    Q_OBJECT

private slots:
    void againstIdentify_data();
    void againstIdentify();
    void png_data();
    void png();
    void jpegRefused_data();
    void jpegRefused();
    void gif_data();
    void gif();
    void gifFileCap_data();
    void gifFileCap();
    void jpegInfo_data();
    void jpegInfo();
    void bmp_data();
    void bmp();

private:
    QTemporaryDir m_dir;
};

void TestImageSize::againstIdentify_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("convert"); // arguments before the output file
    QTest::addColumn<QString>("identifyFormat");

    const QString size = QStringLiteral("%w %h"), screen = QStringLiteral("%W %H");
    QTest::newRow("png 417x223") << "a.png" << QStringList { "-size", "417x223", "gradient:red-blue" }
                                 << size;
    QTest::newRow("png 1x1") << "b.png" << QStringList { "-size", "1x1", "xc:red" } << size;
    QTest::newRow("png 300x50 grey") << "c.png"
                                     << QStringList { "-size", "300x50", "gradient:", "-type", "Grayscale" }
                                     << size;
    QTest::newRow("png 200x1000 palette")
        << "d.png" << QStringList { "-size", "200x1000", "plasma:fractal", "-colors", "16" } << size;
    QTest::newRow("jpeg 800x600") << "a.jpg" << QStringList { "-size", "800x600", "gradient:red-blue" }
                                  << size;
    QTest::newRow("jpeg 801 wide") << "b.jpg" << QStringList { "-size", "801x100", "gradient:" } << size;
    QTest::newRow("jpeg 1x1") << "c.jpg" << QStringList { "-size", "1x1", "xc:green" } << size;
    QTest::newRow("jpeg grayscale 31x17")
        << "d.jpg" << QStringList { "-size", "31x17", "gradient:", "-colorspace", "Gray" } << size;
    QTest::newRow("jpeg progressive")
        << "e.jpg" << QStringList { "-size", "333x111", "plasma:", "-interlace", "Plane" } << size;
    QTest::newRow("jpeg 4:2:0 odd") << "f.jpg"
                                    << QStringList { "-size", "17x9", "plasma:", "-sampling-factor", "2x2" }
                                    << size;
    QTest::newRow("jpeg tall") << "g.jpg" << QStringList { "-size", "10x1500", "gradient:" } << size;
    QTest::newRow("gif 100x50") << "a.gif" << QStringList { "-size", "100x50", "gradient:red-blue" }
                                << screen;
    QTest::newRow("gif 1x1") << "b.gif" << QStringList { "-size", "1x1", "xc:red" } << screen;
    QTest::newRow("gif interlaced") << "c.gif"
                                    << QStringList { "-size", "64x37", "plasma:", "-interlace", "GIF" }
                                    << screen;
    QTest::newRow("gif two colours") << "d.gif"
                                     << QStringList { "-size", "33x7", "pattern:checkerboard", "-colors",
                                            "2" }
                                     << screen;
    QTest::newRow("gif 256 colours") << "e.gif"
                                     << QStringList { "-size", "300x200", "plasma:fractal", "-colors", "256" }
                                     << screen;
    QTest::newRow("gif screen larger than frame")
        << "f.gif" << QStringList { "-size", "20x10", "xc:red", "-repage", "64x48+5+5" } << screen;
    QTest::newRow("gif frames off the screen")
        << "g.gif"
        << QStringList { "-size", "20x10", "xc:red", "-repage", "40x30+0+0", "(", "-size", "30x30", "xc:blue",
               "-repage", "40x30+25+20", ")" }
        << screen;
    QTest::newRow("gif animation") << "h.gif"
                                   << QStringList { "-delay", "10", "-loop", "0", "-size", "50x40", "xc:red",
                                          "-size", "50x40", "xc:blue" }
                                   << screen;
}

void TestImageSize::againstIdentify()
{
    QFETCH(QString, file);
    QFETCH(QStringList, convert);
    QFETCH(QString, identifyFormat);
    const QString path = m_dir.path() + QLatin1Char('/') + file;
    QCOMPARE(runTool(QStringLiteral("convert"), convert + QStringList { path }).exitCode, 0);
    const ToolRun identify = runTool(QStringLiteral("identify"),
        { QStringLiteral("-format"), identifyFormat + QStringLiteral("\n"), path });
    QCOMPARE(identify.exitCode, 0);
    const QStringList first
        = QString::fromLatin1(identify.out).section(QLatin1Char('\n'), 0, 0).split(QLatin1Char(' '));
    int width = first.value(0).toInt(), height = first.value(1).toInt();
    QVERIFY(width > 0 && height > 0);

    const QByteArray name = QFile::encodeName(path);
    int readWidth = -1, readHeight = -1;
    if (file.endsWith(QLatin1String(".png"))) {
        QCOMPARE(GetPNGWidthHeight(name.constData(), &readWidth, &readHeight), 0);
    } else {
        const std::unique_ptr<DecodedPicture> picture = file.endsWith(QLatin1String(".jpg"))
            ? GetJPGWidthHeight(name.constData(), 0)
            : GetGIFWidthHeight(name.constData());
        QVERIFY(picture);
        readWidth = picture->width;
        readHeight = picture->height;
        if (file.endsWith(QLatin1String(".jpg")))
            width &= ~1; // the reader reports even widths
    }
    QCOMPARE(readWidth, width);
    QCOMPARE(readHeight, height);
}

void TestImageSize::png_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("417x223") << pngHead(417, 223) << 0 << 417 << 223;
    QTest::newRow("largest side") << pngHead(0x7FFFFFFF, 1) << 0 << 0x7FFFFFFF << 1;
    QTest::newRow("width beyond int") << pngHead(0x80000000u, 1) << -1 << 0 << 0;
    QTest::newRow("zero height") << pngHead(5, 0) << -1 << 0 << 0;
    QTest::newRow("no IHDR first") << pngHead(5, 5, "IDAT") << -1 << 0 << 0;
    QTest::newRow("cut in the size") << pngHead(417, 223).left(20) << -1 << 0 << 0;
    QTest::newRow("not png") << QByteArray("GIF89a").append(40, 'x') << -1 << 0 << 0;
    QTest::newRow("empty") << QByteArray() << -1 << 0 << 0;
}

void TestImageSize::png()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, result);
    const QString path = m_dir.path() + QStringLiteral("/head.png");
    QVERIFY(writeFile(path, bytes));
    int width = 7, height = 7;
    QCOMPARE(GetPNGWidthHeight(QFile::encodeName(path).constData(), &width, &height), result);
    QTEST(width, "width");
    QTEST(height, "height");
}

void TestImageSize::jpegRefused_data()
{
    QTest::addColumn<QStringList>("convert");
    QTest::addColumn<int>("declaredSide"); // 0: as made; else written into the frame header
    QTest::newRow("cmyk") << QStringList { "-size", "20x20", "xc:red", "-colorspace", "CMYK" } << 0;
    QTest::newRow("declares 65000x65000") << QStringList { "-size", "16x16", "xc:red" } << 65000;
    QTest::newRow("declares 16385 wide") << QStringList { "-size", "16x16", "xc:red" } << 16385;
    QTest::newRow("png named jpeg") << QStringList { "-size", "16x16", "xc:red", "png:-" } << 0;
}

void TestImageSize::jpegRefused()
{
    QFETCH(QStringList, convert);
    QFETCH(int, declaredSide);
    const QString path = m_dir.path() + QStringLiteral("/refused.jpg");
    const bool toStdout = convert.last().endsWith(QLatin1String(":-"));
    const ToolRun made
        = runTool(QStringLiteral("convert"), convert + (toStdout ? QStringList() : QStringList { path }));
    QCOMPARE(made.exitCode, 0);
    QByteArray bytes = toStdout ? made.out : readFile(path);
    if (declaredSide > 0) {
        const int frame = bytes.indexOf("\xFF\xC0");
        QVERIFY(frame > 0);
        for (int at : { frame + 5, frame + 7 }) {
            bytes[at] = char(declaredSide >> 8);
            bytes[at + 1] = char(declaredSide & 0xFF);
        }
    }
    QVERIFY(writeFile(path, bytes));
    QVERIFY(!GetJPGWidthHeight(QFile::encodeName(path).constData(), 0));
}

void TestImageSize::gif_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("redAt"); // pixel index that must be red (RGB555 0x7C00), or -1

    GifFrame whole;
    whole.width = 4;
    whole.height = 2;
    whole.indexes = QByteArray("\0\1\2\3\0\1\2\3", 8);
    const QByteArray plain = makeGif(4, 2, kFourColours, { whole });
    QTest::newRow("plain") << plain << true << 4 << 2 << 4;
    QTest::newRow("cut after the colour table") << plain.left(13 + 12) << true << 4 << 2 << -1;
    QTest::newRow("cut inside the data") << plain.left(plain.size() - 4) << true << 4 << 2 << -1;
    QTest::newRow("only the screen") << plain.left(13) << true << 4 << 2 << -1;
    QTest::newRow("cut before the screen") << plain.left(12) << false << 0 << 0 << -1;
    QTest::newRow("wrong signature") << QByteArray("GIF90a") + plain.mid(6) << false << 0 << 0 << -1;

    GifFrame off = whole;
    off.left = 65000;
    off.top = 65000;
    QTest::newRow("frame off the screen")
        << makeGif(4, 2, kFourColours, { whole, off }) << true << 4 << 2 << 4;
    GifFrame partly = whole;
    partly.left = 3;
    partly.top = 1;
    QTest::newRow("frame partly off the screen")
        << makeGif(4, 2, kFourColours, { partly }) << true << 4 << 2 << 7;
    GifFrame large = whole;
    large.width = 8;
    large.height = 1;
    QTest::newRow("first frame larger than the screen")
        << makeGif(2, 2, kFourColours, { large }) << true << 2 << 2 << 0;
    QTest::newRow("gif87a frame placed at the corner")
        << makeGif(4, 2, kFourColours, { partly }, "GIF87a") << true << 4 << 2 << 0;

    GifFrame badIndex = whole;
    badIndex.indexes = QByteArray("\3\3\3\3\3\3\3\3", 8);
    const QByteArray twoColours = kFourColours.left(6);
    QTest::newRow("colour index beyond the table")
        << makeGif(4, 2, twoColours, { badIndex }) << true << 4 << 2 << -1;
    GifFrame codeOne = whole;
    codeOne.minCodeSize = 1;
    QTest::newRow("code size 1") << makeGif(4, 2, kFourColours, { codeOne }) << false << 0 << 0 << -1;
    GifFrame codeTwelve = whole;
    codeTwelve.minCodeSize = 12;
    QTest::newRow("code size 12") << makeGif(4, 2, kFourColours, { codeTwelve }) << false << 0 << 0 << -1;
    GifFrame unknownCode = whole;
    unknownCode.indexes = QByteArray("\0\7", 2); // 7: no table entry yet
    QTest::newRow("code beyond the table")
        << makeGif(4, 2, kFourColours, { unknownCode }) << false << 0 << 0 << -1;
    QTest::newRow("no colour table") << makeGif(4, 2, QByteArray(), { whole }) << false << 0 << 0 << -1;
    GifFrame local = whole;
    local.localTable = kFourColours;
    QTest::newRow("local colour table") << makeGif(4, 2, QByteArray(), { local }) << true << 4 << 2 << 4;
    GifFrame interlaced = whole;
    interlaced.height = 5;
    interlaced.width = 1;
    interlaced.indexes = QByteArray("\1\1\1\0\1", 5); // rows 0, 4, 2, 1, 3
    interlaced.interlaced = true;
    // Rows two pixels apart (even stride): row 1 starts at pixel 2.
    QTest::newRow("interlaced rows") << makeGif(1, 5, kFourColours, { interlaced }) << true << 1 << 5 << 2;
    QTest::newRow("screen beyond the limit")
        << makeGif(16385, 1, kFourColours, { whole }) << false << 0 << 0 << -1;
    QTest::newRow("screen of 64 Mpx and more")
        << makeGif(16384, 4097, kFourColours, { whole }) << false << 0 << 0 << -1;
    GifFrame empty = whole;
    empty.width = 0;
    QTest::newRow("empty frame on an empty screen")
        << makeGif(0, 0, kFourColours, { empty }) << false << 0 << 0 << -1;
    QByteArray stray = plain;
    stray.insert(13 + 12, 'x');
    QTest::newRow("stray byte before the first frame") << stray << false << 0 << 0 << -1;
    QByteArray longBlock = makeGif(4, 2, kFourColours, { whole });
    longBlock[13 + 12 + 10 + 1] = char(200); // the first data sub-block claims 200 bytes
    QTest::newRow("sub-block longer than the data") << longBlock << true << 4 << 2 << -1;
}

void TestImageSize::gif()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, read);
    QFETCH(int, redAt);
    const std::unique_ptr<DecodedPicture> picture
        = parseGifFile(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()));
    QCOMPARE(bool(picture), read);
    if (!picture)
        return;
    QTEST(picture->width, "width");
    QTEST(picture->height, "height");
    QCOMPARE(picture->pixels.size(), size_t((picture->width + 1) & ~1) * size_t(picture->height));
    if (redAt >= 0)
        QCOMPARE(picture->pixels.at(size_t(redAt)), uint16_t(0x7C00));

    // The file reader gives the same.
    const QString path = m_dir.path() + QStringLiteral("/made.gif");
    QVERIFY(writeFile(path, bytes));
    const std::unique_ptr<DecodedPicture> fromFile = GetGIFWidthHeight(QFile::encodeName(path).constData());
    QVERIFY(fromFile);
    QCOMPARE(fromFile->pixels, picture->pixels);
}

void TestImageSize::gifFileCap_data()
{
    QTest::addColumn<qint64>("fileSize"); // a small GIF padded after its trailer
    QTest::addColumn<bool>("read");
    QTest::newRow("at the cap") << qint64(ImageLimits::kMaxFileBytes) << true;
    QTest::newRow("one byte over") << qint64(ImageLimits::kMaxFileBytes) + 1 << false;
}

void TestImageSize::gifFileCap()
{
    QFETCH(qint64, fileSize);
    GifFrame frame;
    frame.width = 2;
    frame.height = 1;
    frame.indexes = QByteArray("\0\1", 2);
    const QByteArray bytes = makeGif(2, 1, kFourColours, { frame });
    const QString path = m_dir.path() + QStringLiteral("/padded.gif");
    QVERIFY(writeFile(path, bytes + QByteArray(int(fileSize - bytes.size()), 0)));
    QTEST(bool(GetGIFWidthHeight(QFile::encodeName(path).constData())), "read");
    QFile::remove(path);
}

void TestImageSize::jpegInfo_data()
{
    QTest::addColumn<QStringList>("convert"); // empty: no file
    QTest::addColumn<int>("result");
    QTest::newRow("801 wide, as it is") << QStringList { "-size", "801x100", "gradient:", "jpg:-" } << 0;
    QTest::newRow("grayscale") << QStringList { "-size", "31x17", "gradient:", "-colorspace", "Gray",
        "jpg:-" } << 0;
    QTest::newRow("png") << QStringList { "-size", "16x16", "xc:red", "png:-" } << -1;
    QTest::newRow("missing file") << QStringList() << -1;
}

void TestImageSize::jpegInfo()
{
    QFETCH(QStringList, convert);
    QFETCH(int, result);
    const QString path = m_dir.path() + QStringLiteral("/info.jpg");
    QFile::remove(path);
    if (!convert.isEmpty()) {
        const ToolRun made = runTool(QStringLiteral("convert"), convert);
        QCOMPARE(made.exitCode, 0);
        QVERIFY(writeFile(path, made.out));
    }
    int width = 7, height = 7;
    QCOMPARE(printJpegInfo(QFile::encodeName(path).constData(), &width, &height), result);
    if (result != 0) {
        QCOMPARE(width, 0);
        QCOMPARE(height, 0);
        return;
    }
    const ToolRun identify
        = runTool(QStringLiteral("identify"), { QStringLiteral("-format"), QStringLiteral("%w %h"), path });
    QCOMPARE(QStringLiteral("%1 %2").arg(width).arg(height), QString::fromLatin1(identify.out));
}

void TestImageSize::bmp_data()
{
    QTest::addColumn<QStringList>("convert"); // to standard output
    QTest::addColumn<int>("cutTo"); // bytes kept of the file; 0: all
    QTest::addColumn<int>("pixelType"); // -1: refused

    QTest::newRow("8 bits") << QStringList { "-size", "23x17", "gradient:red-blue", "-type", "Palette",
        "-compress", "None", "BMP3:-" }
                            << 0 << 0;
    QTest::newRow("8 bits, run-length coded")
        << QStringList { "-size", "23x17", "gradient:red-blue", "-type", "Palette", "BMP3:-" } << 0 << -1;
    QTest::newRow("RGB555") << QStringList { "-size", "9x5", "plasma:", "-define", "bmp:subtype=RGB555",
        "BMP:-" } << 0 << 0;
    QTest::newRow("RGB565") << QStringList { "-size", "9x5", "plasma:", "-define", "bmp:subtype=RGB565",
        "BMP:-" } << 0 << 1;
    QTest::newRow("24 bits") << QStringList { "-size", "9x5", "plasma:", "BMP3:-" } << 0 << -1;
    QTest::newRow("4 bits") << QStringList { "-size", "9x5", "xc:red", "-type", "Palette", "BMP3:-" } << 0
                            << -1;
    QTest::newRow("cut in the pixels") << QStringList { "-size", "23x17", "gradient:red-blue", "-type",
        "Palette", "-compress", "None", "BMP3:-" }
                                       << 1200 << -1;
    QTest::newRow("png") << QStringList { "-size", "9x5", "xc:red", "png:-" } << 0 << -1;
}

// Every pixel against ImageMagick's own reading of the file.
void TestImageSize::bmp()
{
    QFETCH(QStringList, convert);
    QFETCH(int, cutTo);
    QFETCH(int, pixelType);
    const QString path = m_dir.path() + QStringLiteral("/picture.bmp");
    const ToolRun made = runTool(QStringLiteral("convert"), convert);
    QCOMPARE(made.exitCode, 0);
    QVERIFY(writeFile(path, cutTo > 0 ? made.out.left(cutTo) : made.out));
    const std::unique_ptr<DecodedPicture> picture = readBmpFile(QFile::encodeName(path).constData());
    QCOMPARE(bool(picture), pixelType >= 0);
    if (!picture)
        return;
    QCOMPARE(picture->pixelType, pixelType);
    const ToolRun identify
        = runTool(QStringLiteral("identify"), { QStringLiteral("-format"), QStringLiteral("%w %h"), path });
    QCOMPARE(
        QStringLiteral("%1 %2").arg(picture->width).arg(picture->height), QString::fromLatin1(identify.out));
    const QByteArray rgb = runTool(QStringLiteral("convert"),
        { path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgb:-") })
                               .out;
    QCOMPARE(rgb.size(), picture->width * picture->height * 3);
    for (int i = 0; i < picture->width * picture->height; ++i) {
        const auto *p = reinterpret_cast<const uchar *>(rgb.constData()) + 3 * i;
        QCOMPARE(picture->pixels.at(size_t(i)), convertRgbTo16(p[0], p[1], p[2], pixelType));
    }
}

QTEST_GUILESS_MAIN(TestImageSize)
#include "tst_image_size.moc"
