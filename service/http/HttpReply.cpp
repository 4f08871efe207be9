#include "HttpReply.h"

#include "RawSocket.h"

#include <json/writer.h>

#include <QFile>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kFileChunk = 65536;

const char kNotFoundBody[] = "<html><head><title>404 File Not Found</title></head>\n"
                             "<body>The requested URL was not found on this server</body></html>\n";

const char *contentTypeLine(int type)
{
    switch (type) {
    case 0:
        return "Content-type: text/html";
    case 2:
        return "Content-type: image/jpeg";
    case 3:
        return "Content-type: image/gif";
    case 4:
    case 9:
        return "Content-type: application/binary";
    case 5:
        return "Content-type: image/png";
    case 6:
        return "Content-type: text/css";
    case 7:
        return "Content-type: application/x-javascript";
    case 10:
        return "Content-type: text/xml";
    default:
        return "Content-type: text/plain";
    }
}

// File types by ending, in the order they are tried.
const struct FileEnding
{
    const char *ending;
    int type;
} kFileEndings[] = { { ".htm", 0 }, { ".html", 0 }, { ".gif", 3 }, { ".jpg", 2 }, { ".jpeg", 2 },
    { ".png", 5 }, { ".PNG", 5 }, { ".cab", 4 }, { ".exe", 4 }, { ".js", 7 }, { ".css", 6 }, { ".xml", 10 } };

} // namespace

namespace HttpReply {

int sendData(int socket, const void *data, int length, int timeoutSeconds)
{
    if (length < 0 || (!data && length > 0))
        return -1;
    const int timeoutMs = timeoutSeconds > INT_MAX / 1000 ? INT_MAX : timeoutSeconds * 1000;
    const ssize_t n = RawSocket::sendAll(socket, static_cast<const char *>(data), size_t(length), timeoutMs);
    return n < 0 ? -1 : int(n);
}

QByteArray httpFileHead(int type, qint64 contentLength)
{
    QByteArray head = type == 9 ? "HTTP/1.1 404 Not Found\r\n" : "HTTP/1.1 200 OK\r\n";
    head += contentTypeLine(type);
    head += "\r\n";
    if (type == 2 || type == 3 || type == 5)
        head += "Cache-Control:max-age=315360000\r\n";
    head += "Access-Control-Allow-Origin: *\r\n"
            "Access-Control-Allow-Headers: Origin, X-Requested-With, Content-Type, Accept\r\n"
            "Expires: 0\r\n";
    if (type == 9)
        contentLength = qint64(sizeof kNotFoundBody - 1);
    head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (type == 9)
        head += kNotFoundBody;
    return head;
}

int sendHttpFile(int type, int socket, qint64 contentLength)
{
    const QByteArray head = httpFileHead(type, contentLength);
    return sendData(socket, head.constData(), head.size(), 3) == head.size() ? 0 : -1;
}

int sendHttpFileChecked(const QString &path, int type, int socket)
{
    if (path.isEmpty())
        return -1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return sendHttpFileChecked(file, type, socket);
}

int sendHttpFileChecked(QFile &file, int type, int socket)
{
    const qint64 size = file.size();
    if (sendHttpFile(type, socket, size) != 0)
        return -1;
    QByteArray chunk(kFileChunk, Qt::Uninitialized);
    qint64 left = size;
    while (left > 0) {
        const qint64 n = file.read(chunk.data(), qMin<qint64>(left, kFileChunk));
        // A file that shrank under us ends the reply short: the peer sees
        // fewer bytes than announced and the connection closes.
        if (n <= 0)
            return -1;
        if (sendData(socket, chunk.constData(), int(n), 3) != int(n))
            return -1;
        left -= n;
    }
    return 0;
}

QByteArray httpTextReply(const char *text, int length, int status)
{
    if (length < 0 || (!text && length > 0))
        length = 0;
    QByteArray reply = status == 200 ? "HTTP/1.1 200 OK\r\n"
        : status == 400              ? "HTTP/1.1 400 Bad Request\r\n"
                                     : "HTTP/1.1 404 Not Found\r\n";
    reply += "Content-type: text/plain\r\n"
             "Access-Control-Allow-Origin: *\r\n"
             "Content-Length: "
        + QByteArray::number(length)
        + "\r\n"
          "Connection: close\r\n\r\n";
    reply.append(text, length);
    return reply;
}

QByteArray busyReply(int retryAfterSeconds)
{
    return "HTTP/1.1 503 Service Unavailable\r\n"
           "Content-type: text/plain\r\n"
           "Access-Control-Allow-Origin: *\r\n"
           "Retry-After: "
        + QByteArray::number(retryAfterSeconds)
        + "\r\n"
          "Content-Length: 0\r\n"
          "Connection: close\r\n\r\n";
}

int sendHttpText(const char *text, int length, int status, int socket)
{
    const QByteArray reply = httpTextReply(text, length, status);
    return sendData(socket, reply.constData(), reply.size(), 3);
}

int fileTypeOfPath(const QByteArray &path)
{
    for (const FileEnding &entry : kFileEndings) {
        if (path.endsWith(entry.ending))
            return entry.type;
    }
    return 1;
}

int fileTypeOfName(const QString &name)
{
    for (const FileEnding &entry : kFileEndings) {
        if (name.indexOf(QLatin1String(entry.ending), 1) > 0)
            return entry.type;
    }
    return 1;
}

QByteArray styledJson(const Json::Value &value)
{
    // The styled writer of old lays nested objects out this way; the newer
    // stream writer cannot.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::StyledWriter writer;
    return QByteArray::fromStdString(writer.write(value));
#pragma GCC diagnostic pop
}

} // namespace HttpReply

int parseReplyCode(const char *text)
{
    if (!text || !*text)
        return 0;
    if (std::strcmp(text, "Draxel") == 0)
        return -1;
    if (text[0] != 'O')
        return -1000000;
    const long long value = std::strtoll(text + 1, nullptr, 10);
    return int(qBound<long long>(INT_MIN, value, INT_MAX));
}
