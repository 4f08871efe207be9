#pragma once

// An Xvfb X server for tests that need a real X display. Xvfb picks the first
// free display number itself and writes it to the descriptor given with
// -displayfd once it accepts connections, so starting waits for that line
// rather than polling for the socket.
//
//     XvfbServer xvfb;
//     QVERIFY2(xvfb.start(), qPrintable(xvfb.errorText()));
//     env.insert("DISPLAY", xvfb.display());

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

class XvfbServer
{
public:
    explicit XvfbServer(QSize size = QSize(1280, 800), int depth = 24)
        : m_size(size)
        , m_depth(depth)
    { }
    ~XvfbServer() { stop(); }

    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Further arguments of the server, such as "-dpi" "144"; before start().
    void setExtraArguments(const QStringList &arguments) { m_extra = arguments; }

    // Starts the server and waits until it accepts connections.
    bool start(int timeoutMs = 15000)
    {
        stop();
        m_number = -1;
        m_error.clear();
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QStringList arguments { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
            QStringLiteral("0"),
            QStringLiteral("%1x%2x%3").arg(m_size.width()).arg(m_size.height()).arg(m_depth),
            QStringLiteral("-nolisten"), QStringLiteral("tcp") };
        m_process.start(QStringLiteral("/usr/bin/Xvfb"), arguments + m_extra);
        if (!m_process.waitForStarted(5000)) {
            m_error = QStringLiteral("Xvfb did not start: ") + m_process.errorString();
            return false;
        }
        QElapsedTimer t;
        t.start();
        while (!m_process.canReadLine()) {
            if (m_process.state() == QProcess::NotRunning || t.elapsed() > timeoutMs) {
                m_error = QStringLiteral("Xvfb gave no display number: ")
                    + QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed().right(500);
                stop();
                return false;
            }
            m_process.waitForReadyRead(int(qMax<qint64>(1, timeoutMs - t.elapsed())));
        }
        bool ok = false;
        const int number = QString::fromLatin1(m_process.readLine()).trimmed().toInt(&ok);
        if (!ok || number < 0) {
            m_error = QStringLiteral("Xvfb wrote no display number");
            stop();
            return false;
        }
        m_number = number;
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        // A terminated server removes its lock file and socket; a killed one leaves them.
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool running() const { return m_process.state() == QProcess::Running && m_number >= 0; }
    int number() const { return m_number; }
    QString display() const { return m_number < 0 ? QString() : QStringLiteral(":%1").arg(m_number); }
    QString socketPath() const { return QStringLiteral("/tmp/.X11-unix/X%1").arg(m_number); }
    QSize size() const { return m_size; }
    QString errorText() const { return m_error; }
    qint64 processId() const { return m_process.processId(); }

    // The environment with DISPLAY set to this server. Without a session bus
    // address, Qt's X11 start-up makes libdbus fork "dbus-launch"; under the
    // sanitizers that child can hang on an allocator lock taken by another
    // thread at the fork, and with it the program's start-up. An address that
    // cannot be reached makes the connection fail at once instead.
    QProcessEnvironment environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const
    {
        base.insert(QStringLiteral("DISPLAY"), display());
        if (!base.contains(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")))
            base.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                QStringLiteral("unix:path=/dev/null/no-session-bus"));
        return base;
    }

private:
    QSize m_size;
    int m_depth;
    QStringList m_extra;
    int m_number = -1;
    QString m_error;
    QProcess m_process;
};
