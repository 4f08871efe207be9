#include "VideoFrame.h"

#include "LightWeightLog.h"

#include <QChildEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QRubberBand>

#include <cstdlib>

CVideoFrame::CVideoFrame(QWidget *parent, int nIndex)
    : QFrame(parent)
    , m_nIndex(nIndex)
{
    setObjectName(QStringLiteral("CPlayWnd"));
    setStyleSheet(QStringLiteral("#CPlayWnd{background-color:rgb(0,0,0);}"));
    // The native window the play library draws into is made only when its
    // handle is first asked for (GetWndHandle), and for this frame alone: a
    // grid of alien widgets costs the X server nothing, while a native window
    // for each of the 64 frames and each of their ancestors and siblings cost
    // hundreds of windows per player, every one of them announced to every
    // client watching the root window.
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setMouseTracking(true);
}

WId CVideoFrame::GetWndHandle()
{
    return winId();
}

bool CVideoFrame::HasNativeWindow() const
{
    return internalWinId() != 0;
}

void CVideoFrame::DropNativeWindow()
{
    if (HasNativeWindow())
        destroy(true, true);
}

QVariant CVideoFrame::HandleVariant()
{
    return QVariant::fromValue<WId>(GetWndHandle());
}

void CVideoFrame::setPTZElectStatus(bool bElect)
{
    m_bElect = bElect;
    playerLog("CVideoFrame::setPTZElectStatus", QStringLiteral("m_bElect = %1").arg(m_bElect),
        LightWeightLog::Normal);
}

void CVideoFrame::StopDragTimer()
{
    if (m_nTimerId != 0) {
        killTimer(m_nTimerId);
        m_nTimerId = 0;
    }
}

void CVideoFrame::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_nTimerId) {
        QFrame::timerEvent(event);
        return;
    }
    if (m_bLButtonDown && m_curPoint.x() > 0 && m_curPoint.y() > 0 && m_bPreview)
        emit sig_RectanglePoint(HandleVariant(), m_startPoint, m_curPoint);
}

void CVideoFrame::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_bLButtonDown = true;
        m_pressPoint = event->pos();
        if (m_bPreview) {
            m_bDrawing = true;
            m_startPoint = event->pos();
            m_curPoint = QPoint(0, 0);
            // A press without its release (a popup took the mouse) must not
            // leave an earlier timer running.
            StopDragTimer();
            m_nTimerId = startTimer(kDragTickMs, Qt::CoarseTimer);
        }
    } else if (event->button() == Qt::RightButton) {
        if (m_bPreview) {
            m_bLButtonDown = false;
            m_bDigitalZoom = false;
            emit quitDigitalZoom(m_nIndex);
            ResetZoomRegion();
        }
        if (m_bElect) {
            m_bElect = false;
            emit quitPTZElect(m_nIndex);
        }
    }
    emit activeWnd(m_nIndex);
    QFrame::mousePressEvent(event);
}

void CVideoFrame::mouseDoubleClickEvent(QMouseEvent *event)
{
    emit activeWnd(m_nIndex);
    emit doubleClicked(m_nIndex);
    QFrame::mouseDoubleClickEvent(event);
}

void CVideoFrame::mouseMoveEvent(QMouseEvent *event)
{
    if (m_bLButtonDown && m_bDrawing && m_bPreview) {
        const QPoint pos = event->pos();
        m_curPoint = QPoint(qBound(0, pos.x(), 2 * m_nHalfWidth), qBound(0, pos.y(), 2 * m_nHalfHeight));
    }
    QFrame::mouseMoveEvent(event);
}

void CVideoFrame::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QFrame::mouseReleaseEvent(event);
        return;
    }
    m_bLButtonDown = false;
    StopDragTimer();
    if (!m_bDrawing) {
        QFrame::mouseReleaseEvent(event);
        return;
    }

    const bool bTooSmall = m_curPoint == QPoint(0, 0)
        || std::abs(m_curPoint.x() - m_startPoint.x()) < kMinDragPixels
        || std::abs(m_curPoint.y() - m_startPoint.y()) < kMinDragPixels;
    if (m_bPreview && !bTooSmall) {
        playerLog("CVideoFrame::mouseReleaseEvent",
            QStringLiteral("draw region start.x=%1 end.x=%2 start.y=%3 end.y=%4")
                .arg(m_startPoint.x())
                .arg(m_curPoint.x())
                .arg(m_startPoint.y())
                .arg(m_curPoint.y()),
            LightWeightLog::Normal);
        emit sig_selectRegion(HandleVariant(), m_startPoint, m_curPoint);
    }
    // The selection rectangle stays on screen until it is told that the drag
    // is over, also when the drag was too small to select anything.
    m_startPoint = QPoint(0, 0);
    m_curPoint = QPoint(0, 0);
    emit sig_RectanglePoint(HandleVariant(), QPoint(0, 0), QPoint(0, 0));
    m_bDrawing = false;
    QFrame::mouseReleaseEvent(event);
}

void CVideoFrame::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    m_nHalfWidth = width() / 2;
    m_nHalfHeight = height() / 2;
    for (QObject *child : children()) {
        QWidget *widget = qobject_cast<QWidget *>(child);
        if (widget && !qobject_cast<QRubberBand *>(widget))
            widget->setGeometry(rect());
    }
}

void CVideoFrame::childEvent(QChildEvent *event)
{
    QFrame::childEvent(event);
    if (event->type() != QEvent::ChildPolished)
        return;
    QWidget *widget = qobject_cast<QWidget *>(event->child());
    if (widget && !qobject_cast<QRubberBand *>(widget))
        AdoptRenderWidget(widget);
}

void CVideoFrame::AdoptRenderWidget(QWidget *child)
{
    child->setAttribute(Qt::WA_TransparentForMouseEvents);
    child->setGeometry(rect());
    child->lower();
}

void CVideoFrame::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_strBackground.isEmpty() || !QFileInfo::exists(m_strBackground))
        return;
    const QPixmap picture(m_strBackground);
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(rect(), picture);
}
