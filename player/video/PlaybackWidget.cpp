#include "PlaybackWidget.h"

#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "PlayWindowManage.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>

#include <mutex>

namespace {

// Folder and name of a snapshot or recording must stay below this many bytes.
constexpr int kMaxFileName = 260;

} // namespace

CPlaybackWidget::CPlaybackWidget(QWidget *parent)
    : QWidget(parent, Qt::CustomizeWindowHint | Qt::FramelessWindowHint)
{
    setMouseTracking(true);
    m_wndChn.fill(-1);
    for (auto &source : m_ports)
        for (auto &port : source)
            port.store(nullptr);
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

CPlaybackWidget::~CPlaybackWidget()
{
    std::array<CDecodeChannel *, 2 * kMaxWnd> ports {};
    {
        std::unique_lock<std::shared_mutex> lock(m_inputLock);
        int i = 0;
        for (auto &source : m_ports)
            for (auto &port : source)
                ports[i++] = port.exchange(nullptr);
    }
    // A port left open would keep its play-library port from the next page.
    for (int i = 0; i < 2 * kMaxWnd; ++i) {
        CDecodeChannel *port = ports[i];
        if (!port)
            continue;
        if (port->IsRecording())
            port->StopRecord();
        if (port->IsSoundOpen())
            port->CloseSound();
        port->StopPlayback();
        if (i >= kMaxWnd)
            port->StopLocalPlay();
        port->Close();
        delete port;
    }
}

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

CDecodeChannel *CPlaybackWidget::Port(int nWndIndex) const
{
    if (!IsWnd(nWndIndex))
        return nullptr;
    return m_ports[m_bDevicePlayback ? 0 : 1][nWndIndex].load(std::memory_order_acquire);
}

CDecodeChannel *CPlaybackWidget::GetChannel(int nWndIndex)
{
    if (!IsWnd(nWndIndex))
        return nullptr;
    std::atomic<CDecodeChannel *> &slot = m_ports[m_bDevicePlayback ? 0 : 1][nWndIndex];
    CDecodeChannel *port = slot.load(std::memory_order_acquire);
    if (!port) {
        port = new CDecodeChannel(PortNumber(nWndIndex));
        slot.store(port, std::memory_order_release);
    }
    return port;
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
    const CDecodeChannel *port = Port(nWndIndex);
    return port ? port->GetState() : -1;
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
    return nWndIndex >= 0 && nWndIndex <= kMaxWnd && m_sound.isHeldBy(nWndIndex);
}

// ---- playback -----------------------------------------------------------------------------------

int CPlaybackWidget::InputData(int nWndIndex, const char *pData, int nLen)
{
    if (!IsWnd(nWndIndex) || !pData || nLen <= 0)
        return -1;
    // Data from the device is device playback, whatever the page shows now.
    std::shared_lock<std::shared_mutex> lock(m_inputLock);
    CDecodeChannel *port = m_ports[0][nWndIndex].load(std::memory_order_acquire);
    if (!port)
        return -1;
    port->InputData(pData, nLen);
    return 0;
}

int CPlaybackWidget::BeginLocalPlay(
    int nWndIndex, const QString &strFile, FileEndCallback callback, void *pUser)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return 0;
    return port->BeginLocalPlay(strFile, callback, pUser) ? 1 : 0;
}

int CPlaybackWidget::StartPlayback(int nStreamKind, int nWndIndex)
{
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return -1;
    port->SetHwnd(m_pWndManage->GetWndHandle(nWndIndex));
    if (m_bDevicePlayback) {
        // A window that cannot decode must not be reported as playing.
        if (!port->Open(nStreamKind)) {
            playerLog("CPlaybackWidget::StartPlayback", QStringLiteral("open failed wnd=%1").arg(nWndIndex));
            return -2;
        }
        if (!port->StartPlayback(false)) {
            port->Close();
            return -2;
        }
    } else if (!port->StartPlayback(true)) {
        return -2;
    }
    m_pWndManage->setPreviewStatus(nWndIndex, true);
    return 0;
}

int CPlaybackWidget::StopPlayback(int nWndIndex)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return -1;
    if (m_bRecording[nWndIndex] && port->StopRecord())
        m_bRecording[nWndIndex] = false;
    m_sound.release(nWndIndex, port);
    port->SetDisplayRegionRect(0, 0, 0, 0, false);
    m_pWndManage->SetDigitalZoom(nWndIndex, false);
    m_wndChn[nWndIndex] = -1;
    port->StopPlayback();
    if (!m_bDevicePlayback)
        port->StopLocalPlay();
    m_bDigitalZoom[nWndIndex] = false;
    port->Close();
    m_pWndManage->setPreviewStatus(nWndIndex, false);
    m_pWndManage->UpdateWnd(nWndIndex);
    update();
    return 0;
}

int CPlaybackWidget::PlaybackControl(int nWndIndex, int nCommand)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    return port ? port->PlayControl(nCommand) : -1;
}

int CPlaybackWidget::SetPlayPos(int nWndIndex, float fPos)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    return port ? port->SetPlayPos(fPos) : 0;
}

void CPlaybackWidget::SetTimeText(int nWndIndex, const QString &strStart, const QString &strEnd)
{
    if (CDecodeChannel *port = GetChannel(nWndIndex))
        port->SetTimeText(strStart.toLocal8Bit().constData(), strEnd.toLocal8Bit().constData());
}

