#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The page's texts of playback and download files.
namespace PlaybackText {

// A "FileLength" text: "0x" and up to 8 hexadecimal digits, read as an
// unsigned 32-bit number (files of 2 GiB and more); 0 for anything else.
uint32_t fileLength(const QByteArray &text);

// True for a time "yyyy-MM-dd hh:mm:ss" with a digit at every digit place.
bool isTime(const QByteArray &text);

// Parts of a download's file name from two such times: "yyyy-MM-dd_hhmmss"
// and "hhmmss".
QString beginPart(const QByteArray &beginTime);
QString endPart(const QByteArray &endTime);

} // namespace PlaybackText
