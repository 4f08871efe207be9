#pragma once

// A private PulseAudio sound server for tests: a null sink "speaker" (the
// default sink; what reaches it is recorded from "speaker.monitor") and a
// sine source "mic" (the default source), in a runtime folder of its own.
// It runs headless, also as root, and ends with the object.
//
//     PulseServer pulse;
//     QVERIFY2(pulse.start(), qPrintable(pulse.errorText()));
//     qputenv("PULSE_SERVER", pulse.address().toUtf8());   // this process
//     env.insert("PULSE_SERVER", pulse.address());           // a child
//
// PulseRecorder records a source with parec, the outside peer, and hands
// out what it heard from a given moment on.

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <numeric>

class PulseServer
{
public:
    explicit PulseServer(int micFrequency = 660)
        : m_micFrequency(micFrequency)
    { }
    ~PulseServer() { stop(); }

    PulseServer(const PulseServer &) = delete;
    PulseServer &operator=(const PulseServer &) = delete;

    // Starts the server and waits until it accepts clients.
    bool start(int timeoutMs = 20000)
    {
        stop();
        m_error.clear();
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no runtime folder");
            return false;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // Its cookie and state stay in its own folder.
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path());
        env.remove(QStringLiteral("PULSE_SERVER"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/dev/null/no-bus"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("/usr/bin/pulseaudio"),
            { QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                QStringLiteral("--disallow-exit"), QStringLiteral("--use-pid-file=no"),
                QStringLiteral("--log-target=stderr"), QStringLiteral("--log-level=info"),
                QStringLiteral("-L"),
                QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=%1").arg(socketPath()),
                QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=speaker"),
                QStringLiteral("-L"),
                QStringLiteral("module-sine-source source_name=mic frequency=%1").arg(m_micFrequency) });
        if (!m_process.waitForStarted(5000)) {
            m_error = QStringLiteral("pulseaudio did not start: ") + m_process.errorString();
            return false;
        }
        QElapsedTimer t;
        t.start();
        QByteArray log;
        while (!log.contains("Daemon startup complete.")) {
            if (m_process.state() == QProcess::NotRunning || t.elapsed() > timeoutMs) {
                m_error
                    = QStringLiteral("pulseaudio did not come up: ") + QString::fromLocal8Bit(log.right(800));
                stop();
                return false;
            }
            m_process.waitForReadyRead(int(qMax<qint64>(1, timeoutMs - t.elapsed())));
            log += m_process.readAll();
        }
        return true;
    }

    // Ends it as a crash would, without a goodbye to its clients.
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 processId() const { return m_process.processId(); }
    QString socketPath() const { return m_dir.filePath(QStringLiteral("native")); }
    // The value of PULSE_SERVER that reaches it.
    QString address() const { return QStringLiteral("unix:") + socketPath(); }
    QString errorText() const { return m_error; }

    QProcessEnvironment environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const
    {
        base.insert(QStringLiteral("PULSE_SERVER"), address());
        return base;
    }

