#include "SelectionBand.h"

#include <QPainter>

CSelectionBand::CSelectionBand(QWidget *parent)
    : QRubberBand(QRubberBand::Rectangle, parent)
{
    setObjectName(QStringLiteral("SelectionBand"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CSelectionBand::ShowBetween(const QPoint &start, const QPoint &end)
{
    setGeometry(QRect(start, end).normalized());
    show();
    raise();
}

void CSelectionBand::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(QColor(255, 0, 0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
