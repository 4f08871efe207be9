#include "RealPlayWidget.h"

#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "PlayWindowManage.h"
#include "RuleOverlay.h"
#include "common/Json.h"
#include "common/ProgramDir.h"
#include "common/Protocol.h"
#include "kestrix/kestrix.h"

#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>

#include <cstring>

namespace {

constexpr int kGunBallBufferSize = 1024;
constexpr int kGunBallWaitMs = 10000;
constexpr int kGdiMode = 2;

// "yyyyMMdd_hhmmss" of now, the time part of snapshot and recording names.
QString NameTime()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_hhmmss"));
}

QString TwoDigits(int n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

} // namespace

CRealPlayWidget::CRealPlayWidget(QWidget *parent)
    : QWidget(parent, Qt::CustomizeWindowHint | Qt::FramelessWindowHint)
    , m_strConfigFolder(ProgramDir::folder())
{
    setMouseTracking(true);
    for (int i = 0; i < kMaxChannel; ++i) {
        m_ports[i] = nullptr;
        m_bFeeding[i] = false;
        m_nSizeWatchWnd[i] = -1;
        m_nLastSize[i] = PackSize(-1, -1);
        m_videoSize[i] = QSize(-1, -1);
    }
    m_wndChn.fill(-1);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pWndManage = new CPlayWindowManage(this);
    layout->addWidget(m_pWndManage);
    m_pWndManage->SplitWindow(kInitialSplit);

    connect(m_pWndManage, &CPlayWindowManage::curWndIndexSig, this, &CRealPlayWidget::curWndIndexSig);
    connect(m_pWndManage, &CPlayWindowManage::DigitalZoomSig, this, &CRealPlayWidget::OnDigitalZoom);
    connect(m_pWndManage, &CPlayWindowManage::quitDigitalZoom, this, &CRealPlayWidget::OnQuitDigitalZoom);
    connect(m_pWndManage, &CPlayWindowManage::quitPTZElect, this, &CRealPlayWidget::OnQuitPTZElect);
    connect(m_pWndManage, &CPlayWindowManage::sig_GetScaleTwoLensAbility, this,
        &CRealPlayWidget::slot_GetScaleTwoLensAbility);
    connect(m_pWndManage, &CPlayWindowManage::sig_SetScaleTwoLensTimes, this,
        &CRealPlayWidget::slot_SetScaleTwoLensTimes);
    connect(this, &CRealPlayWidget::videoSizeChange, m_pWndManage, &CPlayWindowManage::onVideoSizeChange);
}

CRealPlayWidget::~CRealPlayWidget()
{
    // No device thread may be inside InputData while the ports go away.
    std::array<CDecodeChannel *, kMaxChannel> ports {};
    {
        std::unique_lock<std::shared_mutex> lock(m_inputLock);
        for (int i = 0; i < kMaxChannel; ++i) {
            m_bFeeding[i] = false;
            ports[i] = m_ports[i].exchange(nullptr);
        }
    }
    // A port left open would keep its play-library port, which could then
    // not be opened again by the next panel.
    for (CDecodeChannel *port : ports) {
        if (!port)
            continue;
        if (port->IsRecording())
            port->StopRecord();
        if (port->IsSoundOpen())
            port->CloseSound();
        port->StopPreview();
        port->Close();
        delete port;
    }
}

qint64 CRealPlayWidget::PackSize(int nWidth, int nHeight)
{
    return qint64(quint64(quint32(nWidth)) << 32 | quint32(nHeight));
}

// ---- ports and the window-to-channel map ------------------------------------------------

CDecodeChannel *CRealPlayWidget::GetChannel(int nChannel)
{
    if (!IsChannel(nChannel))
        return nullptr;
    CDecodeChannel *port = m_ports[nChannel].load(std::memory_order_acquire);
    if (!port) {
        port = new CDecodeChannel(nChannel);
        m_ports[nChannel].store(port, std::memory_order_release);
    }
    return port;
}

CDecodeChannel *CRealPlayWidget::Port(int nChannel) const
{
    return IsChannel(nChannel) ? m_ports[nChannel].load(std::memory_order_acquire) : nullptr;
}

