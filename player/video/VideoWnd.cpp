#include "VideoWnd.h"

#include "ScaleSlider.h"
#include "VideoFrame.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QStyle>
#include <QWindow>

namespace {

const char kPlayFrameStyle[] = "#PlayFrame{background-color:rgb(0, 0, 0);}";

} // namespace

CVideoWnd::CVideoWnd(QWidget *parent, int nIndex)
    : QFrame(parent)
    , m_nIndex(nIndex)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    m_pPlayFrame = new QFrame(this);
    m_pPlayFrame->setObjectName(QStringLiteral("PlayFrame"));
    layout->addWidget(m_pPlayFrame);

    // The surface is placed by FitVideoFrame, not by a layout: a layout would
    // stretch it back over the whole of "PlayFrame" whenever it re-runs.
    m_pVideoFrame = new CVideoFrame(m_pPlayFrame, nIndex);
    m_pPlayFrame->installEventFilter(this);

    connect(m_pVideoFrame, &CVideoFrame::doubleClicked, this, &CVideoWnd::doubleClicked);
    connect(m_pVideoFrame, &CVideoFrame::activeWnd, this, &CVideoWnd::activeWnd);
    connect(m_pVideoFrame, &CVideoFrame::sig_selectRegion, this, &CVideoWnd::sig_selectRegion);
    connect(m_pVideoFrame, &CVideoFrame::sig_RectanglePoint, this, &CVideoWnd::sig_RectanglePoint);
    connect(m_pVideoFrame, &CVideoFrame::quitDigitalZoom, this, &CVideoWnd::quitDigitalZoom);
    connect(m_pVideoFrame, &CVideoFrame::quitPTZElect, this, &CVideoWnd::quitPTZElect);

    setStyleSheet(QString::fromLatin1(kPlayFrameStyle));
}

WId CVideoWnd::GetWndHandle()
{
    const bool bWasNative = m_pVideoFrame->HasNativeWindow();
    const WId handle = m_pVideoFrame->GetWndHandle();
    // A native window just made comes in front of its native siblings: the
    // zoom slider goes back in front of the video. QWidget::raise would do
    // nothing, the slider being in front among its own siblings already.
    if (!bWasNative && m_pScaleSlider && m_pScaleSlider->windowHandle())
        m_pScaleSlider->windowHandle()->raise();
    return handle;
}

void CVideoWnd::DropNativeWindows()
{
    m_pVideoFrame->DropNativeWindow();
    if (m_pScaleSlider)
        m_pScaleSlider->DropNativeWindow();
}

void CVideoWnd::SetSelected(bool bSelected)
{
    m_bSelected = bSelected;
    update(QRegion(rect()).subtracted(QRegion(rect().adjusted(1, 1, -1, -1))));
}

void CVideoWnd::SetSkin(const QString &strSkin)
{
    if (strSkin == QLatin1String("Black"))
        m_selectColor = QColor(196, 0, 34, 255);
    else if (strSkin == QLatin1String("O53"))
        m_selectColor = QColor(133, 1, 0, 255);
    else
        m_selectColor = QColor(18, 144, 255, 255);
    setStyleSheet(QString::fromLatin1(kPlayFrameStyle));
    update();
}

void CVideoWnd::SetAspectMode(int nMode)
{
    m_nAspectMode = nMode;
    if (nMode != kAspectKeep) {
        m_nVideoWidth = -1;
        m_nVideoHeight = -1;
    }
    FitVideoFrame();
}

void CVideoWnd::SetVideoSize(int nWidth, int nHeight)
{
    m_nVideoWidth = nWidth;
    m_nVideoHeight = nHeight;
}

void CVideoWnd::FitVideoFrame()
{
    const int W = m_pPlayFrame->width();
    const int H = m_pPlayFrame->height();
    QRect target(0, 0, W, H);
    // Only a size with both sides above zero is known; 0 x 0 (as a decoder
    // reports before its first picture) fills the window like an unknown one.
    if (m_nAspectMode == kAspectKeep && m_nVideoWidth > 0 && m_nVideoHeight > 0) {
        const int fw = static_cast<int>(double(H) / m_nVideoHeight * m_nVideoWidth);
        if (fw > W) {
            const int fh = static_cast<int>(double(W) / m_nVideoWidth * m_nVideoHeight);
            target = QRect(0, (H - fh) / 2, W, fh);
        } else if (fw < W) {
            target = QRect((W - fw) / 2, 0, fw, H);
        }
    }
    m_pVideoFrame->setGeometry(target);
}

QRect CVideoWnd::GetZoomRegion() const
{
    return m_pVideoFrame->GetZoomRegion();
}

void CVideoWnd::SetZoomRegion(const QRect &region)
{
    m_pVideoFrame->SetZoomRegion(region);
}

