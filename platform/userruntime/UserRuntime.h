#pragma once

#include <QString>

// The user's private runtime folder: $XDG_RUNTIME_DIR, or /tmp/runtime-<user>
// made with mode 0700. Names placed here (lock files, local sockets) cannot be
// taken or read by another user, unlike shared names in /tmp.
namespace UserRuntime {

QString dir();

} // namespace UserRuntime
