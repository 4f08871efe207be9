#include "RenderSurface.h"

#include "DirectDraw.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QThread>
#include <QTimer>

namespace {

// Windows are painted at most this often while pictures keep coming: more
// paints than a screen shows cost the GUI thread without showing anything.
// It is well below the time between two pictures of a stream, so every
// picture is still painted.
constexpr int kPaintIntervalMs = 10;

// Pictures a window keeps queued for their time at most.
constexpr size_t kMaxQueued = 16;

// Pictures that became ready since the GUI thread last looked. One queued
// call, or the next tick of the paint timer, takes all of them, so the GUI
// thread wakes once for many ports and their windows are painted together.
struct PendingUpdates
{
    std::mutex mutex;
    std::vector<std::shared_ptr<FrameSink>> sinks;
    // The application that has a call queued or its paint timer running;
    // while it has, new pictures need not post anything.
    QCoreApplication *scheduledOn = nullptr;
};

PendingUpdates &pendingUpdates()
{
    static PendingUpdates *pending = new PendingUpdates; // used by port threads until the process ends
    return *pending;
}

// GUI thread: the timer of runPendingUpdates().
QPointer<QTimer> &paintTimer()
{
    static QPointer<QTimer> timer;
    return timer;
}

} // namespace

bool onGuiThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void FrameSink::setImage(const QImage &image, bool original)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.empty()) {
            m_image = image;
            m_original = original;
            ++m_serial;
        } else {
            // A window that stops taking bursts (it grew) shows the pictures
            // still waiting for their time first, in order, without waiting.
            const auto now = std::chrono::steady_clock::now();
            for (Queued &q : m_queue)
                q.due = std::min(q.due, now);
            enqueue(Queued { image, original, now });
        }
        noteFrontDue();
    }
    postUpdate();
}

void FrameSink::redrawImage(const QImage &image, bool original)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_queue.empty()) {
            // The picture redrawn is the newest one handed over, still
            // waiting for its time: it takes that one's place.
            m_queue.back().image = image;
            m_queue.back().original = original;
            return;
        }
        m_image = image;
        m_original = original;
        ++m_serial;
    }
    postUpdate();
}

void FrameSink::queueImage(const QImage &image, bool original, std::chrono::steady_clock::time_point due)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        enqueue(Queued { image, original, due });
        noteFrontDue();
    }
    ++m_framesQueued;
    postUpdate();
}

void FrameSink::enqueue(Queued picture)
{
    // A GUI thread that falls behind loses the oldest pictures, not the newest.
    while (m_queue.size() >= kMaxQueued) {
        m_image = std::move(m_queue.front().image);
        m_original = m_queue.front().original;
        m_queue.pop_front();
        ++m_serial;
    }
    m_queue.push_back(std::move(picture));
}

void FrameSink::takeDue(std::chrono::steady_clock::time_point now)
{
    // One picture per paint: one the GUI thread painted late is still
    // painted, and the next one follows on the next tick.
    if (!m_queue.empty() && m_queue.front().due <= now && m_serial == m_paintedSerial) {
        m_image = std::move(m_queue.front().image);
        m_original = m_queue.front().original;
        m_queue.pop_front();
        ++m_serial;
        noteFrontDue();
    }
}

void FrameSink::noteFrontDue()
{
    m_frontDue = m_queue.empty() ? kNothingQueued : m_queue.front().due.time_since_epoch().count();
}

bool FrameSink::hasQueued(std::chrono::steady_clock::time_point now, bool *due) const
{
    const int64_t front = m_frontDue;
    *due = front <= now.time_since_epoch().count();
    return front != kNothingQueued;
}

void FrameSink::clearImage()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        noteFrontDue();
        m_image = QImage();
        ++m_serial;
    }
    postUpdate();
}

bool FrameSink::hasImage() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_image.isNull() || !m_queue.empty();
}

void FrameSink::setDrawCallback(TRV_PLAY_DrawCallBack callback, void *user)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callback = callback;
    m_user = user;
}

bool FrameSink::hasDrawCallback() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_callback != nullptr;
}

void FrameSink::setRedrawRequest(std::function<void()> request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_redraw = std::move(request);
}

