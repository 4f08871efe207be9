#include "ScaleSlider.h"

#include "LightWeightLog.h"

#include <QLabel>
#include <QPainter>

#include <cmath>

namespace {

// Beyond this the slider would be taller than any window it sits in.
constexpr float kLargestMaxTimes = 100.0f;

} // namespace

bool CScaleSlider::IsValidMaxTimes(float fMaxTimes)
{
    return std::isfinite(fMaxTimes) && fMaxTimes >= 1.1f && fMaxTimes <= kLargestMaxTimes;
}

int CScaleSlider::TimesToTenths(double fTimes)
{
    if (!std::isfinite(fTimes))
        return 0;
    // The small bias only absorbs the float's representation error; 1.25
    // still truncates to 12.
    return static_cast<int>(std::floor(fTimes * 10.0 + 1e-3));
}

int CScaleSlider::MaxSteps(float fMaxTimes)
{
    if (!IsValidMaxTimes(fMaxTimes))
        fMaxTimes = kDefaultMaxTimes;
    return TimesToTenths(double(fMaxTimes) - 1.0);
}

CScaleSlider::CScaleSlider(QWidget *parent, int nWndNo, float fMaxTimes)
    : QSlider(parent)
    , m_nWndNo(nWndNo)
    , m_fMaxTimes(IsValidMaxTimes(fMaxTimes) ? fMaxTimes : kDefaultMaxTimes)
    , m_iMaxTimes(MaxSteps(m_fMaxTimes))
{
    setWindowFlags(Qt::SubWindow | Qt::FramelessWindowHint);
    setOrientation(Qt::Horizontal);
    setRange(0, m_iMaxTimes);
    setObjectName(QStringLiteral("ScaleSlider"));
    setSingleStep(1);
    setPageStep(1);

    m_pLabel = new QLabel(this);
    m_pLabel->setObjectName(QStringLiteral("ScaleLabel"));
    m_pLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pLabel->resize(25, 20);
    connect(this, &QSlider::valueChanged, this, &CScaleSlider::onValueChanged);
    onValueChanged(0);
    m_pLabel->show();

    playerLog("CScaleSlider::CScaleSlider",
        QStringLiteral("CScaleSlider m_fMaxTimes=%1 m_iMaxTimes=%2")
            .arg(double(m_fMaxTimes))
            .arg(m_iMaxTimes),
        LightWeightLog::Normal);
}

void CScaleSlider::SetMaxTimes(float fMaxTimes)
{
    if (!IsValidMaxTimes(fMaxTimes) || fMaxTimes == m_fMaxTimes)
        return;
    m_fMaxTimes = fMaxTimes;
    m_iMaxTimes = MaxSteps(fMaxTimes);
    setRange(0, m_iMaxTimes);
    PlaceLabel(value());
    update();
}

void CScaleSlider::DropNativeWindow()
{
    if (internalWinId())
        destroy(true, true);
}

void CScaleSlider::onValueChanged(int nValue)
{
    PlaceLabel(nValue);
}

void CScaleSlider::PlaceLabel(int nValue)
{
    m_pLabel->setText(QStringLiteral("%1.%2").arg(nValue / 10 + 1).arg(nValue % 10));
    int x = nValue * width() / m_iMaxTimes + 5;
    if (nValue >= m_iMaxTimes / 2)
        x -= 35;
    m_pLabel->move(x, 0);
}

void CScaleSlider::resizeEvent(QResizeEvent *event)
{
    QSlider::resizeEvent(event);
    PlaceLabel(value());
}

void CScaleSlider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();

    painter.setPen(QPen(Qt::gray, 2));
    painter.drawLine(0, h / 2, w, h / 2);

    painter.setPen(QPen(Qt::white, 1));
    for (int i = 0; i <= m_iMaxTimes; ++i) {
        const int x = qMin(i * w / m_iMaxTimes, w - 1);
        const int len = (i % 10 == 0) ? 9 : 5;
        painter.drawLine(x, 0, x, len);
        painter.drawLine(x, h - 1, x, h - 1 - len);
    }
}
