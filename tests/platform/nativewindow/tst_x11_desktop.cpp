// The window in front and window titles, read from a real X server.

#include "NativeWindow.h"
#include "X11Desktop.h"
#include "XvfbSession.h"

#include <QtTest>

using NativeWindow::X11Desktop;

class TestX11Desktop : public QObject
{
    Q_OBJECT

private:
    XvfbSession m_x;
    QByteArray display() const { return m_x.display().toLatin1(); }

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

    void noServer()
    {
        X11Desktop desktop(":59999");
        QCOMPARE(desktop.foregroundWindow(), NativeWindow::WindowId(0));
        QCOMPARE(desktop.windowTitle(0x200001), QString());
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
