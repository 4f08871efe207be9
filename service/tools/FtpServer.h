#pragma once

#include "MyThread.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <mutex>

#include <atomic>
#include <cstdint>
#include <map>

class Client;

// A small FTP server for uploading and downloading files below one root
// folder, with one Client per control connection (at most 20). After each
// completed upload the owner's callback gets the stored file's path. Nothing
// in the service starts it; its owner calls start() and stop().
class CFtpServer : public QObject
{
    Q_OBJECT

public:
    // Gets the stored path (local 8-bit text) and the user data given with it.
    using UploadCallback = void (*)(const char *path, void *userData);

    static CFtpServer *instance();
    static void releaseInstance();

    explicit CFtpServer(QObject *parent = nullptr);
    ~CFtpServer() override;

    void setUser(const char *user, const char *password);
    void setUploadCallback(UploadCallback callback, void *userData);
    // The IPv4 address the server listens on; all addresses unless set.
    // False for a text that is no IPv4 address.
    bool setListenAddress(const char *address);
    // How long a transfer waits for the client's data connection.
    void setDataTimeout(int milliseconds);
    // How long a connection may stay without a successful login before it
    // is closed and its place among the kMaxClients is free again.
    void setLoginTimeout(int milliseconds);

    // 1 when listening; -2 no socket, -3 bind failed, -4 listen failed. A
    // port of 0 lets the system choose (see listenPort()).
    int start(const char *name, int port, const char *rootFolder);
    // Stops accepting, ends every client's session and waits for the threads
    // (a bounded time for each client); 1.
    int stop();

    int listenPort() const { return m_listenPort; }
    // Sessions still running; ended ones are let go first.
    int clientCount();

    // Where data ports are looked for first.
    static constexpr int kFirstDataPort = 12800;
    static constexpr int kMaxClients = 20;

private slots:
    void onNewPictureSave(QString strPicPath);

private:
    static void acceptEntry(void *self);
    void acceptLoop();
    void reapFinished(); // under m_mutex
    int chooseDataPort(uint32_t address); // under m_mutex

    QByteArray user;
    QByteArray password;
    UploadCallback m_callback = nullptr;
    void *m_userData = nullptr;
    int port = 21;
    QString name;
    QString rootFolder;
    QString m_canonicalRoot;
    uint32_t m_listenAddress = 0;
    std::atomic<int> m_dataTimeoutMs { 30000 }; // set by the owner, read by the accept thread
    std::atomic<int> m_loginTimeoutMs { 30000 };
    int m_listenPort = 0;
    CMyThread m_acceptThread;
    std::mutex m_mutex; // guards clients, user and password
    std::map<int, Client *> clients;
    std::atomic<int> m_listenSocket { -1 };
    std::atomic<bool> stopped { true };
};