int CPlaybackWidget::PositionToSeconds(int nWndIndex, int nPermille)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    return port ? port->PositionToSeconds(nPermille) : 0;
}

float CPlaybackWidget::GetPlayTime(int nWndIndex)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return 0.0f;
    return m_bDevicePlayback ? port->GetPlayTime(1) : port->GetPlayPos();
}

void CPlaybackWidget::GetBufInfo(int nWndIndex, int *pFrames, int *pStream)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return;
    if (pFrames)
        *pFrames = port->GetFrameBufferCount();
    if (pStream)
        *pStream = port->GetStreamBufferCount();
}

bool CPlaybackWidget::GetPlaybackFlag(int nWndIndex)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    return port && port->GetPlaybackFlag();
}

// ---- snapshots, recording, sound, zoom ------------------------------------------------------

QString CPlaybackWidget::FileName(int nWndIndex, const QString &strFolder, const QString &strExtension) const
{
    const QString time = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"));
    if (!m_bDevicePlayback)
        return QStringLiteral("%1/Local_%2%3").arg(strFolder, time, strExtension);
    const int channel = nWndIndex < kMaxWnd ? GetWndChn(nWndIndex) : -1;
    return QStringLiteral("%1/%2_%3%4")
        .arg(strFolder)
        .arg(channel + 1, 2, 10, QLatin1Char('0'))
        .arg(time, strExtension);
}

int CPlaybackWidget::Capture(int nWndIndex, const QString &strFolder)
{
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return -1;
    const QString name = FileName(nWndIndex, strFolder, QStringLiteral(".bmp"));
    if (QFile::encodeName(name).size() >= kMaxFileName)
        return -2;
    return port->CatchPicture(name, TRV_PLAY_PICTURE_BMP) ? 0 : -2;
}

int CPlaybackWidget::Record(int nWndIndex, int nType, bool bStart, const QString &strFolder)
{
    if (nWndIndex > kMaxWnd)
        return 0;
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return 0;
    if (!bStart) {
        if (!m_bRecording[nWndIndex])
            return 0;
        const int res = port->StopRecord();
        m_bRecording[nWndIndex] = res == 0;
        return res;
    }
    if (m_bRecording[nWndIndex])
        return 0;
    QString name;
    int type = TRV_PLAY_RECORD_STREAM;
    if (nType == TRV_PLAY_RECORD_AVI || nType == TRV_PLAY_RECORD_STREAM) {
        type = nType;
        name = FileName(nWndIndex, strFolder,
            nType == TRV_PLAY_RECORD_AVI ? QStringLiteral(".avi") : QStringLiteral(".h265x"));
        if (QFile::encodeName(name).size() >= kMaxFileName)
            return 0;
        // The library writes into an existing folder only.
        QDir().mkpath(strFolder);
    }
    const int res = port->StartRecord(name, type);
    m_bRecording[nWndIndex] = res != 0;
    playerLog("CPlaybackWidget::Record", QStringLiteral("%1 res=%2").arg(name).arg(res));
    return res;
}

int CPlaybackWidget::OpenSound(int nWndIndex, bool bOn)
{
    return m_sound.Switch(nWndIndex, bOn, [this](int wnd) { return GetChannel(wnd); });
}

int CPlaybackWidget::DigitalZoom()
{
    const int wnd = GetCurWndIndex();
    CDecodeChannel *port = GetChannel(wnd);
    if (!port || port->GetState() == CDecodeChannel::StateStopped)
        return -1;
    m_pWndManage->ToggleCurWndDigitalZoom();
    if (m_pWndManage->IsCurWndDigitalZoom()) {
        m_bDigitalZoom[wnd] = true;
    } else {
        port->SetDisplayRegionRect(0, 0, 0, 0, false);
        m_bDigitalZoom[wnd] = false;
    }
    return 0;
}

int CPlaybackWidget::SetDisplayRegion(int nWndIndex, const TRV_PLAY_RECT &rect, bool bEnable)
{
    if (nWndIndex != -1) {
        CDecodeChannel *port = GetChannel(nWndIndex);
        return port ? port->SetDisplayRegion(&rect, bEnable ? 1 : 0) : -1;
    }
    for (int i = 0; i < kMaxWnd; ++i)
        GetChannel(i)->SetDisplayRegion(&rect, bEnable ? 1 : 0);
    return 1;
}

int CPlaybackWidget::SetOriginalMode(int nValue)
{
    for (int i = 0; i < kMaxWnd; ++i)
        GetChannel(i)->SetOriginalMode(nValue);
    return 1;
}

int CPlaybackWidget::OnDigitalZoom(QPoint start, QPoint end, int nWndIndex)
{
    if (nWndIndex > kMaxWnd)
        return nWndIndex;
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return -1;
    return port->SetDisplayRegionRect(start.x(), start.y(), end.x(), end.y(), true) ? 1 : 0;
}

int CPlaybackWidget::OnQuitDigitalZoom(int nWndIndex)
{
    playerLog(
        "CPlaybackWidget::OnQuitDigitalZoom", QStringLiteral("OnQuitDigitalZoom index :%1").arg(nWndIndex));
    if (nWndIndex > kMaxWnd)
        return 0;
    CDecodeChannel *port = GetChannel(nWndIndex);
    if (!port)
        return 0;
    const bool res = port->SetDisplayRegionRect(0, 0, 0, 0, false);
    m_bDigitalZoom[nWndIndex] = false;
    return res ? 1 : 0;
}