int CRealPlayWidget::GetWndChn(int nWndIndex) const
{
    return IsWnd(nWndIndex) ? m_wndChn[nWndIndex] : -1;
}

int CRealPlayWidget::FindWndIndex(int nChannel) const
{
    if (!IsChannel(nChannel))
        return -1;
    for (int i = 0; i < kMaxWnd; ++i) {
        if (m_wndChn[i] == nChannel)
            return i;
    }
    return -1;
}

int CRealPlayWidget::GetCurWndChn() const
{
    return GetWndChn(GetCurWndIndex());
}

int CRealPlayWidget::GetCurWndIndex() const
{
    return m_pWndManage->GetCurWndIndex();
}

int CRealPlayWidget::GetPlayState(int nChannel) const
{
    const CDecodeChannel *port = Port(nChannel);
    return port ? port->GetState() : -1;
}

int CRealPlayWidget::FindStoppedChannel() const
{
    for (int i = 0; i < kMaxChannel; ++i) {
        const CDecodeChannel *port = Port(i);
        if (port && port->GetState() == CDecodeChannel::StateStopped)
            return i;
    }
    return -1;
}

int CRealPlayWidget::GetChnStream(int nChannel) const
{
    return IsChannel(nChannel) ? m_byStream[nChannel] : 0;
}

int CRealPlayWidget::GetPlayOriginalState(int nChannel) const
{
    return IsChannel(nChannel) ? m_nOriginal[nChannel] : 0;
}

bool CRealPlayWidget::IsDigitalZoom(int nChannel) const
{
    return IsChannel(nChannel) && m_bDigitalZoom[nChannel];
}

bool CRealPlayWidget::IsRecording(int nChannel) const
{
    return IsChannel(nChannel) && m_bRecording[nChannel];
}

bool CRealPlayWidget::IsSoundWnd(int nChannel) const
{
    return IsChannel(nChannel) && m_sound.isHeldBy(nChannel);
}

bool CRealPlayWidget::HasScaleTwoLens(int nChannel) const
{
    return IsChannel(nChannel) && m_bTwoLens[nChannel];
}

void CRealPlayWidget::SetWndChn(int nWndIndex, int nChannel)
{
    if (!IsWnd(nWndIndex))
        return;
    const int old = m_wndChn[nWndIndex];
    m_wndChn[nWndIndex] = nChannel;
    if (IsChannel(old) && old != nChannel)
        UpdateSizeWatch(old);
    if (IsChannel(nChannel))
        UpdateSizeWatch(nChannel);
}

void CRealPlayWidget::UpdateSizeWatch(int nChannel)
{
    if (!IsChannel(nChannel))
        return;
    m_nSizeWatchWnd[nChannel] = m_nOriginal[nChannel] == 1 ? FindWndIndex(nChannel) : -1;
}

bool CRealPlayWidget::IsSingleWndMode() const
{
    const int mode = m_pWndManage->GetWindowMode();
    return mode == CPlayWindowManage::kModeSingle || mode == CPlayWindowManage::kModeEnlarged;
}

// ---- layout, skin, device -----------------------------------------------------------------

int CRealPlayWidget::ChangeSplit(int nMode)
{
    static const int kCounts[] = { 1, 4, 9, 16, 25, 36, 64 };
    const int count = nMode >= 0 && nMode < int(sizeof kCounts / sizeof kCounts[0]) ? kCounts[nMode] : 1;
    m_pWndManage->SplitWindow(count);
    update();
    return 0;
}

void CRealPlayWidget::SplitWindow(int nCount)
{
    m_pWndManage->SplitWindow(nCount);
}

void CRealPlayWidget::SetSkin(const QString &strSkin)
{
    m_pWndManage->SetSkin(strSkin);
}

void CRealPlayWidget::SetDeviceInfo(int nLoginId, bool bIPC)
{
    m_nLoginId = nLoginId;
    m_bIPC = bIPC;
    playerLog("CRealPlayWidget::SetDeviceInfo", bIPC ? QStringLiteral("IPC") : QStringLiteral("Not IPC"));
}

