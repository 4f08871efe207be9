#pragma once

#include "NativeWindow.h"

#include <QByteArray>

namespace NativeWindow {

// The desktop of an X server. The window in front is the root window's
// _NET_ACTIVE_WINDOW (set by the window manager), else the window with the
// input focus; titles come from _NET_WM_NAME (UTF-8), else WM_NAME. Each call
// opens its own short connection, so an X server that is missing or goes
// away only means that no window is found.
class X11Desktop : public Desktop
{
public:
    // `display` as in DISPLAY; empty: the DISPLAY of the environment.
    explicit X11Desktop(const QByteArray &display = QByteArray());

    WindowId foregroundWindow() override;
    QString windowTitle(WindowId window) override;

private:
    QByteArray m_display;
};

} // namespace NativeWindow
