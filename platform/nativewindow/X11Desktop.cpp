#include "X11Desktop.h"

#include <QGuiApplication>
#include <QThread>
#include <QWindow>
#include <QX11Info>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace NativeWindow {

namespace {

// Longest title read, in 32-bit units of the property (4 KiB of text).
constexpr uint32_t kTitleLongs = 1024;
// WM_CLASS is two short texts.
constexpr uint32_t kClassLongs = 256;

template<class T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

template<class T> Reply<T> reply(T *r)
{
    return Reply<T>(r, &std::free);
}

bool isX11Id(WindowId window)
{
    return window != 0 && window <= 0xFFFFFFFFu;
}

} // namespace

struct X11Desktop::Connection
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = XCB_NONE;
    QByteArray display;
    QHash<QByteArray, xcb_atom_t> atoms;

    explicit Connection(const QByteArray &name)
        : display(name)
    {
        int screenNumber = 0;
        c = xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber);
        if (!c || xcb_connection_has_error(c))
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; it.rem > 0 && i < screenNumber; ++i)
            xcb_screen_next(&it);
        if (it.rem > 0)
            root = it.data->root;
    }
    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool ok() const { return c && !xcb_connection_has_error(c) && root != XCB_NONE; }

    // An atom that exists on the server, else XCB_ATOM_NONE (looked up once).
    xcb_atom_t atom(const char *name)
    {
        const QByteArray key(name);
        const auto found = atoms.constFind(key);
        if (found != atoms.constEnd())
            return *found;
        auto r = reply(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr));
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        // A missing atom may be made later (by the first program that uses it).
        if (a != XCB_ATOM_NONE)
            atoms.insert(key, a);
        return a;
    }

    // The property's reply, or null when the window or the property is missing.
    Reply<xcb_get_property_reply_t> property(
        xcb_window_t window, xcb_atom_t name, xcb_atom_t type, uint32_t longs)
    {
        xcb_generic_error_t *error = nullptr;
        auto r
            = reply(xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, longs), &error));
        std::free(error);
        return r;
    }

    // The window's parent (XCB_NONE for the root) and children, back to front.
    bool tree(xcb_window_t window, xcb_window_t *parent, std::vector<xcb_window_t> *children)
    {
        xcb_generic_error_t *error = nullptr;
        auto r = reply(xcb_query_tree_reply(c, xcb_query_tree(c, window), &error));
        std::free(error);
        if (!r)
            return false;
        if (parent)
            *parent = r->parent;
        if (children) {
            const xcb_window_t *list = xcb_query_tree_children(r.get());
            children->assign(list, list + xcb_query_tree_children_length(r.get()));
        }
        return true;
    }

    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_window_t window)
    {
        xcb_generic_error_t *error = nullptr;
        auto r = reply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), &error));
        std::free(error);
        return r;
    }

    Reply<xcb_get_geometry_reply_t> geometry(xcb_window_t window)
    {
        xcb_generic_error_t *error = nullptr;
        auto r = reply(xcb_get_geometry_reply(c, xcb_get_geometry(c, window), &error));
        std::free(error);
        return r;
    }

    bool toRoot(xcb_window_t window, const QPoint &point, QPoint *out)
    {
        xcb_generic_error_t *error = nullptr;
        auto r = reply(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, window, root, int16_t(point.x()), int16_t(point.y())), &error));
        std::free(error);
        if (!r)
            return false;
        *out = QPoint(r->dst_x, r->dst_y);
        return true;
    }

    // A window that a window manager has taken over carries WM_STATE in a
    // state other than withdrawn (0).
    bool managed(xcb_window_t window)
    {
        const xcb_atom_t wmState = atom("WM_STATE");
        if (wmState == XCB_ATOM_NONE)
            return false;
        auto r = property(window, wmState, XCB_GET_PROPERTY_TYPE_ANY, 2);
        if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 4)
            return false;
        uint32_t state = 0;
        std::memcpy(&state, xcb_get_property_value(r.get()), sizeof state);
        return state != 0;
    }
};

X11Desktop::X11Desktop(const QByteArray &display)
    : m_display(display)
{ }