// ---- live preview -----------------------------------------------------------------------------

int CRealPlayWidget::PreviewPlay(int nStreamKind, int nChannel, int nWndIndex)
{
    if (!IsChannel(nChannel)) {
        playerLog("CRealPlayWidget::PreviewPlay", QStringLiteral("channel %1 refused").arg(nChannel),
            LightWeightLog::Warning);
        return -1;
    }
    if (nWndIndex == -1)
        nWndIndex = GetCurWndIndex();
    if (nWndIndex < 0)
        return -2;
    if (nWndIndex >= kMaxWnd) {
        playerLog("CRealPlayWidget::PreviewPlay", QStringLiteral("window %1 refused").arg(nWndIndex),
            LightWeightLog::Warning);
        return -1;
    }

    // Only this channel's e-PTZ starts again: the other channels keep
    // showing their regions, so their records must stay as they are.
    m_ptz[nChannel].Reset();

    CDecodeChannel *port = GetChannel(nChannel);
    if (!port)
        return -1;
    port->SetHwnd(m_pWndManage->GetWndHandle(nWndIndex));
    int res = port->Open(nStreamKind);
    if (res) {
        m_bFeeding[nChannel] = true;
        if (m_bIPC) {
            const int gdi = port->SetGdiMode(nChannel, kGdiMode);
            playerLog("CRealPlayWidget::PreviewPlay", QStringLiteral("set gdi Ret:%1").arg(gdi));
        }
        res = port->StartPreview();
        if (res) {
            m_pWndManage->setPreviewStatus(nWndIndex, true);
            GunBallDeivcePlayOriginal(nChannel, nWndIndex);
        }
    }
    m_byStream[nChannel] = quint8(nStreamKind);

    // The library keeps a drawing callback per open port: register it once
    // channel 0 is open, also when this very call opened it.
    bool bRule = false;
    {
        std::lock_guard<std::mutex> lock(m_ruleMutex);
        bRule = m_rule.show && m_rule.window == 0;
    }
    CDecodeChannel *port0 = Port(0);
    if (bRule && port0 && port0->IsOpen())
        RegisterRuleDraw();

    if (nWndIndex == GetCurWndIndex())
        slot_GetScaleTwoLensAbility(nWndIndex);
    return res ? 0 : -2;
}

int CRealPlayWidget::PreviewStop(int nChannel)
{
    if (!IsChannel(nChannel))
        return -1;
    if (m_bRecording[nChannel])
        Record(nChannel, false, nullptr);
    CDecodeChannel *port = Port(nChannel);
    if (!port)
        return -1;

    port->StopPreview();
    // A channel without a window leaves every window as it is.
    const int wnd = FindWndIndex(nChannel);
    const bool bShown = wnd >= 0;
    if (bShown) {
        m_pWndManage->SetDigitalZoom(wnd, false);
        SetWndChn(wnd, -1);
        m_pWndManage->SetAspectMode(wnd, -1);
    }
    m_bDigitalZoom[nChannel] = false;
    // Only the channel that has the sound gives it up.
    m_sound.release(nChannel, port);
    m_nOriginal[nChannel] = -1;
    UpdateSizeWatch(nChannel);
    if (bShown)
        m_pWndManage->setPreviewStatus(wnd, false);
    m_bFeeding[nChannel] = false;
    port->Close();
    if (bShown) {
        if (wnd == GetCurWndIndex() && IsSingleWndMode())
            m_pWndManage->ShowScaleSlider(wnd, false, 0.0f);
        m_pWndManage->UpdateWnd(wnd);
    }
    return 0;
}

