#pragma once

// Where a port's pictures meet the GUI. The port's thread leaves the latest
// image in a FrameSink and posts a queued update; the RenderSurface, a child
// widget the library puts into the caller's widget, paints it on the GUI
// thread and then calls the port's draw callback with its QPainter.

#include "DirectDraw.h"
#include "lumarel/lumarel.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class RenderSurface;

class FrameSink : public std::enable_shared_from_this<FrameSink>
{
public:
    explicit FrameSink(int port)
        : m_port(port)
    { }

    // Port thread: a new picture to show; posts one update at a time.
    void setImage(const QImage &image, bool original);
    // Port thread: a picture to show at `due`, after those queued before it.
    void queueImage(const QImage &image, bool original, std::chrono::steady_clock::time_point due);
    // Port thread: a picture shown before, again (new size, region or
    // colours, a step back); not counted as a new one.
    void redrawImage(const QImage &image, bool original);
    void clearImage();
    bool hasImage() const;
    // The size the port scales to (the surface's size, 0 without surface).
    int targetWidth() const { return m_targetWidth; }
    int targetHeight() const { return m_targetHeight; }

    void setDrawCallback(TRV_PLAY_DrawCallBack callback, void *user);
    bool hasDrawCallback() const;
    // Asked by the surface when its size changed, so the port redraws.
    void setRedrawRequest(std::function<void()> request);

    // Any thread: puts a surface into the widget named by `window` (looked up
    // on the GUI thread), or removes it. attach() on the GUI thread returns
    // false when no widget has that id.
    bool attach(TRV_PLAY_WND window);
    void detach();
    bool hasSurface() const { return m_hasSurface; }

    int64_t framesDrawn() const { return m_framesDrawn; }
    int64_t drawCallbacks() const { return m_drawCallbacks; }
    int64_t framesQueued() const { return m_framesQueued; }
    int64_t framesStraight() const { return m_framesStraight; }
    int64_t framesShared() const { return m_framesShared; }
    // Whether the window took its last picture straight into its X window:
    // the next ones are best scaled into shared memory.
    bool drawsStraight() const { return m_drawsStraight; }

private:
    friend class RenderSurface;
    // A picture waiting for its time.
    struct Queued
    {
        QImage image;
        bool original = false;
        std::chrono::steady_clock::time_point due;
    };
    bool attachOnGuiThread(TRV_PLAY_WND window);
    void detachOnGuiThread();
    void postUpdate();
    // GUI thread: shows the pictures of every sink that posted an update.
    static void runPendingUpdates();
    void surfaceResized(int width, int height);
    // GUI thread: the image to paint and whether it is new since the last paint.
    QImage takeImage(bool *isNew, bool *original);
    // Moves the first queued picture into m_image if it is due (m_mutex held).
    void takeDue(std::chrono::steady_clock::time_point now);
    // Puts a picture at the end of the queue (m_mutex held).
    void enqueue(Queued picture);
    // Any thread, without the lock: whether queued pictures wait, and
    // whether one of them is due at `now`.
    bool hasQueued(std::chrono::steady_clock::time_point now, bool *due) const;
    // Notes the first queued picture's time for hasQueued() (m_mutex held).
    void noteFrontDue();
    void afterPaint(QPainter *painter, bool drewNewFrame);

    const int m_port;
    mutable std::mutex m_mutex;
    QImage m_image;
    std::deque<Queued> m_queue;
    static constexpr int64_t kNothingQueued = INT64_MAX;
    std::atomic<int64_t> m_frontDue { kNothingQueued }; // steady clock of m_queue's first
    uint64_t m_serial = 0;
    uint64_t m_paintedSerial = 0;
    bool m_original = false;
    TRV_PLAY_DrawCallBack m_callback = nullptr;
    void *m_user = nullptr;
    std::function<void()> m_redraw;
    std::atomic<int> m_targetWidth { 0 };
    std::atomic<int> m_targetHeight { 0 };
    std::atomic<bool> m_updatePosted { false };
    std::atomic<bool> m_hasSurface { false };
    std::atomic<int64_t> m_framesDrawn { 0 };
    std::atomic<int64_t> m_drawCallbacks { 0 };
    std::atomic<int64_t> m_framesQueued { 0 };
    std::atomic<int64_t> m_framesStraight { 0 }; // put straight into the X window
    std::atomic<int64_t> m_framesShared { 0 }; // of those, read by the X server where the port scaled them
    std::atomic<bool> m_drawsStraight { false };
    QPointer<RenderSurface> m_surface; // GUI thread only
};

class RenderSurface : public QWidget
{
public:
    RenderSurface(QWidget *target, std::shared_ptr<FrameSink> sink);
    ~RenderSurface() override;

    // GUI thread: a new picture (or none) to show.
    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setOpaque(bool opaque);

    std::shared_ptr<FrameSink> m_sink;
    DirectDraw m_direct;
    // A new picture taken but not drawn straight: the next paint counts it.
    bool m_unpaintedNew = false;
};

bool onGuiThread();
