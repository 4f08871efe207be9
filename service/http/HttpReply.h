#pragma once

#include <QByteArray>
#include <QString>

class QFile;
namespace Json {
class Value;
}

// Replies over the service's plain sockets: blocking sends, the reply heads
// of page files (the not-found page included) and short text replies, as the
// socket server and its pool tasks send them. They keep no state; any thread
// may call them, each on its own socket.
namespace HttpReply {

// Sends all bytes, waiting at most `timeoutSeconds` for each step of
// progress; the count, or -1 on time-out or failure.
int sendData(int socket, const void *data, int length, int timeoutSeconds);
// The reply head of file type `type` (see fileTypeOfPath) announcing
// `contentLength` bytes; for type 9, the not-found page (head and body).
QByteArray httpFileHead(int type, qint64 contentLength);
// Sends httpFileHead(): 0 when all was sent, else -1.
int sendHttpFile(int type, int socket, qint64 contentLength = 0);
// Head and file: -1 with nothing sent when the file cannot be opened;
// -1 when sending or reading fails part way (the peer sees fewer bytes
// than announced); 0 when the whole file went out.
int sendHttpFileChecked(const QString &path, int type, int socket);
// The same for a file already open for reading.
int sendHttpFileChecked(QFile &file, int type, int socket);
// A text/plain reply: 200, 400, and "404 Not Found" for any other status.
QByteArray httpTextReply(const char *text, int length, int status);
// "503 Service Unavailable" with "Retry-After: <seconds>" and no body: the
// server has no room for the request now.
QByteArray busyReply(int retryAfterSeconds);
// Sends httpTextReply(): sendData's result.
int sendHttpText(const char *text, int length, int status, int socket);
// The file type of a request path by its ending (case-sensitive).
int fileTypeOfPath(const QByteArray &path);
// The same endings found anywhere after the first character of a file name,
// as the update task types the file it serves.
int fileTypeOfName(const QString &name);

// The styled layout of the service's own reply bodies: one member per line,
// three-blank indentation, a nested object's brace on its key's line,
// members by name, a line feed at the end.
QByteArray styledJson(const Json::Value &value);

} // namespace HttpReply

// The code of a reply text: 0 for an empty text, -1 for "Draxel", the
// decimal number after a leading "O" (as far as it reads as one, within int
// range), else -1000000.
int parseReplyCode(const char *text);
