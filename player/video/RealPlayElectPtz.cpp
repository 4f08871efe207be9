// Electronic PTZ of the live-view panel: the play library shows a region of
// the current window's picture, moved and zoomed in the 0-8192 space, with
// presets per channel.

#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "RealPlayWidget.h"

namespace {

enum PresetOperation { PresetDelete = 6, PresetAdd = 7, PresetGo = 8 };

} // namespace

const ElectPtzRecord *CRealPlayWidget::GetPTZElectRecord(int nChannel) const
{
    return IsChannel(nChannel) ? &m_ptz[nChannel] : nullptr;
}

CDecodeChannel *CRealPlayWidget::PtzPort(const char *function, const char *name, int nChannel)
{
    const int wnd = GetCurWndIndex();
    if (!IsChannel(nChannel) || !IsWnd(wnd))
        return nullptr;
    if (m_wndChn[wnd] != nChannel) {
        playerLog(function,
            QStringLiteral("%1 nWndIndex=%2 Channel=%3").arg(QLatin1String(name)).arg(wnd).arg(nChannel));
        return nullptr;
    }
    return Port(nChannel);
}

bool CRealPlayWidget::ApplyPtzRegion(int nChannel, CDecodeChannel *port, const TRV_PLAY_RECT &region)
{
    m_ptz[nChannel].region = region;
    return port->SetDisplayRegion(&m_ptz[nChannel].region, 1) != 0;
}

bool CRealPlayWidget::PTZElectOpen(int nChannel, int nWndIndex)
{
    if (!IsChannel(nChannel))
        return false;
    ElectPtzRecord &record = m_ptz[nChannel];
    if (record.active)
        return true;
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    if (!IsWnd(nWndIndex))
        return false;
    if (m_wndChn[nWndIndex] != nChannel) {
        playerLog("CRealPlayWidget::PTZElectOpen",
            QStringLiteral("PTZElectOpen nWndIndex=%1 Channel=%2").arg(nWndIndex).arg(nChannel));
        return false;
    }
    CDecodeChannel *port = Port(nChannel);
    if (!port)
        return false;
    const bool bOk = ApplyPtzRegion(nChannel, port, ElectPtz::FullRegion());
    m_pWndManage->setPreviewStatus(nWndIndex, false);
    m_pWndManage->SetPTZElectStatus(nWndIndex, true);
    record.active = 1;
    return bOk;
}

int CRealPlayWidget::OnQuitPTZElect(int nWndIndex)
{
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    const int channel = GetWndChn(nWndIndex);
    if (!IsChannel(channel) || !m_ptz[channel].active)
        return 0;
    ElectPtzRecord &record = m_ptz[channel];
    record.region = ElectPtz::FullRegion();
    if (CDecodeChannel *port = Port(channel))
        port->SetDisplayRegion(nullptr, 0);
    record.active = 0;
    m_pWndManage->setPreviewStatus(nWndIndex, true);
    playerLog("CRealPlayWidget::OnQuitPTZElect", QStringLiteral("OnQuitPTZElect"));
    emit changePTZELectPage();
    return 0;
}

bool CRealPlayWidget::PTZElectZoomIn(int nChannel, int nStep)
{
    CDecodeChannel *port = PtzPort("CRealPlayWidget::PTZElectZoomIn", "PTZElectZoomIn", nChannel);
    if (!port)
        return false;
    TRV_PLAY_RECT region;
    if (!ElectPtz::ZoomIn(m_ptz[nChannel].region, nStep, &region))
        return false;
    const bool bOk = ApplyPtzRegion(nChannel, port, region);
    if (!bOk)
        playerLog("CRealPlayWidget::PTZElectZoomIn", QStringLiteral("PTZElectZoomIn"));
    return bOk;
}

bool CRealPlayWidget::PTZElectZoomOut(int nChannel, int nStep)
{
    CDecodeChannel *port = PtzPort("CRealPlayWidget::PTZElectZoomOut", "PTZElectZoomOut", nChannel);
    if (!port)
        return false;
    TRV_PLAY_RECT region;
    if (!ElectPtz::ZoomOut(m_ptz[nChannel].region, nStep, &region))
        return false;
    const bool bOk = ApplyPtzRegion(nChannel, port, region);
    if (!bOk)
        playerLog("CRealPlayWidget::PTZElectZoomOut", QStringLiteral("PTZElectZoomOut"));
    return bOk;
}

bool CRealPlayWidget::PTZElectronicMove(int nChannel, int nDirection, int nStep)
{
    static const char *const kFunction = "CRealPlayWidget::PTZElectronicMove";
    CDecodeChannel *port = PtzPort(kFunction, "PTZElectronicMove", nChannel);
    if (!port)
        return false;
    const TRV_PLAY_RECT &current = m_ptz[nChannel].region;
    const long long step = nStep;
    switch (nDirection) {
    case ElectPtz::Up:
        playerLog(
            kFunction, QStringLiteral("nRect.top:%1 nRect.top:%2").arg(current.top).arg(current.top - step));
        break;
    case ElectPtz::Down:
        playerLog(kFunction, QStringLiteral("top:%1,top:%2").arg(current.top).arg(current.top + step));
        break;
    case ElectPtz::Left:
        playerLog(
            kFunction, QStringLiteral("left:%1,right:%2").arg(current.left - step).arg(current.right - step));
        break;
    case ElectPtz::Right:
        playerLog(
            kFunction, QStringLiteral("left:%1,right:%2").arg(current.left + step).arg(current.right + step));
        break;
    default:
        return false;
    }
    TRV_PLAY_RECT region;
    if (!ElectPtz::Move(current, nDirection, nStep, &region))
        return false;
    // The region is kept also when the library refuses it.
    const bool bOk = ApplyPtzRegion(nChannel, port, region);
    if (!bOk)
        playerLog(kFunction, QStringLiteral("PTZElectronicMove"));
    return bOk;
}

bool CRealPlayWidget::PTZElectRedu(int nChannel)
{
    CDecodeChannel *port = PtzPort("CRealPlayWidget::PTZElectRedu", "PTZElectRedu", nChannel);
    if (!port || ElectPtz::IsFull(m_ptz[nChannel].region))
        return false;
    const bool bOk = port->SetDisplayRegion(nullptr, 0) != 0;
    m_ptz[nChannel].region = ElectPtz::FullRegion();
    return bOk;
}

bool CRealPlayWidget::PTZElectPresent(int nChannel, int nOperation, int nPreset)
{
    static const char *const kFunction = "CRealPlayWidget::PTZElectPresent";
    CDecodeChannel *port = PtzPort(kFunction, "PTZElectPresent", nChannel);
    if (!port)
        return false;
    ElectPtzRecord &record = m_ptz[nChannel];
    switch (nOperation) {
    case PresetDelete:
        if (record.presets.empty())
            return false;
        record.presets.erase(nPreset);
        playerLog(kFunction, QStringLiteral("Del"));
        return true;
    case PresetAdd:
        record.presets[nPreset] = record.region;
        playerLog(kFunction, QStringLiteral("ADD"));
        return true;
    case PresetGo: {
        const auto it = record.presets.find(nPreset);
        if (it == record.presets.end())
            return false;
        const TRV_PLAY_RECT region = it->second;
        if (!ApplyPtzRegion(nChannel, port, region))
            return false;
        playerLog(kFunction, QStringLiteral("GO"));
        return true;
    }
    default:
        return false;
    }
}
