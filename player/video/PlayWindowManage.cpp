#include "PlayWindowManage.h"

#include "LightWeightLog.h"
#include "SelectionBand.h"
#include "VideoWnd.h"

#include <QFrame>
#include <QGridLayout>
#include <QVBoxLayout>

namespace {

// Columns of the square layouts: the integer square root, at least 1.
int SquareColumns(int nCount)
{
    int c = 1;
    while ((c + 1) * (c + 1) <= nCount)
        ++c;
    return c;
}

} // namespace

CPlayWindowManage::CPlayWindowManage(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pVideoFrame = new QFrame(this);
    m_pVideoFrame->setObjectName(QStringLiteral("VideoFrame"));
    layout->addWidget(m_pVideoFrame);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Made native with the first surface handle asked for; the page and the
    // player's window above it stay as they are.
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    NewGrid();

    for (int i = 0; i < kMaxWnd; ++i) {
        auto *wnd = new CVideoWnd(m_pVideoFrame, i);
        // Nothing is laid out or shown before the first split.
        wnd->hide();
        connect(wnd, &CVideoWnd::activeWnd, this, &CPlayWindowManage::onCurWndIndexChange);
        connect(wnd, &CVideoWnd::doubleClicked, this, &CPlayWindowManage::onWndDoubleClicked);
        connect(wnd, &CVideoWnd::sig_selectRegion, this, &CPlayWindowManage::onSelectRegion);
        connect(wnd, &CVideoWnd::sig_RectanglePoint, this, &CPlayWindowManage::onRectanglePoint);
        connect(wnd, &CVideoWnd::quitDigitalZoom, this, &CPlayWindowManage::quitDigitalZoom);
        connect(wnd, &CVideoWnd::quitPTZElect, this, &CPlayWindowManage::quitPTZElect);
        connect(
            wnd, &CVideoWnd::sig_SetScaleTwoLensTimes, this, &CPlayWindowManage::sig_SetScaleTwoLensTimes);
        m_wnds[i] = wnd;
    }
}

CPlayWindowManage::~CPlayWindowManage() = default;

CVideoWnd *CPlayWindowManage::GetWnd(int nIndex) const
{
    return IsWndIndex(nIndex) ? m_wnds[nIndex] : nullptr;
}

WId CPlayWindowManage::GetWndHandle(int nIndex) const
{
    if (!IsWndIndex(nIndex))
        return WId(0);
    // The video surfaces' native windows go into one of the grid's own: Qt
    // takes the native windows of a re-parented widget's native children
    // along, not those inside alien widgets, so a grid moved to another
    // top-level window would leave them behind.
    winId();
    return m_wnds[nIndex]->GetWndHandle();
}

void CPlayWindowManage::DropNativeWindows()
{
    // The innermost first: Qt deletes a native window's children with it.
    for (CVideoWnd *wnd : m_wnds)
        wnd->DropNativeWindows();
    if (internalWinId())
        destroy(true, true);
}

void CPlayWindowManage::ForWindows(int nIndex, const std::function<void(CVideoWnd *)> &fn) const
{
    if (IsWndIndex(nIndex)) {
        fn(m_wnds[nIndex]);
        return;
    }
    for (CVideoWnd *wnd : m_wnds)
        fn(wnd);
}

void CPlayWindowManage::NewGrid()
{
    delete m_pGrid;
    m_pGrid = new QGridLayout(m_pVideoFrame);
    m_pGrid->setContentsMargins(0, 0, 0, 0);
    m_pGrid->setSpacing(0);
}

void CPlayWindowManage::Place(int nWnd, int nRow, int nCol, int nRowSpan, int nColSpan)
{
    m_pGrid->addWidget(m_wnds[nWnd], nRow, nCol, nRowSpan, nColSpan);
}

