#include "DirectDraw.h"

#include "SharedImages.h"

#include <QWidget>
#include <QX11Info>

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unordered_map>

namespace {

// One graphics context for every window of the display's default depth,
// made on first use on the GUI thread's connection.
xcb_gcontext_t graphicsContext(xcb_connection_t *connection)
{
    static xcb_connection_t *madeOn = nullptr;
    static xcb_gcontext_t gc = 0;
    if (madeOn != connection) {
        gc = xcb_generate_id(connection);
        const uint32_t noExposures = 0;
        xcb_create_gc(
            connection, gc, xcb_window_t(QX11Info::appRootWindow()), XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
        madeOn = connection;
    }
    return gc;
}

// Whether the display's windows are 24 bits deep with 32 bits a pixel, as
// the pictures are, and the server shares memory.
bool suitableDisplay(xcb_connection_t *connection)
{
    static xcb_connection_t *checkedOn = nullptr;
    static bool suitable = false;
    if (checkedOn == connection)
        return suitable;
    checkedOn = connection;
    suitable = false;
    const xcb_setup_t *setup = xcb_get_setup(connection);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; screens.rem && i < QX11Info::appScreen(); ++i)
        xcb_screen_next(&screens);
    if (!screens.rem || screens.data->root_depth != 24
        || setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool rgb32 = false;
    for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
        if (f.data->depth == 24)
            rgb32 = f.data->bits_per_pixel == 32;
    const xcb_query_extension_reply_t *shm = xcb_get_extension_data(connection, &xcb_shm_id);
    suitable = rgb32 && shm && shm->present;
    return suitable;
}

// Whether the target shows anything besides the surface (children of its
// own, such as a selection band or a slider, are painted over the picture).
bool targetShowsOthers(const QWidget *surface, const QWidget *target)
{
    for (const QObject *child : target->children()) {
        const auto *widget = qobject_cast<const QWidget *>(child);
        if (widget && widget != surface && widget->isVisible())
            return true;
    }
    return false;
}

std::atomic<bool> &allowed()
{
    static std::atomic<bool> on { true };
    return on;
}

// The segments of shared images the X server has attached, by their name
// in SharedImages (0: it refused). GUI thread only.
struct Attached
{
    xcb_connection_t *connection = nullptr;
    std::unordered_map<uint64_t, uint32_t> segments;
};

Attached &attached()
{
    static Attached a;
    return a;
}

// The server's name for the segment of `place`, attached on first use; 0
// when the server does not take it.
uint32_t attachedSegment(xcb_connection_t *connection, const SharedImages::Place &place)
{
    Attached &a = attached();
    if (a.connection != connection) {
        a.segments.clear();
        a.connection = connection;
    }
    // Segments let go of since: the server lets go of them too.
    for (uint64_t released : SharedImages::takeReleased()) {
        const auto at = a.segments.find(released);
        if (at == a.segments.end())
            continue;
        if (at->second)
            xcb_shm_detach(connection, at->second);
        a.segments.erase(at);
    }
    const auto at = a.segments.find(place.segment);
    if (at != a.segments.end())
        return at->second;
    uint32_t id = xcb_generate_id(connection);
    xcb_generic_error_t *error
        = xcb_request_check(connection, xcb_shm_attach_checked(connection, id, uint32_t(place.shmId), 1));
    if (error) {
        std::free(error);
        id = 0;
    }
    a.segments[place.segment] = id;
    return id;
}

} // namespace

void DirectDraw::setAllowed(bool on)
{
    allowed() = on;
}

DirectDraw::~DirectDraw()
{
    for (Segment &segment : m_segments)
        release(&segment);
}

bool DirectDraw::possible(const QWidget *surface)
{
    // Looked up by name on every call: asked once.
    static const bool x11 = QX11Info::isPlatformX11();
    static xcb_connection_t *const connection = x11 ? QX11Info::connection() : nullptr;
    if (m_failed || !allowed() || !connection || !suitableDisplay(connection))
        return false;
    const QWidget *target = surface->parentWidget();
    if (!target || !surface->isVisible() || surface->geometry() != target->rect() || !target->internalWinId()
        || targetShowsOthers(surface, target))
        return false;
    if (connection != m_connection) {
        for (Segment &segment : m_segments)
            release(&segment);
        m_connection = connection;
    }
    return true;
}

bool DirectDraw::put(const QWidget *surface, const QImage &image, bool *shared)
{
    *shared = false;
    xcb_connection_t *connection = m_connection;
    const WId window = surface->parentWidget() ? surface->parentWidget()->internalWinId() : 0;
    if (!connection || !window || image.size() != surface->size() || image.format() != QImage::Format_RGB32
        || image.bytesPerLine() % 4 != 0)
        return false;
    SharedImages::Place place;
    if (SharedImages::find(image.constBits(), &place)) {
        if (const uint32_t attachedId = attachedSegment(connection, place)) {
            // Straight from where the port scaled it.
            xcb_shm_put_image(connection, xcb_drawable_t(window), graphicsContext(connection),
                uint16_t(image.bytesPerLine() / 4), uint16_t(image.height()), 0, 0, uint16_t(image.width()),
                uint16_t(image.height()), 0, 0, 24, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, attachedId, place.offset);
            // The server reads it after this returns: the port scales no
            // other picture into it until two more were put.
            m_held[m_nextHeld] = image;
            m_nextHeld = (m_nextHeld + 1) % 2;
            *shared = true;
            return true;
        }
    }
    const size_t bytes = size_t(image.bytesPerLine()) * size_t(image.height());
    Segment &segment = m_segments[m_next];
    if (!prepare(&segment, bytes))
        return false;
    m_next = (m_next + 1) % 2;
    std::memcpy(segment.memory, image.constBits(), bytes);
    xcb_shm_put_image(connection, xcb_drawable_t(window), graphicsContext(connection),
        uint16_t(image.bytesPerLine() / 4), uint16_t(image.height()), 0, 0, uint16_t(image.width()),
        uint16_t(image.height()), 0, 0, 24, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, segment.id, 0);
    return true;
}

bool DirectDraw::prepare(Segment *segment, size_t bytes)
{
    if (segment->memory && segment->size >= bytes)
        return true;
    release(segment);
    // Whole pages, and some room to grow before the next segment is needed.
    const size_t size = (bytes + bytes / 4 + 4095) / 4096 * 4096;
    const int shmId = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmId < 0)
        return false;
    void *memory = shmat(shmId, nullptr, 0);
    if (memory == reinterpret_cast<void *>(-1)) {
        shmctl(shmId, IPC_RMID, nullptr);
        return false;
    }
    const uint32_t id = xcb_generate_id(m_connection);
    xcb_generic_error_t *error
        = xcb_request_check(m_connection, xcb_shm_attach_checked(m_connection, id, uint32_t(shmId), 1));
    // Attached on both sides (or refused): the segment goes when both let go.
    shmctl(shmId, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        shmdt(memory);
        m_failed = true; // a display on another machine
        return false;
    }
    *segment = Segment { id, shmId, static_cast<uint8_t *>(memory), size };
    return true;
}

void DirectDraw::release(Segment *segment)
{
    if (!segment->memory)
        return;
    if (m_connection)
        xcb_shm_detach(m_connection, segment->id);
    shmdt(segment->memory);
    *segment = Segment {};
}
