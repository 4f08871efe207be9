// The embedded player window on a private X server (Qt on the xcb platform):
// it goes into the window of another program (xmessage, taken for the
// browser by its WM_CLASS), shows and moves there as the page asks, hides
// when the window's title changes and comes back, leaves for full screen
// and returns, and survives the other program's window going away.

#include "LightWeightLog.h"
#include "NativeWindow.h"
#include "PlayWidget.h"
#include "PlayWindowManage.h"
#include "RealPlayWidget.h"
#include "VideoWnd.h"
#include "XvfbSession.h"

#include <QApplication>
#include <QProcess>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

const QByteArray kBrowserTitle("Cameras - Web Viewer");

struct Tree
{
    xcb_window_t parent = XCB_NONE;
    std::vector<xcb_window_t> children;
};

} // namespace

class TestPlayWidgetX11 : public QObject
{
    Q_OBJECT

public:
    explicit TestPlayWidgetX11(XvfbSession *x)
        : m_x(x)
    { }

private:
    XvfbSession *m_x;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_browser;
    xcb_window_t m_browserWnd = XCB_NONE;
    PlayWidget *m_w = nullptr;

    Tree tree(xcb_window_t w)
    {
        Tree t;
        xcb_connection_t *c = m_x->connection();
        xcb_query_tree_reply_t *r = xcb_query_tree_reply(c, xcb_query_tree(c, w), nullptr);
        if (!r)
            return t;
        t.parent = r->parent;
        const xcb_window_t *list = xcb_query_tree_children(r);
        t.children.assign(list, list + xcb_query_tree_children_length(r));
        std::free(r);
        return t;
    }
    bool viewable(xcb_window_t w)
    {
        xcb_connection_t *c = m_x->connection();
        xcb_get_window_attributes_reply_t *r
            = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
        const bool v = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
        std::free(r);
        return v;
    }
    QRect geometry(xcb_window_t w)
    {
        xcb_connection_t *c = m_x->connection();
        xcb_get_geometry_reply_t *r = xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr);
        const QRect g = r ? QRect(r->x, r->y, r->width, r->height) : QRect();
        std::free(r);
        return g;
    }
    void setTitle(xcb_window_t w, const QByteArray &title)
    {
        xcb_connection_t *c = m_x->connection();
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
            uint32_t(title.size()), title.constData());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, m_x->atom("_NET_WM_NAME"), m_x->atom("UTF8_STRING"),
            8, uint32_t(title.size()), title.constData());
        m_x->sync();
    }
    // The top-level window with the title, 0 while there is none.
    xcb_window_t findTopLevel(const QString &title)
    {
        const auto desktop = NativeWindow::desktop();
        for (xcb_window_t w : tree(m_x->root()).children) {
            if (desktop->windowTitle(w) == title)
                return w;
        }
        return XCB_NONE;
    }
    // What xwininfo lists inside the window.
    QString xwininfoChildren(xcb_window_t w)
    {
        QProcess p;
        p.start(QStringLiteral("xwininfo"),
            { QStringLiteral("-display"), m_x->display(), QStringLiteral("-children"), QStringLiteral("-id"),
                QString::number(w) });
        if (!p.waitForFinished(10000))
            return QString();
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    }
    // True when `ancestor` holds `w`, at any depth.
    bool inside(xcb_window_t w, xcb_window_t ancestor)
    {
        for (xcb_window_t parent = tree(w).parent; parent != XCB_NONE; parent = tree(parent).parent) {
            if (parent == ancestor)
                return true;
        }
        return false;
    }
    // True when both are siblings and `lower` is behind `upper`.
    bool below(xcb_window_t lower, xcb_window_t upper)
    {
        // Siblings are listed from the bottom up.
        const std::vector<xcb_window_t> order = tree(tree(lower).parent).children;
        const auto lowerAt = std::find(order.begin(), order.end(), lower);
        const auto upperAt = std::find(order.begin(), order.end(), upper);
        return lowerAt != order.end() && upperAt != order.end() && lowerAt < upperAt;
    }
    static QString hexId(quint64 id) { return QStringLiteral("0x%1").arg(id, 0, 16); }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        PlayWidget::setFollowInterval(20);
        PlayWidget::setFullScreenCheckDelay(200);
        QVERIFY(m_dir.isValid());
        PlayWidget::setConfigFolder(m_dir.path());
    }
    void cleanupTestCase() { LightWeightLog::shutdown(); }

    void init()
    {
        // The other program: its window takes the place of the browser's.
        m_browser = std::make_unique<QProcess>();
        m_browser->start(QStringLiteral("xmessage"),
            { QStringLiteral("-display"), m_x->display(), QStringLiteral("-title"),
                QString::fromLatin1(kBrowserTitle), QStringLiteral("-geometry"),
                QStringLiteral("500x400+30+20"), QStringLiteral("The page") });
        QVERIFY(m_browser->waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(
            (m_browserWnd = findTopLevel(QString::fromLatin1(kBrowserTitle))) != XCB_NONE, 20000);
        QTRY_VERIFY(viewable(m_browserWnd));
        m_x->setChromiumClass(m_browserWnd);
        m_w = PlayWidget::instance();
    }
    void cleanup()
    {
        PlayWidget::destroyInstance();
        m_w = nullptr;
        if (m_browser && m_browser->state() != QProcess::NotRunning) {
            m_browser->kill();
            m_browser->waitForFinished(5000);
        }
        m_browser.reset();
    }

    void embedsIntoTheOtherProgramsWindow()
    {
        QCOMPARE(m_w->ErgodicAllChild(m_browserWnd, 2, 0), quint64(m_browserWnd));
        QCOMPARE(m_w->ErgodicAllChild(m_browserWnd, 1, 0), quint64(0));
        m_w->SetBrowserWnd(m_browserWnd, m_browserWnd, QStringLiteral("Web Viewer"), 2);
        const xcb_window_t own = xcb_window_t(m_w->OwnWnd());
        QCOMPARE(tree(own).parent, m_browserWnd);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());

        m_w->onWidgetStatuChange(2, 10, 20, 200, 150);
        QVERIFY(m_w->isVisible());
        QTRY_VERIFY(viewable(own));
        QTRY_COMPARE(geometry(own), QRect(10, 20, 200, 150));
        // An outside tool sees the player's window inside the other program's.
        QVERIFY2(
            xwininfoChildren(m_browserWnd).contains(hexId(own)), qPrintable(xwininfoChildren(m_browserWnd)));

        m_w->onWidgetStatuChange(4, 40, 50, 120, 90);
        QTRY_COMPARE(geometry(own), QRect(40, 50, 120, 90));
        QCOMPARE(tree(own).parent, m_browserWnd);
    }

    void titleChangeHidesAndShows()
    {
        m_w->SetBrowserWnd(m_browserWnd, m_browserWnd, QStringLiteral("Web Viewer"), 2);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());
        m_w->onWidgetStatuChange(2, 10, 20, 200, 150);
        const xcb_window_t own = xcb_window_t(m_w->OwnWnd());
        QTRY_VERIFY(viewable(own));

        setTitle(m_browserWnd, "Another tab");
        QTRY_VERIFY(!m_w->isVisible());
        QTRY_VERIFY(!viewable(own));
        QCOMPARE(tree(own).parent, m_browserWnd);

        setTitle(m_browserWnd, kBrowserTitle);
        QTRY_VERIFY(m_w->isVisible());
        QTRY_VERIFY(viewable(own));
        QTRY_COMPARE(geometry(own), QRect(10, 20, 200, 150));
    }

    void fullScreenLeavesAndComesBack()
    {
        m_w->SetBrowserWnd(m_browserWnd, m_browserWnd, QStringLiteral("Web Viewer"), 2);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());
        m_w->onWidgetStatuChange(2, 10, 20, 200, 150);
        m_w->SetPageIndex(0);
        // The play library draws into the first video window.
        CPlayWindowManage *grid = m_w->RealPlayPage()->GetWindowManage();
        const xcb_window_t video = xcb_window_t(grid->GetWndHandle(0));
        QVERIFY(video != XCB_NONE);
        QVERIFY(inside(video, xcb_window_t(m_w->OwnWnd())));
        m_w->onFullScreen();
        QTRY_COMPARE(tree(xcb_window_t(m_w->OwnWnd())).parent, m_x->root());
        QVERIFY(m_w->isFullScreen());
        // Still the same native window, with the video window in it.
        QCOMPARE(m_w->windowHandle()->winId(), WId(m_w->OwnWnd()));
        QCOMPARE(xcb_window_t(grid->GetWndHandle(0)), video);
        QVERIFY(inside(video, xcb_window_t(m_w->OwnWnd())));
        QTRY_VERIFY(viewable(xcb_window_t(m_w->OwnWnd())));
        QTRY_VERIFY(viewable(video));
        m_w->onExitFullscreen();
        const xcb_window_t own = xcb_window_t(m_w->OwnWnd());
        QTRY_COMPARE(tree(own).parent, m_browserWnd);
        QTRY_VERIFY(viewable(own));
        QTRY_COMPARE(geometry(own), QRect(10, 20, 200, 150));
        // The video window inside came along both ways, and it is the one the
        // play library is told of.
        QCOMPARE(xcb_window_t(grid->GetWndHandle(0)), video);
        QVERIFY(inside(video, own));
        QTRY_VERIFY(viewable(video));
    }

    // A two-lens camera's zoom slider over the video window: a native window
    // of its own inside the player's, in front of the video window also when
    // the play library makes that one native after the slider was shown.
    void zoomSliderStaysOverTheVideo()
    {
        m_w->SetBrowserWnd(m_browserWnd, m_browserWnd, QStringLiteral("Web Viewer"), 2);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());
        m_w->onWidgetStatuChange(2, 10, 20, 400, 300);
        m_w->SetPageIndex(0);
        CPlayWindowManage *grid = m_w->RealPlayPage()->GetWindowManage();
        grid->SplitWindow(1);
        grid->ShowScaleSlider(0, true, 8.0f);
        QWidget *slider = grid->GetWnd(0)->findChild<QWidget *>(QStringLiteral("ScaleSlider"));
        QVERIFY(slider && slider->isVisible());
        const xcb_window_t sliderWnd = xcb_window_t(slider->internalWinId());
        QVERIFY(sliderWnd != XCB_NONE);
        const xcb_window_t video = xcb_window_t(grid->GetWndHandle(0));
        const xcb_window_t own = xcb_window_t(m_w->OwnWnd());
        QVERIFY(inside(video, own));
        QVERIFY(inside(sliderWnd, own));
        QTRY_VERIFY2(below(video, sliderWnd), "the video window covers the zoom slider");
        QTRY_VERIFY(viewable(sliderWnd));
        QTRY_VERIFY(viewable(video));
    }

    // The other program ends: the server destroys our window with its own.
    // The player window stays, with a new native window of its own.
    void survivesTheOtherWindowGoingAway()
    {
        QSignalSpy log(LightWeightLog::instance(), &LightWeightLog::writeLogSig);
        m_w->SetBrowserWnd(m_browserWnd, m_browserWnd, QStringLiteral("Web Viewer"), 2);
        QTRY_VERIFY(m_w->IsBrowseClientVisible());
        m_w->onWidgetStatuChange(2, 10, 20, 200, 150);
        m_w->SetPageIndex(0);
        CPlayWindowManage *grid = m_w->RealPlayPage()->GetWindowManage();
        grid->ShowScaleSlider(0, true, 8.0f);
        QVERIFY(grid->GetWndHandle(0) != 0);
        const quint64 before = m_w->OwnWnd();
        QTRY_VERIFY(viewable(xcb_window_t(before)));
        m_browser->kill();
        QVERIFY(m_browser->waitForFinished(5000));
        QTRY_VERIFY(m_w->OwnWnd() != before);
        bool reported = false;
        for (const QList<QVariant> &args : log)
            reported |= args.at(0).toString().contains(
                QStringLiteral("recive WM_DESTROY %1").arg(before, 8, 16, QLatin1Char('0')));
        QVERIFY(reported);
        QVERIFY(NativeWindow::desktop()->isWindow(m_w->OwnWnd()));
        QCOMPARE(m_w->BrowseWnd(), quint64(0));
        QTRY_VERIFY(!m_w->isVisible());
        // Shown again, the new window holds the video window drawn into again.
        m_w->show();
        const xcb_window_t now = xcb_window_t(m_w->OwnWnd());
        QCOMPARE(WId(now), m_w->windowHandle()->winId());
        QTRY_VERIFY(viewable(now));
        const xcb_window_t video = xcb_window_t(grid->GetWndHandle(0));
        QVERIFY(inside(video, now));
        QTRY_VERIFY(viewable(video));
        QWidget *slider = grid->GetWnd(0)->findChild<QWidget *>(QStringLiteral("ScaleSlider"));
        QVERIFY(slider);
        QVERIFY(inside(xcb_window_t(slider->internalWinId()), now));
    }
};

int main(int argc, char *argv[])
{
    // The X server must be there before the application connects to it.
    XvfbSession x;
    if (!x.start()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", x.display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 0;
    {
        QApplication app(argc, argv);
        TestPlayWidgetX11 test(&x);
        result = QTest::qExec(&test, argc, argv);
    }
    return result;
}

#include "tst_play_widget_x11.moc"
