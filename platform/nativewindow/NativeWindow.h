#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QtGlobal>

#include <memory>

// The desktop's native windows as the player needs them: the window in front,
// titles and classes, the window tree (first child, next sibling, parent),
// visibility and geometry, and putting one of the player's own windows into
// another program's window. One desktop is installed per process; it is the
// X11 one unless a test installs its own (MemoryDesktop).
namespace NativeWindow {

// A native window identifier; 0 means none.
using WindowId = quint64;

class Desktop
{
public:
    virtual ~Desktop() = default;

    // The window the user works in (the foreground window), or 0.
    virtual WindowId foregroundWindow() = 0;
    // The window's title, empty when it has none or does not exist.
    virtual QString windowTitle(WindowId window) = 0;
    // The window's class name, empty when it has none or does not exist.
    virtual QString className(WindowId window) = 0;

    // The window tree. Children are ordered front to back: the first child is
    // the one in front, the next sibling is the one right behind. 0 when
    // there is none.
    virtual WindowId firstChild(WindowId window) = 0;
    virtual WindowId nextSibling(WindowId window) = 0;
    // The window that contains `window`; 0 for a top-level window (one that
    // the user sees as a window of its own) and for a window that does not exist.
    virtual WindowId parent(WindowId window) = 0;

    virtual bool isWindow(WindowId window) = 0;
    // Shown, together with every window that contains it.
    virtual bool isVisible(WindowId window) = 0;
    // The window's rectangle in screen coordinates; null when it does not exist.
    virtual QRect windowRect(WindowId window) = 0;
    // The window's inside, at (0, 0); null when it does not exist.
    virtual QRect clientRect(WindowId window) = 0;
    // A point of the window's inside in screen coordinates; `ok` (when given)
    // tells whether the window exists.
    virtual QPoint mapToScreen(WindowId window, const QPoint &point, bool *ok = nullptr) = 0;

    // Puts `window`, one of this process's own windows, into `newParent`
    // (0: makes it a top-level window again). GUI thread. False when either
    // is no window or the window system refuses.
    virtual bool reparent(WindowId window, WindowId newParent) = 0;
    // Brings the window in front of its siblings.
    virtual bool raise(WindowId window) = 0;
};

// The installed desktop; never null. Safe to call from any thread.
std::shared_ptr<Desktop> desktop();
// Installs `desktop` in place of the default; null restores the default.
void setDesktop(std::shared_ptr<Desktop> desktop);

} // namespace NativeWindow
