// The window facade: each call goes to the page it concerns, chosen by the
// current page or by the caller's page argument.

#include "PlayWidget.h"

#include "ColorSetWidget.h"
#include "DecodeChannel.h"
#include "LightWeightLog.h"
#include "PlayState.h"
#include "PlaybackWidget.h"
#include "RealPlayWidget.h"
#include "common/Protocol.h"

// ---- both grids ---------------------------------------------------------------------------------

void PlayWidget::SetSkin(const QString &skin)
{
    m_pPlayback->SetSkin(skin);
    m_pRealPlay->SetSkin(skin);
}

int PlayWidget::ChangeSplit(int layoutIndex)
{
    if (m_nCurPageIndex != PlayerPage::Live && m_nCurPageIndex != PlayerPage::Playback)
        return 0;
    playerLog(
        "PlayWidget::ChangeSplit", QStringLiteral("pageid=%1 mode=%2").arg(m_nCurPageIndex).arg(layoutIndex));
    return m_nCurPageIndex == PlayerPage::Live ? m_pRealPlay->ChangeSplit(layoutIndex)
                                               : m_pPlayback->ChangeSplit(layoutIndex);
}

int PlayWidget::GetCurWndIndex()
{
    switch (m_nCurPageIndex) {
    case PlayerPage::Live:
        return m_pRealPlay->GetCurWndIndex();
    case PlayerPage::Playback:
        return m_pPlayback->GetCurWndIndex();
    default:
        return -1;
    }
}

int PlayWidget::GetCurWndChn(int type)
{
    const int page = type == PlayerPage::Current ? m_nCurPageIndex : type;
    switch (page) {
    case PlayerPage::Live:
        return m_pRealPlay->GetCurWndChn();
    case PlayerPage::Playback:
        return m_pPlayback->GetCurWndChn();
    default:
        return -1;
    }
}

int PlayWidget::GetWndChn(int page, int wnd)
{
    switch (page) {
    case PlayerPage::Live:
        return m_pRealPlay->GetWndChn(wnd);
    case PlayerPage::Playback:
        return m_pPlayback->GetWndChn(wnd);
    default:
        return -1;
    }
}

int PlayWidget::FindWndIndex(int page, int channel)
{
    switch (page) {
    case PlayerPage::Live:
        return m_pRealPlay->FindWndIndex(channel);
    case PlayerPage::Playback:
        return m_pPlayback->FindWndIndex(channel);
    default:
        return -1;
    }
}

int PlayWidget::GetPlayState(int page, int index)
{
    int state = 0;
    switch (page) {
    case PlayerPage::Live:
        state = m_pRealPlay->GetPlayState(index);
        break;
    case PlayerPage::Playback:
        state = m_pPlayback->GetPlayState(index);
        break;
    case PlayerPage::Color:
        state = m_pColorSet->GetState();
        break;
    default:
        return 0;
    }
    // A state the page has no status for is passed on as it is.
    return PlayState::pageStatus(state, state);
}

bool PlayWidget::IsDigitalZoom(int page, int index)
{
    switch (page) {
    case PlayerPage::Live:
        return m_pRealPlay->IsDigitalZoom(index);
    case PlayerPage::Playback:
        return m_pPlayback->IsDigitalZoom(index);
    default:
        return false;
    }
}

bool PlayWidget::IsSoundWnd(int page, int index)
{
    switch (page) {
    case PlayerPage::Live:
        return m_pRealPlay->IsSoundWnd(index);
    case PlayerPage::Playback:
        return m_pPlayback->IsSoundWnd(index);
    default:
        return false;
    }
}

int PlayWidget::OpenSound(int page, int index, bool on)
{
    switch (page) {
    case PlayerPage::Live:
        return m_pRealPlay->OpenSound(index, on);
    case PlayerPage::Playback:
        return m_pPlayback->OpenSound(index, on);
    default:
        return -1;
    }
}

