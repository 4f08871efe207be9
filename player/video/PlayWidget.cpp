// The embedded player window: the singleton, the pages, browser embedding and
// following, showing and moving, full screen. The facade's routing to the
// pages is in PlayWidgetRouting.cpp.

#include "PlayWidget.h"

#include "ColorSetWidget.h"
#include "LightWeightLog.h"
#include "NativeWindow.h"
#include "PlayWindowManage.h"
#include "PlaybackWidget.h"
#include "RealPlayWidget.h"
#include "VideoFrame.h"
#include "common/ProgramDir.h"
#include "common/Protocol.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>
#include <QWindow>

#include <xcb/xcb.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

QString Hex8(quint64 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

bool OnGuiThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// The window and the data input of the device library's threads: a call
// enters while the window is open and the window is closed for input (and
// then deleted) only once no call is inside.
struct InputGate
{
    std::mutex mutex;
    std::condition_variable idle;
    PlayWidget *open = nullptr;
    int inside = 0;
};

InputGate &Gate()
{
    static InputGate gate;
    return gate;
}

// The singleton, read and written on the GUI thread only.
PlayWidget *g_instance = nullptr;
std::atomic<int> g_followIntervalMs { PlayWidget::kDefaultFollowIntervalMs };
std::atomic<int> g_fullScreenCheckMs { PlayWidget::kDefaultFullScreenCheckMs };
QString g_configFolder;

// Runs `call` with the open window; `dropped` when there is none.
template<class Call> int WithOpenWindow(int dropped, Call call)
{
    InputGate &gate = Gate();
    PlayWidget *widget = nullptr;
    {
        std::lock_guard<std::mutex> lock(gate.mutex);
        widget = gate.open;
        if (!widget)
            return dropped;
        ++gate.inside;
    }
    const int result = call(widget);
    {
        std::lock_guard<std::mutex> lock(gate.mutex);
        if (--gate.inside == 0)
            gate.idle.notify_all();
    }
    return result;
}

} // namespace

// ---- the singleton ------------------------------------------------------------------------------

PlayWidget *PlayWidget::instance()
{
    if (!OnGuiThread()) {
        playerLog(
            "PlayWidget::instance", QStringLiteral("asked for off the GUI thread"), LightWeightLog::Warning);
        return nullptr;
    }
    if (!g_instance) {
        g_instance = new PlayWidget();
        std::lock_guard<std::mutex> lock(Gate().mutex);
        Gate().open = g_instance;
    }
    return g_instance;
}

PlayWidget *PlayWidget::existing()
{
    return OnGuiThread() ? g_instance : nullptr;
}

void PlayWidget::destroyInstance()
{
    if (!OnGuiThread() || !g_instance)
        return;
    PlayWidget *widget = g_instance;
    {
        // No new input starts; the input inside finishes first.
        InputGate &gate = Gate();
        std::unique_lock<std::mutex> lock(gate.mutex);
        gate.open = nullptr;
        gate.idle.wait(lock, [&gate] { return gate.inside == 0; });
    }
    g_instance = nullptr;
    delete widget;
}

PlayWidgetFacade *PlayWidget::facadeForCurrentThread()
{
    return OnGuiThread() ? static_cast<PlayWidgetFacade *>(instance()) : nullptr;
}

PlayWidgetFacade *PlayWidget::existingFacade()
{
    return existing();
}

int PlayWidget::inputRealPlay(int channel, const char *data, int length, int dataType)
{
    Q_UNUSED(dataType)
    return WithOpenWindow(
        -1, [&](PlayWidget *w) { return w->m_pRealPlay->InputData(channel, data, length); });
}

int PlayWidget::inputPlayback(int wnd, const char *data, int length)
{
    return WithOpenWindow(-1, [&](PlayWidget *w) { return w->m_pPlayback->InputData(wnd, data, length); });
}

int PlayWidget::inputColorSet(const char *data, int length)
{
    return WithOpenWindow(-1, [&](PlayWidget *w) { return w->m_pColorSet->InputData(data, length); });
}

void PlayWidget::setFollowInterval(int ms)
{
    g_followIntervalMs = ms > 0 ? ms : kDefaultFollowIntervalMs;
}

void PlayWidget::setFullScreenCheckDelay(int ms)
{
    g_fullScreenCheckMs = ms > 0 ? ms : kDefaultFullScreenCheckMs;
}

