#include "LoginSupport.h"

#include "LightWeightLog.h"
#include "NativeWindow.h"

#include <QGuiApplication>
#include <QScreen>

quint64 GetBrowserWndID(int browseType, const QString &title)
{
    Q_UNUSED(browseType)
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    const NativeWindow::WindowId window = desktop->foregroundWindow();
    const QString name = window ? desktop->windowTitle(window).left(256) : QString();
    playerLog("GetBrowserWndID",
        QStringLiteral("Name=%1 Hwnd=%2 WindName=%3").arg(name).arg(window).arg(title),
        LightWeightLog::Normal);
    if (window && name.contains(title, Qt::CaseSensitive))
        return window;
    return 0;
}

int ScalePercentFromDpi(int dpi)
{
    return dpi * 100 / 96;
}

int GetScreenScalePercent()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 1;
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1;
    // X reports a 144 dpi screen as 143.9 or so: rounded, not cut.
    return ScalePercentFromDpi(qRound(screen->logicalDotsPerInchX()));
}

int LayoutIndexFromWndCount(int count)
{
    if (count <= 1)
        return 0;
    if (count <= 4)
        return 1;
    if (count <= 9)
        return 2;
    if (count <= 16)
        return 3;
    if (count <= 25)
        return 4;
    if (count <= 36)
        return 5;
    if (count <= 64)
        return 6;
    return 0;
}

quint64 ParseBrowserWndText(const QString &text)
{
    QString digits = text.trimmed();
    if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        digits = digits.mid(2);
    bool ok = false;
    const quint64 value = digits.toULongLong(&ok, 16);
    return ok ? value : 0;
}
