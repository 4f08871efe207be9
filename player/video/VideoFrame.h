#pragma once

#include <QFrame>
#include <QPoint>
#include <QRect>
#include <QVariant>

// The drawing surface of one video window. It owns a native window, made on
// the first call of `GetWndHandle`, whose handle is what the play library
// renders into: the library puts a render widget of its own into this frame. Such a widget is kept
// filling the frame and lets the mouse through, so that the frame still turns
// mouse actions into the window signals (activation, double click, a dragged
// selection, leaving digital zoom or electronic PTZ).
//
// The zoom region is kept in QRect coordinates (left, top, right, bottom with
// right = left + width - 1); the null QRect (0, 0, -1, -1) means "no region".
class CVideoFrame : public QFrame
{
    Q_OBJECT

public:
    // A drag shorter than this in either direction selects nothing.
    static constexpr int kMinDragPixels = 10;
    // While dragging, the selection rectangle is reported this often.
    static constexpr int kDragTickMs = 10;

    explicit CVideoFrame(QWidget *parent = nullptr, int nIndex = 0);

    int GetIndex() const { return m_nIndex; }
    // The native handle, read live: Qt may recreate the native window when
    // the widget tree above it is re-parented. The first call makes the
    // native window (GUI thread); the frame's ancestors stay as they are.
    WId GetWndHandle();
    bool HasNativeWindow() const;
    // Lets go of the native window, as the window it was in went away; the
    // next GetWndHandle, or the making of that window anew, makes another.
    void DropNativeWindow();

    void SetPreviewStatus(bool bPreview) { m_bPreview = bPreview; }
    bool GetPreviewStatus() const { return m_bPreview; }
    void SetDigitalZoom(bool bDigitalZoom) { m_bDigitalZoom = bDigitalZoom; }
    bool IsDigitalZoom() const { return m_bDigitalZoom; }
    QRect GetZoomRegion() const { return m_zoomRegion; }
    void SetZoomRegion(const QRect &region) { m_zoomRegion = region; }
    void ResetZoomRegion() { m_zoomRegion = QRect(); }
    void setPTZElectStatus(bool bElect);
    bool GetPTZElectStatus() const { return m_bElect; }
    void SetBackgroundImage(const QString &strPath) { m_strBackground = strPath; }
    QString GetBackgroundImage() const { return m_strBackground; }

signals:
    void doubleClicked(int nIndex);
    void activeWnd(int nIndex);
    void sig_RectanglePoint(QVariant hwnd, QPoint start, QPoint cur);
    void sig_selectRegion(QVariant hwnd, QPoint start, QPoint end);
    void quitDigitalZoom(int nIndex);
    void quitPTZElect(int nIndex);

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void childEvent(QChildEvent *event) override;

private:
    QVariant HandleVariant();
    void StopDragTimer();
    void AdoptRenderWidget(QWidget *child);

    int m_nIndex = 0;
    int m_nTimerId = 0;
    bool m_bLButtonDown = false;
    bool m_bDigitalZoom = false;
    QRect m_zoomRegion;
    int m_nHalfWidth = 0;
    int m_nHalfHeight = 0;
    QPoint m_pressPoint;
    QPoint m_curPoint;
    QPoint m_startPoint;
    bool m_bDrawing = false;
    bool m_bPreview = false;
    bool m_bElect = false;
    QString m_strBackground;
};
