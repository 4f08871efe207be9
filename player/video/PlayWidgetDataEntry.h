#pragma once

#include "PlayWidgetFacade.h"

// The window facade as the device library's threads get it: the three Input*
// calls pass stream data to the existing window (PlayWidget::inputRealPlay
// and its siblings), never making one; every other call belongs to the GUI
// thread and answers here "does not apply" (-1, false, 0 or nothing) after a
// warning in the log. One object for the whole process (PlayWidget::dataEntry).
class PlayWidgetDataEntry final : public PlayWidgetFacade
{
public:
    int InputRealPlayData(int channel, const char *data, int length, int dataType) override;
    int InputPlaybackData(int wnd, const char *data, int length) override;
    int InputColorSetData(const char *data, int length) override;

    int GetCurPageIndex() override;
    void SetPageIndex(int page) override;
    quint64 ErgodicAllChild(quint64 browserWnd, int browseType, int depth) override;
    void SetBrowserWnd(quint64 browserWnd, quint64 renderWnd, const QString &title, int browseType) override;
    void onWidgetStatuChange(int type, int left, int top, int width, int height) override;
    void onFullScreen() override;
    LocalInfo LoadLocalInfo() override;
    void releaseInstance() override;
    QObject *signalSource() override;
    void SetSkin(const QString &skin) override;
    int ChangeSplit(int layoutIndex) override;
    int GetCurWndIndex() override;
    int GetCurWndChn(int type) override;
    int GetWndChn(int page, int wnd) override;
    int FindWndIndex(int page, int channel) override;
    int GetPlayState(int page, int index) override;
    bool IsDigitalZoom(int page, int index) override;
    bool IsSoundWnd(int page, int index) override;
    int OpenSound(int page, int index, bool on) override;
    int Capture(int index, bool live) override;
    void SetDeviceInfo(int loginId, bool ipc) override;
    int PreviewPlay(int streamType, int channel, int wnd) override;
    void PreviewStop(int channel) override;
    void GetColor(int channel, int *brightness, int *contrast, int *saturation, int *hue) override;
    bool SetColor(int component, int value) override;
    int GetChnStream(int channel) override;
    bool IsRecording(int channel) override;
    int Record(int channel, bool on, bool *recording) override;
    int GetPlayOriginalState(int channel) override;
    int PlayOriginal(int channel) override;
    bool SetPreviewStatus(int channel) override;
    bool PTZElectOpen(int channel, int wnd) override;
    bool PTZElectPresent(int channel, int command, int preset) override;
    bool PTZElectRedu(int channel) override;
    bool PTZElectZoomIn(int channel, int step) override;
    bool PTZElectZoomOut(int channel, int step) override;
    bool PTZElectronicMove(int channel, int direction, int step) override;
    void ScaleSwitch(int type, int speed) override;
    void SetRuleRegionInfo(int mode, const RuleRegionInfo &rule, int *result) override;
    void SetPlaybackMode(bool devicePlayback) override;
    int StartPlayback(int openParameter, int wnd) override;
    void StopPlayback(int wnd) override;
    int BeginLocalPlay(int wnd, const QString &fileName, FileEndCallback callback, void *user) override;
    void SetPlaybackWndChn(int channel, int wnd) override;
    void SetPlaybackTimeText(int wnd, const QString &start, const QString &end) override;
    void SetCurWnd(int wnd) override;
    int PlaybackControl(int wnd, int command) override;
    int SetPlayPos(int wnd, float position) override;
    int PositionToSeconds(int wnd, int perMille) override;
    float GetPlayTime(int wnd) override;
    void GetPlaybackBufInfo(int wnd, int *yuv, int *buf) override;
    bool GetPlaybackFlag(int wnd) override;
    bool IsPlaybackRecording(int wnd) override;
    int PlaybackRecord(int wnd, bool on) override;
    int PlaybackDigitalZoom() override;
    void GetPlaybackWndStatus(int wnd, bool *recording, bool *zoom, bool *sound) override;
    void SetPlaybackBackground(const QString &picture) override;
    int ColorPreviewStart(int streamType) override;
    void ColorPreviewStop() override;
    bool ChangeFileFormat(const QString &source, const QString &target, int type,
        ConvertProgressCallback callback, void *user) override;
};
