#pragma once

// A recording stand-in for the play library's C functions, linked into the
// decode-port unit test in place of the real library. Every call is logged
// as "Name(arguments)"; results are scripted per function.

#include "lumarel/lumarel.h"

#include <functional>
#include <string>
#include <vector>

namespace PlayDouble {

void reset();
std::vector<std::string> calls();
void clearCalls();

// The result a function gives from now on (default 1).
void setResult(const std::string &name, int result);
// The function succeeds `successes` more times, then fails.
void failAfter(const std::string &name, int successes);

// What TRV_PLAY_CatchPicture does with the caller's buffer.
using CatchPicture
    = std::function<int(unsigned char *buffer, unsigned int size, int *width, int *height, int type)>;
void setCatchPicture(CatchPicture handler);

void setCurrentTime(int64_t seconds);
void setPlayPos(float position);

// The callback the channel registered.
TRV_PLAY_DrawCallBack drawCallback();
void *drawUser();

} // namespace PlayDouble
