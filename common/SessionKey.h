#pragma once

#include <QByteArray>

// The one generator of session keys in the system: 16 printable characters
// with codes 33 to 126, drawn from the kernel's cryptographic random source.
namespace SessionKey {

constexpr int kLength = 16;

QByteArray make();

} // namespace SessionKey
