// Two-lens zoom of the live-view panel: the zoom slider of a camera with two
// lenses, shown in a single (or enlarged) window, and the page's zoom switch.

#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "QNConnect.h"
#include "RealPlayWidget.h"

#include <algorithm>

namespace {

constexpr float kMaxSwitchTimes = 7.0f;
constexpr float kSwitchStep = 0.1f;

} // namespace

void CRealPlayWidget::slot_GetScaleTwoLensAbility(int nWndNo)
{
    static const char *const kFunction = "CRealPlayWidget::slot_GetScaleTwoLensAbility";
    CQNConnect *device = CQNConnect::Instance();
    if (!device)
        return;
    playerLog(kFunction,
        QStringLiteral("slot_GetScaleTwoLensAbility----------->devType:%1")
            .arg(m_bIPC ? QStringLiteral("IPC") : QStringLiteral("Not IPC")));
    const int channel = GetWndChn(nWndNo);
    playerLog(kFunction, QStringLiteral("GetScaleTwoLens------>Channel:%1").arg(channel));
    // A window that shows no channel has nothing to ask for.
    if (!IsChannel(channel))
        return;
    m_bTwoLens[channel] = device->GetScaleTwoLensAbility(m_nLoginId, channel, m_bIPC);
    float times = 0.0f;
    float maxTimes = 0.0f;
    if (m_bTwoLens[channel]
        && device->GetScaleTwoLensConfig(m_nLoginId, channel, m_byStream[channel], times, m_bIPC, maxTimes)
            > 0) {
        if (IsSingleWndMode() && !m_bFullScreen) {
            playerLog(kFunction,
                QStringLiteral("slot_GetScaleTwoLensAbility----------->fMaxtimes:%1").arg(double(maxTimes)));
            m_pWndManage->ShowScaleSlider(nWndNo, true, maxTimes);
            m_fCurTwoLensTimes = times;
            m_pWndManage->SetScaleValue(nWndNo, times);
        }
        return;
    }
    m_pWndManage->ShowScaleSlider(nWndNo, false, 0.0f);
}

void CRealPlayWidget::slot_SetScaleTwoLensTimes(float fTimes, int nWndNo)
{
    CQNConnect *device = CQNConnect::Instance();
    const int channel = GetWndChn(nWndNo);
    if (!device || !IsChannel(channel))
        return;
    const int stream = m_byStream[channel];
    playerLog("CRealPlayWidget::slot_SetScaleTwoLensTimes",
        QStringLiteral("fLastTimes=%1------fTimes=%2------Channel=%3------Stream=%4")
            .arg(double(m_fCurTwoLensTimes))
            .arg(double(fTimes))
            .arg(channel)
            .arg(stream));
    if (device->SetScaleTwoLensConfig(m_nLoginId, m_bIPC ? -1 : channel, stream, m_fCurTwoLensTimes, fTimes)
        > 0) {
        m_fCurTwoLensTimes = fTimes;
        if (IsSingleWndMode())
            m_pWndManage->SetScaleValue(nWndNo, fTimes);
    }
}

void CRealPlayWidget::ScaleSwitch(int nDirection, int nSteps)
{
    m_nScaleDirection = nDirection;
    playerLog("CRealPlayWidget::ScaleSwitch", QStringLiteral("click to scale"));
    const int wnd = GetCurWndIndex();
    if (!IsChannel(GetWndChn(wnd)))
        return;
    float times = 0.0f;
    if (nDirection == 0)
        times = std::clamp(m_fCurTwoLensTimes + float(nSteps) * kSwitchStep, 0.0f, kMaxSwitchTimes);
    else if (nDirection == 1)
        times = std::clamp(m_fCurTwoLensTimes - float(nSteps) * kSwitchStep, 0.0f, kMaxSwitchTimes);
    slot_SetScaleTwoLensTimes(times, wnd);
}
