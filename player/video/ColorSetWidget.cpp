#include "ColorSetWidget.h"

#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "VideoFrame.h"

#include <QHBoxLayout>

namespace {

void ClosePort(CDecodeChannel *port)
{
    port->StopPreview();
    port->Close();
}

} // namespace

CColorSetWidget::CColorSetWidget(QWidget *parent)
    : QWidget(parent, Qt::CustomizeWindowHint | Qt::FramelessWindowHint)
{
    setMouseTracking(true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pFrame = new CVideoFrame(this, 0);
    layout->addWidget(m_pFrame);
}

CColorSetWidget::~CColorSetWidget()
{
    CDecodeChannel *port = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        std::swap(port, m_pPort);
    }
    // Closed as well as stopped: an open library port could not be opened
    // again by the next page.
    if (port)
        ClosePort(port);
    delete port;
}

int CColorSetWidget::PreviewStart(int nStreamKind)
{
    CDecodeChannel *old = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        std::swap(old, m_pPort);
    }
    if (old) {
        // The library has one port 320: the old stream must be closed before
        // the new port can open it.
        ClosePort(old);
        delete old;
    }

    auto *port = new CDecodeChannel(kPort);
    port->SetHwnd(m_pFrame->GetWndHandle());
    int res = port->Open(nStreamKind);
    if (res) {
        playerLog("CColorSetWidget::PreviewStart", QStringLiteral("called"), LightWeightLog::Normal);
        res = port->StartPreview();
    }
    {
        std::lock_guard<std::mutex> lock(m_portMutex);
        m_pPort = port;
    }
    return res ? 0 : -2;
}

int CColorSetWidget::PreviewStop()
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    if (!m_pPort)
        return -1;
    if (m_pPort->GetState() != CDecodeChannel::StateStopped)
        ClosePort(m_pPort);
    return 0;
}

int CColorSetWidget::InputData(const char *pData, int nLen)
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    if (!m_pPort)
        return -1;
    m_pPort->InputData(pData, nLen);
    return 0;
}

int CColorSetWidget::GetState() const
{
    std::lock_guard<std::mutex> lock(m_portMutex);
    return m_pPort ? m_pPort->GetState() : -1;
}
