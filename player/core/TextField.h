#pragma once

#include <QByteArray>

#include <cstddef>

// Fixed-width text fields of the device library's records.
namespace TextField {

// Copies `text` into `field` of `size` bytes, always terminated. A text that
// does not fit is cut so that no UTF-8 character is split.
void copy(char *field, size_t size, const QByteArray &text);
void copy(char *field, size_t size, const char *text, size_t length);

// Copies byte by byte, for texts that are not UTF-8 (Latin-1 tokens).
void copyBytes(char *field, size_t size, const QByteArray &text);

// The text of a field that need not be terminated within its size.
QByteArray read(const char *field, size_t size);

template<size_t N> void copy(char (&field)[N], const QByteArray &text)
{
    copy(field, N, text);
}

template<size_t N> QByteArray read(const char (&field)[N])
{
    return read(field, N);
}

} // namespace TextField
