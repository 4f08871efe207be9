#pragma once

#include "NativeWindow.h"

#include <QByteArray>
#include <QHash>
#include <QPointer>

#include <memory>
#include <mutex>

class QWindow;

namespace NativeWindow {

// The desktop of an X server.
// - The window in front is the root window's _NET_ACTIVE_WINDOW (set by the
//   window manager), else the window with the input focus.
// - Titles come from _NET_WM_NAME (UTF-8), else WM_NAME; the class name is
//   the class part of WM_CLASS (its instance part when the class is empty).
// - The tree comes from QueryTree; X lists children back to front, this
//   interface front to back. A top-level window is a child of the root or a
//   window that a window manager has taken over (it carries WM_STATE): its
//   parent reads as 0, so a manager's frame never counts as part of a program.
// - Visible means mapped with every ancestor (map state "viewable").
// - Re-parenting works on this process's own Qt windows on the xcb platform:
//   the other program's window is wrapped with QWindow::fromWinId and becomes
//   the Qt window's parent.
// The queries use one connection of their own, made on first use and made
// again when the server or DISPLAY changes, so an X server that is missing
// or goes away only means that no window is found.
class X11Desktop : public Desktop
{
public:
    // `display` as in DISPLAY; empty: the DISPLAY of the environment at each call.
    explicit X11Desktop(const QByteArray &display = QByteArray());
    ~X11Desktop() override;

    WindowId foregroundWindow() override;
    QString windowTitle(WindowId window) override;
    QString className(WindowId window) override;
    WindowId firstChild(WindowId window) override;
    WindowId nextSibling(WindowId window) override;
    WindowId parent(WindowId window) override;
    bool isWindow(WindowId window) override;
    bool isVisible(WindowId window) override;
    QRect windowRect(WindowId window) override;
    QRect clientRect(WindowId window) override;
    QPoint mapToScreen(WindowId window, const QPoint &point, bool *ok = nullptr) override;
    bool reparent(WindowId window, WindowId newParent) override;
    bool raise(WindowId window) override;

    struct Connection;

private:
    // `f(connection)` under the lock for an X window id while the display is
    // open; `none` otherwise.
    template<typename R, typename F> R onWindow(WindowId window, R none, F &&f);
    // The open connection, or null (the caller holds m_mutex).
    Connection *connection();
    // Drops wrappers of other programs' windows that no longer hold one of ours.
    void releaseUnusedHosts(WindowId keep);

    QByteArray m_display;
    std::mutex m_mutex;
    std::unique_ptr<Connection> m_connection;
    // GUI thread only: wrappers of the windows ours were put into.
    QHash<WindowId, QPointer<QWindow>> m_hosts;
};

} // namespace NativeWindow
