#pragma once

// Puts a window's pictures straight into its X window through shared
// memory: no painter, no copy into Qt's backing store, no flush of it and
// no picture sent down the socket. Only where nothing else is drawn over
// the picture and the X server shares memory with us; everywhere else
// (another platform, a remote display, a draw callback, children of the
// target such as a selection band) the caller paints through Qt.

#include <QImage>

#include <cstddef>
#include <cstdint>

class QWidget;
struct xcb_connection_t;

class DirectDraw
{
public:
    DirectDraw() = default;
    ~DirectDraw();
    DirectDraw(const DirectDraw &) = delete;
    DirectDraw &operator=(const DirectDraw &) = delete;

    // Whether pictures may go straight to the X server at all (they may
    // unless a benchmark compares without).
    static void setAllowed(bool allowed);

    // GUI thread: whether pictures of `surface` can go straight to the X
    // server now (the picture itself aside).
    bool possible(const QWidget *surface);
    // GUI thread, after possible(): puts `image` into the X window of
    // `surface`'s target, which `surface` fills. False when it cannot: the
    // caller paints it. `*shared`: the X server read the image where it
    // lies (an image of SharedImages), without a copy.
    bool put(const QWidget *surface, const QImage &image, bool *shared);

private:
    // A shared-memory segment the X server has attached.
    struct Segment
    {
        uint32_t id = 0; // the server's name for it
        int shmId = -1;
        uint8_t *memory = nullptr;
        size_t size = 0;
    };
    bool prepare(Segment *segment, size_t bytes);
    void release(Segment *segment);

    xcb_connection_t *m_connection = nullptr;
    // Two, used in turn: the server may still be reading the last picture.
    Segment m_segments[2];
    int m_next = 0;
    // The last two shared images put, for the same reason.
    QImage m_held[2];
    int m_nextHeld = 0;
    bool m_failed = false; // the server refused to share memory: Qt paints
};
