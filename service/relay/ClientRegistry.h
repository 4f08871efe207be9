#pragma once

#include "UserLoginInfo.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

class QFile;
class QIODevice;

// What the service's two page front ends share: the session counter, the
// WebSocket server's port, and the raw socket server's per-connection tables.
// Every table has its own lock and no operation holds two of them; nothing is
// sent and no signal is emitted while a lock is held.
class ClientRegistry
{
public:
    static constexpr int kMaxClients = 4;

    static ClientRegistry *instance();
    // Empties the client table and deletes the instance.
    static void releaseInstance();

    ClientRegistry() = default;
    ClientRegistry(const ClientRegistry &) = delete;
    ClientRegistry &operator=(const ClientRegistry &) = delete;

    // Session ids: handed out once, from 1, never reused. Both front ends take
    // their ids here.
    int takeSessionId();
    // The id the next accepted session will receive.
    int nextSessionId() const;

    // The port the WebSocket server listens on; 0 until it listens.
    int webSocketPort() const { return m_webSocketPort.load(); }
    void setWebSocketPort(int port) { m_webSocketPort.store(port); }

    // Raw socket sessions: session id to socket.
    void setSessionSocket(int sessionId, int socket);
    bool sessionSocket(int sessionId, int *socket) const;
    // The first session (in id order) whose socket is `socket`.
    bool sessionOfSocket(int socket, int *sessionId) const;
    void removeSessionSocket(int sessionId);

    // Raw socket key records: socket to record. Callers get copies; changes go
    // through the setters, so no record is read while another thread writes it.
    void setSocketLoginInfo(int socket, const CUserLoginInfo &info);
    bool socketLoginInfo(int socket, CUserLoginInfo *info) const;
    // Keys the connection's record (key, zero IV, encrypted flag); false when
    // the connection has no record.
    bool setSocketKey(int socket, const QByteArray &key);
    bool setSocketUpgrade(int socket, bool upgrade);
    // Removes the record and wipes its key.
    void removeSocketLoginInfo(int socket);

    // Raw connections being served, at most four.
    // 0 and *out = socket; -1 and *out = the lowest served socket when four
    // are served; -2 when memory runs out.
    int addClient(int socket, int *out);
    // 0 and *out = the stored value, or -1 when absent.
    int findClient(int socket, int *out) const;
    void removeClient(int socket);
    // 0, or -1 when absent or `value` is null.
    int setGuardedValue(int socket, const int *value);
    int clearGuardedMap();
    int clientCount() const;

    // Socket sends and HTTP replies of the raw socket server and its update
    // task (ClientRegistryHttp.cpp). They keep no state.
    // Sends all bytes, waiting at most `timeoutSeconds` for each step of
    // progress; the count, or -1 on time-out or failure.
    static int sendData(int socket, const void *data, int length, int timeoutSeconds);
    // The reply head of file type `type` (see fileTypeOfPath) announcing
    // `contentLength` bytes; for type 9, the not-found page (head and body).
    static QByteArray httpFileHead(int type, qint64 contentLength);
    // Sends httpFileHead(): 0 when all was sent, else -1.
    static int sendHttpFile(int type, int socket, qint64 contentLength = 0);
    // Head and file: -1 with nothing sent when the file cannot be opened;
    // -1 when sending or reading fails part way (the peer sees fewer bytes
    // than announced); 0 when the whole file went out.
    static int sendHttpFileChecked(const QString &path, int type, int socket);
    // The same for a file already open for reading.
    static int sendHttpFileChecked(QFile &file, int type, int socket);
    // A text/plain reply: 200, 400, and "404 Not Found" for any other status.
    static QByteArray httpTextReply(const char *text, int length, int status);
    // Sends httpTextReply(): sendData's result.
    static int sendHttpText(const char *text, int length, int status, int socket);
    // The file type of a request path by its ending (case-sensitive).
    static int fileTypeOfPath(const QByteArray &path);

    // Page packages (ClientRegistryFiles.cpp).
    // Extracts every entry of the zip archive into `folder`; refuses (false,
    // with whatever was written removed by the caller's staging) archives
    // with absolute names, ".." segments, backslashes or link entries.
    static bool unzipFile(const QString &zipPath, const QString &folder);
    // The file's MD5 as 32 lower-case hexadecimal digits; empty when it
    // cannot be read.
    static QString fileMd5Hex(const QString &path);
    // Removes the folder's contents and, with `removeSelf`, the folder: 0,
    // -2 when it does not exist, -3 when a file stays, -4 when the folder stays.
    static int removeDirectory(const QString &folder, bool removeSelf);

private:
    mutable std::mutex m_mutex; // guards m_nextSessionId
    int m_nextSessionId = 1;
    std::atomic<int> m_webSocketPort { 0 };

    mutable std::mutex m_rawMutex; // guards m_sessionSockets and m_socketLoginInfos
    std::map<int, int> m_sessionSockets;
    std::map<int, std::unique_ptr<CUserLoginInfo>> m_socketLoginInfos;

    mutable std::mutex m_clientMutex; // guards m_clients
    std::map<int, int> m_clients;
};

// The code of a reply text: 0 for an empty text, -1 for "Draxel", the
// decimal number after a leading "O" (as far as it reads as one, within int
// range), else -1000000.
int parseReplyCode(const char *text);

// MD5 digests (RFC 1321), 16 bytes. md5File digests what is left of an open
// file, read in blocks of 4096 bytes (empty when reading fails); md5Buffer
// `length` bytes, or the bytes up to the first NUL when `length` is 0.
QByteArray md5File(QIODevice &file);
QByteArray md5Buffer(const char *data, int length);
