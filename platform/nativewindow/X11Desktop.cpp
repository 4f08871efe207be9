#include "X11Desktop.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace NativeWindow {

namespace {

// Longest title read, in 32-bit units of the property (4 KiB of text).
constexpr uint32_t kTitleLongs = 1024;

struct Connection
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = XCB_NONE;

    explicit Connection(const QByteArray &display)
    {
        int screenNumber = 0;
        c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber);
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

    xcb_atom_t atom(const char *name, bool onlyIfExists)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, onlyIfExists ? 1 : 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }

    // The property's reply, or null when the window or the property is missing.
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> property(
        xcb_window_t window, xcb_atom_t name, xcb_atom_t type, uint32_t longs)
    {
        xcb_generic_error_t *error = nullptr;
        xcb_get_property_reply_t *reply
            = xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, longs), &error);
        std::free(error);
        return { reply, &std::free };
    }
};

} // namespace

X11Desktop::X11Desktop(const QByteArray &display)
    : m_display(display)
{ }

WindowId X11Desktop::foregroundWindow()
{
    Connection x(m_display);
    if (!x.ok())
        return 0;
    const xcb_atom_t active = x.atom("_NET_ACTIVE_WINDOW", true);
    if (active != XCB_ATOM_NONE) {
        auto reply = x.property(x.root, active, XCB_GET_PROPERTY_TYPE_ANY, 1);
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4) {
            uint32_t window = 0;
            std::memcpy(&window, xcb_get_property_value(reply.get()), sizeof window);
            if (window != XCB_NONE)
                return window;
        }
    }
    xcb_get_input_focus_reply_t *focus = xcb_get_input_focus_reply(x.c, xcb_get_input_focus(x.c), nullptr);
    if (!focus)
        return 0;
    const xcb_window_t window = focus->focus;
    std::free(focus);
    // None, PointerRoot and the root itself are no user window.
    if (window == XCB_NONE || window == XCB_INPUT_FOCUS_POINTER_ROOT || window == x.root)
        return 0;
    return window;
}

QString X11Desktop::windowTitle(WindowId window)
{
    if (window == 0 || window > 0xFFFFFFFFu)
        return QString();
    Connection x(m_display);
    if (!x.ok())
        return QString();
    const xcb_window_t w = xcb_window_t(window);
    const xcb_atom_t netName = x.atom("_NET_WM_NAME", true);
    const xcb_atom_t utf8 = x.atom("UTF8_STRING", true);
    if (netName != XCB_ATOM_NONE && utf8 != XCB_ATOM_NONE) {
        auto reply = x.property(w, netName, utf8, kTitleLongs);
        if (reply && reply->format == 8) {
            const int length = xcb_get_property_value_length(reply.get());
            if (length > 0)
                return QString::fromUtf8(
                    static_cast<const char *>(xcb_get_property_value(reply.get())), length);
        }
    }
    auto reply = x.property(w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, kTitleLongs);
    if (!reply || reply->format != 8)
        return QString();
    const int length = xcb_get_property_value_length(reply.get());
    const char *text = static_cast<const char *>(xcb_get_property_value(reply.get()));
    if (length <= 0)
        return QString();
    // WM_NAME is Latin-1 (STRING); some clients put UTF-8 there.
    if (utf8 != XCB_ATOM_NONE && reply->type == utf8)
        return QString::fromUtf8(text, length);
    return QString::fromLatin1(text, length);
}

} // namespace NativeWindow
