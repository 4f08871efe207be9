#include "NativeWindow.h"

#include "X11Desktop.h"

#include <mutex>

namespace NativeWindow {

namespace {

std::mutex g_mutex;
std::shared_ptr<Desktop> g_installed;

} // namespace

std::shared_ptr<Desktop> desktop()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_installed)
        g_installed = std::make_shared<X11Desktop>();
    return g_installed;
}

void setDesktop(std::shared_ptr<Desktop> desktop)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_installed = std::move(desktop);
}

} // namespace NativeWindow
