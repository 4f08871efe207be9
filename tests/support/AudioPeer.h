#pragma once

// Audio for tests: WAV files for the play library's capture, and Python's
// audioop as the outside G.711 peer.

#include <QByteArray>
#include <QProcess>
#include <QString>

namespace AudioPeer {

// A mono 16-bit PCM WAV file of `pcm` (little-endian samples).
inline QByteArray wavFile(const QByteArray &pcm, int rate)
{
    auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    return "RIFF" + le32(quint32(36 + pcm.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(1)
        + le32(quint32(rate)) + le32(quint32(rate * 2)) + le16(2) + le16(16) + "data"
        + le32(quint32(pcm.size())) + pcm;
}

// audioop.<function>(data, 2) run by Python ("lin2alaw", "alaw2lin"); null when it failed.
inline QByteArray audioop(const QString &function, const QByteArray &data)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-W"), QStringLiteral("ignore"), QStringLiteral("-c"),
            QStringLiteral(
                "import sys,audioop; sys.stdout.buffer.write(audioop.%1(sys.stdin.buffer.read(),2))")
                .arg(function) });
    p.write(data);
    p.closeWriteChannel();
    return p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
        ? p.readAllStandardOutput()
        : QByteArray();
}

} // namespace AudioPeer