void CPlayWindowManage::SplitWindow(int nCount)
{
    nCount = qBound(1, nCount, kMaxWnd);

    for (CVideoWnd *wnd : m_wnds)
        wnd->hide();
    NewGrid();

    if (nCount == 1) {
        m_nWndMode = kModeSingle;
        emit sig_GetScaleTwoLensAbility(0);
    } else {
        // Also for 64: enlarging by double click relies on mode 1 meaning a
        // single window, so a 64-window split after a 1-window one must not
        // keep mode 1.
        m_nWndMode = kModeMulti;
        m_wnds[0]->ShowScaleSlider(false, 0.0f);
    }

    switch (nCount) {
    case 5:
        for (int i = 1; i <= 4; ++i)
            Place(i, 0, i - 1);
        Place(0, 1, 0, 1, 4);
        break;
    case 6:
        Place(0, 0, 0, 2, 2);
        Place(1, 0, 2);
        Place(2, 1, 2);
        for (int i = 3; i <= 5; ++i)
            Place(i, 2, i - 3);
        break;
    case 8:
        Place(0, 0, 0, 3, 3);
        for (int i = 1; i <= 3; ++i)
            Place(i, i - 1, 3);
        for (int i = 4; i <= 7; ++i)
            Place(i, 3, i - 4);
        break;
    case 13:
        Place(0, 1, 1, 2, 2);
        for (int i = 1; i <= 4; ++i)
            Place(i, 0, i - 1);
        Place(5, 1, 0);
        Place(6, 1, 3);
        Place(7, 2, 0);
        Place(8, 2, 3);
        for (int i = 9; i <= 12; ++i)
            Place(i, 3, i - 9);
        break;
    case 20:
        Place(0, 0, 0, 3, 3);
        Place(1, 0, 3, 3, 3);
        for (int i = 2; i <= 19; ++i)
            Place(i, 3 + (i - 2) / 6, (i - 2) % 6);
        break;
    default: {
        const int c = SquareColumns(nCount);
        for (int i = 0; i < nCount; ++i)
            Place(i, i / c, i % c);
        break;
    }
    }

    for (int i = 0; i < kMaxWnd; ++i)
        m_wnds[i]->setVisible(i < nCount);

    m_nSplitCount = nCount;
    for (int i = 0; i < kMaxWnd; ++i)
        m_wnds[i]->SetSelected(i == 0);
    m_nCurWndIndex = 0;
}

void CPlayWindowManage::SetSkin(const QString &strSkin)
{
    if (strSkin == QLatin1String("Black"))
        m_pVideoFrame->setStyleSheet(QStringLiteral("#VideoFrame{background-color:rgb(43, 43, 43);}"));
    else if (strSkin == QLatin1String("O53"))
        m_pVideoFrame->setStyleSheet(QStringLiteral("#VideoFrame{background-color:rgb(24, 39, 58);}"));
    else
        m_pVideoFrame->setStyleSheet(QStringLiteral("#VideoFrame{background-color:rgb(255, 255, 255);}"));
    for (CVideoWnd *wnd : m_wnds)
        wnd->SetSkin(strSkin);
}

void CPlayWindowManage::SetBackgroundImage(const QString &strPath)
{
    m_wnds[0]->SetBackgroundImage(strPath);
}

void CPlayWindowManage::RefreshSelection()
{
    for (int i = 0; i < kMaxWnd; ++i)
        m_wnds[i]->SetSelected(i == m_nCurWndIndex);
}

void CPlayWindowManage::ClearSelection()
{
    for (CVideoWnd *wnd : m_wnds)
        wnd->SetSelected(false);
    if (m_nWndMode == kModeSingle || m_nWndMode == kModeEnlarged)
        m_wnds[m_nCurWndIndex]->ShowScaleSlider(false, 0.0f);
}

