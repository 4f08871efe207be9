#include "PlaybackWidget.h"

#include "LightWeightLog.h"
#include "PlayWindowManage.h"

#include <QHBoxLayout>

CPlaybackWidget::CPlaybackWidget(QWidget *parent)
    : QWidget(parent, Qt::CustomizeWindowHint | Qt::FramelessWindowHint)
{
    setMouseTracking(true);
    m_wndChn.fill(-1);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pWndManage = new CPlayWindowManage(this);
    layout->addWidget(m_pWndManage);
    m_pWndManage->SplitWindow(1);

    connect(m_pWndManage, &CPlayWindowManage::curWndIndexSig, this, &CPlaybackWidget::curWndIndexSig);
    connect(m_pWndManage, &CPlayWindowManage::DigitalZoomSig, this, &CPlaybackWidget::OnDigitalZoom);
    connect(m_pWndManage, &CPlayWindowManage::quitDigitalZoom, this, &CPlaybackWidget::OnQuitDigitalZoom);
}

CPlaybackWidget::~CPlaybackWidget() = default;

// ---- source, layout, windows ----------------------------------------------------------------

void CPlaybackWidget::SetPlayMode(bool bDevice)
{
    m_bDevicePlayback = bDevice;
    m_pWndManage->onCurWndIndexChange(0);
    emit curWndIndexSig(0);
}

int CPlaybackWidget::PortNumber(int nWndIndex) const
{
    if (!IsWnd(nWndIndex))
        return -1;
    return (m_bDevicePlayback ? kDevicePortBase : kLocalPortBase) + nWndIndex;
}

CDecodeChannel *CPlaybackWidget::GetChannel(int nWndIndex)
{
    Q_UNUSED(nWndIndex)
    return nullptr;
}

int CPlaybackWidget::ChangeSplit(int nMode)
{
    m_nSplitMode = nMode;
    m_pWndManage->SplitWindow(nMode == 1 ? 4 : 1);
    update();
    return 0;
}

void CPlaybackWidget::SetWndChn(int nChannel, int nWndIndex)
{
    if (IsWnd(nWndIndex))
        m_wndChn[nWndIndex] = nChannel;
}

int CPlaybackWidget::GetWndChn(int nWndIndex) const
{
    return IsWnd(nWndIndex) ? m_wndChn[nWndIndex] : -1;
}

int CPlaybackWidget::GetCurWndChn() const
{
    return GetWndChn(GetCurWndIndex());
}

int CPlaybackWidget::GetCurWndIndex() const
{
    return m_pWndManage->GetCurWndIndex();
}

int CPlaybackWidget::FindWndIndex(int nChannel) const
{
    for (int i = 0; i < kMaxWnd; ++i) {
        if (m_wndChn[i] == nChannel)
            return i;
    }
    return -1;
}

void CPlaybackWidget::SetCurWnd(int nWndIndex)
{
    m_pWndManage->onCurWndIndexChange(nWndIndex);
}

void CPlaybackWidget::SetSkin(const QString &strSkin)
{
    m_pWndManage->SetSkin(strSkin);
}

void CPlaybackWidget::SetBackground(const QString &strPicture)
{
    m_pWndManage->SetBackgroundImage(strPicture);
}

// ---- state --------------------------------------------------------------------------------------

int CPlaybackWidget::GetPlayState(int nWndIndex) const
{
    Q_UNUSED(nWndIndex)
    return -1;
}

bool CPlaybackWidget::IsRecording(int nWndIndex) const
{
    return IsWnd(nWndIndex) && m_bRecording[nWndIndex];
}

bool CPlaybackWidget::IsDigitalZoom(int nWndIndex) const
{
    return IsWnd(nWndIndex) && m_bDigitalZoom[nWndIndex];
}

bool CPlaybackWidget::IsSoundWnd(int nWndIndex) const
{
    return nWndIndex >= 0 && nWndIndex <= kMaxWnd && nWndIndex == m_nSoundWnd;
}

// ---- playback: every window is without port ---------------------------------------------------

int CPlaybackWidget::InputData(int nWndIndex, const char *pData, int nLen)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(pData)
    Q_UNUSED(nLen)
    return -1;
}

int CPlaybackWidget::BeginLocalPlay(
    int nWndIndex, const QString &strFile, FileEndCallback callback, void *pUser)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(strFile)
    Q_UNUSED(callback)
    Q_UNUSED(pUser)
    return 0;
}

int CPlaybackWidget::StartPlayback(int nStreamKind, int nWndIndex)
{
    Q_UNUSED(nStreamKind)
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    return GetChannel(nWndIndex) ? 0 : -1;
}

int CPlaybackWidget::StopPlayback(int nWndIndex)
{
    return GetChannel(nWndIndex) ? 0 : -1;
}

int CPlaybackWidget::PlaybackControl(int nWndIndex, int nCommand)
{
    Q_UNUSED(nCommand)
    return GetChannel(nWndIndex) ? 0 : -1;
}

int CPlaybackWidget::SetPlayPos(int nWndIndex, float fPos)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(fPos)
    return 0;
}

void CPlaybackWidget::SetTimeText(int nWndIndex, const QString &strStart, const QString &strEnd)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(strStart)
    Q_UNUSED(strEnd)
}

int CPlaybackWidget::PositionToSeconds(int nWndIndex, int nPermille)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(nPermille)
    return 0;
}

float CPlaybackWidget::GetPlayTime(int nWndIndex)
{
    Q_UNUSED(nWndIndex)
    return 0.0f;
}

void CPlaybackWidget::GetBufInfo(int nWndIndex, int *pFrames, int *pStream)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(pFrames)
    Q_UNUSED(pStream)
}

bool CPlaybackWidget::GetPlaybackFlag(int nWndIndex)
{
    Q_UNUSED(nWndIndex)
    return false;
}

// ---- snapshots, recording, sound, zoom ------------------------------------------------------

int CPlaybackWidget::Capture(int nWndIndex, const QString &strFolder)
{
    Q_UNUSED(strFolder)
    return GetChannel(nWndIndex) ? 0 : -1;
}

int CPlaybackWidget::Record(int nWndIndex, int nType, bool bStart, const QString &strFolder)
{
    Q_UNUSED(nWndIndex)
    Q_UNUSED(nType)
    Q_UNUSED(bStart)
    Q_UNUSED(strFolder)
    return 0;
}

int CPlaybackWidget::OpenSound(int nWndIndex, bool bOn)
{
    Q_UNUSED(bOn)
    return GetChannel(nWndIndex) ? 0 : -1;
}

int CPlaybackWidget::DigitalZoom()
{
    return GetChannel(GetCurWndIndex()) ? 0 : -1;
}

int CPlaybackWidget::OnDigitalZoom(QPoint start, QPoint end, int nWndIndex)
{
    Q_UNUSED(start)
    Q_UNUSED(end)
    if (nWndIndex > kMaxWnd)
        return nWndIndex;
    return GetChannel(nWndIndex) ? 0 : -1;
}

int CPlaybackWidget::OnQuitDigitalZoom(int nWndIndex)
{
    LightWeightLog::instance()->PrintLog(QStringLiteral("CPlaybackWidget::OnQuitDigitalZoom"),
        QStringLiteral("OnQuitDigitalZoom index :%1").arg(nWndIndex), LightWeightLog::Normal);
    return 0;
}