int CRealPlayWidget::InputData(int nChannel, const char *pData, int nLen)
{
    if (!IsChannel(nChannel) || !pData || nLen <= 0)
        return -1;
    std::shared_lock<std::shared_mutex> lock(m_inputLock);
    CDecodeChannel *port = m_ports[nChannel].load(std::memory_order_acquire);
    if (!port || !m_bFeeding[nChannel])
        return -1;
    port->InputData(pData, nLen);

    // Original-size display follows the picture size; the windows are the
    // GUI thread's, so a change is handed over to it.
    if (m_nSizeWatchWnd[nChannel] < 0)
        return 0;
    int width = 0;
    int height = 0;
    if (!port->GetPictureSize(&width, &height) || width <= 0 || height <= 0)
        return 0;
    const qint64 size = PackSize(width, height);
    if (m_nLastSize[nChannel].exchange(size) != size) {
        QMetaObject::invokeMethod(
            this, [this, nChannel, width, height] { ApplyVideoSize(nChannel, width, height); },
            Qt::QueuedConnection);
    }
    return 0;
}

void CRealPlayWidget::ApplyVideoSize(int nChannel, int nWidth, int nHeight)
{
    const int wnd = FindWndIndex(nChannel);
    if (wnd < 0 || m_nOriginal[nChannel] != 1 || m_videoSize[nChannel] == QSize(nWidth, nHeight))
        return;
    m_pWndManage->SetVideoSize(wnd, nWidth, nHeight);
    m_videoSize[nChannel] = QSize(nWidth, nHeight);
    emit videoSizeChange(wnd);
}

int CRealPlayWidget::SetPreviewStatus(int nChannel)
{
    if (!Port(nChannel))
        return -1;
    const int wnd = FindWndIndex(nChannel);
    if (wnd < 0)
        return -1;
    m_pWndManage->setPreviewStatus(wnd, true);
    m_pWndManage->UpdateWnd(wnd);
    m_pWndManage->SetAspectMode(wnd, 0);
    m_nOriginal[nChannel] = 0;
    UpdateSizeWatch(nChannel);
    return 0;
}

bool CRealPlayWidget::GunBallDeivcePlayOriginal(int nChannel, int nWndIndex)
{
    if (!IsChannel(nChannel) || !IsWnd(nWndIndex))
        return false;
    const bool bGunBall = QueryGunBall(nChannel);
    SetWndChn(nWndIndex, nChannel);
    if (bGunBall) {
        // Right after the start nothing is decoded yet: the window then takes
        // the picture's proportions as soon as the stream tells its size.
        if (PlayOriginal(nChannel) == -2) {
            m_pWndManage->setPreviewStatus(nWndIndex, false);
            m_nOriginal[nChannel] = 1;
            UpdateSizeWatch(nChannel);
        }
    } else {
        m_pWndManage->SetAspectMode(nWndIndex, 0);
        m_nOriginal[nChannel] = 0;
        UpdateSizeWatch(nChannel);
    }
    return bGunBall;
}

bool CRealPlayWidget::QueryGunBall(int nChannel)
{
    static const char *const kFunction = "CRealPlayWidget::GunBallDeivcePlayOriginal";
    if (m_bIPC)
        return TRV_NET_GetAbility(m_nLoginId, "SystemFunction/OtherFunction/SupportGunBallTwoSensorCamera")
            == 1;

    char buffer[kGunBallBufferSize];
    std::memset(buffer, 0, sizeof buffer);
    int length = 0;
    const int ret
        = TRV_NET_GetChannelAbility_Json(m_nLoginId, "ChannelSystemFunction@SupportGunBallTwoSensorCamera",
            -1, buffer, int(sizeof buffer), &length, kGunBallWaitMs);
    if (ret != 1) {
        playerLog(kFunction,
            QStringLiteral("GetChanenlAbility "
                           "Failed(ChannelSystemFunction@SupportGunBallTwoSensorCamera)-------Ret: %1 ")
                .arg(ret));
        return false;
    }
    // The answer is a text within the buffer, whatever the library says its length is.
    const std::string answer(buffer, strnlen(buffer, sizeof buffer));
    Json::Value root;
    if (!JsonUtil::parse(answer, &root)) {
        playerLog(kFunction, QStringLiteral("Json::Reader Parse Failed!"));
        return false;
    }
    int code = 0;
    if (!JsonUtil::readInt(root, "Ret", &code) || code != Ret::Ok) {
        playerLog(kFunction,
            QStringLiteral("ChannelAbility GunBallDevice Json: %1").arg(QString::fromStdString(answer)));
        return false;
    }
    std::string name;
    const Json::Value *list = nullptr;
    if (JsonUtil::readString(root, "Name", &name))
        list = &JsonUtil::member(root, name.c_str());
    if (!list || !list->isArray()) {
        playerLog(kFunction, QStringLiteral("Json::Value Exception"));
        return false;
    }
    if (Json::ArrayIndex(nChannel) >= list->size())
        return false;
    const Json::Value &value = (*list)[Json::ArrayIndex(nChannel)];
    if (value.isBool())
        return value.asBool();
    if (JsonUtil::isIntLike(value))
        return value.asInt() != 0;
    if (!value.isNull())
        playerLog(kFunction, QStringLiteral("Json::Value Exception"));
    return false;
}