void PlayWidget::setConfigFolder(const QString &folder)
{
    g_configFolder = folder;
}

void PlayWidget::releaseInstance()
{
    if (this == g_instance)
        destroyInstance();
}

QObject *PlayWidget::signalSource()
{
    return this;
}

// ---- construction -------------------------------------------------------------------------------

PlayWidget::PlayWidget()
    : QWidget(nullptr, Qt::WindowFlags(kEmbeddedFlags))
    , m_nFollowIntervalMs(g_followIntervalMs)
    , m_nFullScreenCheckMs(g_fullScreenCheckMs)
    , m_strConfigFolder(g_configFolder.isEmpty() ? ProgramDir::folder() : g_configFolder)
{
    hide();
    // A widget made native (a video frame the play library draws into, the
    // zoom slider over it) does not drag its siblings along: every native
    // window costs the X server, and is announced to every client watching
    // the root window.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    // Windows 8 and later take the owner-window way; every other system,
    // X11 among them, re-parents through Qt.
    const int version = 0;
    m_nEmbedType = 0;
    playerLog("PlayWidget::PlayWidget",
        QStringLiteral("WinVersion=%1 EmbedType=%2").arg(version).arg(m_nEmbedType));

    m_pLayout = new QHBoxLayout(this);
    m_pLayout->setContentsMargins(0, 0, 0, 0);
    m_pLayout->setSpacing(0);
    m_pRealPlay = new CRealPlayWidget(this);
    m_pRealPlay->SetConfigFolder(m_strConfigFolder);
    m_pPlayback = new CPlaybackWidget(this);
    m_pColorSet = new CColorSetWidget(this);
    for (QWidget *page : { static_cast<QWidget *>(m_pRealPlay), static_cast<QWidget *>(m_pPlayback),
             static_cast<QWidget *>(m_pColorSet) }) {
        page->installEventFilter(this);
        page->hide();
        m_pLayout->addWidget(page);
    }

    LoadLocalInfo();
    m_nCurPageIndex = 0;

    connect(m_pPlayback, &CPlaybackWidget::curWndIndexSig, this, &PlayWidget::onCurWndIndexChange);
    connect(m_pRealPlay, &CRealPlayWidget::curWndIndexSig, this, &PlayWidget::onCurWndIndexChange);
    connect(m_pRealPlay, &CRealPlayWidget::changePTZELectPage, this, &PlayWidget::changePTZELectPage);
}

PlayWidget::~PlayWidget()
{
    StopFollowTimer();
    // Out of the browser's window before the native window goes away (this
    // also lets the desktop drop what it kept for the browser's window).
    if (internalWinId()) {
        hide();
        NativeWindow::desktop()->reparent(internalWinId(), 0);
    }
}

quint64 PlayWidget::OwnWnd()
{
    return winId();
}

void PlayWidget::onCurWndIndexChange(int nIndex)
{
    emit curWndIndexSig(m_nCurPageIndex, nIndex);
}

// ---- pages and settings -------------------------------------------------------------------------

int PlayWidget::GetCurPageIndex()
{
    return m_nCurPageIndex;
}

void PlayWidget::SetPageIndex(int page)
{
    m_nCurPageIndex = page;
    if (page < 0 || page > 2)
        return;
    playerLog("PlayWidget::SetPageIndex", QStringLiteral("m_nCurPageIndex = %1").arg(page));
    QWidget *pages[3] = { m_pRealPlay, m_pPlayback, m_pColorSet };
    for (int i = 0; i < 3; ++i) {
        if (i != page)
            pages[i]->hide();
    }
    pages[page]->show();
}

LocalInfo PlayWidget::LoadLocalInfo()
{
    playerLog("PlayWidget::LoadLocalInfo", QStringLiteral("LoadLocalInfo begin"));
    LocalSettings::LoadClientCfg(m_strConfigFolder, &m_localInfo);
    playerLog("PlayWidget::LoadLocalInfo", QStringLiteral("Load cfg finish"));
    LocalSettings::LoadToolVersion(m_strConfigFolder, &m_localInfo);
    playerLog("PlayWidget::LoadLocalInfo", QStringLiteral("LoadLocalInfo end"));
    return m_localInfo;
}

// ---- finding the browser's windows --------------------------------------------------------------

