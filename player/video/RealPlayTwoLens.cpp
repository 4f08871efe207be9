// Two-lens zoom of the live-view panel: the zoom slider of a camera with two
// lenses, shown in a single (or enlarged) window, and the page's zoom switch.

#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "RealPlayWidget.h"

#include <algorithm>

namespace {

void Log(const char *function, const QString &message)
{
    LightWeightLog::instance()->PrintLog(QString::fromLatin1(function), message, LightWeightLog::Normal);
}

constexpr float kMaxSwitchTimes = 7.0f;
constexpr float kSwitchStep = 0.1f;

} // namespace

void CRealPlayWidget::slot_GetScaleTwoLensAbility(int nWndNo)
{
    // PENDING: device wrapper
    Q_UNUSED(nWndNo);
}

void CRealPlayWidget::slot_SetScaleTwoLensTimes(float fTimes, int nWndNo)
{
    // PENDING: device wrapper
    Q_UNUSED(fTimes);
    Q_UNUSED(nWndNo);
}

void CRealPlayWidget::ScaleSwitch(int nDirection, int nSteps)
{
    m_nScaleDirection = nDirection;
    Log("CRealPlayWidget::ScaleSwitch", QStringLiteral("click to scale"));
    const int wnd = GetCurWndIndex();
    if (!IsWnd(wnd) || !IsChannel(m_wndChn[wnd]))
        return;
    float times = 0.0f;
    if (nDirection == 0)
        times = std::clamp(m_fCurTwoLensTimes + float(nSteps) * kSwitchStep, 0.0f, kMaxSwitchTimes);
    else if (nDirection == 1)
        times = std::clamp(m_fCurTwoLensTimes - float(nSteps) * kSwitchStep, 0.0f, kMaxSwitchTimes);
    slot_SetScaleTwoLensTimes(times, wnd);
}
