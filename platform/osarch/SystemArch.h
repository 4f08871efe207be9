#pragma once

#include <QString>

// The operating system's word size, asked of the running kernel (uname). The
// answer chooses between the 64-bit and the 32-bit player. Tests force either
// answer so that both choices run.
namespace SystemArch {

// The machine name the kernel reports, for example "x86_64" or "i686".
QString machine();
// True when the machine name contains "64" (x86_64, aarch64, ppc64le...), or
// the forced answer when one is set.
bool is64Bit();

void force(bool is64);
void clearForce();

} // namespace SystemArch
