#pragma once

// A private X server (Xvfb on a free display) and windows with titles on it,
// made through xcb, for tests that need a real desktop.

#include "XvfbServer.h"

#include <QByteArray>
#include <QString>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

class XvfbSession
{
public:
    XvfbSession() = default;
    XvfbSession(const XvfbSession &) = delete;
    XvfbSession &operator=(const XvfbSession &) = delete;
    ~XvfbSession()
    {
        if (m_c)
            xcb_disconnect(m_c);
    }

    // Starts the server; false when Xvfb is missing or does not come up.
    bool start()
    {
        if (!m_server.start(20000))
            return false;
        m_display = m_server.display();
        int screen = 0;
        m_c = xcb_connect(m_display.toLatin1().constData(), &screen);
        if (!m_c || xcb_connection_has_error(m_c))
            return false;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        return true;
    }

    QString display() const { return m_display; }
    qint64 serverProcessId() const { return m_server.processId(); }
    xcb_connection_t *connection() const { return m_c; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *r
            = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    }

    // A mapped top-level window; an empty text leaves that property out.
    xcb_window_t window(const QByteArray &netWmNameUtf8, const QByteArray &wmName)
    {
        const xcb_window_t w = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, w, m_root, 10, 10, 200, 100, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (!netWmNameUtf8.isEmpty())
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8,
                uint32_t(netWmNameUtf8.size()), netWmNameUtf8.constData());
        if (!wmName.isEmpty())
            xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                uint32_t(wmName.size()), wmName.constData());
        xcb_map_window(m_c, w);
        sync();
        return w;
    }

    // Marks `w` as a Chromium browser's window (its WM_CLASS).
    void setChromiumClass(xcb_window_t w)
    {
        const QByteArray wmClass("chromium\0Chromium\0", 18);
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
            uint32_t(wmClass.size()), wmClass.constData());
        sync();
    }

    void focus(xcb_window_t w)
    {
        xcb_set_input_focus(m_c, XCB_INPUT_FOCUS_POINTER_ROOT, w, XCB_CURRENT_TIME);
        sync();
    }

    // What a window manager announces as the active window; 0 for none.
    void setActive(xcb_window_t w)
    {
        xcb_change_property(
            m_c, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 32, 1, &w);
        sync();
    }

    void destroy(xcb_window_t w)
    {
        xcb_destroy_window(m_c, w);
        sync();
    }

    // Waits until the server has handled every request made so far.
    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

private:
    XvfbServer m_server { QSize(800, 600) };
    QString m_display;
    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = XCB_NONE;
};