bool PlayWidget::IsRenderWindowClass(const QString &className, int browseType)
{
    switch (browseType) {
    case BrowserKind::ServerWindow:
        return className.contains(QLatin1String("Internet Explorer_Server"));
    case BrowserKind::RenderHost:
    case BrowserKind::RenderHost6:
    case BrowserKind::RenderHost9: {
        if (className.contains(QLatin1String("Chrome_RenderWidgetHostHWND")))
            return true;
        // X11: the browser's own top-level window hosts the page; the class
        // part of its WM_CLASS names the browser ("Chromium",
        // "Chromium-browser", "Google-chrome", "Microsoft-edge-beta", ...).
        const QString name = className.toLower();
        return name == QLatin1String("chromium") || name.startsWith(QLatin1String("chromium-"))
            || name.startsWith(QLatin1String("google-chrome"))
            || name.startsWith(QLatin1String("microsoft-edge"));
    }
    default:
        return false;
    }
}

quint64 PlayWidget::ErgodicAllChild(quint64 browserWnd, int browseType, int depth)
{
    if (depth > kMaxSearchDepth)
        return 0;
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    for (quint64 wnd = browserWnd; wnd != 0; wnd = desktop->nextSibling(wnd)) {
        const QString className = desktop->className(wnd).left(127);
        const QString title = desktop->windowTitle(wnd).left(127);
        playerLog("PlayWidget::ErgodicAllChild",
            QString(depth, QLatin1Char('-'))
                + QStringLiteral("class name:%1,class handle:%2 wndName:%3 BrowseType:%4\n")
                      .arg(className)
                      .arg(wnd)
                      .arg(title)
                      .arg(browseType));
        if (IsRenderWindowClass(className, browseType))
            return wnd;
        if (const quint64 child = desktop->firstChild(wnd)) {
            if (const quint64 found = ErgodicAllChild(child, browseType, depth + 1))
                return found;
        }
        // The start window's siblings are never searched.
        if (depth == 0)
            return 0;
    }
    return 0;
}

quint64 PlayWidget::OutermostAncestor(quint64 wnd)
{
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    if (!wnd)
        return 0;
    // A tree deeper than this is no real one.
    for (int i = 0; i < 1024; ++i) {
        const quint64 parent = desktop->parent(wnd);
        if (!parent)
            return wnd;
        wnd = parent;
    }
    return wnd;
}

// ---- embedding ----------------------------------------------------------------------------------

void PlayWidget::SetBrowserWnd(quint64 browserWnd, quint64 renderWnd, const QString &title, int browseType)
{
    m_hCurBrowseWnd = browserWnd;
    m_hCurBrowseClientWnd = renderWnd;
    m_strBrowserTitle = title;
    m_nBrowseType = browseType;
    m_bHasBrowseClient = renderWnd != 0;
    m_hEmbedRefused = 0;
    EmbedToBrowser(browserWnd);
    m_strWndName = NativeWindow::desktop()->windowTitle(browserWnd).left(256);
    StartFollowTimer();
}

bool PlayWidget::EmbedToBrowser(quint64 wnd)
{
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    if (!desktop->isWindow(wnd))
        return false;
    // The native window must exist before it can move.
    const quint64 own = winId();
    setProperty("_q_embedded_native_parent_handle", QVariant::fromValue<WId>(WId(wnd)));
    const bool embedded = desktop->reparent(own, wnd);
    if (embedded) {
        m_hEmbedRefused = 0;
    } else if (m_hEmbedRefused != wnd) {
        m_hEmbedRefused = wnd;
        playerLog("PlayWidget::EmbedToBrowser", QStringLiteral("can't embed into %1").arg(Hex8(wnd)),
            LightWeightLog::Warning);
    }
    return embedded;
}

QPoint PlayWidget::GetBrowserClientRect()
{
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    if (!m_hCurBrowseWnd || !desktop->isWindow(m_hCurBrowseWnd))
        return QPoint(0, 0);
    if (!m_bHasBrowseClient)
        return QPoint(0, 0);
    bool renderOk = false;
    bool browserOk = false;
    const QPoint render = desktop->mapToScreen(m_hCurBrowseClientWnd, QPoint(0, 0), &renderOk);
    const QPoint browser = desktop->mapToScreen(m_hCurBrowseWnd, QPoint(0, 0), &browserOk);
    if (!renderOk || !browserOk)
        return QPoint(0, 0);
    return render - browser;
}

