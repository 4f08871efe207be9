#pragma once

#include <QString>
#include <QtGlobal>

// What the login needs to know about the desktop and the window grid.

// The browser window: the foreground window when its title contains `title`
// (case-sensitive), else 0. The browser kind is not used. GUI thread.
quint64 GetBrowserWndID(int browseType, const QString &title);

// The screen's scale in percent: its logical dots per inch, rounded to a
// whole number, times 100 / 96; 1 when there is no screen. GUI thread.
int GetScreenScalePercent();
int ScalePercentFromDpi(int dpi);

// The grid layout that shows `count` windows: 1 -> 0, 2..4 -> 1, 5..9 -> 2,
// 10..16 -> 3, 17..25 -> 4, 26..36 -> 5, 37..64 -> 6; anything else -> 0.
int LayoutIndexFromWndCount(int count);

// The browser window identifier of the command line: hexadecimal, with or
// without a leading 0x; 0 when it is not a number.
quint64 ParseBrowserWndText(const QString &text);
