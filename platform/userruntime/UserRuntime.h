#pragma once

#include <QString>

// The user's private runtime folder: $XDG_RUNTIME_DIR when it is a folder of
// this user, else /tmp/runtime-<uid>, else (when another user holds that
// name) ~/.runtime-<uid>; made with mode 0700 and checked to be this user's
// own folder. Names placed here (lock files, local sockets) cannot
// be taken or read by another user, unlike shared names in /tmp. Empty when no
// such folder can be had.
namespace UserRuntime {

QString dir();

} // namespace UserRuntime
