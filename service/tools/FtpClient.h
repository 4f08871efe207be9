#pragma once

#include "MyThread.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// One FTP control connection: its own thread reads command lines and answers
// them; transfers are passive only, over a listener on the client's data port
// at the control connection's local address.
class Client : public QObject
{
    Q_OBJECT

public:
    // Takes the accepted control socket. `canonicalRoot` is the served folder
    // without symbolic links.
    Client(int controlSocket, const QString &canonicalRoot, int dataPort, QObject *parent = nullptr);
    ~Client() override;

    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Set before start().
    void setExpectedLogin(const QByteArray &user, const QByteArray &password);
    void setDataTimeout(int milliseconds);
    // How long after start() a session may go without a successful login
    // before it is closed.
    void setLoginTimeout(int milliseconds);

    // Starts the serve loop once.
    void start();
    // Shuts down every socket of the session, which makes the serve loop and
    // a transfer in progress end; does not wait.
    void requestStop();
    // Waits at most `milliseconds` for the serve loop's thread; true once it ended.
    bool waitFinished(int milliseconds);
    // True once the serve loop has been left (or was never started).
    bool isFinished() const;

    int dataPort() const { return m_dataPort; }

signals:
    // A completed upload, with the stored file's local path.
    void newPictureSave(QString strPicPath);

private:
    static void serveEntry(void *self);
    void serve();
    void handleLine(const QByteArray &line);
    bool reply(const QByteArray &text);

    void onUser(const QByteArray &argument);
    void onPass(const QByteArray &argument);
    void onPasv();
    void onSize(const QByteArray &argument);
    void onRetr(const QByteArray &argument);
    void onStor(const QByteArray &argument);
    void onCwd(const QByteArray &argument);
    void onRest(const QByteArray &argument);
    void onMkd(const QByteArray &argument);

    // The local path the argument names below the root, or empty when it leaves the root.
    QString resolve(const QByteArray &argument) const;
    bool acceptData();
    void closePassive();

    // Sockets are opened and closed by the client's thread and shut down by
    // requestStop() from another one, always under m_socketMutex.
    void adopt(int &slot, int socket);
    void release(int &slot);

    CMyThread m_thread;
    std::mutex m_socketMutex;
    int m_controlSocket = -1;
    int m_passiveSocket = -1;
    int m_dataSocket = -1;
    const int m_dataPort;
    uint32_t m_localAddress = 0;
    uint32_t m_peerAddress = 0;
    bool m_passiveMode = false;
    bool m_loggedIn = false;
    bool m_hadLogin = false; // once logged in, the login time-out is over
    std::atomic<bool> m_stopped { true };
    std::atomic<bool> m_started { false };
    std::atomic<bool> m_closed { false };
    int m_dataTimeoutMs = 30000;
    int m_loginTimeoutMs = 30000;
    QElapsedTimer m_sinceStart;

    QByteArray m_command; // the pending part of the command stream
    bool m_discarding = false; // inside an over-long line
    QByteArray m_userName;
    QByteArray m_password;
    std::vector<char> m_receiveBuffer;

    const QString m_rootFolder;
    QString m_currentFolder; // virtual, "/" is the root
    QByteArray m_expectedUser;
    QByteArray m_expectedPassword;
};