void CPlayWindowManage::SelectWndAtPoint(int x, int y)
{
    for (int i = 0; i < m_nSplitCount; ++i) {
        CVideoWnd *wnd = m_wnds[i];
        // A window hidden by an enlargement keeps its old rectangle.
        if (wnd->isHidden())
            continue;
        const QPoint pos = wnd->mapTo(this, QPoint(0, 0));
        if (x >= pos.x() && x <= pos.x() + wnd->width() && y >= pos.y() && y <= pos.y() + wnd->height()) {
            onCurWndIndexChange(i);
            return;
        }
    }
}

void CPlayWindowManage::setPreviewStatus(int nIndex, bool bPreview)
{
    playerLog(
        "CPlayWindowManage::setPreviewStatus", QStringLiteral("wnd:%1 preview:%2").arg(nIndex).arg(bPreview));
    ForWindows(nIndex, [bPreview](CVideoWnd *wnd) { wnd->SetPreviewStatus(bPreview); });
}

void CPlayWindowManage::UpdateWnd(int nIndex)
{
    ForWindows(nIndex, [](CVideoWnd *wnd) { wnd->update(); });
}

void CPlayWindowManage::SetDigitalZoom(int nIndex, bool bDigitalZoom)
{
    ForWindows(nIndex, [bDigitalZoom](CVideoWnd *wnd) { wnd->SetDigitalZoom(bDigitalZoom); });
}

void CPlayWindowManage::ToggleCurWndDigitalZoom()
{
    CVideoWnd *wnd = m_wnds[m_nCurWndIndex];
    wnd->SetDigitalZoom(!wnd->IsDigitalZoom());
}

bool CPlayWindowManage::IsCurWndDigitalZoom() const
{
    return m_wnds[m_nCurWndIndex]->IsDigitalZoom();
}

void CPlayWindowManage::SetAspectMode(int nIndex, int nMode)
{
    if (IsWndIndex(nIndex))
        m_wnds[nIndex]->SetAspectMode(nMode);
    else
        ForWindows(nIndex, [](CVideoWnd *wnd) { wnd->SetAspectMode(-1); });
}

void CPlayWindowManage::SetVideoSize(int nIndex, int nWidth, int nHeight)
{
    if (IsWndIndex(nIndex))
        m_wnds[nIndex]->SetVideoSize(nWidth, nHeight);
}

void CPlayWindowManage::SetPTZElectStatus(int nIndex, bool bElect)
{
    ForWindows(nIndex, [bElect](CVideoWnd *wnd) { wnd->SetPTZElectStatus(bElect); });
}

void CPlayWindowManage::ShowScaleSlider(int nIndex, bool bShow, float fMaxTimes)
{
    if (IsWndIndex(nIndex))
        m_wnds[nIndex]->ShowScaleSlider(bShow, fMaxTimes);
}

void CPlayWindowManage::SetScaleValue(int nIndex, float fTimes)
{
    if (IsWndIndex(nIndex))
        m_wnds[nIndex]->SetScaleValue(fTimes);
}

void CPlayWindowManage::onCurWndIndexChange(int nIndex)
{
    playerLog("CPlayWindowManage::onCurWndIndexChange",
        QStringLiteral("onCurWndIndexChange index=%1 curIndex=%2").arg(nIndex).arg(m_nCurWndIndex));
    if (!IsWndIndex(nIndex)) {
        playerLog("CPlayWindowManage::onCurWndIndexChange", QStringLiteral("index %1 ignored").arg(nIndex),
            LightWeightLog::Warning);
        return;
    }
    if (nIndex == m_nCurWndIndex)
        return;
    m_wnds[m_nCurWndIndex]->SetSelected(false);
    m_wnds[nIndex]->SetSelected(true);
    m_nCurWndIndex = nIndex;
    emit curWndIndexSig(nIndex);
}

