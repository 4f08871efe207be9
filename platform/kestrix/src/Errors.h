#pragma once

namespace kx {

// The calling thread's last error number.
void setLastError(int error);
int lastError();

} // namespace kx