bool PlayWidget::IsPosValid(int left, int top, int width, int height)
{
    return width > 0 && height > 0 && left >= 0 && top >= 0;
}

int PlayWidget::MovePlayWidget(quint64 ownWnd, int left, int top, int width, int height)
{
    if (!m_bPosValid || !m_bShowPlugin) {
        playerLog("PlayWidget::MovePlayWidget",
            QStringLiteral("wnd can't move,reason:ShowPlugin:%1,PosValid:%2")
                .arg(int(m_bShowPlugin))
                .arg(int(m_bPosValid)));
        return 0;
    }
    playerLog("PlayWidget::MovePlayWidget", QStringLiteral("move begin"));
    const QPoint origin = GetBrowserClientRect();
    playerLog("PlayWidget::MovePlayWidget",
        QStringLiteral("nLeft:%1,nTop:%2,Width:%3,Height:%4")
            .arg(origin.x() + left)
            .arg(origin.y() + top)
            .arg(width)
            .arg(height));
    QWidget *widget = QWidget::find(WId(ownWnd));
    if (!widget || width <= 0 || height <= 0) {
        playerLog("PlayWidget::MovePlayWidget",
            QStringLiteral("wnd can't move,reason:window %1 %2x%3").arg(Hex8(ownWnd)).arg(width).arg(height),
            LightWeightLog::Warning);
        return 0;
    }
    // The inside of the window, never its frame: inside another program's
    // window Qt would take that window's place as a frame and shift us by it.
    widget->setGeometry(origin.x() + left, origin.y() + top, width, height);
    widget->update();
    update();
    m_nPageLeft = left;
    m_nPageTop = top;
    m_nPageWidth = width;
    m_nPageHeight = height;
    playerLog("PlayWidget::MovePlayWidget", QStringLiteral("move end"));
    return 0;
}

void PlayWidget::MoveToPagePosition()
{
    MovePlayWidget(OwnWnd(), m_nPageLeft, m_nPageTop, m_nPageWidth, m_nPageHeight);
}

bool PlayWidget::ReqShowPlugin(bool show)
{
    if (!show) {
        if (!isVisible())
            return false;
        hide();
        return true;
    }
    if (isVisible())
        return false;
    if (m_bShowPlugin && (m_bBrowseClientVisible || !m_bHasBrowseClient) && m_bPosValid) {
        QWidget::show();
        return true;
    }
    playerLog("PlayWidget::ReqShowPlugin",
        QStringLiteral("can't show window reason:ShowPlugin:%1,BrowseClientVisible:%2,PosValid:%3")
            .arg(int(m_bShowPlugin))
            .arg(int(m_bBrowseClientVisible))
            .arg(int(m_bPosValid)));
    return false;
}

void PlayWidget::onWidgetStatuChange(int type, int left, int top, int width, int height)
{
    bool valid = true;
    if (!OwnWnd()) {
        playerLog("PlayWidget::onWidgetStatuChange", QStringLiteral("m_playWidget is invalid window"));
        valid = false;
    }
    if (!m_hCurBrowseWnd || !NativeWindow::desktop()->isWindow(m_hCurBrowseWnd)) {
        playerLog("PlayWidget::onWidgetStatuChange", QStringLiteral("m_hCurBrowseWnd is invalid window"));
        valid = false;
    }
    if (!valid)
        return;

    switch (type) {
    case WidgetStatusSub::Hide:
        playerLog("PlayWidget::onWidgetStatuChange", QStringLiteral("WebCtrlHide call"));
        m_bShowPlugin = false;
        if (isVisible())
            hide();
        break;
    case WidgetStatusSub::Show:
        playerLog("PlayWidget::onWidgetStatuChange", QStringLiteral("WebCtrlShow call"));
        m_bShowPlugin = true;
        m_bPosValid = IsPosValid(left, top, width, height);
        ReqShowPlugin(true);
        MovePlayWidget(OwnWnd(), left, top, width, height);
        break;
    case WidgetStatusSub::Move:
        playerLog("PlayWidget::onWidgetStatuChange", QStringLiteral("WebCtrlMove call"));
        m_bPosValid = IsPosValid(left, top, width, height);
        ReqShowPlugin(m_bPosValid);
        MovePlayWidget(OwnWnd(), left, top, width, height);
        break;
    default:
        break;
    }
}

