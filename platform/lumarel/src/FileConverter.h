#pragma once

// Conversion of ".h265x" stream files into AVI on a thread of the library.

#include "lumarel/lumarel.h"

namespace FileConverter {

// Checks the arguments, opens the source and creates the target, then
// converts on a thread of its own and returns 0; else a TRV_PLAY_ERR_ code
// and no callback. The callback reports bytes of the source read; its last
// call has current == total, also when the conversion failed (the target is
// then removed).
int start(
    const char *source, const char *target, int type, TRV_PLAY_ConvertProgressCallBack callback, void *user);
int running();

} // namespace FileConverter
