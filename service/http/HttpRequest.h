#pragma once

#include "HttpHeader.h"

#include <QByteArray>
#include <QString>

// The raw socket server's view of one request: when its head and body are
// complete, what kind of request it is, and which page file it names.
namespace HttpRequest {

// Largest request taken in, head and body together.
constexpr int kMaxRequest = 204800;
// Longest request target served; longer ones are answered not-found.
constexpr int kMaxTarget = 10239;

enum class Scan {
    NeedMore, // head or body incomplete
    Complete, // head and Content-Length bytes of body are there
    Bad // no valid head, an unusable Content-Length or more than kMaxRequest
};

struct Head
{
    requesethttpheader header;
    int headLength = 0; // up to and including the empty line
    int contentLength = 0;
    bool expectContinue = false;
};

// Looks at the bytes gathered so far. `head` is filled once the head is whole.
Scan scan(const char *data, int size, Head *head);

enum class Kind { NotHttp, Preflight, Control, WebSocket, File };

// By the request line's method and path, and by header names without regard
// to letter case; nothing else in the head matters.
Kind classify(const requesethttpheader &header);

// The request target's path: the part before "?" or "#".
std::string pathOf(const std::string &target);

enum class Place { Web, Style, ServiceCfg };

struct FilePath
{
    bool ok = false; // false: answer not-found
    bool tooLong = false; // the target exceeds kMaxTarget
    Place place = Place::Web;
    QString style; // "Web", or the name after "WebStyle_"
    QString relative; // segments below the place's folder, joined by "/"
    QByteArray typePath; // the decoded path, for the file type by ending
};

// Percent-decodes the path and checks it: no NUL, no "\", no "." or ".."
// segment, no segment longer than a file name may be. "WebStyle_<name>" as
// the first segment names a style folder ([A-Za-z0-9_-]+ only); "Cfg/tip.png"
// and "Cfg/capture.bmp" exactly name the service's own two files.
FilePath parseFilePath(const std::string &target);

// [A-Za-z0-9_-]+
bool isSafeStyleName(const QByteArray &name);

// The real path of `file` when it lies inside `base` (links resolved); empty
// otherwise or when either does not exist.
QString confinedPath(const QString &file, const QString &base);
// True when `folder` is `inner` or holds it (links resolved).
bool holdsFolder(const QString &folder, const QString &inner);

} // namespace HttpRequest
