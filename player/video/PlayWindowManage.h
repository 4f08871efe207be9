#pragma once

#include <QPoint>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <array>
#include <functional>

class CSelectionBand;
class CVideoWnd;
class QFrame;
class QGridLayout;

// The grid of video windows that the live-view and the playback page each own.
// All 64 windows exist from the start; a split lays out the first N of them.
// The grid keeps the current (selected) window, enlarges a window on double
// click and restores the split on the next one, shows the selection rectangle
// dragged over a video window and turns a finished selection into a digital
// zoom region in the picture's 0-8192 space.
//
// Where an operation takes "index or all", an index outside 0-63 (the pages
// pass -1 for a channel shown in no window) means every window.
// GUI thread only.
class CPlayWindowManage : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxWnd = 64;
    // Full picture in the virtual coordinates of zoom regions and e-PTZ.
    static constexpr int kVirtualSize = 8192;

    // Window modes.
    static constexpr int kModeNone = 0; // not split yet
    static constexpr int kModeSingle = 1; // split into one window
    static constexpr int kModeMulti = 2; // split into several windows
    static constexpr int kModeEnlarged = 3; // one window enlarged by double click

    explicit CPlayWindowManage(QWidget *parent = nullptr);
    ~CPlayWindowManage() override;

    // Lays out windows 0 to N-1; N is brought into 1..64.
    void SplitWindow(int nCount);

    int GetCurWndIndex() const { return m_nCurWndIndex; }
    int GetWindowMode() const { return m_nWndMode; }
    int GetSplitCount() const { return m_nSplitCount; }
    bool IsEnlarged() const { return m_bEnlarged; }
    // Window 0-63, else null.
    CVideoWnd *GetWnd(int nIndex) const;
    // Native handle of window nIndex's video surface (what the play library
    // draws into); 0 outside 0-63. Read it when a stream starts: the handle
    // can change when the widget tree above the grid is re-parented. The
    // first call makes the grid's native window, and the surface's inside it.
    WId GetWndHandle(int nIndex) const;
    // Lets go of the native windows of the grid and of its windows, as the
    // window they were in went away; the making of that window anew, or the
    // next GetWndHandle, makes them again.
    void DropNativeWindows();

    void SetSkin(const QString &strSkin);
    void SetBackgroundImage(const QString &strPath);
    void RefreshSelection();
    void ClearSelection();
    void SelectWndAtPoint(int x, int y);

    void setPreviewStatus(int nIndex, bool bPreview);
    void UpdateWnd(int nIndex);
    void SetDigitalZoom(int nIndex, bool bDigitalZoom);
    void ToggleCurWndDigitalZoom();
    bool IsCurWndDigitalZoom() const;
    void SetAspectMode(int nIndex, int nMode);
    void SetVideoSize(int nIndex, int nWidth, int nHeight);
    void SetPTZElectStatus(int nIndex, bool bElect);
    void ShowScaleSlider(int nIndex, bool bShow, float fMaxTimes);
    void SetScaleValue(int nIndex, float fTimes);

signals:
    void DigitalZoomSig(QPoint start, QPoint end, int nWndIndex);
    void curWndIndexSig(int nWndIndex);
    void quitDigitalZoom(int nWndIndex);
    void quitPTZElect(int nWndIndex);
    void sig_GetScaleTwoLensAbility(int nWndIndex);
    void sig_SetScaleTwoLensTimes(float fTimes, int nWndNo);

public slots:
    void onCurWndIndexChange(int nIndex);
    int onWndDoubleClicked(int nIndex);
    void onSelectRegion(QVariant hwnd, QPoint start, QPoint end);
    void onRectanglePoint(QVariant hwnd, QPoint start, QPoint end);
    void onVideoSizeChange(int nIndex);

private:
    static bool IsWndIndex(int nIndex) { return nIndex >= 0 && nIndex < kMaxWnd; }
    void ForWindows(int nIndex, const std::function<void(CVideoWnd *)> &fn) const;
    void NewGrid();
    void Place(int nWnd, int nRow, int nCol, int nRowSpan = 1, int nColSpan = 1);

    std::array<CVideoWnd *, kMaxWnd> m_wnds {};
    QFrame *m_pVideoFrame = nullptr;
    QGridLayout *m_pGrid = nullptr;
    int m_nCurWndIndex = 0;
    int m_nSplitCount = 0;
    bool m_bEnlarged = false;
    int m_nWndMode = kModeNone;
    QPointer<CSelectionBand> m_pSelectionBand;
};
