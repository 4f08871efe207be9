// The embedded player window against a scripted desktop: the render-window
// search, embedding, the page origin, the show and move gates, the follow
// timer (tab switches, the page moving to another browser window, re-finding
// the browser by title), full screen and Escape, the singleton and the data
// input of other threads while the window is released.

#include "LightWeightLog.h"
#include "MemoryDesktop.h"
#include "PlayWidget.h"
#include "RealPlayWidget.h"
#include "TestMedia.h"
#include "lumarel/LumarelControl.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using NativeWindow::MemoryDesktop;
using NativeWindow::WindowId;

namespace {

// Ids far above the ones the offscreen platform gives Qt's own windows.
constexpr WindowId kBrowser = 0x10001000;
constexpr WindowId kFrame = 0x10001100;
constexpr WindowId kRender = 0x10001110;
constexpr WindowId kOtherBrowser = 0x10002000;
constexpr WindowId kOtherFrame = 0x10002100;
constexpr WindowId kFront = 0x10003000;
constexpr WindowId kFrontRender = 0x10003110;

const QString kTitle = QStringLiteral("Web Viewer");
const QString kBrowserTitle = QStringLiteral("Cameras - Web Viewer - Chromium");

int Count(const QSignalSpy &log, const QString &needle)
{
    int n = 0;
    for (const QList<QVariant> &args : log)
        n += args.at(0).toString().contains(needle) ? 1 : 0;
    return n;
}

struct TreeWindow
{
    WindowId id;
    WindowId parent;
    const char *className;
};

} // namespace

Q_DECLARE_METATYPE(QList<TreeWindow>)

