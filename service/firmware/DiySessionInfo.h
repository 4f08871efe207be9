#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstring>

// One extracted partition of a firmware package; a slot whose `used` is 0 is free.
struct DiyPartitionInfo
{
    uint8_t used;
    int32_t fsType; // 1 cramfs, 2 squashfs
    uint32_t startAddr;
    uint32_t endAddr;
    char name[64];
    char imagePath[260];
    char rootPath[260];
};

// The firmware customiser's per-session record: a plain, fixed-layout value,
// always copied whole. Texts are NUL-terminated local 8-bit strings.
struct DiySessionInfo
{
    static constexpr int kPartitionSlots = 10;

    int32_t sessionId;
    int32_t devType; // 0 IPC, 1 DVR, 2 NVR, 3 MVB
    int32_t channel;
    char unzipFolder[260];
    char programFolder[260];
    char packagePath[260];
    char produceFolder[260];
    char customPartPath[260];
    char hardware[64];
    char firmName[128];
    char diyVersion[32];
    char buildTime[32];
    DiyPartitionInfo partitions[kPartitionSlots];
};

namespace DiyText {

// The field as text (up to its terminator).
template<size_t N> QString get(const char (&field)[N])
{
    return QString::fromLocal8Bit(field, int(strnlen(field, N)));
}

// Stores `value` with its terminator; false (field unchanged) when it does
// not fit. Paths go through here: a cut path would name another file.
template<size_t N> bool set(char (&field)[N], const QString &value)
{
    const QByteArray bytes = value.toLocal8Bit();
    if (bytes.size() >= int(N) || bytes.contains('\0'))
        return false;
    std::memset(field, 0, N);
    std::memcpy(field, bytes.constData(), size_t(bytes.size()));
    return true;
}

// Stores at most the field width less one bytes of `value`, cut at a whole
// character; for names and labels, where a shorter text is still meaningful.
template<size_t N> void setCut(char (&field)[N], const QString &value)
{
    QString text = value;
    while (text.toLocal8Bit().size() >= int(N))
        text.chop(1);
    std::memset(field, 0, N);
    const QByteArray bytes = text.toLocal8Bit();
    std::memcpy(field, bytes.constData(), size_t(bytes.size()));
}

} // namespace DiyText