X11Desktop::~X11Desktop()
{
    // Wrappers can be deleted only while the application lives, on its thread.
    if (QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        releaseUnusedHosts(0);
}

template<typename R, typename F> R X11Desktop::onWindow(WindowId window, R none, F &&f)
{
    if (!isX11Id(window))
        return none;
    std::lock_guard<std::mutex> lock(m_mutex);
    Connection *x = connection();
    return x ? f(x) : none;
}

X11Desktop::Connection *X11Desktop::connection()
{
    const QByteArray display = m_display.isEmpty() ? qgetenv("DISPLAY") : m_display;
    if (display.isEmpty()) {
        m_connection.reset();
        return nullptr;
    }
    if (!m_connection || m_connection->display != display || !m_connection->ok())
        m_connection = std::make_unique<Connection>(display);
    return m_connection->ok() ? m_connection.get() : nullptr;
}

WindowId X11Desktop::foregroundWindow()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Connection *x = connection();
    if (!x)
        return 0;
    const xcb_atom_t active = x->atom("_NET_ACTIVE_WINDOW");
    if (active != XCB_ATOM_NONE) {
        auto r = x->property(x->root, active, XCB_GET_PROPERTY_TYPE_ANY, 1);
        if (r && r->format == 32 && xcb_get_property_value_length(r.get()) >= 4) {
            uint32_t window = 0;
            std::memcpy(&window, xcb_get_property_value(r.get()), sizeof window);
            if (window != XCB_NONE)
                return window;
        }
    }
    auto focus = reply(xcb_get_input_focus_reply(x->c, xcb_get_input_focus(x->c), nullptr));
    if (!focus)
        return 0;
    const xcb_window_t window = focus->focus;
    // None, PointerRoot and the root itself are no user window.
    if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == x->root)
        return 0;
    return window;
}

QString X11Desktop::windowTitle(WindowId window)
{
    return onWindow(window, QString(), [&](Connection *x) -> QString {
        const xcb_window_t w = xcb_window_t(window);
        const xcb_atom_t netName = x->atom("_NET_WM_NAME");
        const xcb_atom_t utf8 = x->atom("UTF8_STRING");
        if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE) {
            auto r = x->property(w, netName, utf8, kTitleLongs);
            if (r && r->format == 8) {
                const int length = xcb_get_property_value_length(r.get());
                if (length > 0)
                    return QString::fromUtf8(
                        static_cast<const char *>(xcb_get_property_value(r.get())), length);
            }
        }
        auto r = x->property(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTitleLongs);
        if (!r || r->format != 8)
            return QString();
        const int length = xcb_get_property_value_length(r.get());
        const char *text = static_cast<const char *>(xcb_get_property_value(r.get()));
        if (length <= 0)
            return QString();
        // WM_NAME is Latin-1 (STRING); some clients put UTF-8 there.
        if (utf8 != XCB_ATOM_NONE && r->type == utf8)
            return QString::fromUtf8(text, length);
        return QString::fromLatin1(text, length);
    });
}

QString X11Desktop::className(WindowId window)
{
    return onWindow(window, QString(), [&](Connection *x) -> QString {
        auto r = x->property(xcb_window_t(window), XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kClassLongs);
        if (!r || r->format != 8)
            return QString();
        // "instance\0class\0"
        const QByteArray value(static_cast<const char *>(xcb_get_property_value(r.get())),
            xcb_get_property_value_length(r.get()));
        const QList<QByteArray> parts = value.split('\0');
        const QByteArray instance = parts.value(0);
        const QByteArray cls = parts.value(1);
        return QString::fromLatin1(cls.isEmpty() ? instance : cls);
    });
}

WindowId X11Desktop::firstChild(WindowId window)
{
    return onWindow(window, WindowId(0), [&](Connection *x) -> WindowId {
        std::vector<xcb_window_t> children;
        if (!x->tree(xcb_window_t(window), nullptr, &children) || children.empty())
            return 0;
        return children.back();
    });
}

