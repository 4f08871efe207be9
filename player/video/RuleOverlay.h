#pragma once

#include "RuleRegionInfo.h"

class QPainter;

// Drawing of an analysis rule over a picture of width x height pixels: the
// rule's line, or its closed region, with direction arrows, in a blue pen 4
// pixels wide. Rule coordinates (0-8192) are scaled in 64-bit arithmetic.
// Nothing is drawn without a painter, for an empty picture, for a rule that
// is not shown, or for a region of fewer than 2 points; the point count is
// taken as 0..8 whatever the page sent.
namespace RuleOverlay {

constexpr int kPenWidth = 4;

void Draw(QPainter *painter, int width, int height, const RuleRegionInfo &rule);

// The number of region points the drawing uses: the record's count in 0..8.
int UsedPoints(const RuleRegionInfo &rule);

} // namespace RuleOverlay
