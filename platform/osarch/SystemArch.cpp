#include "SystemArch.h"

#include <atomic>
#include <sys/utsname.h>

namespace SystemArch {

namespace {
// -1 not forced, 0 forced 32-bit, 1 forced 64-bit.
std::atomic<int> g_forced { -1 };
} // namespace

QString machine()
{
    struct utsname info;
    if (::uname(&info) != 0)
        return QString();
    return QString::fromLatin1(info.machine);
}

bool is64Bit()
{
    const int forced = g_forced.load();
    if (forced >= 0)
        return forced == 1;
    return machine().contains(QLatin1String("64"));
}

void force(bool is64)
{
    g_forced.store(is64 ? 1 : 0);
}

void clearForce()
{
    g_forced.store(-1);
}

} // namespace SystemArch