void CVideoWnd::SetDigitalZoom(bool bDigitalZoom)
{
    if (!bDigitalZoom)
        m_pVideoFrame->ResetZoomRegion();
    m_pVideoFrame->SetDigitalZoom(bDigitalZoom);
}

bool CVideoWnd::IsDigitalZoom() const
{
    return m_pVideoFrame->IsDigitalZoom();
}

void CVideoWnd::SetPreviewStatus(bool bPreview)
{
    m_pVideoFrame->SetPreviewStatus(bPreview);
}

void CVideoWnd::SetPTZElectStatus(bool bElect)
{
    m_pVideoFrame->setPTZElectStatus(bElect);
}

void CVideoWnd::SetBackgroundImage(const QString &strPath)
{
    m_pVideoFrame->SetBackgroundImage(strPath);
    m_pVideoFrame->update();
}

void CVideoWnd::ShowScaleSlider(bool bShow, float fMaxTimes)
{
    const bool bValidMax = CScaleSlider::IsValidMaxTimes(fMaxTimes);
    if (!m_pScaleSlider && bShow) {
        if (bValidMax)
            m_fMaxTimes = fMaxTimes;
        m_pScaleSlider = new CScaleSlider(this, m_nIndex, m_fMaxTimes);
        // Over the video frame's native window only a native window of its
        // own shows; its ancestors need none.
        m_pScaleSlider->setAttribute(Qt::WA_DontCreateNativeAncestors);
        m_pScaleSlider->setAttribute(Qt::WA_NativeWindow);
        m_pScaleSlider->installEventFilter(this);
        connect(m_pScaleSlider, &CScaleSlider::sig_SetScaleTwoLensTimes, this,
            &CVideoWnd::sig_SetScaleTwoLensTimes);
    } else if (m_pScaleSlider && bValidMax && fMaxTimes != m_fMaxTimes) {
        // Another camera in this window may zoom further or less far.
        m_fMaxTimes = fMaxTimes;
        m_pScaleSlider->SetMaxTimes(fMaxTimes);
    }
    if (!m_pScaleSlider)
        return;
    m_pScaleSlider->hide();
    if (bShow) {
        PlaceScaleSlider();
        m_pScaleSlider->show();
        m_pScaleSlider->raise();
    }
}

void CVideoWnd::SetScaleValue(float fTimes)
{
    if (m_pScaleSlider)
        m_pScaleSlider->setValue(CScaleSlider::TimesToTenths(double(fTimes)));
}

void CVideoWnd::PlaceScaleSlider()
{
    if (!m_pScaleSlider)
        return;
    const int c = CScaleSlider::MaxSteps(m_fMaxTimes);
    const int d0 = width() * 2 / 3;
    const int d = (d0 + c - 1) / c * c;
    m_pScaleSlider->resize(d, c / 2);
    // The slider is a child of this window, so it is placed in the window's
    // own coordinates: centred, just above the bottom edge.
    m_pScaleSlider->move((width() - d) / 2, (height() - 1) - c - 9);
}

bool CVideoWnd::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_pPlayFrame && event->type() == QEvent::Resize) {
        FitVideoFrame();
        return false;
    }
    if (m_pScaleSlider && watched == m_pScaleSlider)
        return SliderEvent(event);
    return QFrame::eventFilter(watched, event);
}

bool CVideoWnd::SliderEvent(QEvent *event)
{
    bool bReport = false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            m_pScaleSlider->setSliderDown(true);
            m_pScaleSlider->setValue(QStyle::sliderValueFromPosition(m_pScaleSlider->minimum(),
                m_pScaleSlider->maximum(), mouse->pos().x(), m_pScaleSlider->width(), false));
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        bReport = true;
        break;
    case QEvent::Wheel:
        // Let the slider take the step first, so that the new value is the
        // one reported.
        static_cast<QObject *>(m_pScaleSlider)->event(event);
        m_pScaleSlider->setSliderDown(false);
        emit sig_SetScaleTwoLensTimes(float(m_pScaleSlider->value()) / 10.0f, m_nIndex);
        return true;
    case QEvent::KeyRelease: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        bReport = key == Qt::Key_Left || key == Qt::Key_Up || key == Qt::Key_Right || key == Qt::Key_Down;
        break;
    }
    default:
        break;
    }
    if (bReport) {
        m_pScaleSlider->setSliderDown(false);
        emit sig_SetScaleTwoLensTimes(float(m_pScaleSlider->value()) / 10.0f, m_nIndex);
    }
    return false;
}

void CVideoWnd::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (!m_bSelected)
        return;
    QPainter painter(this);
    painter.setPen(QPen(m_selectColor, 1));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CVideoWnd::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    FitVideoFrame();
    if (m_pScaleSlider)
        PlaceScaleSlider();
}