// ---- following the browser ----------------------------------------------------------------------

void PlayWidget::StartFollowTimer()
{
    if (m_nFollowTimer == 0)
        m_nFollowTimer = startTimer(m_nFollowIntervalMs, Qt::CoarseTimer);
}

void PlayWidget::StopFollowTimer()
{
    if (m_nFollowTimer != 0) {
        killTimer(m_nFollowTimer);
        m_nFollowTimer = 0;
    }
}

void PlayWidget::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_nFollowTimer) {
        FollowBrowser();
        return;
    }
    QWidget::timerEvent(event);
}

void PlayWidget::FollowBrowser()
{
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    const quint64 own = OwnWnd();

    if (!m_bHasBrowseClient) {
        // Embedded straight into the browser window: back into it whenever
        // something took us out.
        const quint64 current = OutermostAncestor(own);
        if (current != m_hCurBrowseWnd && m_hEmbedRefused != m_hCurBrowseWnd
            && desktop->isWindow(m_hCurBrowseWnd)) {
            EmbedToBrowser(m_hCurBrowseWnd);
            MoveToPagePosition();
        }
        return;
    }

    // The browser window first known may not carry the page's title (a
    // window named on the command line): take the window in front once it does.
    if (!m_strWndName.contains(m_strBrowserTitle)) {
        playerLog("PlayWidget::timerEvent", QStringLiteral("m_strWndName.indexOf(m_strBrowserTitle)"));
        const quint64 foreground = desktop->foregroundWindow();
        const QString foregroundTitle = foreground ? desktop->windowTitle(foreground).left(256) : QString();
        if (foreground && foregroundTitle.contains(m_strBrowserTitle)) {
            m_hCurBrowseWnd = foreground;
            m_hCurBrowseClientWnd = ErgodicAllChild(foreground, m_nBrowseType, 0);
            EmbedToBrowser(m_hCurBrowseWnd);
            m_bHasBrowseClient = m_hCurBrowseClientWnd != 0;
            m_strWndName = foregroundTitle;
            if (!m_bHasBrowseClient)
                return;
        }
    }

    // The browser moved the page into another window (a tab dragged out or
    // in): follow it there.
    const quint64 top
        = desktop->isWindow(m_hCurBrowseClientWnd) ? OutermostAncestor(m_hCurBrowseClientWnd) : 0;
    const quint64 current = OutermostAncestor(own);
    if (top != 0 && top != current && top != m_hEmbedRefused) {
        playerLog("PlayWidget::timerEvent",
            QStringLiteral(
                "m_playWidget handle:%1\tm_hCurBrowseClientWnd:%2\tbefore parent handle:%3\tnow parent "
                "handle:%4")
                .arg(Hex8(own), Hex8(m_hCurBrowseClientWnd), Hex8(m_hCurBrowseWnd), Hex8(top)));
        m_hCurBrowseWnd = top;
        EmbedToBrowser(top);
        MoveToPagePosition();
    }

    // Another tab of the browser (another title) hides the player; coming
    // back shows it where the page had it.
    const bool visible = desktop->isVisible(m_hCurBrowseClientWnd)
        && desktop->windowTitle(m_hCurBrowseWnd).left(1024).contains(m_strBrowserTitle);
    if (visible != m_bBrowseClientVisible) {
        m_bBrowseClientVisible = visible;
        ReqShowPlugin(visible);
        if (visible)
            MoveToPagePosition();
    }
}

// ---- the browser tearing down our window --------------------------------------------------------

bool PlayWidget::nativeEvent(const QByteArray &eventType, void *message, long *result)
{
    // X11: the server destroys our window together with the browser window
    // it was in. The widget stays and gets a new native window.
    if (eventType == "xcb_generic_event_t" && message) {
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY) {
            const auto *destroyed = reinterpret_cast<const xcb_destroy_notify_event_t *>(event);
            if (internalWinId() && destroyed->window == xcb_window_t(internalWinId())) {
                playerLog("PlayWidget::nativeEvent",
                    QStringLiteral("recive WM_DESTROY %1").arg(Hex8(destroyed->window)));
                QMetaObject::invokeMethod(this, &PlayWidget::OnOwnWindowDestroyed, Qt::QueuedConnection);
                if (result)
                    *result = 0;
                return true;
            }
        }
    }
    return QWidget::nativeEvent(eventType, message, result);
}