int PlayWidget::Capture(int index, bool live)
{
    // The live flag takes the live page's snapshot into the fixed
    // configuration picture, whatever page is shown.
    if (live || m_nCurPageIndex == PlayerPage::Live)
        return m_pRealPlay->Capture(index, live);
    if (m_nCurPageIndex == PlayerPage::Playback) {
        LoadLocalInfo();
        return m_pPlayback->Capture(index, m_localInfo.CapPath);
    }
    return -1;
}

// ---- live page ----------------------------------------------------------------------------------

void PlayWidget::SetDeviceInfo(int loginId, bool ipc)
{
    m_pRealPlay->SetDeviceInfo(loginId, ipc);
}

int PlayWidget::PreviewPlay(int streamType, int channel, int wnd)
{
    return m_pRealPlay->PreviewPlay(streamType, channel, wnd);
}

void PlayWidget::PreviewStop(int channel)
{
    playerLog("PlayWidget::PreviewStop", QStringLiteral("PlayWidget::PreviewStop Chn=%1").arg(channel));
    m_pRealPlay->PreviewStop(channel);
}

int PlayWidget::InputRealPlayData(int channel, const char *data, int length, int dataType)
{
    return inputRealPlay(channel, data, length, dataType);
}

void PlayWidget::GetColor(int channel, int *brightness, int *contrast, int *saturation, int *hue)
{
    m_pRealPlay->GetColor(channel, brightness, contrast, saturation, hue);
}

bool PlayWidget::SetColor(int component, int value)
{
    return m_pRealPlay->SetColor(component, value) == 0;
}

int PlayWidget::GetChnStream(int channel)
{
    return m_pRealPlay->GetChnStream(channel);
}

bool PlayWidget::IsRecording(int channel)
{
    return m_nCurPageIndex == PlayerPage::Live && m_pRealPlay->IsRecording(channel);
}

int PlayWidget::Record(int channel, bool on, bool *recording)
{
    return m_pRealPlay->Record(channel, on, recording);
}

int PlayWidget::GetPlayOriginalState(int channel)
{
    return m_nCurPageIndex == PlayerPage::Live ? m_pRealPlay->GetPlayOriginalState(channel) : 0;
}

int PlayWidget::PlayOriginal(int channel)
{
    return m_pRealPlay->PlayOriginal(channel);
}

bool PlayWidget::SetPreviewStatus(int channel)
{
    return m_pRealPlay->SetPreviewStatus(channel) == 0;
}

bool PlayWidget::PTZElectOpen(int channel, int wnd)
{
    return m_pRealPlay->PTZElectOpen(channel, wnd);
}

bool PlayWidget::PTZElectPresent(int channel, int command, int preset)
{
    return m_pRealPlay->PTZElectPresent(channel, command, preset);
}

bool PlayWidget::PTZElectRedu(int channel)
{
    return m_pRealPlay->PTZElectRedu(channel);
}

bool PlayWidget::PTZElectZoomIn(int channel, int step)
{
    return m_pRealPlay->PTZElectZoomIn(channel, step);
}

bool PlayWidget::PTZElectZoomOut(int channel, int step)
{
    return m_pRealPlay->PTZElectZoomOut(channel, step);
}

bool PlayWidget::PTZElectronicMove(int channel, int direction, int step)
{
    return m_pRealPlay->PTZElectronicMove(channel, direction, step);
}

void PlayWidget::ScaleSwitch(int type, int speed)
{
    m_pRealPlay->ScaleSwitch(type, speed);
}

void PlayWidget::SetRuleRegionInfo(int mode, const RuleRegionInfo &rule, int *result)
{
    m_pRealPlay->SetRuleRegionInfo(rule);
    if (mode == 1 && !m_pRealPlay->RegisterRuleDraw() && result)
        *result = Ret::Failed;
}

// ---- playback page ------------------------------------------------------------------------------

