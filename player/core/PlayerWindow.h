#pragma once

#include <functional>

class PlayWidgetFacade;
class StreamInput;

// Which window the request topics reach. The player installs the embedded
// window's providers at start; tests install doubles. Process-wide.
namespace PlayerWindow {

using Provider = std::function<PlayWidgetFacade *()>;
using StreamInputProvider = std::function<StreamInput *()>;

// The window for GUI-thread tasks. The player's provider gives the window
// (made on first use) on the GUI thread and nothing on any other.
void setProvider(Provider provider);
PlayWidgetFacade *current();
// The window for calls that only concern a window already made (the
// logout's): it never makes one. Unset, current() serves.
void setExistingProvider(Provider provider);
PlayWidgetFacade *existing();
// Where the device library's threads put stream data. Without a provider of
// its own, the window provider's facade takes the data.
void setStreamInputProvider(StreamInputProvider provider);
StreamInput *streamInput();

} // namespace PlayerWindow