void FrameSink::postUpdate()
{
    if (!m_hasSurface || m_updatePosted.exchange(true))
        return;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        m_updatePosted = false;
        return;
    }
    // Queued into the GUI thread; the port's thread never waits for it.
    PendingUpdates &pending = pendingUpdates();
    {
        std::lock_guard<std::mutex> lock(pending.mutex);
        pending.sinks.push_back(shared_from_this());
        if (pending.scheduledOn == app)
            return;
        pending.scheduledOn = app;
    }
    QMetaObject::invokeMethod(app, &FrameSink::runPendingUpdates, Qt::QueuedConnection);
}

void FrameSink::runPendingUpdates()
{
    // GUI thread only. Kept from one call to the next, with the list the
    // ports fill, so that neither is made anew for every picture.
    static std::vector<std::shared_ptr<FrameSink>> sinks;
    static std::vector<std::shared_ptr<FrameSink>> waiting;
    sinks.clear();
    waiting.clear();
    {
        PendingUpdates &pending = pendingUpdates();
        std::lock_guard<std::mutex> lock(pending.mutex);
        if (pending.sinks.empty()) {
            // A whole interval without a picture: the next one posts again
            // and is painted at once.
            pending.scheduledOn = nullptr;
            if (paintTimer())
                paintTimer()->stop();
            return;
        }
        sinks.swap(pending.sinks);
    }
    const auto now = std::chrono::steady_clock::now();
    for (const std::shared_ptr<FrameSink> &sink : sinks) {
        // Queued pictures not due yet: looked at again on the next tick;
        // the window is painted only when one is due.
        bool due = false;
        bool queued = sink->hasQueued(now, &due);
        if (!queued || !sink->m_surface) {
            sink->m_updatePosted = false;
            // A picture queued meanwhile, whose port found an update still
            // posted, is looked at on the next tick all the same.
            if (sink->m_surface && sink->hasQueued(now, &due) && !sink->m_updatePosted.exchange(true))
                queued = true;
        }
        if (queued && sink->m_surface)
            waiting.push_back(sink);
        if (sink->m_surface && (due || !queued))
            sink->m_surface->refresh();
    }
    sinks.clear(); // the sinks are let go of here, not at the next call
    if (!waiting.empty()) {
        PendingUpdates &pending = pendingUpdates();
        std::lock_guard<std::mutex> lock(pending.mutex);
        pending.sinks.insert(pending.sinks.end(), waiting.begin(), waiting.end());
        waiting.clear();
    }
    // Pictures arriving from now on wait for the timer, which ticks until
    // an interval passes without one.
    if (!paintTimer()) {
        paintTimer() = new QTimer(QCoreApplication::instance());
        paintTimer()->setTimerType(Qt::PreciseTimer);
        paintTimer()->setInterval(kPaintIntervalMs);
        QObject::connect(paintTimer(), &QTimer::timeout, &FrameSink::runPendingUpdates);
    }
    if (!paintTimer()->isActive())
        paintTimer()->start();
}

bool FrameSink::attach(TRV_PLAY_WND window)
{
    if (onGuiThread())
        return attachOnGuiThread(window);
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return false;
    std::shared_ptr<FrameSink> self = shared_from_this();
    QMetaObject::invokeMethod(
        app, [self, window] { self->attachOnGuiThread(window); }, Qt::QueuedConnection);
    return true;
}

void FrameSink::detach()
{
    m_hasSurface = false;
    if (onGuiThread()) {
        detachOnGuiThread();
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    std::shared_ptr<FrameSink> self = shared_from_this();
    QMetaObject::invokeMethod(
        app, [self] { self->detachOnGuiThread(); }, Qt::QueuedConnection);
}

bool FrameSink::attachOnGuiThread(TRV_PLAY_WND window)
{
    QWidget *target = QWidget::find(WId(window));
    if (!target)
        return false;
    if (m_surface && m_surface->parentWidget() == target) {
        m_hasSurface = true;
        return true;
    }
    delete m_surface.data();
    m_surface = new RenderSurface(target, shared_from_this());
    m_hasSurface = true;
    return true;
}

void FrameSink::detachOnGuiThread()
{
    // A Play after a queued Stop may have attached again in between.
    if (m_hasSurface)
        return;
    delete m_surface.data();
    m_surface = nullptr;
    m_targetWidth = 0;
    m_targetHeight = 0;
}

void FrameSink::surfaceResized(int width, int height)
{
    m_targetWidth = width;
    m_targetHeight = height;
    std::function<void()> redraw;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        redraw = m_redraw;
    }
    if (redraw)
        redraw();
}

