#pragma once

#include "NativeWindow.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <mutex>

namespace NativeWindow {

// A desktop held in memory, for tests: a tree of windows with classes,
// titles, geometry and visibility that the test scripts, and a foreground
// window it chooses. Windows this process puts into others (reparent) join
// the tree when they first move. Safe to use from any thread.
class MemoryDesktop : public Desktop
{
public:
    // Adds a window behind its existing siblings, so that the first window
    // added to a parent is its first child. `geometry` is relative to the
    // parent's inside (to the screen for top-level windows). False when the
    // id is 0 or taken, or the parent (other than 0) does not exist.
    bool addWindow(WindowId id, WindowId parent, const QString &className, const QString &title,
        const QRect &geometry = QRect(0, 0, 100, 100), bool visible = true);
    // Removes the window with everything inside it.
    void removeWindow(WindowId id);
    void setTitle(WindowId id, const QString &title);
    void setClassName(WindowId id, const QString &className);
    void setGeometry(WindowId id, const QRect &geometry);
    void setVisible(WindowId id, bool visible);
    void setForeground(WindowId id);
    // When set, every reparent is refused.
    void setRefuseReparent(bool refuse);

    // The children of `parent` front to back; 0 lists the top-level windows.
    QList<WindowId> children(WindowId parent) const;
    // Every reparent and raise asked for, as (window, new parent) and window.
    QList<QPair<WindowId, WindowId>> reparents() const;
    QList<WindowId> raises() const;
    int foregroundQueries() const;

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

private:
    struct Node
    {
        WindowId parent = 0;
        QString className;
        QString title;
        QRect geometry;
        bool visible = true;
        QList<WindowId> children; // front to back
    };

    QList<WindowId> &siblingsOf(WindowId parent);
    bool contains(WindowId outer, WindowId inner) const;
    void removeLocked(WindowId id);
    QPoint originLocked(WindowId id) const;

    mutable std::mutex m_mutex;
    QHash<WindowId, Node> m_nodes;
    QList<WindowId> m_topLevels; // front to back
    WindowId m_foreground = 0;
    bool m_refuseReparent = false;
    QList<QPair<WindowId, WindowId>> m_reparents;
    QList<WindowId> m_raises;
    int m_foregroundQueries = 0;
};

} // namespace NativeWindow