void PlayWidget::OnOwnWindowDestroyed()
{
    const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
    quint64 ancestor = 0;
    if (m_bHasBrowseClient && desktop->isWindow(m_hCurBrowseClientWnd))
        ancestor = OutermostAncestor(m_hCurBrowseClientWnd);
    // A new native window, made the way Qt makes it for a window that has none.
    const bool visible = isVisible();
    hide();
    // Qt lets go of the native windows of this window's native children with
    // it, not of those inside alien widgets: the grids and the video frames
    // drawn into go first, or their window objects would be deleted under
    // them. Making this window anew makes theirs too.
    for (CPlayWindowManage *grid : findChildren<CPlayWindowManage *>())
        grid->DropNativeWindows();
    for (CVideoFrame *frame : findChildren<CVideoFrame *>())
        frame->DropNativeWindow();
    destroy(true, true);
    create();
    m_hCurBrowseWnd = ancestor;
    if (ancestor) {
        EmbedToBrowser(ancestor);
        if (visible)
            QWidget::show();
    }
    update();
}

// ---- full screen --------------------------------------------------------------------------------

void PlayWidget::ApplyWindowFlags(int flags)
{
    // Told to the native window as it is: QWidget::setWindowFlags would make
    // the window anew, and on X11 the video windows inside it would not come
    // back with it.
    overrideWindowFlags(Qt::WindowFlags(flags));
    if (QWindow *window = windowHandle())
        window->setFlags(Qt::WindowFlags(flags));
}

void PlayWidget::onFullScreen()
{
    playerLog("PlayWidget::onFullScreen", QStringLiteral("fullscreen begin"));
    StopFollowTimer();
    if (m_nEmbedType == 0) {
        NativeWindow::desktop()->reparent(OwnWnd(), 0);
        ApplyWindowFlags(kFullScreenFlags);
        activateWindow();
        raise();
        const std::shared_ptr<NativeWindow::Desktop> desktop = NativeWindow::desktop();
        if (desktop->foregroundWindow() != OwnWnd())
            desktop->raise(OwnWnd());
    }
    playerLog("PlayWidget::onFullScreen", QStringLiteral("showFullScreen begin"));
    showFullScreen();
    m_pRealPlay->EnterFullScreen();
    playerLog("PlayWidget::onFullScreen", QStringLiteral("showFullScreen end"));
    playerLog("PlayWidget::onFullScreen", QStringLiteral("fullscreen end"));
    QTimer::singleShot(m_nFullScreenCheckMs, this, &PlayWidget::CheckFullScreen);
}

void PlayWidget::CheckFullScreen()
{
    if (isFullScreen())
        return;
    // The switch did not happen: back to the embedded window.
    playerLog("PlayWidget::onFullScreen::check", QStringLiteral("fullscreen unsuccessful"));
    if (m_nEmbedType == 0) {
        ApplyWindowFlags(kRestoredFlags);
        EmbedToBrowser(m_hCurBrowseWnd);
        ReqShowPlugin(true);
        MoveToPagePosition();
    }
    StartFollowTimer();
    m_pRealPlay->ExitFullScreen();
}

void PlayWidget::onExitFullscreen()
{
    if (!isFullScreen())
        return;
    playerLog("PlayWidget::onExitFullscreen", QStringLiteral("exit fullscreen"));
    if (m_nEmbedType == 0)
        ApplyWindowFlags(kRestoredFlags);
    showNormal();
    EmbedToBrowser(m_hCurBrowseWnd);
    if (m_nEmbedType == 0) {
        ReqShowPlugin(true);
        MoveToPagePosition();
    }
    m_pRealPlay->ExitFullScreen();
    StartFollowTimer();
}

void PlayWidget::keyReleaseEvent(QKeyEvent *event)
{
    playerLog("PlayWidget::keyReleaseEvent", QStringLiteral("keyReleaseEvent"));
    if (event->key() == Qt::Key_Escape) {
        playerLog("PlayWidget::keyReleaseEvent", QStringLiteral("keyReleaseEvent release"));
        onExitFullscreen();
        return;
    }
    QWidget::keyReleaseEvent(event);
}
