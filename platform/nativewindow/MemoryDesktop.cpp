#include "MemoryDesktop.h"

#include <mutex>

namespace NativeWindow {

bool MemoryDesktop::addWindow(WindowId id, WindowId parent, const QString &className, const QString &title,
    const QRect &geometry, bool visible)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (id == 0 || m_nodes.contains(id) || (parent != 0 && !m_nodes.contains(parent)))
        return false;
    Node node;
    node.parent = parent;
    node.className = className;
    node.title = title;
    node.geometry = geometry;
    node.visible = visible;
    m_nodes.insert(id, node);
    siblingsOf(parent).append(id);
    return true;
}

void MemoryDesktop::removeWindow(WindowId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_nodes.contains(id))
        return;
    siblingsOf(m_nodes.value(id).parent).removeAll(id);
    removeLocked(id);
}

void MemoryDesktop::removeLocked(WindowId id)
{
    const Node node = m_nodes.take(id);
    for (WindowId child : node.children)
        removeLocked(child);
    if (m_foreground == id)
        m_foreground = 0;
}

void MemoryDesktop::setTitle(WindowId id, const QString &title)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nodes.contains(id))
        m_nodes[id].title = title;
}

void MemoryDesktop::setClassName(WindowId id, const QString &className)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nodes.contains(id))
        m_nodes[id].className = className;
}

void MemoryDesktop::setGeometry(WindowId id, const QRect &geometry)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nodes.contains(id))
        m_nodes[id].geometry = geometry;
}

void MemoryDesktop::setVisible(WindowId id, bool visible)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nodes.contains(id))
        m_nodes[id].visible = visible;
}

void MemoryDesktop::setForeground(WindowId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_foreground = id;
}

void MemoryDesktop::setRefuseReparent(bool refuse)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuseReparent = refuse;
}

QList<WindowId> MemoryDesktop::children(WindowId parent) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (parent == 0)
        return m_topLevels;
    return m_nodes.value(parent).children;
}

QList<QPair<WindowId, WindowId>> MemoryDesktop::reparents() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reparents;
}

QList<WindowId> MemoryDesktop::raises() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_raises;
}

int MemoryDesktop::foregroundQueries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_foregroundQueries;
}

QList<WindowId> &MemoryDesktop::siblingsOf(WindowId parent)
{
    return parent == 0 ? m_topLevels : m_nodes[parent].children;
}

bool MemoryDesktop::contains(WindowId outer, WindowId inner) const
{
    for (WindowId w = inner; w != 0; w = m_nodes.value(w).parent) {
        if (w == outer)
            return true;
    }
    return false;
}

QPoint MemoryDesktop::originLocked(WindowId id) const
{
    QPoint origin;
    for (WindowId w = id; w != 0 && m_nodes.contains(w); w = m_nodes.value(w).parent)
        origin += m_nodes.value(w).geometry.topLeft();
    return origin;
}

WindowId MemoryDesktop::foregroundWindow()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_foregroundQueries;
    return m_nodes.contains(m_foreground) ? m_foreground : 0;
}

QString MemoryDesktop::windowTitle(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nodes.value(window).title;
}

QString MemoryDesktop::className(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nodes.value(window).className;
}

WindowId MemoryDesktop::firstChild(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_nodes.contains(window))
        return 0;
    const QList<WindowId> &children = m_nodes[window].children;
    return children.isEmpty() ? 0 : children.first();
}

WindowId MemoryDesktop::nextSibling(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_nodes.contains(window))
        return 0;
    const QList<WindowId> &siblings = siblingsOf(m_nodes.value(window).parent);
    const int at = siblings.indexOf(window);
    return at >= 0 && at + 1 < siblings.size() ? siblings.at(at + 1) : 0;
}

WindowId MemoryDesktop::parent(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nodes.value(window).parent;
}

bool MemoryDesktop::isWindow(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return window != 0 && m_nodes.contains(window);
}

bool MemoryDesktop::isVisible(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_nodes.contains(window))
        return false;
    for (WindowId w = window; w != 0; w = m_nodes.value(w).parent) {
        if (!m_nodes.value(w).visible)
            return false;
    }
    return true;
}

QRect MemoryDesktop::windowRect(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_nodes.contains(window))
        return QRect();
    return QRect(originLocked(window), m_nodes.value(window).geometry.size());
}

QRect MemoryDesktop::clientRect(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_nodes.contains(window))
        return QRect();
    return QRect(QPoint(0, 0), m_nodes.value(window).geometry.size());
}

QPoint MemoryDesktop::mapToScreen(WindowId window, const QPoint &point, bool *ok)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool exists = m_nodes.contains(window);
    if (ok)
        *ok = exists;
    return exists ? originLocked(window) + point : QPoint();
}

bool MemoryDesktop::reparent(WindowId window, WindowId newParent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reparents.append({ window, newParent });
    if (m_refuseReparent || window == 0 || (newParent != 0 && !m_nodes.contains(newParent)))
        return false;
    if (!m_nodes.contains(window)) {
        // One of this process's windows, seen here for the first time.
        m_nodes.insert(window, Node());
        m_topLevels.append(window);
    }
    if (contains(window, newParent))
        return false;
    siblingsOf(m_nodes.value(window).parent).removeAll(window);
    m_nodes[window].parent = newParent;
    // A window put into another comes in front of its new siblings.
    siblingsOf(newParent).prepend(window);
    return true;
}

bool MemoryDesktop::raise(WindowId window)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_raises.append(window);
    if (!m_nodes.contains(window))
        return false;
    QList<WindowId> &siblings = siblingsOf(m_nodes.value(window).parent);
    siblings.removeAll(window);
    siblings.prepend(window);
    return true;
}

} // namespace NativeWindow
