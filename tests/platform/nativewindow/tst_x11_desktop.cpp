// The window in front, titles, classes, the window tree, visibility and
// geometry, read from a real X server; the in-memory desktop of the tests
// answers the same for the same tree.

#include "MemoryDesktop.h"
#include "NativeWindow.h"
#include "X11Desktop.h"
#include "XvfbSession.h"

#include <QtTest>

using NativeWindow::MemoryDesktop;
using NativeWindow::WindowId;
using NativeWindow::X11Desktop;

class TestX11Desktop : public QObject
{
    Q_OBJECT

private:
    XvfbSession m_x;
    QByteArray display() const { return m_x.display().toLatin1(); }

    // A window inside `parent` (mapped when asked), created in front of its siblings.
    xcb_window_t child(xcb_window_t parent, const QRect &geometry, bool mapped = true)
    {
        xcb_connection_t *c = m_x.connection();
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent, int16_t(geometry.x()), int16_t(geometry.y()),
            uint16_t(geometry.width()), uint16_t(geometry.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
            XCB_COPY_FROM_PARENT, 0, nullptr);
        if (mapped)
            xcb_map_window(c, w);
        m_x.sync();
        return w;
    }
    void setProperty(xcb_window_t w, xcb_atom_t name, xcb_atom_t type, int format, const QByteArray &value)
    {
        xcb_change_property(m_x.connection(), XCB_PROP_MODE_REPLACE, w, name, type, uint8_t(format),
            uint32_t(value.size() * 8 / format), value.constData());
        m_x.sync();
    }

private slots:
    void initTestCase() { QVERIFY(m_x.start()); }