WindowId X11Desktop::nextSibling(WindowId window)
{
    return onWindow(window, WindowId(0), [&](Connection *x) -> WindowId {
        xcb_window_t parent = XCB_NONE;
        std::vector<xcb_window_t> siblings;
        if (!x->tree(xcb_window_t(window), &parent, nullptr) || parent == XCB_NONE
            || !x->tree(parent, nullptr, &siblings))
            return 0;
        for (size_t i = 1; i < siblings.size(); ++i) {
            if (siblings[i] == xcb_window_t(window))
                return siblings[i - 1];
        }
        return 0;
    });
}

WindowId X11Desktop::parent(WindowId window)
{
    return onWindow(window, WindowId(0), [&](Connection *x) -> WindowId {
        xcb_window_t parent = XCB_NONE;
        if (!x->tree(xcb_window_t(window), &parent, nullptr))
            return 0;
        if (parent == XCB_NONE || parent == x->root || x->managed(xcb_window_t(window)))
            return 0;
        return parent;
    });
}

bool X11Desktop::isWindow(WindowId window)
{
    return onWindow(
        window, false, [&](Connection *x) -> bool { return x->attributes(xcb_window_t(window)) != nullptr; });
}

bool X11Desktop::isVisible(WindowId window)
{
    return onWindow(window, false, [&](Connection *x) -> bool {
        auto r = x->attributes(xcb_window_t(window));
        return r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    });
}

QRect X11Desktop::windowRect(WindowId window)
{
    return onWindow(window, QRect(), [&](Connection *x) -> QRect {
        auto g = x->geometry(xcb_window_t(window));
        QPoint origin;
        if (!g || !x->toRoot(xcb_window_t(window), QPoint(0, 0), &origin))
            return QRect();
        return QRect(origin, QSize(g->width, g->height));
    });
}

QRect X11Desktop::clientRect(WindowId window)
{
    return onWindow(window, QRect(), [&](Connection *x) -> QRect {
        auto g = x->geometry(xcb_window_t(window));
        return g ? QRect(0, 0, g->width, g->height) : QRect();
    });
}

QPoint X11Desktop::mapToScreen(WindowId window, const QPoint &point, bool *ok)
{
    if (ok)
        *ok = false;
    return onWindow(window, QPoint(), [&](Connection *x) -> QPoint {
        QPoint out;
        if (!x->toRoot(xcb_window_t(window), point, &out))
            return QPoint();
        if (ok)
            *ok = true;
        return out;
    });
}

bool X11Desktop::raise(WindowId window)
{
    return onWindow(window, false, [&](Connection *x) -> bool {
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_generic_error_t *error = xcb_request_check(x->c,
            xcb_configure_window_checked(x->c, xcb_window_t(window), XCB_CONFIG_WINDOW_STACK_MODE, &above));
        const bool done = !error;
        std::free(error);
        return done;
    });
}

bool X11Desktop::reparent(WindowId window, WindowId newParent)
{
    auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread() || !QX11Info::isPlatformX11())
        return false;
    QWindow *own = nullptr;
    for (QWindow *w : QGuiApplication::allWindows()) {
        if (w->handle() && w->winId() == WId(window)) {
            own = w;
            break;
        }
    }
    if (!own || (newParent != 0 && !isWindow(newParent)))
        return false;

    if (newParent == 0) {
        own->setParent(nullptr);
    } else {
        QPointer<QWindow> &host = m_hosts[newParent];
        if (!host)
            host = QWindow::fromWinId(WId(newParent));
        if (!host) {
            m_hosts.remove(newParent);
            return false;
        }
        own->setParent(host);
    }
    // Qt talks to the server over its own connection: let the server handle
    // the change before anyone asks about the tree again.
    if (xcb_connection_t *qt = QX11Info::connection()) {
        xcb_flush(qt);
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }
    releaseUnusedHosts(newParent);
    return true;
}

void X11Desktop::releaseUnusedHosts(WindowId keep)
{
    for (auto it = m_hosts.begin(); it != m_hosts.end();) {
        QWindow *host = it.value();
        if (!host) {
            it = m_hosts.erase(it);
        } else if (it.key() != keep
            && host->findChildren<QWindow *>(QString(), Qt::FindDirectChildrenOnly).isEmpty()) {
            delete host;
            it = m_hosts.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace NativeWindow