void PlayWidget::SetPlaybackMode(bool devicePlayback)
{
    m_pPlayback->SetPlayMode(devicePlayback);
}

int PlayWidget::StartPlayback(int openParameter, int wnd)
{
    return m_pPlayback->StartPlayback(openParameter, wnd);
}

void PlayWidget::StopPlayback(int wnd)
{
    m_pPlayback->StopPlayback(wnd);
}

int PlayWidget::InputPlaybackData(int wnd, const char *data, int length)
{
    return inputPlayback(wnd, data, length);
}

int PlayWidget::BeginLocalPlay(int wnd, const QString &fileName, FileEndCallback callback, void *user)
{
    return m_pPlayback->BeginLocalPlay(wnd, fileName, callback, user);
}

void PlayWidget::SetPlaybackWndChn(int channel, int wnd)
{
    if (m_nCurPageIndex == PlayerPage::Playback)
        m_pPlayback->SetWndChn(channel, wnd);
}

void PlayWidget::SetPlaybackTimeText(int wnd, const QString &start, const QString &end)
{
    m_pPlayback->SetTimeText(wnd, start, end);
}

void PlayWidget::SetCurWnd(int wnd)
{
    if (m_nCurPageIndex != PlayerPage::Playback)
        return;
    m_pPlayback->SetCurWnd(wnd);
    emit curWndIndexSig(m_nCurPageIndex, wnd);
}

int PlayWidget::PlaybackControl(int wnd, int command)
{
    return m_pPlayback->PlaybackControl(wnd, command);
}

int PlayWidget::SetPlayPos(int wnd, float position)
{
    return m_pPlayback->SetPlayPos(wnd, position);
}

int PlayWidget::PositionToSeconds(int wnd, int perMille)
{
    return m_pPlayback->PositionToSeconds(wnd, perMille);
}

float PlayWidget::GetPlayTime(int wnd)
{
    return m_pPlayback->GetPlayTime(wnd);
}

void PlayWidget::GetPlaybackBufInfo(int wnd, int *yuv, int *buf)
{
    m_pPlayback->GetBufInfo(wnd, yuv, buf);
}

bool PlayWidget::GetPlaybackFlag(int wnd)
{
    return m_pPlayback->GetPlaybackFlag(wnd);
}

bool PlayWidget::IsPlaybackRecording(int wnd)
{
    return m_pPlayback->IsRecording(wnd);
}

int PlayWidget::PlaybackRecord(int wnd, bool on)
{
    LoadLocalInfo();
    return m_pPlayback->Record(wnd, m_localInfo.RecordType, on, m_localInfo.RecPath);
}

int PlayWidget::PlaybackDigitalZoom()
{
    return m_pPlayback->DigitalZoom();
}

void PlayWidget::GetPlaybackWndStatus(int wnd, bool *recording, bool *zoom, bool *sound)
{
    if (recording)
        *recording = m_pPlayback->IsRecording(wnd);
    if (zoom)
        *zoom = m_pPlayback->IsDigitalZoom(wnd);
    if (sound)
        *sound = m_pPlayback->IsSoundWnd(wnd);
}

void PlayWidget::SetPlaybackBackground(const QString &picture)
{
    m_pPlayback->SetBackground(picture);
}

// ---- colour page --------------------------------------------------------------------------------

int PlayWidget::ColorPreviewStart(int streamType)
{
    return m_pColorSet->PreviewStart(streamType);
}

void PlayWidget::ColorPreviewStop()
{
    m_pColorSet->PreviewStop();
}

int PlayWidget::InputColorSetData(const char *data, int length)
{
    return inputColorSet(data, length);
}

// ---- files --------------------------------------------------------------------------------------

bool PlayWidget::ChangeFileFormat(
    const QString &source, const QString &target, int type, ConvertProgressCallback callback, void *user)
{
    return CDecodeChannel::ChangeFileFormat(source, target, type, callback, user);
}