    void nothingInFrontAtFirst()
    {
        X11Desktop desktop(display());
        // No window manager, focus on the pointer root: no window in front.
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(0));
    }

    void titles_data()
    {
        QTest::addColumn<QByteArray>("netName");
        QTest::addColumn<QByteArray>("wmName");
        QTest::addColumn<QString>("title");
        QTest::newRow("UTF-8 name first")
            << QByteArray("Cam\xc3\xa9ras \xe2\x80\x93 Web Viewer") << QByteArray("Cameras")
            << QStringLiteral("Cam\u00e9ras \u2013 Web Viewer");
        QTest::newRow("only the old name, Latin-1")
            << QByteArray() << QByteArray("Caf\xe9 Web Viewer") << QStringLiteral("Caf\u00e9 Web Viewer");
        QTest::newRow("no name") << QByteArray() << QByteArray() << QString();
        QTest::newRow("long title kept")
            << QByteArray(1000, 'a') << QByteArray() << QString(1000, QLatin1Char('a'));
    }
    void titles()
    {
        QFETCH(QByteArray, netName);
        QFETCH(QByteArray, wmName);
        QFETCH(QString, title);
        const xcb_window_t w = m_x.window(netName, wmName);
        X11Desktop desktop(display());
        QCOMPARE(desktop.windowTitle(w), title);
        m_x.destroy(w);
        QCOMPARE(desktop.windowTitle(w), QString());
    }

    // The window manager's active window wins over the input focus.
    void foreground()
    {
        const xcb_window_t a = m_x.window("Focused", QByteArray());
        const xcb_window_t b = m_x.window("Active", QByteArray());
        X11Desktop desktop(display());
        m_x.focus(a);
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(a));
        m_x.setActive(b);
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(b));
        QCOMPARE(desktop.windowTitle(desktop.foregroundWindow()), QStringLiteral("Active"));
        // A manager that says "none" leaves the focus to decide.
        m_x.setActive(XCB_NONE);
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(a));
        // Focus on the root is no window.
        m_x.focus(m_x.root());
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(0));
        m_x.destroy(a);
        m_x.destroy(b);
    }

    void classNames_data()
    {
        QTest::addColumn<QByteArray>("wmClass");
        QTest::addColumn<QString>("className");
        QTest::newRow("instance and class") << QByteArray("chromium\0Chromium\0", 18) << "Chromium";
        QTest::newRow("class without final NUL")
            << QByteArray("google-chrome\0Google-chrome", 27) << "Google-chrome";
        QTest::newRow("instance only") << QByteArray("xmessage\0", 9) << "xmessage";
        QTest::newRow("none") << QByteArray() << "";
    }
    void classNames()
    {
        QFETCH(QByteArray, wmClass);
        QFETCH(QString, className);
        const xcb_window_t w = m_x.window("Browser", QByteArray());
        if (!wmClass.isEmpty())
            setProperty(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass);
        X11Desktop desktop(display());
        QCOMPARE(desktop.className(w), className);
        m_x.destroy(w);
        QCOMPARE(desktop.className(w), QString());
    }

    // The same tree on the server and in memory gives the same answers:
    // children front to back, parents up to the top-level window, visibility
    // through the ancestors, screen geometry.
    void sameAnswersAsMemory()
    {
        X11Desktop x(display());
        MemoryDesktop memory;
        const xcb_window_t top = m_x.window("Top", QByteArray());
        xcb_connection_t *c = m_x.connection();
        const uint32_t geometry[] = { 40, 30, 400, 300 };
        xcb_configure_window(c, top,
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
            geometry);
        m_x.sync();
        // X puts a new window in front of its siblings; the memory desktop
        // behind them: the same order needs the opposite order of making.
        const xcb_window_t back = child(top, QRect(0, 0, 400, 40));
        const xcb_window_t front = child(top, QRect(8, 50, 380, 240));
        const xcb_window_t hidden = child(front, QRect(5, 5, 100, 100), false);
        const xcb_window_t inner = child(hidden, QRect(1, 2, 10, 10));
        QVERIFY(memory.addWindow(top, 0, QString(), QString(), QRect(40, 30, 400, 300)));
        QVERIFY(memory.addWindow(front, top, QString(), QString(), QRect(8, 50, 380, 240)));
        QVERIFY(memory.addWindow(back, top, QString(), QString(), QRect(0, 0, 400, 40)));
        QVERIFY(memory.addWindow(hidden, front, QString(), QString(), QRect(5, 5, 100, 100), false));
        QVERIFY(memory.addWindow(inner, hidden, QString(), QString(), QRect(1, 2, 10, 10)));

        NativeWindow::Desktop *desktops[] = { &x, &memory };
        for (NativeWindow::Desktop *d : desktops) {
            const char *which = d == &x ? "X11" : "memory";
            QVERIFY2(d->firstChild(top) == front, which);
            QVERIFY2(d->nextSibling(front) == back, which);
            QVERIFY2(d->nextSibling(back) == 0, which);
            QVERIFY2(d->firstChild(back) == 0, which);
            QVERIFY2(d->parent(inner) == hidden, which);
            QVERIFY2(d->parent(front) == top, which);
            QVERIFY2(d->parent(top) == 0, which);
            QVERIFY2(d->isVisible(front), which);
            QVERIFY2(!d->isVisible(hidden), which);
            QVERIFY2(!d->isVisible(inner), which);
            QVERIFY2(d->isWindow(inner), which);
            QVERIFY2(d->windowRect(front) == QRect(48, 80, 380, 240), which);
            QVERIFY2(d->clientRect(front) == QRect(0, 0, 380, 240), which);
            bool ok = false;
            QVERIFY2(d->mapToScreen(inner, QPoint(3, 4), &ok) == QPoint(57, 91) && ok, which);
        }
        // Raising brings a window in front of its siblings.
        QVERIFY(x.raise(back));
        QVERIFY(memory.raise(back));
        QCOMPARE(x.firstChild(top), WindowId(back));
        QCOMPARE(memory.firstChild(top), WindowId(back));
        QCOMPARE(x.nextSibling(back), WindowId(front));

        m_x.destroy(top);
        memory.removeWindow(top);
        for (NativeWindow::Desktop *d : desktops) {
            const char *which = d == &x ? "X11" : "memory";
            QVERIFY2(!d->isWindow(inner), which);
            QVERIFY2(d->parent(inner) == 0, which);
            QVERIFY2(d->windowRect(front).isNull(), which);
            bool ok = true;
            d->mapToScreen(front, QPoint(), &ok);
            QVERIFY2(!ok, which);
        }
        QVERIFY(!x.raise(front));
    }

    // A window that a window manager took over is a top-level window, even
    // inside the manager's frame.
    void managedWindowIsTopLevel()
    {
        X11Desktop desktop(display());
        const xcb_window_t frame = m_x.window("frame", QByteArray());
        const xcb_window_t client = child(frame, QRect(0, 20, 100, 80));
        QCOMPARE(desktop.parent(client), WindowId(frame));
        const uint32_t normal[] = { 1, 0 };
        setProperty(client, m_x.atom("WM_STATE"), m_x.atom("WM_STATE"), 32,
            QByteArray(reinterpret_cast<const char *>(normal), sizeof normal));
        QCOMPARE(desktop.parent(client), WindowId(0));
        // Withdrawn: no longer the manager's.
        const uint32_t withdrawn[] = { 0, 0 };
        setProperty(client, m_x.atom("WM_STATE"), m_x.atom("WM_STATE"), 32,
            QByteArray(reinterpret_cast<const char *>(withdrawn), sizeof withdrawn));
        QCOMPARE(desktop.parent(client), WindowId(frame));
        m_x.destroy(frame);
    }

    // Only this process's own Qt windows on the xcb platform are re-parented.
    void reparentNeedsOwnQtWindow()
    {
        X11Desktop desktop(display());
        const xcb_window_t a = m_x.window("a", QByteArray());
        const xcb_window_t b = m_x.window("b", QByteArray());
        QVERIFY(!desktop.reparent(a, b));
        QCOMPARE(desktop.parent(a), WindowId(0));
        m_x.destroy(a);
        m_x.destroy(b);
    }

    void noServer()
    {
        X11Desktop desktop(":59999");
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(0));
        QCOMPARE(desktop.windowTitle(0x200001), QString());
        QCOMPARE(desktop.className(0x200001), QString());
        QCOMPARE(desktop.firstChild(0x200001), WindowId(0));
        QCOMPARE(desktop.parent(0x200001), WindowId(0));
        QVERIFY(!desktop.isWindow(0x200001));
        QVERIFY(!desktop.isVisible(0x200001));
        QVERIFY(desktop.windowRect(0x200001).isNull());
        // Ids wider than X11's never reach the server.
        X11Desktop real(display());
        QCOMPARE(real.windowTitle(0x100000000ull), QString());
    }

    // The default desktop is the X server of DISPLAY; a test can install its own.
    void installedDesktop()
    {
        const QByteArray saved = qgetenv("DISPLAY");
        qputenv("DISPLAY", display());
        const xcb_window_t w = m_x.window("From DISPLAY", QByteArray());
        m_x.focus(w);
        NativeWindow::setDesktop(nullptr);
        const auto desktop = NativeWindow::desktop();
        QCOMPARE(desktop->foregroundWindow(), NativeWindow::WindowId(w));
        QCOMPARE(NativeWindow::desktop(), desktop);
        qunsetenv("DISPLAY");
        QCOMPARE(desktop->foregroundWindow(), NativeWindow::WindowId(0));
        if (!saved.isEmpty())
            qputenv("DISPLAY", saved);
        m_x.destroy(w);
    }
};

QTEST_GUILESS_MAIN(TestX11Desktop)
#include "tst_x11_desktop.moc"