int CRealPlayWidget::PlayOriginal(int nChannel)
{
    playerLog("CRealPlayWidget::PlayOriginal",
        QStringLiteral("CDecodeChannel::PlayOriginal --->nChannel %1").arg(nChannel));
    CDecodeChannel *port = Port(nChannel);
    if (!port)
        return -1;
    int width = 0;
    int height = 0;
    if (!port->GetPictureSize(&width, &height))
        return -2;
    const int wnd = FindWndIndex(nChannel);
    if (wnd >= 0) {
        m_videoSize[nChannel] = QSize(width, height);
        m_nLastSize[nChannel] = PackSize(width, height);
        m_pWndManage->SetVideoSize(wnd, width, height);
        OnQuitDigitalZoom(wnd);
        m_pWndManage->setPreviewStatus(wnd, false);
        m_pWndManage->UpdateWnd(wnd);
        m_pWndManage->SetAspectMode(wnd, 1);
    }
    m_nOriginal[nChannel] = 1;
    UpdateSizeWatch(nChannel);
    return 0;
}

// ---- snapshots, recording, sound, colour ----------------------------------------------------

int CRealPlayWidget::Capture(int nChannel, bool bToConfig)
{
    LoadLocalInfo();
    CDecodeChannel *port = Port(nChannel);
    if (!port)
        return -1;
    QString name;
    if (bToConfig) {
        name = QStringLiteral("%1/Cfg/capture.bmp").arg(m_strConfigFolder);
    } else {
        name = QStringLiteral("%1/%2_%3.%4")
                   .arg(m_localInfo.CapPath, TwoDigits(nChannel + 1), NameTime(),
                       m_localInfo.ImageType ? QStringLiteral("jpg") : QStringLiteral("bmp"));
    }
    return port->CatchPicture(name, m_localInfo.ImageType) ? 0 : -2;
}

int CRealPlayWidget::Record(int nChannel, bool bStart, bool *pbRecording)
{
    LoadLocalInfo();
    CDecodeChannel *port = Port(nChannel);
    if (!port)
        return -1;
    int res = 0;
    if (bStart) {
        if (port->IsRecording())
            port->StopRecord();
        QString name;
        const int type = m_localInfo.RecordType;
        if (type == 0 || type == 2) {
            name = QStringLiteral("%1/%2_%3.%4")
                       .arg(m_localInfo.RecPath, TwoDigits(nChannel + 1), NameTime(),
                           type == 0 ? QStringLiteral("h265x") : QStringLiteral("avi"));
            // The library writes into an existing folder only.
            QDir().mkpath(m_localInfo.RecPath);
        }
        playerLog("CRealPlayWidget::Record", name);
        res = port->StartRecord(name, type);
    } else {
        res = port->StopRecord();
    }
    const bool bRecording = port->IsRecording();
    if (pbRecording)
        *pbRecording = bRecording;
    m_bRecording[nChannel] = bRecording;
    playerLog(
        "CRealPlayWidget::Record", QStringLiteral("nChannel :%1,bRecord :%2").arg(nChannel).arg(bRecording));
    return res ? 0 : -2;
}