int CPlayWindowManage::onWndDoubleClicked(int nIndex)
{
    playerLog("CPlayWindowManage::onWndDoubleClicked", QStringLiteral("onWndDoubleClicked"));
    if (m_nWndMode == kModeSingle || !IsWndIndex(nIndex))
        return 0;

    m_bEnlarged = !m_bEnlarged;
    if (m_bEnlarged) {
        NewGrid();
        m_pGrid->addWidget(m_wnds[nIndex], 0, 0);
        m_wnds[nIndex]->show();
        for (int i = 0; i < kMaxWnd; ++i) {
            if (i != nIndex)
                m_wnds[i]->hide();
        }
        m_nWndMode = kModeEnlarged;
        emit sig_GetScaleTwoLensAbility(nIndex);
        onCurWndIndexChange(nIndex);
    } else {
        m_nWndMode = kModeMulti;
        SplitWindow(m_nSplitCount);
        CVideoWnd *wnd = m_wnds[nIndex];
        m_wnds[m_nCurWndIndex]->SetSelected(false);
        wnd->SetSelected(true);
        wnd->ShowScaleSlider(false, 0.0f);
        if (wnd->GetAspectMode() == CVideoWnd::kAspectKeep)
            wnd->FitVideoFrame();
        m_nCurWndIndex = nIndex;
    }
    update();
    return 0;
}

void CPlayWindowManage::onRectanglePoint(QVariant hwnd, QPoint start, QPoint end)
{
    // Both corners at (0, 0): the drag is over.
    if (start.isNull() && end.isNull()) {
        if (m_pSelectionBand)
            m_pSelectionBand->hide();
        return;
    }
    QWidget *surface = QWidget::find(hwnd.value<WId>());
    if (!surface)
        return;
    if (!m_pSelectionBand)
        m_pSelectionBand = new CSelectionBand(surface);
    else if (m_pSelectionBand->parentWidget() != surface)
        m_pSelectionBand->setParent(surface);
    m_pSelectionBand->ShowBetween(start, end);
}

void CPlayWindowManage::onSelectRegion(QVariant hwnd, QPoint start, QPoint end)
{
    QWidget *surface = QWidget::find(hwnd.value<WId>());
    if (!surface || surface->width() <= 0 || surface->height() <= 0) {
        playerLog("CPlayWindowManage::onSelectRegion", QStringLiteral("no window for the selection"),
            LightWeightLog::Warning);
        return;
    }
    const qint64 W = surface->width();
    const qint64 H = surface->height();
    const qint64 x1 = qMin(start.x(), end.x());
    const qint64 x2 = qMax(start.x(), end.x());
    const qint64 y1 = qMin(start.y(), end.y());
    const qint64 y2 = qMax(start.y(), end.y());

    CVideoWnd *wnd = m_wnds[m_nCurWndIndex];
    const QRect current = wnd->GetZoomRegion();
    const qint64 w = qint64(current.right()) - current.left() + 1;
    const qint64 h = qint64(current.bottom()) - current.top() + 1;

    qint64 left, top, right, bottom;
    if (w != 0 && h != 0) {
        // A region is set: the new one lies inside it.
        left = x1 * w / W + current.left();
        right = left + w * (x2 - x1 + 1) / W;
        top = h * y1 / H + current.top();
        bottom = (y2 - y1 + 1) * h / H + top;
    } else {
        left = x1 * kVirtualSize / W;
        right = x2 * kVirtualSize / W;
        top = y1 * kVirtualSize / H;
        bottom = y2 * kVirtualSize / H;
    }
    if (!(left < right && top < bottom)) {
        left = 0;
        top = 0;
        right = kVirtualSize;
        bottom = kVirtualSize;
    }
    const QPoint topLeft { int(left), int(top) };
    const QPoint bottomRight { int(right), int(bottom) };
    wnd->SetZoomRegion(QRect(topLeft, bottomRight));
    emit DigitalZoomSig(topLeft, bottomRight, m_nCurWndIndex);
}

void CPlayWindowManage::onVideoSizeChange(int nIndex)
{
    if (IsWndIndex(nIndex))
        m_wnds[nIndex]->SetAspectMode(CVideoWnd::kAspectKeep);
    else
        ForWindows(nIndex, [](CVideoWnd *wnd) { wnd->SetAspectMode(-1); });
}
