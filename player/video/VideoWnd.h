#pragma once

#include <QColor>
#include <QFrame>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVariant>

class CScaleSlider;
class CVideoFrame;

// One cell of the window grid: a thin frame that shows the selection border,
// holds the video surface (`CVideoFrame`) inside "PlayFrame", fits the surface
// to the video's aspect when asked, and carries the optional zoom slider of a
// two-lens camera.
class CVideoWnd : public QFrame
{
    Q_OBJECT

public:
    // Aspect modes: 1 keeps the video's aspect inside the window; any other
    // mode fills the window.
    static constexpr int kAspectKeep = 1;

    CVideoWnd(QWidget *parent, int nIndex);

    int GetIndex() const { return m_nIndex; }
    // Native handle of the video surface, the one the play library draws into.
    WId GetWndHandle();
    // Lets go of the surface's and the zoom slider's native windows, as the
    // window they were in went away.
    void DropNativeWindows();
    CVideoFrame *GetVideoFrame() const { return m_pVideoFrame; }
    QFrame *GetPlayFrame() const { return m_pPlayFrame; }

    void SetSelected(bool bSelected);
    bool IsSelected() const { return m_bSelected; }
    void SetSkin(const QString &strSkin);
    QColor GetSelectionColor() const { return m_selectColor; }

    void SetAspectMode(int nMode);
    int GetAspectMode() const { return m_nAspectMode; }
    // Stored only; the next fit uses it.
    void SetVideoSize(int nWidth, int nHeight);
    QSize GetVideoSize() const { return QSize(m_nVideoWidth, m_nVideoHeight); }
    void FitVideoFrame();

    QRect GetZoomRegion() const;
    void SetZoomRegion(const QRect &region);
    void SetDigitalZoom(bool bDigitalZoom);
    bool IsDigitalZoom() const;
    void SetPreviewStatus(bool bPreview);
    void SetPTZElectStatus(bool bElect);
    void SetBackgroundImage(const QString &strPath);

    // Shows or hides the zoom slider, creating it on first show. A maximum
    // that cannot work (below 1.1, as "keep the one you have" callers pass 0)
    // keeps the stored maximum.
    void ShowScaleSlider(bool bShow, float fMaxTimes);
    void SetScaleValue(float fTimes);
    CScaleSlider *GetScaleSlider() const { return m_pScaleSlider; }
    float GetMaxTimes() const { return m_fMaxTimes; }
    void PlaceScaleSlider();

signals:
    void doubleClicked(int nWndIndex);
    void activeWnd(int nWndIndex);
    void sig_RectanglePoint(QVariant hwnd, QPoint start, QPoint cur);
    void sig_selectRegion(QVariant hwnd, QPoint start, QPoint end);
    void quitDigitalZoom(int nIndex);
    void quitPTZElect(int nIndex);
    void sig_SetScaleTwoLensTimes(float fTimes, int nWndNo);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool SliderEvent(QEvent *event);

    CVideoFrame *m_pVideoFrame = nullptr;
    QFrame *m_pPlayFrame = nullptr;
    bool m_bSelected = false;
    QColor m_selectColor;
    CScaleSlider *m_pScaleSlider = nullptr;
    int m_nIndex = 0;
    float m_fMaxTimes = 8.0f;
    int m_nAspectMode = 0;
    int m_nVideoWidth = -1;
    int m_nVideoHeight = -1;
};
