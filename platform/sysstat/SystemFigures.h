#pragma once

#include <QtGlobal>

// The figures the CPU and memory monitor samples. Times of the whole system
// are in 100-nanosecond units with kernel time including idle time.
class SystemFigures
{
public:
    struct SystemTimes
    {
        quint64 idle = 0;
        quint64 kernel = 0;
        quint64 user = 0;
    };

    virtual ~SystemFigures() = default;

    // Milliseconds of a steady clock.
    virtual quint64 tickCountMs() = 0;
    // CPU time the process used so far (kernel plus user), in milliseconds; false when unknown.
    virtual bool processCpuMs(quint64 *ms) = 0;
    virtual bool systemTimes(SystemTimes *times) = 0;
    virtual int processorCount() = 0;
    // Resident memory of the process in bytes; false when unknown.
    virtual bool workingSetBytes(quint64 *bytes) = 0;
    // Physical memory available to new work, in bytes.
    virtual quint64 availablePhysicalBytes() = 0;
};