class TestPlayWidgetEmbed : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::shared_ptr<MemoryDesktop> m_desktop;
    PlayWidget *m_w = nullptr;
    std::unique_ptr<QSignalSpy> m_log;

    int logged(const QString &needle) const { return Count(*m_log, needle); }

    // A browser window with a frame and the page's render window at (8, 80)
    // inside it.
    void addBrowser(WindowId browser, WindowId frame, WindowId render, const QString &title)
    {
        QVERIFY(m_desktop->addWindow(
            browser, 0, QStringLiteral("Chrome_WidgetWin_1"), title, QRect(100, 50, 800, 600)));
        QVERIFY(m_desktop->addWindow(
            frame, browser, QStringLiteral("Intermediate D3D Window"), QString(), QRect(0, 0, 800, 600)));
        if (render)
            QVERIFY(m_desktop->addWindow(render, frame, QStringLiteral("Chrome_RenderWidgetHostHWND"),
                QStringLiteral("Chrome Legacy Window"), QRect(8, 80, 784, 512)));
    }

    // Logged in with the render window found, the page visible.
    void embed()
    {
        addBrowser(kBrowser, kFrame, kRender, kBrowserTitle);
        QCOMPARE(m_w->ErgodicAllChild(kBrowser, 2, 0), quint64(kRender));
        m_w->SetBrowserWnd(kBrowser, kRender, kTitle, 2);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());
    }

    void showAt(int left, int top, int width, int height)
    {
        m_w->onWidgetStatuChange(2, left, top, width, height);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        PlayWidget::setFollowInterval(10);
        PlayWidget::setFullScreenCheckDelay(100);
        PlayWidget::setConfigFolder(m_dir.path());
    }
    void cleanupTestCase() { LightWeightLog::shutdown(); }

    void init()
    {
        m_desktop = std::make_shared<MemoryDesktop>();
        NativeWindow::setDesktop(m_desktop);
        m_log = std::make_unique<QSignalSpy>(LightWeightLog::instance(), &LightWeightLog::writeLogSig);
        m_w = PlayWidget::instance();
        QVERIFY(m_w);
    }
    void cleanup()
    {
        PlayWidget::destroyInstance();
        m_w = nullptr;
        NativeWindow::setDesktop(nullptr);
        m_log.reset();
    }

    // ---- finding the render window ----

    void renderClass_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<int>("browseType");
        QTest::addColumn<bool>("match");
        QTest::newRow("IE server, IE") << "Internet Explorer_Server" << 0 << true;
        QTest::newRow("IE server, Chrome kind") << "Internet Explorer_Server" << 2 << false;
        for (int type : { 2, 6, 9 }) {
            QTest::addRow("render host, kind %d", type) << "Chrome_RenderWidgetHostHWND" << type << true;
            QTest::addRow("X11 Chromium, kind %d", type) << "Chromium" << type << true;
        }
        QTest::newRow("X11 Chromium, lower case") << "chromium" << 2 << true;
        QTest::newRow("X11 Chromium package") << "Chromium-browser" << 2 << true;
        QTest::newRow("X11 Chrome") << "Google-chrome" << 6 << true;
        QTest::newRow("X11 Chrome beta") << "Google-chrome-beta" << 6 << true;
        QTest::newRow("X11 Edge") << "Microsoft-edge" << 9 << true;
        QTest::newRow("X11 other program named alike") << "ChromiumViewer" << 2 << false;
        QTest::newRow("X11 Chromium, IE kind") << "Chromium" << 0 << false;
        QTest::newRow("X11 Firefox") << "firefox" << 2 << false;
        QTest::newRow("browser frame") << "Chrome_WidgetWin_1" << 2 << false;
        QTest::newRow("browser layer") << "Intermediate D3D Window" << 2 << false;
        QTest::newRow("empty") << "" << 2 << false;
        for (int type : { 1, 3, 4, 5, 7, 8, 10, -1 })
            QTest::addRow("kind %d never", type) << "Chrome_RenderWidgetHostHWND" << type << false;
    }
    void renderClass()
    {
        QFETCH(QString, className);
        QFETCH(int, browseType);
        QFETCH(bool, match);
        QCOMPARE(PlayWidget::IsRenderWindowClass(className, browseType), match);
    }

    void search_data()
    {
        QTest::addColumn<QList<TreeWindow>>("tree");
        QTest::addColumn<quint64>("start");
        QTest::addColumn<int>("browseType");
        QTest::addColumn<quint64>("found");
        const QList<TreeWindow> chrome = { { 0x20000001, 0, "Chrome_WidgetWin_0" },
            { 0x20000002, 0x20000001, "Intermediate D3D Window" },
            { 0x20000003, 0x20000002, "Chrome_RenderWidgetHostHWND" } };
        QTest::newRow("two levels down") << chrome << quint64(0x20000001) << 2 << quint64(0x20000003);
        QTest::newRow("same tree, kind 1") << chrome << quint64(0x20000001) << 1 << quint64(0);
        const QList<TreeWindow> ie = { { 0x20000001, 0, "IEFrame" }, { 0x20000002, 0x20000001, "Frame Tab" },
            { 0x20000003, 0x20000002, "TabWindowClass" }, { 0x20000004, 0x20000003, "Shell DocObject View" },
            { 0x20000005, 0x20000004, "Internet Explorer_Server" } };
        QTest::newRow("IE four levels down") << ie << quint64(0x20000001) << 0 << quint64(0x20000005);
        QTest::newRow("IE tree, Chrome kind") << ie << quint64(0x20000001) << 2 << quint64(0);
        // Below the start window siblings are searched, depth first.
        const QList<TreeWindow> siblings = { { 0x20000001, 0, "Frame" },
            { 0x20000002, 0x20000001, "Toolbar" }, { 0x20000004, 0x20000002, "Button" },
            { 0x20000003, 0x20000001, "Chrome_RenderWidgetHostHWND" } };
        QTest::newRow("second child") << siblings << quint64(0x20000001) << 2 << quint64(0x20000003);
        const QList<TreeWindow> depthFirst = { { 0x20000001, 0, "Frame" }, { 0x20000002, 0x20000001, "Pane" },
            { 0x20000004, 0x20000002, "Chrome_RenderWidgetHostHWND" },
            { 0x20000003, 0x20000001, "Chrome_RenderWidgetHostHWND" } };
        QTest::newRow("child before sibling")
            << depthFirst << quint64(0x20000001) << 2 << quint64(0x20000004);
        // The start window's own siblings are never searched.
        const QList<TreeWindow> startSiblings = { { 0x20000001, 0, "Frame" },
            { 0x20000002, 0x20000001, "Toolbar" }, { 0x20000003, 0x20000001, "Chrome_RenderWidgetHostHWND" },
            { 0x20000005, 0, "Chrome_RenderWidgetHostHWND" } };
        QTest::newRow("start below the top") << startSiblings << quint64(0x20000002) << 2 << quint64(0);
        QTest::newRow("top-level siblings")
            << startSiblings << quint64(0x20000001) << 2 << quint64(0x20000003);
        const QList<TreeWindow> x11
            = { { 0x20000001, 0, "Chromium" }, { 0x20000002, 0x20000001, "Chromium" } };
        QTest::newRow("X11 browser window") << x11 << quint64(0x20000001) << 2 << quint64(0x20000001);
        QTest::newRow("unknown start") << x11 << quint64(0x20000009) << 2 << quint64(0);
        QTest::newRow("no start") << x11 << quint64(0) << 2 << quint64(0);
    }
    void search()
    {
        QFETCH(QList<TreeWindow>, tree);
        QFETCH(quint64, start);
        QFETCH(int, browseType);
        QFETCH(quint64, found);
        for (const TreeWindow &w : tree)
            QVERIFY(m_desktop->addWindow(
                w.id, w.parent, QLatin1String(w.className), QStringLiteral("t%1").arg(w.id)));
        QCOMPARE(m_w->ErgodicAllChild(start, browseType, 0), found);
    }

    void searchLogsEachWindow()
    {
        addBrowser(kBrowser, kFrame, kRender, kBrowserTitle);
        m_w->ErgodicAllChild(kBrowser, 2, 0);
        QCOMPARE(
            logged(QStringLiteral("] class name:Chrome_WidgetWin_1,class handle:%1 wndName:%2 BrowseType:2")
                       .arg(kBrowser)
                       .arg(kBrowserTitle)),
            1);
        QCOMPARE(logged(QStringLiteral(
                     "] -class name:Intermediate D3D Window,class handle:%1 wndName: BrowseType:2")
                            .arg(kFrame)),
            1);
        QCOMPARE(
            logged(QStringLiteral("] --class name:Chrome_RenderWidgetHostHWND,class handle:%1 wndName:Chrome "
                                  "Legacy Window BrowseType:2")
                       .arg(kRender)),
            1);
    }

    // A nesting deeper than any real window tree ends the search.
    void searchDepthLimit_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<bool>("found");
        QTest::newRow("20 levels") << 20 << true;
        QTest::newRow("at the limit") << PlayWidget::kMaxSearchDepth << true;
        QTest::newRow("beyond the limit") << PlayWidget::kMaxSearchDepth + 1 << false;
        QTest::newRow("5000 levels") << 5000 << false;
    }
    void searchDepthLimit()
    {
        QFETCH(int, levels);
        QFETCH(bool, found);
        const WindowId base = 0x30000000;
        QVERIFY(m_desktop->addWindow(base, 0, QStringLiteral("Frame"), QString()));
        for (int i = 1; i <= levels; ++i) {
            const bool last = i == levels;
            QVERIFY(m_desktop->addWindow(base + i, base + i - 1,
                last ? QStringLiteral("Chrome_RenderWidgetHostHWND") : QStringLiteral("Pane"), QString()));
        }
        QCOMPARE(m_w->ErgodicAllChild(base, 2, 0), found ? quint64(base + levels) : quint64(0));
    }

    // ---- embedding and the page origin ----

    void setBrowserWndEmbeds()
    {
        addBrowser(kBrowser, kFrame, kRender, kBrowserTitle);
        m_w->SetBrowserWnd(kBrowser, kRender, kTitle, 2);
        const WindowId own = m_w->OwnWnd();
        QVERIFY(own != 0);
        QCOMPARE(m_desktop->parent(own), kBrowser);
        QCOMPARE(m_desktop->children(kBrowser).first(), own);
        QCOMPARE(m_w->BrowseWnd(), quint64(kBrowser));
        QCOMPARE(m_w->BrowseClientWnd(), quint64(kRender));
        QVERIFY(m_w->HasBrowseClient());
        QCOMPARE(m_w->WndName(), kBrowserTitle);
        QCOMPARE(m_w->property("_q_embedded_native_parent_handle").value<WId>(), WId(kBrowser));
        QVERIFY(m_w->IsFollowing());
        QVERIFY(!m_w->isVisible());
        QCOMPARE(logged(QStringLiteral("WinVersion=0 EmbedType=0")), 1);
        QCOMPARE(m_w->EmbedType(), 0);
    }

    void embedOnlyIntoWindows()
    {
        QVERIFY(!m_w->EmbedToBrowser(0));
        QVERIFY(!m_w->EmbedToBrowser(0x7777));
        QVERIFY(m_desktop->reparents().isEmpty());
    }

    void origin_data()
    {
        QTest::addColumn<bool>("withRender");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("render window inside the browser") << true << QPoint(8, 80);
        QTest::newRow("no render window") << false << QPoint(0, 0);
    }
    void origin()
    {
        QFETCH(bool, withRender);
        QFETCH(QPoint, origin);
        addBrowser(kBrowser, kFrame, withRender ? kRender : 0, kBrowserTitle);
        m_w->SetBrowserWnd(kBrowser, withRender ? kRender : 0, kTitle, withRender ? 2 : 1);
        QCOMPARE(m_w->GetBrowserClientRect(), origin);
        // The browser moving on the screen changes nothing: the player moves with it.
        m_desktop->setGeometry(kBrowser, QRect(300, 300, 800, 600));
        QCOMPARE(m_w->GetBrowserClientRect(), origin);
        m_desktop->removeWindow(kBrowser);
        QCOMPARE(m_w->GetBrowserClientRect(), QPoint(0, 0));
    }

    // ---- showing and moving as the page asks ----

    void showRequest_data()
    {
        QTest::addColumn<QRect>("rect");
        QTest::addColumn<bool>("shown");
        QTest::newRow("inside the page") << QRect(10, 20, 320, 240) << true;
        QTest::newRow("at the corner") << QRect(0, 0, 1, 1) << true;
        QTest::newRow("width 0") << QRect(10, 20, 0, 240) << false;
        QTest::newRow("height 0") << QRect(10, 20, 320, 0) << false;
        QTest::newRow("negative width") << QRect(10, 20, -5, 240) << false;
        QTest::newRow("left -1") << QRect(-1, 20, 320, 240) << false;
        QTest::newRow("top -1") << QRect(10, -1, 320, 240) << false;
    }
    void showRequest()
    {
        QFETCH(QRect, rect);
        QFETCH(bool, shown);
        embed();
        showAt(rect.x(), rect.y(), rect.width(), rect.height());
        QCOMPARE(m_w->isVisible(), shown);
        QVERIFY(m_w->IsShowPlugin());
        QCOMPARE(m_w->IsPosValidFlag(), shown);
        QCOMPARE(logged(QStringLiteral("WebCtrlShow call")), 1);
        if (shown) {
            QCOMPARE(m_w->geometry(), QRect(rect.topLeft() + QPoint(8, 80), rect.size()));
            QCOMPARE(m_w->PagePosition(), rect);
            QCOMPARE(logged(QStringLiteral("move end")), 1);
            QCOMPARE(logged(QStringLiteral("nLeft:%1,nTop:%2,Width:%3,Height:%4")
                                .arg(rect.x() + 8)
                                .arg(rect.y() + 80)
                                .arg(rect.width())
                                .arg(rect.height())),
                1);
        } else {
            // Both refusals are logged and nothing moves.
            QCOMPARE(logged(QStringLiteral(
                         "can't show window reason:ShowPlugin:1,BrowseClientVisible:1,PosValid:0")),
                1);
            QCOMPARE(logged(QStringLiteral("wnd can't move,reason:ShowPlugin:1,PosValid:0")), 1);
            QCOMPARE(logged(QStringLiteral("move begin")), 0);
            QCOMPARE(m_w->PagePosition(), QRect(0, 0, 0, 0));
        }
    }

    void hideMoveAndOtherTypes()
    {
        embed();
        showAt(10, 20, 320, 240);
        QVERIFY(m_w->isVisible());

        m_w->onWidgetStatuChange(4, 30, 40, 200, 100);
        QCOMPARE(logged(QStringLiteral("WebCtrlMove call")), 1);
        QVERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(38, 120, 200, 100));

        // A move to nothing hides the window and keeps the last place.
        m_w->onWidgetStatuChange(4, 30, 40, 0, 100);
        QVERIFY(!m_w->isVisible());
        QCOMPARE(m_w->PagePosition(), QRect(30, 40, 200, 100));
        m_w->onWidgetStatuChange(4, 50, 60, 100, 50);
        QVERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(58, 140, 100, 50));

        m_w->onWidgetStatuChange(3, 0, 0, 10, 10);
        m_w->onWidgetStatuChange(0, 0, 0, 10, 10);
        QVERIFY(m_w->isVisible());
        QCOMPARE(m_w->PagePosition(), QRect(50, 60, 100, 50));

        m_w->onWidgetStatuChange(1, 0, 0, 0, 0);
        QCOMPARE(logged(QStringLiteral("WebCtrlHide call")), 1);
        QVERIFY(!m_w->isVisible());
        QVERIFY(!m_w->IsShowPlugin());
        // Hidden by the page: a move does not bring it back.
        m_w->onWidgetStatuChange(4, 50, 60, 100, 50);
        QVERIFY(!m_w->isVisible());
        QCOMPARE(logged(QStringLiteral("wnd can't move,reason:ShowPlugin:0,PosValid:1")), 1);
    }

    void requestsNeedTheBrowserWindow()
    {
        m_w->onWidgetStatuChange(2, 10, 20, 320, 240);
        QCOMPARE(logged(QStringLiteral("m_hCurBrowseWnd is invalid window")), 1);
        QCOMPARE(logged(QStringLiteral("WebCtrlShow call")), 0);
        QVERIFY(!m_w->IsShowPlugin());
        QVERIFY(!m_w->isVisible());

        // The browser closing later has the same effect.
        embed();
        m_desktop->removeWindow(kBrowser);
        m_w->onWidgetStatuChange(2, 10, 20, 320, 240);
        QCOMPARE(logged(QStringLiteral("m_hCurBrowseWnd is invalid window")), 2);
        QVERIFY(!m_w->isVisible());
    }

    // The page may ask to show before the browser window is known visible.
    void showWaitsForTheBrowser()
    {
        addBrowser(kBrowser, kFrame, kRender, kBrowserTitle);
        m_desktop->setVisible(kRender, false);
        m_w->SetBrowserWnd(kBrowser, kRender, kTitle, 2);
        showAt(10, 20, 320, 240);
        QVERIFY(!m_w->isVisible());
        QCOMPARE(
            logged(QStringLiteral("can't show window reason:ShowPlugin:1,BrowseClientVisible:0,PosValid:1")),
            1);
        m_desktop->setVisible(kRender, true);
        QTRY_VERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(18, 100, 320, 240));
    }

    // Fault: the window moved by an id that is no widget, or to no size.
    void moveGuards_data()
    {
        QTest::addColumn<bool>("ownWindow");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("moved");
        QTest::newRow("own window") << true << QSize(100, 50) << true;
        QTest::newRow("no widget") << false << QSize(100, 50) << false;
        QTest::newRow("zero width") << true << QSize(0, 50) << false;
        QTest::newRow("zero height") << true << QSize(100, 0) << false;
    }
    void moveGuards()
    {
        QFETCH(bool, ownWindow);
        QFETCH(QSize, size);
        QFETCH(bool, moved);
        embed();
        showAt(10, 20, 320, 240);
        const quint64 wnd = ownWindow ? m_w->OwnWnd() : quint64(0x40000001);
        QCOMPARE(m_w->MovePlayWidget(wnd, 1, 2, size.width(), size.height()), 0);
        QCOMPARE(m_w->PagePosition(), moved ? QRect(QPoint(1, 2), size) : QRect(10, 20, 320, 240));
        QCOMPARE(m_w->geometry(), moved ? QRect(QPoint(9, 82), size) : QRect(18, 100, 320, 240));
        QCOMPARE(logged(QStringLiteral("wnd can't move,reason:window")), moved ? 0 : 1);
    }

    // ---- following the browser ----

    void otherTabHidesAndComingBackShows()
    {
        embed();
        showAt(10, 20, 320, 240);
        QVERIFY(m_w->isVisible());
        m_w->move(0, 0);

        m_desktop->setTitle(kBrowser, QStringLiteral("New Tab - Chromium"));
        QTRY_VERIFY(!m_w->isVisible());
        QVERIFY(!m_w->IsBrowseClientVisible());
        QVERIFY(m_w->IsShowPlugin());

        m_desktop->setTitle(kBrowser, kBrowserTitle);
        QTRY_VERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(18, 100, 320, 240));

        // The render window hidden (the browser minimised) hides the player too.
        m_desktop->setVisible(kFrame, false);
        QTRY_VERIFY(!m_w->isVisible());
        m_desktop->setVisible(kFrame, true);
        QTRY_VERIFY(m_w->isVisible());
    }

    void pageMovesToAnotherBrowserWindow()
    {
        embed();
        showAt(10, 20, 320, 240);
        addBrowser(kOtherBrowser, kOtherFrame, 0, QStringLiteral("Other - Web Viewer - Chromium"));
        // A tab dragged out: the render window now lies in the other window.
        QVERIFY(m_desktop->reparent(kRender, kOtherFrame));
        const WindowId own = m_w->OwnWnd();
        QTRY_COMPARE(m_desktop->parent(own), kOtherBrowser);
        QCOMPARE(m_w->BrowseWnd(), quint64(kOtherBrowser));
        QCOMPARE(logged(QStringLiteral(
                     "m_playWidget handle:%1\tm_hCurBrowseClientWnd:%2\tbefore parent handle:%3\tnow "
                     "parent handle:%4")
                            .arg(own, 8, 16, QLatin1Char('0'))
                            .arg(kRender, 8, 16, QLatin1Char('0'))
                            .arg(kBrowser, 8, 16, QLatin1Char('0'))
                            .arg(kOtherBrowser, 8, 16, QLatin1Char('0'))),
            1);
        QVERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(18, 100, 320, 240));
        // Once there, nothing more happens.
        const int reparents = m_desktop->reparents().size();
        QTest::qWait(60);
        QCOMPARE(m_desktop->reparents().size(), reparents);
    }

    // The browser closed: the player hides and does not try to re-embed
    // into nothing on every tick.
    void browserWindowGone()
    {
        embed();
        showAt(10, 20, 320, 240);
        m_desktop->removeWindow(kBrowser);
        QTRY_VERIFY(!m_w->isVisible());
        const int reparents = m_desktop->reparents().size();
        QTest::qWait(80);
        QCOMPARE(m_desktop->reparents().size(), reparents);
        QCOMPARE(logged(QStringLiteral("m_playWidget handle:")), 0);
        QCOMPARE(logged(QStringLiteral("move begin")), 1);
    }

    // A browser window named on the command line whose title is not the
    // page's: the window in front with that title is taken once it appears.
    void refindByTitle()
    {
        addBrowser(kBrowser, kFrame, kRender, QStringLiteral("Loading"));
        m_w->SetBrowserWnd(kBrowser, kRender, kTitle, 2);
        QTRY_VERIFY(logged(QStringLiteral("m_strWndName.indexOf(m_strBrowserTitle)")) > 0);
        QCOMPARE(m_w->BrowseWnd(), quint64(kBrowser));

        QVERIFY(m_desktop->addWindow(kFront, 0, QStringLiteral("Chrome_WidgetWin_1"),
            QStringLiteral("Front - Web Viewer"), QRect(0, 0, 640, 480)));
        QVERIFY(m_desktop->addWindow(kFrontRender, kFront, QStringLiteral("Chrome_RenderWidgetHostHWND"),
            QString(), QRect(0, 60, 640, 420)));
        m_desktop->setForeground(kFront);
        QTRY_COMPARE(m_w->BrowseWnd(), quint64(kFront));
        QCOMPARE(m_w->BrowseClientWnd(), quint64(kFrontRender));
        QCOMPARE(m_w->WndName(), QStringLiteral("Front - Web Viewer"));
        QCOMPARE(m_desktop->parent(m_w->OwnWnd()), kFront);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());
        showAt(0, 0, 100, 100);
        QCOMPARE(m_w->geometry(), QRect(0, 60, 100, 100));
    }

    // Browser kinds without a render window: no title gate, and the player
    // goes back into the browser window whenever it was taken out.
    void withoutRenderWindow()
    {
        addBrowser(kBrowser, kFrame, 0, kBrowserTitle);
        QCOMPARE(m_w->ErgodicAllChild(kBrowser, 1, 0), quint64(0));
        m_w->SetBrowserWnd(kBrowser, 0, kTitle, 1);
        QVERIFY(!m_w->HasBrowseClient());
        showAt(10, 20, 320, 240);
        QVERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(10, 20, 320, 240));

        m_desktop->setTitle(kBrowser, QStringLiteral("Another page"));
        QTest::qWait(60);
        QVERIFY(m_w->isVisible());

        const WindowId own = m_w->OwnWnd();
        QVERIFY(m_desktop->reparent(own, 0));
        QTRY_COMPARE(m_desktop->parent(own), kBrowser);
        QCOMPARE(m_w->geometry(), QRect(10, 20, 320, 240));
    }

    // A window that cannot be embedded into is not tried again on every tick
    // (nor logged again).
    void refusedEmbeddingIsNotRetried_data()
    {
        QTest::addColumn<bool>("withRender");
        QTest::newRow("render window") << true;
        QTest::newRow("browser window only") << false;
    }
    void refusedEmbeddingIsNotRetried()
    {
        QFETCH(bool, withRender);
        addBrowser(kBrowser, kFrame, withRender ? kRender : 0, kBrowserTitle);
        m_desktop->setRefuseReparent(true);
        m_w->SetBrowserWnd(kBrowser, withRender ? kRender : 0, kTitle, withRender ? 2 : 1);
        QTest::qWait(80);
        QCOMPARE(m_desktop->reparents().size(), 1);
        QCOMPARE(logged(QStringLiteral("can't embed into %1").arg(kBrowser, 8, 16, QLatin1Char('0'))), 1);
        QCOMPARE(logged(QStringLiteral("m_playWidget handle:")), 0);
        // Asked again by the page's next login, it is tried again.
        m_desktop->setRefuseReparent(false);
        m_w->SetBrowserWnd(kBrowser, withRender ? kRender : 0, kTitle, withRender ? 2 : 1);
        QCOMPARE(m_desktop->parent(m_w->OwnWnd()), kBrowser);
    }

    // ---- full screen ----

    void fullScreenAndEscape()
    {
        embed();
        showAt(10, 20, 320, 240);
        const WindowId own = m_w->OwnWnd();
        m_w->onFullScreen();
        QVERIFY(!m_w->IsFollowing());
        QVERIFY(m_w->isFullScreen());
        QCOMPARE(int(m_w->windowFlags()), PlayWidget::kFullScreenFlags);
        QCOMPARE(m_desktop->parent(m_w->OwnWnd()), WindowId(0));
        QVERIFY(m_desktop->raises().contains(m_w->OwnWnd()));
        QVERIFY(m_w->RealPlayPage()->IsFullScreen());
        for (const char *line :
            { "fullscreen begin", "showFullScreen begin", "showFullScreen end", "fullscreen end" })
            QCOMPARE(logged(QLatin1String(line)), 1);
        // The check after the switch finds it done.
        QTest::qWait(200);
        QCOMPARE(logged(QStringLiteral("fullscreen unsuccessful")), 0);
        QVERIFY(!m_w->IsFollowing());

        QTest::keyRelease(m_w, Qt::Key_Escape);
        QCOMPARE(logged(QStringLiteral("keyReleaseEvent release")), 1);
        QCOMPARE(logged(QStringLiteral("exit fullscreen")), 1);
        QVERIFY(!m_w->isFullScreen());
        QCOMPARE(int(m_w->windowFlags()), PlayWidget::kRestoredFlags);
        QCOMPARE(m_desktop->parent(m_w->OwnWnd()), kBrowser);
        QVERIFY(m_w->isVisible());
        QCOMPARE(m_w->geometry(), QRect(18, 100, 320, 240));
        QVERIFY(!m_w->RealPlayPage()->IsFullScreen());
        QVERIFY(m_w->IsFollowing());
        Q_UNUSED(own)
    }

    void escapeOutsideFullScreen()
    {
        embed();
        showAt(10, 20, 320, 240);
        const int reparents = m_desktop->reparents().size();
        QTest::keyRelease(m_w, Qt::Key_Escape);
        QTest::keyRelease(m_w, Qt::Key_A);
        QCOMPARE(logged(QStringLiteral("keyReleaseEvent")), 3);
        QCOMPARE(logged(QStringLiteral("exit fullscreen")), 0);
        QCOMPARE(m_desktop->reparents().size(), reparents);
        QCOMPARE(int(m_w->windowFlags()), PlayWidget::kEmbeddedFlags);
        QVERIFY(m_w->isVisible());
    }

    // A switch that did not take is found and undone.
    void fullScreenThatFails()
    {
        embed();
        showAt(10, 20, 320, 240);
        m_w->onFullScreen();
        m_w->setWindowState(Qt::WindowNoState);
        QTRY_COMPARE(logged(QStringLiteral("fullscreen unsuccessful")), 1);
        QVERIFY(m_w->IsFollowing());
        QCOMPARE(int(m_w->windowFlags()), PlayWidget::kRestoredFlags);
        QCOMPARE(m_desktop->parent(m_w->OwnWnd()), kBrowser);
        QVERIFY(m_w->isVisible());
        QVERIFY(!m_w->RealPlayPage()->IsFullScreen());
    }

    // ---- the singleton and the data input ----

    void singleton()
    {
        QCOMPARE(PlayWidget::instance(), m_w);
        QCOMPARE(PlayWidget::existing(), m_w);
        QCOMPARE(PlayWidget::facadeForCurrentThread(), static_cast<PlayWidgetFacade *>(m_w));
        QCOMPARE(m_w->signalSource(), static_cast<QObject *>(m_w));
        QSignalSpy destroyed(m_w, &QObject::destroyed);
        PlayWidgetFacade &facade = *m_w;
        facade.releaseInstance();
        QCOMPARE(destroyed.count(), 1);
        QCOMPARE(PlayWidget::existing(), static_cast<PlayWidget *>(nullptr));
        // Releasing twice is harmless; the next use makes a new window.
        PlayWidget::destroyInstance();
        m_w = PlayWidget::instance();
        QVERIFY(m_w);
        QCOMPARE(PlayWidget::existing(), m_w);
    }

    // Fault: a data callback after the release must not make a window, off
    // the GUI thread; other threads get no window facade at all.
    void otherThreadsNeverMakeTheWindow()
    {
        PlayWidget::destroyInstance();
        m_w = nullptr;
        PlayWidget *made = reinterpret_cast<PlayWidget *>(1);
        PlayWidgetFacade *facade = reinterpret_cast<PlayWidgetFacade *>(1);
        int input = 0;
        std::thread worker([&] {
            made = PlayWidget::instance();
            facade = PlayWidget::facadeForCurrentThread();
            StreamInput *entry = PlayWidget::dataEntry();
            const char data[16] = {};
            input = entry->InputRealPlayData(0, data, sizeof data, 1);
            input += entry->InputPlaybackData(0, data, sizeof data);
            input += entry->InputColorSetData(data, sizeof data);
        });
        worker.join();
        QCOMPARE(made, static_cast<PlayWidget *>(nullptr));
        QCOMPARE(facade, static_cast<PlayWidgetFacade *>(nullptr));
        QCOMPARE(input, -3);
        QCOMPARE(PlayWidget::existing(), static_cast<PlayWidget *>(nullptr));
        m_w = PlayWidget::instance();
    }

    // Fault: device threads feed a channel while the window is released and
    // made again; no call reaches a window being deleted.
    void feedWhileReleasing()
    {
        TestMedia::VideoOptions options;
        options.frames = 25;
        const std::vector<QByteArray> blocks = TestMedia::videoBlocks(options);
        QVERIFY(!blocks.empty());
        QCOMPARE(m_w->PreviewPlay(0, 3, 0), 0);

        std::atomic<bool> stop { false };
        std::atomic<int> fed { 0 };
        std::atomic<int> dropped { 0 };
        std::vector<std::thread> feeders;
        for (int t = 0; t < 3; ++t) {
            feeders.emplace_back([&] {
                StreamInput *entry = PlayWidget::dataEntry();
                for (size_t i = 0; !stop; i = (i + 1) % blocks.size()) {
                    const QByteArray &b = blocks[i];
                    if (entry->InputRealPlayData(3, b.constData(), b.size(), 1) == 0)
                        ++fed;
                    else
                        ++dropped;
                }
            });
        }
        for (int round = 0; round < 4; ++round) {
            QTRY_VERIFY(fed > round * 10);
            PlayWidget::destroyInstance();
            LumarelControl::PortStats stats;
            QVERIFY(LumarelControl::portStats(3, &stats));
            QVERIFY(!stats.open);
            const int droppedBefore = dropped;
            QTRY_VERIFY(dropped > droppedBefore);
            m_w = PlayWidget::instance();
            QCOMPARE(m_w->PreviewPlay(0, 3, 0), 0);
        }
        stop = true;
        for (std::thread &t : feeders)
            t.join();
        QVERIFY(fed > 40);
        QCOMPARE(PlayWidget::existing(), m_w);
    }
};

QTEST_MAIN(TestPlayWidgetEmbed)
#include "tst_play_widget_embed.moc"
