#include "PlayerWindow.h"

#include "PlayWidgetFacade.h"

namespace {

PlayerWindow::Provider g_provider;
PlayerWindow::Provider g_existingProvider;
PlayerWindow::StreamInputProvider g_streamInputProvider;

} // namespace

void PlayerWindow::setProvider(Provider provider)
{
    g_provider = std::move(provider);
}

PlayWidgetFacade *PlayerWindow::current()
{
    return g_provider ? g_provider() : nullptr;
}

void PlayerWindow::setExistingProvider(Provider provider)
{
    g_existingProvider = std::move(provider);
}

PlayWidgetFacade *PlayerWindow::existing()
{
    return g_existingProvider ? g_existingProvider() : current();
}

void PlayerWindow::setStreamInputProvider(StreamInputProvider provider)
{
    g_streamInputProvider = std::move(provider);
}

StreamInput *PlayerWindow::streamInput()
{
    if (g_streamInputProvider)
        return g_streamInputProvider();
    return current();
}