QImage FrameSink::takeImage(bool *isNew, bool *original)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    takeDue(std::chrono::steady_clock::now());
    *isNew = m_serial != m_paintedSerial && !m_image.isNull();
    m_paintedSerial = m_serial;
    *original = m_original;
    return m_image;
}

void FrameSink::afterPaint(QPainter *painter, bool drewNewFrame)
{
    TRV_PLAY_DrawCallBack callback;
    void *user;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_callback;
        user = m_user;
    }
    if (drewNewFrame)
        ++m_framesDrawn;
    if (callback && painter) {
        painter->save();
        callback(0, painter, user);
        painter->restore();
        ++m_drawCallbacks;
    }
}

RenderSurface::RenderSurface(QWidget *target, std::shared_ptr<FrameSink> sink)
    : QWidget(target)
    , m_sink(std::move(sink))
{
    setObjectName(QStringLiteral("LumarelRenderSurface"));
    // The target keeps its mouse handling and whatever it paints below.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(target->rect());
    target->installEventFilter(this);
    lower(); // under the target's other children (selection rubber band, slider)
    show();
    m_sink->surfaceResized(width(), height());
}

RenderSurface::~RenderSurface()
{
    if (parentWidget())
        parentWidget()->removeEventFilter(this);
}

bool RenderSurface::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void RenderSurface::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_sink->surfaceResized(width(), height());
}

void RenderSurface::refresh()
{
    setOpaque(m_sink->hasImage());
    // Without a draw callback the picture can go straight to the X server;
    // what cannot is painted through Qt. (A picture of the size before a
    // resize, or at its own size, is painted through Qt as well, but the
    // window still takes the next ones straight.)
    const bool straight = !m_sink->hasDrawCallback() && m_direct.possible(this);
    m_sink->m_drawsStraight = straight;
    if (straight && !m_unpaintedNew) {
        bool isNew = false;
        bool original = false;
        const QImage image = m_sink->takeImage(&isNew, &original);
        bool shared = false;
        if (!image.isNull() && !original && m_direct.put(this, image, &shared)) {
            ++m_sink->m_framesStraight;
            if (shared)
                ++m_sink->m_framesShared;
            m_sink->afterPaint(nullptr, isNew);
            return;
        }
        m_unpaintedNew = isNew;
    }
    update();
}

void RenderSurface::setOpaque(bool opaque)
{
    // With a picture the surface covers all of its rectangle, so the widgets
    // below it are not painted again for every picture; without one the
    // target shows through.
    if (testAttribute(Qt::WA_OpaquePaintEvent) != opaque)
        setAttribute(Qt::WA_OpaquePaintEvent, opaque);
}

void RenderSurface::paintEvent(QPaintEvent *)
{
    bool isNew = false;
    bool original = false;
    const QImage image = m_sink->takeImage(&isNew, &original);
    isNew = isNew || m_unpaintedNew;
    m_unpaintedNew = false;
    if (image.isNull()) {
        // Nothing decoded yet, or the picture was taken away since the
        // update was asked for: the target shows through.
        if (testAttribute(Qt::WA_OpaquePaintEvent)) {
            setOpaque(false);
            update();
        }
        return;
    }
    QPainter painter(this);
    if (original) {
        // Pixels 1:1, centred, on black.
        painter.fillRect(rect(), Qt::black);
        const QPoint at((width() - image.width()) / 2, (height() - image.height()) / 2);
        painter.drawImage(at, image);
    } else if (image.size() == size()) {
        painter.drawImage(QPoint(0, 0), image);
    } else {
        // The window changed size since the picture was scaled; the port
        // scales the next one to the new size.
        painter.drawImage(rect(), image);
    }
    m_sink->afterPaint(&painter, isNew);
}
