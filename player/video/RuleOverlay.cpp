#include "RuleOverlay.h"

#include <QPainter>
#include <QPen>
#include <QPoint>

#include <cmath>

namespace {

constexpr long long kSpace = 8192;
// Mapped coordinates stay well inside int, also for absurd rule values.
constexpr long long kPixelLimit = 1 << 24;

struct Pixel
{
    double x;
    double y;
};

Pixel Map(int32_t x, int32_t y, int width, int height)
{
    const long long px = qBound(-kPixelLimit, (long long)x * width / kSpace, kPixelLimit);
    const long long py = qBound(-kPixelLimit, (long long)y * height / kSpace, kPixelLimit);
    return Pixel { double(px), double(py) };
}

QPoint Point(const Pixel &p)
{
    return QPoint(int(p.x), int(p.y));
}

// A direction arrow across the middle of the edge p1 -> p2. `vertical`
// chooses how an edge with x1 == x2 is read (line rules true, regions false).
void DrawArrow(QPainter *painter, const Pixel &p1, const Pixel &p2, bool vertical)
{
    const double x1 = p1.x, y1 = p1.y, x2 = p2.x, y2 = p2.y;
    const double mx = (x1 + x2) / 2;
    const double my = (y1 + y2) / 2;

    int f = 0;
    int g = 0;
    if (x1 != x2) {
        f = x1 < x2 ? 1 : -1;
        g = y1 == y2 ? 0 : (y2 < y1 ? 1 : -1);
    } else {
        g = (vertical ? y2 < y1 : y2 > y1) ? 1 : -1;
    }

    Pixel t, u, v;
    if (x1 == x2) {
        t = { mx + 30 * g, my };
        u = { mx + 20 * g, my - 10 };
        v = { mx + 20 * g, my + 10 };
    } else if (y1 == y2) {
        t = { mx, my + 30 * f };
        u = { mx - 10, my + 20 * f };
        v = { mx + 10, my + 20 * f };
    } else {
        const double k = (y1 - y2) / (x1 - x2);
        const double w = std::sqrt(1 / (k * k) + 1);
        const double a = 30 * g / w;
        const double e = 20 * g / w;
        const double d = std::sqrt(100 / (k * k + 1));
        t = { mx + a, my + f * std::fabs(a / k) };
        u = { mx + e + d, my + f * std::fabs(e / k) + d * k };
        v = { mx + e - d, my + f * std::fabs(e / k) - d * k };
    }
    for (Pixel *p : { &t, &u, &v }) {
        p->x = std::floor(p->x);
        p->y = std::floor(p->y);
    }
    const QPoint s(int((t.x + mx) / 2), int((t.y + my) / 2));
    const double sx = s.x(), sy = s.y();
    painter->drawLine(s, QPoint(int(2 * mx - sx), int(2 * my - sy)));
    painter->drawLine(s, QPoint(int(u.x + mx - sx), int(u.y + my - sy)));
    painter->drawLine(s, QPoint(int(v.x + mx - sx), int(v.y + my - sy)));
}

// Arrows of one edge by direction: 1 along the edge, 0 against it, 2 both.
void DrawArrows(QPainter *painter, int direction, const Pixel &a, const Pixel &b, bool vertical)
{
    if (direction == 1 || direction == 2)
        DrawArrow(painter, a, b, vertical);
    if (direction == 0 || direction == 2)
        DrawArrow(painter, b, a, vertical);
}

} // namespace

namespace RuleOverlay {

int UsedPoints(const RuleRegionInfo &rule)
{
    return qBound(0, int(rule.pointCount), int(RuleRegionInfo::kMaxPoints));
}

void Draw(QPainter *painter, int width, int height, const RuleRegionInfo &rule)
{
    if (!painter || width <= 0 || height <= 0 || !rule.show)
        return;

    painter->save();
    QPen pen(QColor(0, 0, 255));
    pen.setWidth(kPenWidth);
    pen.setStyle(Qt::SolidLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);

    if (rule.ruleType == 0) {
        const Pixel start = Map(rule.lineStartX, rule.lineStartY, width, height);
        const Pixel end = Map(rule.lineEndX, rule.lineEndY, width, height);
        painter->drawLine(Point(start), Point(end));
        DrawArrows(painter, rule.lineDirection, start, end, true);
    } else if (rule.ruleType == 1) {
        const int n = UsedPoints(rule);
        if (n >= 2) {
            Pixel points[RuleRegionInfo::kMaxPoints];
            for (int i = 0; i < n; ++i)
                points[i] = Map(rule.points[i].x, rule.points[i].y, width, height);
            for (int i = 0; i < n; ++i)
                painter->drawLine(Point(points[i]), Point(points[(i + 1) % n]));
            DrawArrows(painter, rule.regionDirection, points[0], points[1], false);
        }
    }
    painter->restore();
}

} // namespace RuleOverlay