    // pactl's answer to `arguments` on this server; null when it failed.
    QByteArray pactl(const QStringList &arguments) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QStringLiteral("/usr/bin/pactl"), arguments);
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
            return QByteArray();
        QByteArray out = p.readAllStandardOutput();
        return out.isNull() ? QByteArray("") : out;
    }

    // The play streams the server has now (one line each).
    int playStreams() const
    {
        const QByteArray out
            = pactl({ QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs") });
        return out.isNull() ? -1 : int(out.count('\n'));
    }

private:
    int m_micFrequency;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_error;
};

// Records a source of a PulseServer (mono, 16-bit, at `rate`) with parec.
class PulseRecorder
{
public:
    PulseRecorder(const PulseServer &server, const QString &source, int rate = 16000)
        : m_rate(rate)
    {
        m_process.setProcessEnvironment(server.environment());
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral("/usr/bin/parec"),
            { QStringLiteral("-d"), source, QStringLiteral("--rate=%1").arg(rate),
                QStringLiteral("--channels=1"), QStringLiteral("--format=s16le"),
                QStringLiteral("--latency-msec=10"), QStringLiteral("--raw") });
        m_process.waitForStarted(10000);
    }
    ~PulseRecorder()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    int rate() const { return m_rate; }

    // The next `ms` of sound heard after everything read so far (what came
    // before is dropped); empty when parec stopped giving it.
    QVector<qint16> next(int ms, int timeoutMs = 20000)
    {
        // Drains the pipe, which holds what parec heard while nobody read.
        do
            m_process.readAllStandardOutput();
        while (m_process.waitForReadyRead(0));
        m_data.clear();
        return take(ms, timeoutMs);
    }

    // The `ms` of sound following what was last taken.
    QVector<qint16> take(int ms, int timeoutMs = 20000)
    {
        const int bytes = m_rate / 1000 * ms * 2;
        QElapsedTimer t;
        t.start();
        while (m_data.size() < bytes) {
            if (m_process.state() != QProcess::Running || t.elapsed() > timeoutMs)
                return {};
            pull(int(qMax<qint64>(1, timeoutMs - t.elapsed())));
        }
        QVector<qint16> samples(bytes / 2);
        memcpy(samples.data(), m_data.constData(), size_t(bytes));
        m_data.remove(0, bytes);
        return samples;
    }

private:
    void pull(int waitMs)
    {
        if (waitMs > 0 && m_process.bytesAvailable() == 0)
            m_process.waitForReadyRead(waitMs);
        m_data += m_process.readAllStandardOutput();
    }

    int m_rate;
    QProcess m_process;
    QByteArray m_data;
};

namespace SoundMeasure {

// Root mean square of the samples (0..32768).
inline double rms(const QVector<qint16> &s)
{
    double sum = 0;
    for (qint16 v : s)
        sum += double(v) * v;
    return s.isEmpty() ? 0 : std::sqrt(sum / s.size());
}

// Amplitude of the `frequency` component in each 40 ms window (Goertzel,
// Hann-weighted), in sample units.
inline QVector<double> windowAmplitudes(const QVector<qint16> &s, int rate, double frequency)
{
    const int window = rate / 25;
    const double w = 2 * M_PI * frequency / rate;
    const double c = 2 * std::cos(w);
    QVector<double> out;
    for (int start = 0; start + window <= s.size(); start += window) {
        double p1 = 0, p2 = 0, weights = 0;
        for (int i = 0; i < window; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * i / (window - 1));
            weights += hann;
            const double p0 = hann * s[start + i] + c * p1 - p2;
            p2 = p1;
            p1 = p0;
        }
        const double power = p1 * p1 + p2 * p2 - c * p1 * p2;
        out.append(2 * std::sqrt(qMax(0.0, power)) / weights);
    }
    return out;
}

// Amplitude of the `frequency` component, the windows averaged, so a jump of
// the tone's phase (audio dropped on the way) spoils one window rather than
// the whole; any window that still holds the tone counts towards it.
inline double amplitudeAt(const QVector<qint16> &s, int rate, double frequency)
{
    const QVector<double> windows = windowAmplitudes(s, rate, frequency);
    return windows.isEmpty() ? 0 : std::accumulate(windows.begin(), windows.end(), 0.0) / windows.size();
}

// How loud the `frequency` component typically is: the median window, so the
// short gaps of a starved stream (a loaded machine) do not lower it.
inline double typicalAmplitudeAt(const QVector<qint16> &s, int rate, double frequency)
{
    QVector<double> windows = windowAmplitudes(s, rate, frequency);
    if (windows.isEmpty())
        return 0;
    std::nth_element(windows.begin(), windows.begin() + windows.size() / 2, windows.end());
    return windows[windows.size() / 2];
}

// The frequency of a pure tone from its zero crossings, in Hz.
inline double zeroCrossingFrequency(const QVector<qint16> &s, int rate)
{
    int crossings = 0;
    for (int i = 1; i < s.size(); ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
    return s.size() < 2 ? 0 : crossings / 2.0 * rate / (s.size() - 1);
}

// True when `frequency` carries most of the sound: its amplitude is at least
// `share` of what a pure tone of the same loudness would have.
inline bool dominatedBy(const QVector<qint16> &s, int rate, double frequency, double share = 0.7)
{
    const double pure = rms(s) * std::sqrt(2.0);
    return pure > 0 && amplitudeAt(s, rate, frequency) >= share * pure;
}

} // namespace SoundMeasure
