#pragma once

// A desktop for tests that only need the window in front and its title.

#include "MemoryDesktop.h"

class FakeDesktop : public NativeWindow::MemoryDesktop
{
public:
    // Makes `window` (a top-level window, added when new) the foreground
    // window with `title`; 0 leaves no window in front.
    void setForeground(NativeWindow::WindowId window, const QString &title)
    {
        if (window != 0 && !addWindow(window, 0, QString(), title))
            setTitle(window, title);
        MemoryDesktop::setForeground(window);
    }
};
