#pragma once

#include <QString>

// The message text of a log line: credentials redacted, carriage returns and
// line feeds removed (in this order), and a text longer than kMaxLogText
// characters cut there and followed by its size in bytes ("... (1048576
// bytes)"), so that a large message costs the log a few KiB.
namespace LogText {

constexpr int kMaxLogText = 4096;

QString forLine(const QString &text);

} // namespace LogText
