#pragma once

#include <cstdint>

// The analysis rule that the live view draws over channel 0's picture: a line
// or a region with direction arrows, in the picture's 0-8192 coordinates. The
// rule-region request fills it from the page; the live-view panel copies it.
struct RuleRegionInfo
{
    static constexpr int kMaxPoints = 8;

    int32_t window = 0; // window/channel of the rule; drawn only for 0
    uint8_t ruleType = 0; // 0 line, 1 region
    uint8_t show = 0; // nonzero: draw the rule
    uint8_t lineDirection = 0; // 0, 1 or 2
    uint8_t regionDirection = 0; // 0, 1 or 2
    int32_t pointCount = 0; // region points in use, at most kMaxPoints
    int32_t lineStartX = 0;
    int32_t lineStartY = 0;
    int32_t lineEndX = 0;
    int32_t lineEndY = 0;
    struct Point
    {
        int32_t x = 0;
        int32_t y = 0;
    } points[kMaxPoints];
};
static_assert(sizeof(RuleRegionInfo) == 92, "RuleRegionInfo is a 92-byte record");
