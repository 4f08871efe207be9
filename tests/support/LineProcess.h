#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QtTest>

// A child process whose standard output is read as lines; tests wait for
// lines by their start without sleeping.
class LineProcess : public QObject
{
public:
    explicit LineProcess(QObject *parent = nullptr)
        : QObject(parent)
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            m_pending += m_process.readAllStandardOutput();
            int nl;
            while ((nl = m_pending.indexOf('\n')) >= 0) {
                m_lines.append(QString::fromUtf8(m_pending.left(nl)));
                m_pending.remove(0, nl + 1);
            }
        });
    }
    ~LineProcess() override
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QProcess &process() { return m_process; }

    void start(const QString &program, const QStringList &args) { m_process.start(program, args); }

    void write(const QByteArray &line)
    {
        m_process.write(line + '\n');
        // A long line goes out in several writes.
        while (m_process.bytesToWrite() > 0 && m_process.waitForBytesWritten(5000)) { }
    }

    // Takes the next line starting with `prefix` (earlier others are skipped);
    // an empty result when none arrived within `timeoutMs`.
    QString take(const QString &prefix, int timeoutMs = 10000)
    {
        QElapsedTimer t;
        t.start();
        for (;;) {
            while (!m_lines.isEmpty()) {
                const QString line = m_lines.takeFirst();
                if (line.startsWith(prefix))
                    return line.mid(prefix.size());
            }
            if (t.elapsed() > timeoutMs)
                return QString();
            QSignalSpy spy(&m_process, &QProcess::readyReadStandardOutput);
            if (m_lines.isEmpty())
                spy.wait(int(qMax<qint64>(1, timeoutMs - t.elapsed())));
        }
    }

    // True when a line starting with `prefix` arrives within `timeoutMs`.
    bool sees(const QString &prefix, int timeoutMs) { return !take(prefix, timeoutMs).isNull(); }

    QStringList remainingLines() const { return m_lines; }

private:
    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
};