int CRealPlayWidget::OpenSound(int nChannel, bool bOn)
{
    return m_sound.Switch(nChannel, bOn, [this](int channel) { return Port(channel); });
}

int CRealPlayWidget::GetColor(int nChannel, int *pBrightness, int *pContrast, int *pSaturation, int *pHue)
{
    CDecodeChannel *port = Port(nChannel);
    if (!port)
        return -1;
    return port->GetColor(pBrightness, pContrast, pSaturation, pHue) ? 0 : -2;
}

int CRealPlayWidget::SetColor(int nComponent, int nValue)
{
    CDecodeChannel *port = Port(GetCurWndChn());
    if (!port)
        return -1;
    return port->SetColor(nComponent, nValue) ? 0 : -2;
}

// ---- digital zoom -----------------------------------------------------------------------------

int CRealPlayWidget::OnDigitalZoom(QPoint start, QPoint end, int nWndIndex)
{
    playerLog("CRealPlayWidget::OnDigitalZoom", QStringLiteral("OnDigitalZoom:nWndIndex[%1]").arg(nWndIndex));
    if (!IsWnd(nWndIndex))
        return nWndIndex;
    const int channel = m_wndChn[nWndIndex];
    CDecodeChannel *port = Port(channel);
    if (!port)
        return -1;
    port->SetDisplayRegionRect(start.x(), start.y(), end.x(), end.y(), true);
    m_bDigitalZoom[channel] = true;
    return 0;
}

int CRealPlayWidget::OnQuitDigitalZoom(int nWndIndex)
{
    playerLog(
        "CRealPlayWidget::OnQuitDigitalZoom", QStringLiteral("OnQuitDigitalZoom index :%1").arg(nWndIndex));
    if (!IsWnd(nWndIndex))
        return nWndIndex;
    // The window's selection region goes too, or the next selection would
    // narrow a region the picture no longer shows.
    m_pWndManage->SetDigitalZoom(nWndIndex, false);
    const int channel = m_wndChn[nWndIndex];
    CDecodeChannel *port = Port(channel);
    if (!port)
        return -1;
    port->SetDisplayRegionRect(0, 0, 0, 0, false);
    m_bDigitalZoom[channel] = false;
    return 0;
}

// ---- full screen, settings, rule ----------------------------------------------------------------

void CRealPlayWidget::EnterFullScreen()
{
    m_bFullScreen = true;
    m_pWndManage->ClearSelection();
}

void CRealPlayWidget::ExitFullScreen()
{
    m_bFullScreen = false;
    if (IsSingleWndMode() && HasScaleTwoLens(GetCurWndChn()))
        m_pWndManage->ShowScaleSlider(GetCurWndIndex(), true, 0.0f);
    m_pWndManage->RefreshSelection();
}

void CRealPlayWidget::LoadLocalInfo()
{
    LocalSettings::LoadClientCfg(m_strConfigFolder, &m_localInfo);
}

void CRealPlayWidget::SetRuleRegionInfo(const RuleRegionInfo &rule)
{
    std::lock_guard<std::mutex> lock(m_ruleMutex);
    m_rule = rule;
}

RuleRegionInfo CRealPlayWidget::GetRuleRegionInfo() const
{
    std::lock_guard<std::mutex> lock(m_ruleMutex);
    return m_rule;
}

bool CRealPlayWidget::RegisterRuleDraw()
{
    if (GetRuleRegionInfo().window != 0)
        return false;
    CDecodeChannel *port = GetChannel(0);
    return port && port->SetDrawCallback(&CRealPlayWidget::DrawRuleCallback, this) != 0;
}

void CRealPlayWidget::DrawRuleCallback(int, QPainter *painter, WId window, void *user)
{
    auto *self = static_cast<CRealPlayWidget *>(user);
    if (!self || !painter)
        return;
    const QWidget *widget = QWidget::find(window);
    if (!widget || widget->width() <= 0 || widget->height() <= 0)
        return;
    RuleOverlay::Draw(painter, widget->width(), widget->height(), self->GetRuleRegionInfo());
}
