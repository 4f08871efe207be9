#include "PlayWidgetDataEntry.h"

#include "LightWeightLog.h"
#include "PlayWidget.h"

namespace {

// A window call made off the GUI thread: a fault of the caller, logged.
template<class T> T Refused(const char *name, T value)
{
    LightWeightLog::instance()->PrintLog(QStringLiteral("PlayWidgetDataEntry"),
        QStringLiteral("%1 called off the GUI thread: not done").arg(QLatin1String(name)),
        LightWeightLog::Warning);
    return value;
}

void Refused(const char *name)
{
    Refused(name, 0);
}

} // namespace

PlayWidgetFacade *PlayWidget::dataEntry()
{
    static PlayWidgetDataEntry entry;
    return &entry;
}

int PlayWidgetDataEntry::InputRealPlayData(int channel, const char *data, int length, int dataType)
{
    return PlayWidget::inputRealPlay(channel, data, length, dataType);
}

int PlayWidgetDataEntry::InputPlaybackData(int wnd, const char *data, int length)
{
    return PlayWidget::inputPlayback(wnd, data, length);
}

int PlayWidgetDataEntry::InputColorSetData(const char *data, int length)
{
    return PlayWidget::inputColorSet(data, length);
}

int PlayWidgetDataEntry::GetCurPageIndex()
{
    return Refused("GetCurPageIndex", -1);
}
void PlayWidgetDataEntry::SetPageIndex(int)
{
    Refused("SetPageIndex");
}
quint64 PlayWidgetDataEntry::ErgodicAllChild(quint64, int, int)
{
    return Refused("ErgodicAllChild", quint64(0));
}
void PlayWidgetDataEntry::SetBrowserWnd(quint64, quint64, const QString &, int)
{
    Refused("SetBrowserWnd");
}
void PlayWidgetDataEntry::onWidgetStatuChange(int, int, int, int, int)
{
    Refused("onWidgetStatuChange");
}
void PlayWidgetDataEntry::onFullScreen()
{
    Refused("onFullScreen");
}
LocalInfo PlayWidgetDataEntry::LoadLocalInfo()
{
    return Refused("LoadLocalInfo", LocalInfo());
}
void PlayWidgetDataEntry::releaseInstance()
{
    Refused("releaseInstance");
}
QObject *PlayWidgetDataEntry::signalSource()
{
    return Refused("signalSource", static_cast<QObject *>(nullptr));
}
void PlayWidgetDataEntry::SetSkin(const QString &)
{
    Refused("SetSkin");
}
int PlayWidgetDataEntry::ChangeSplit(int)
{
    return Refused("ChangeSplit", 0);
}
int PlayWidgetDataEntry::GetCurWndIndex()
{
    return Refused("GetCurWndIndex", -1);
}
int PlayWidgetDataEntry::GetCurWndChn(int)
{
    return Refused("GetCurWndChn", -1);
}
int PlayWidgetDataEntry::GetWndChn(int, int)
{
    return Refused("GetWndChn", -1);
}
int PlayWidgetDataEntry::FindWndIndex(int, int)
{
    return Refused("FindWndIndex", -1);
}
int PlayWidgetDataEntry::GetPlayState(int, int)
{
    return Refused("GetPlayState", -1);
}
bool PlayWidgetDataEntry::IsDigitalZoom(int, int)
{
    return Refused("IsDigitalZoom", false);
}
bool PlayWidgetDataEntry::IsSoundWnd(int, int)
{
    return Refused("IsSoundWnd", false);
}
int PlayWidgetDataEntry::OpenSound(int, int, bool)
{
    return Refused("OpenSound", -1);
}
int PlayWidgetDataEntry::Capture(int, bool)
{
    return Refused("Capture", -1);
}
void PlayWidgetDataEntry::SetDeviceInfo(int, bool)
{
    Refused("SetDeviceInfo");
}
int PlayWidgetDataEntry::PreviewPlay(int, int, int)
{
    return Refused("PreviewPlay", -1);
}
void PlayWidgetDataEntry::PreviewStop(int)
{
    Refused("PreviewStop");
}
void PlayWidgetDataEntry::GetColor(int, int *, int *, int *, int *)
{
    Refused("GetColor");
}
bool PlayWidgetDataEntry::SetColor(int, int)
{
    return Refused("SetColor", false);
}
int PlayWidgetDataEntry::GetChnStream(int)
{
    return Refused("GetChnStream", 0);
}
bool PlayWidgetDataEntry::IsRecording(int)
{
    return Refused("IsRecording", false);
}
int PlayWidgetDataEntry::Record(int, bool, bool *)
{
    return Refused("Record", -1);
}
int PlayWidgetDataEntry::GetPlayOriginalState(int)
{
    return Refused("GetPlayOriginalState", 0);
}
int PlayWidgetDataEntry::PlayOriginal(int)
{
    return Refused("PlayOriginal", -1);
}
bool PlayWidgetDataEntry::SetPreviewStatus(int)
{
    return Refused("SetPreviewStatus", false);
}
bool PlayWidgetDataEntry::PTZElectOpen(int, int)
{
    return Refused("PTZElectOpen", false);
}
bool PlayWidgetDataEntry::PTZElectPresent(int, int, int)
{
    return Refused("PTZElectPresent", false);
}
bool PlayWidgetDataEntry::PTZElectRedu(int)
{
    return Refused("PTZElectRedu", false);
}
bool PlayWidgetDataEntry::PTZElectZoomIn(int, int)
{
    return Refused("PTZElectZoomIn", false);
}
bool PlayWidgetDataEntry::PTZElectZoomOut(int, int)
{
    return Refused("PTZElectZoomOut", false);
}
bool PlayWidgetDataEntry::PTZElectronicMove(int, int, int)
{
    return Refused("PTZElectronicMove", false);
}
void PlayWidgetDataEntry::ScaleSwitch(int, int)
{
    Refused("ScaleSwitch");
}
void PlayWidgetDataEntry::SetRuleRegionInfo(int, const RuleRegionInfo &, int *result)
{
    if (result)
        *result = 1016;
    Refused("SetRuleRegionInfo");
}
void PlayWidgetDataEntry::SetPlaybackMode(bool)
{
    Refused("SetPlaybackMode");
}
int PlayWidgetDataEntry::StartPlayback(int, int)
{
    return Refused("StartPlayback", -1);
}
void PlayWidgetDataEntry::StopPlayback(int)
{
    Refused("StopPlayback");
}
int PlayWidgetDataEntry::BeginLocalPlay(int, const QString &, FileEndCallback, void *)
{
    return Refused("BeginLocalPlay", 0);
}
void PlayWidgetDataEntry::SetPlaybackWndChn(int, int)
{
    Refused("SetPlaybackWndChn");
}
void PlayWidgetDataEntry::SetPlaybackTimeText(int, const QString &, const QString &)
{
    Refused("SetPlaybackTimeText");
}
void PlayWidgetDataEntry::SetCurWnd(int)
{
    Refused("SetCurWnd");
}
int PlayWidgetDataEntry::PlaybackControl(int, int)
{
    return Refused("PlaybackControl", -1);
}
int PlayWidgetDataEntry::SetPlayPos(int, float)
{
    return Refused("SetPlayPos", 0);
}
int PlayWidgetDataEntry::PositionToSeconds(int, int)
{
    return Refused("PositionToSeconds", 0);
}
float PlayWidgetDataEntry::GetPlayTime(int)
{
    return Refused("GetPlayTime", 0.0f);
}
void PlayWidgetDataEntry::GetPlaybackBufInfo(int, int *, int *)
{
    Refused("GetPlaybackBufInfo");
}
bool PlayWidgetDataEntry::GetPlaybackFlag(int)
{
    return Refused("GetPlaybackFlag", false);
}
bool PlayWidgetDataEntry::IsPlaybackRecording(int)
{
    return Refused("IsPlaybackRecording", false);
}
int PlayWidgetDataEntry::PlaybackRecord(int, bool)
{
    return Refused("PlaybackRecord", 0);
}
int PlayWidgetDataEntry::PlaybackDigitalZoom()
{
    return Refused("PlaybackDigitalZoom", -1);
}
void PlayWidgetDataEntry::GetPlaybackWndStatus(int, bool *, bool *, bool *)
{
    Refused("GetPlaybackWndStatus");
}
void PlayWidgetDataEntry::SetPlaybackBackground(const QString &)
{
    Refused("SetPlaybackBackground");
}
int PlayWidgetDataEntry::ColorPreviewStart(int)
{
    return Refused("ColorPreviewStart", -1);
}
void PlayWidgetDataEntry::ColorPreviewStop()
{
    Refused("ColorPreviewStop");
}
bool PlayWidgetDataEntry::ChangeFileFormat(
    const QString &, const QString &, int, ConvertProgressCallback, void *)
{
    return Refused("ChangeFileFormat", false);
}
