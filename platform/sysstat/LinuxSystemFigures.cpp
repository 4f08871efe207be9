#include "LinuxSystemFigures.h"

#include <QFile>
#include <QList>

#include <ctime>
#include <unistd.h>

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    // /proc files report size 0; read until the end.
    return f.read(1 << 20);
}

// The number behind "<key>:" in a /proc "key: value kB" text, in kB.
bool keyedKiB(const QByteArray &text, const QByteArray &key, quint64 *kib)
{
    for (const QByteArray &line : text.split('\n')) {
        if (!line.startsWith(key + ':'))
            continue;
        const QList<QByteArray> parts = line.mid(key.size() + 1).simplified().split(' ');
        bool ok = false;
        const quint64 v = parts.value(0).toULongLong(&ok);
        if (!ok)
            return false;
        *kib = v;
        return true;
    }
    return false;
}

} // namespace

LinuxSystemFigures::LinuxSystemFigures(const QString &procRoot)
    : m_procRoot(procRoot)
{ }

quint64 LinuxSystemFigures::tickCountMs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 1000u + quint64(ts.tv_nsec) / 1000000u;
}

bool LinuxSystemFigures::processCpuMs(quint64 *ms)
{
    timespec ts {};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0)
        return false;
    *ms = quint64(ts.tv_sec) * 1000u + quint64(ts.tv_nsec) / 1000000u;
    return true;
}

bool LinuxSystemFigures::systemTimes(SystemTimes *times)
{
    // First line: "cpu user nice system idle iowait irq softirq steal ..." in clock ticks.
    const QByteArray text = readSmallFile(m_procRoot + QStringLiteral("/stat"));
    const int eol = text.indexOf('\n');
    const QList<QByteArray> f = text.left(eol < 0 ? text.size() : eol).simplified().split(' ');
    if (f.size() < 5 || f[0] != "cpu")
        return false;
    quint64 v[8] = {};
    for (int i = 0; i < 8 && i + 1 < f.size(); ++i)
        v[i] = f[i + 1].toULongLong();
    const quint64 user = v[0] + v[1];
    const quint64 idle = v[3] + v[4];
    const quint64 kernel = v[2] + v[5] + v[6] + v[7] + idle;
    const long hz = sysconf(_SC_CLK_TCK);
    const quint64 unit = hz > 0 ? 10000000u / quint64(hz) : 100000u; // 100 ns per tick
    times->idle = idle * unit;
    times->kernel = kernel * unit;
    times->user = user * unit;
    return true;
}

int LinuxSystemFigures::processorCount()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 1;
}

bool LinuxSystemFigures::workingSetBytes(quint64 *bytes)
{
    quint64 kib = 0;
    if (!keyedKiB(readSmallFile(m_procRoot + QStringLiteral("/self/status")), "VmRSS", &kib))
        return false;
    *bytes = kib * 1024u;
    return true;
}

quint64 LinuxSystemFigures::availablePhysicalBytes()
{
    quint64 kib = 0;
    if (!keyedKiB(readSmallFile(m_procRoot + QStringLiteral("/meminfo")), "MemAvailable", &kib))
        return 0;
    return kib * 1024u;
}
