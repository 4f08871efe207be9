#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

// The desktop's top-level windows as the player needs them: the window in
// front and the title of a window. One desktop is installed per process; it is
// the X11 one unless a test installs its own.
namespace NativeWindow {

// A native window identifier; 0 means none.
using WindowId = quint64;

class Desktop
{
public:
    virtual ~Desktop() = default;

    // The window the user works in (the foreground window), or 0.
    virtual WindowId foregroundWindow() = 0;
    // The window's title, empty when it has none or does not exist.
    virtual QString windowTitle(WindowId window) = 0;
};

// The installed desktop; never null. Safe to call from any thread.
std::shared_ptr<Desktop> desktop();
// Installs `desktop` in place of the default; null restores the default.
void setDesktop(std::shared_ptr<Desktop> desktop);

} // namespace NativeWindow
