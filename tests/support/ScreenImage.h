#pragma once

// Screenshots of an X display and pixel statistics of a rectangle, through
// ImageMagick (import, convert, compare). Values are fractions of full scale
// (0 to 1), whatever the quantum depth of the installed ImageMagick.
//
//     QVERIFY(ScreenImage::grab(xvfb.display(), dir.filePath("a.png")));
//     const ScreenImage::Stats s = ScreenImage::statistics(dir.filePath("a.png"), rect);
//     QVERIFY(s.ok && s.maxDeviation() < 0.01);

#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <algorithm>

namespace ScreenImage {

struct Stats
{
    bool ok = false;
    double mean[3] = { 0, 0, 0 }; // red, green, blue
    double deviation[3] = { 0, 0, 0 }; // standard deviation of each
    QString error; // why ok is false
    double maxDeviation() const { return std::max({ deviation[0], deviation[1], deviation[2] }); }
};

struct ToolResult
{
    bool ok = false; // ran and ended normally
    int exitCode = -1;
    QString out;
    QString err;
};

inline ToolResult runTool(const QString &program, const QStringList &args, int timeoutMs = 30000)
{
    ToolResult r;
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(5000)) {
        r.err = p.errorString();
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = QStringLiteral("time-out");
        return r;
    }
    r.ok = p.exitStatus() == QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    r.err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    return r;
}

// "file.png[WxH+X+Y]": ImageMagick reads only that rectangle.
inline QString region(const QString &file, const QRect &rect)
{
    if (rect.isNull())
        return file;
    return QStringLiteral("%1[%2x%3+%4+%5]")
        .arg(file)
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

// A screenshot of the whole screen of `display` as a PNG file.
inline bool grab(const QString &display, const QString &file)
{
    const ToolResult r = runTool(QStringLiteral("/usr/bin/import"),
        // -display first: import opens the display as soon as it reads an option that needs it.
        { QStringLiteral("-display"), display, QStringLiteral("-silent"), QStringLiteral("-window"),
            QStringLiteral("root"), QStringLiteral("png:") + file });
    return r.ok && r.exitCode == 0;
}

// Mean and standard deviation of each colour in `rect` of `file` (all of it for a null rect).
inline Stats statistics(const QString &file, const QRect &rect = QRect())
{
    Stats s;
    const ToolResult r = runTool(QStringLiteral("/usr/bin/convert"),
        { region(file, rect), QStringLiteral("-format"),
            QStringLiteral("%[fx:mean.r] %[fx:mean.g] %[fx:mean.b] %[fx:standard_deviation.r] "
                           "%[fx:standard_deviation.g] %[fx:standard_deviation.b]"),
            QStringLiteral("info:") });
    s.error = r.err + QLatin1Char(' ') + r.out;
    if (!r.ok || r.exitCode != 0)
        return s;
    const QStringList values = r.out.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (values.size() != 6)
        return s;
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        double v = values.at(i).toDouble(&ok);
        // The deviation of one colour comes out as "-nan" (the root of a
        // rounding error just below zero).
        if (!ok && i >= 3 && values.at(i).endsWith(QLatin1String("nan"))) {
            v = 0;
            ok = true;
        }
        if (!ok)
            return s;
        (i < 3 ? s.mean[i] : s.deviation[i - 3]) = v;
    }
    s.error.clear();
    s.ok = true;
    return s;
}

// The share (0 to 1) of the pixels of `rect` that differ between two images by
// more than `fuzzPercent` of full scale; -1 when ImageMagick fails.
inline double differingShare(const QString &a, const QString &b, const QRect &rect, double fuzzPercent = 2)
{
    if (rect.isEmpty())
        return -1;
    // compare prints the count on standard error; exit status 0 same, 1 different, 2 error.
    const ToolResult r = runTool(QStringLiteral("/usr/bin/compare"),
        { QStringLiteral("-metric"), QStringLiteral("AE"), QStringLiteral("-fuzz"),
            QString::number(fuzzPercent) + QLatin1Char('%'), region(a, rect), region(b, rect),
            QStringLiteral("null:") });
    if (!r.ok || (r.exitCode != 0 && r.exitCode != 1))
        return -1;
    bool ok = false;
    const double count = r.err.section(QLatin1Char(' '), 0, 0).toDouble(&ok);
    if (!ok)
        return -1;
    return count / (double(rect.width()) * rect.height());
}

} // namespace ScreenImage
