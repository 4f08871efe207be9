#include "HttpRequest.h"

#include <QFileInfo>

namespace HttpRequest {

namespace {

constexpr int kMaxSegment = 255;

int findHeadEnd(const char *data, int size, int *separator)
{
    for (int i = 0; i + 1 < size; ++i) {
        if (data[i] != '\n')
            continue;
        if (data[i + 1] == '\n') {
            *separator = 2;
            return i;
        }
        if (i + 2 < size && data[i + 1] == '\r' && data[i + 2] == '\n') {
            *separator = 3;
            return i;
        }
    }
    return -1;
}

bool parseLength(const std::string &text, int *out)
{
    if (text.empty() || text.size() > 9)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    *out = value;
    return true;
}

} // namespace

bool isSafeStyleName(const QByteArray &name)
{
    if (name.isEmpty())
        return false;
    for (char c : name) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'
            || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

QString confinedPath(const QString &file, const QString &base)
{
    const QString realBase = QFileInfo(base).canonicalFilePath();
    const QString realFile = QFileInfo(file).canonicalFilePath();
    if (realBase.isEmpty() || realFile.isEmpty())
        return QString();
    const QString prefix = realBase.endsWith(QLatin1Char('/')) ? realBase : realBase + QLatin1Char('/');
    return realFile.startsWith(prefix) ? realFile : QString();
}

bool holdsFolder(const QString &folder, const QString &inner)
{
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    const QString realInner = QFileInfo(inner).canonicalFilePath();
    if (realFolder.isEmpty() || realInner.isEmpty())
        return false;
    return realInner == realFolder || realInner.startsWith(realFolder + QLatin1Char('/'));
}

Scan scan(const char *data, int size, Head *head)
{
    int separator = 0;
    const int end = findHeadEnd(data, size, &separator);
    if (end < 0)
        return size >= kMaxRequest ? Scan::Bad : Scan::NeedMore;
    const int headLength = end + separator;
    if (!head->header.parse(std::string(data, size_t(headLength))))
        return Scan::Bad;
    head->headLength = headLength;
    head->contentLength = 0;
    if (head->header.hasField("content-length")
        && !parseLength(head->header.field("content-length"), &head->contentLength))
        return Scan::Bad;
    if (head->contentLength > kMaxRequest - headLength)
        return Scan::Bad;
    head->expectContinue = toLowerString(head->header.field("expect")) == "100-continue";
    return size - headLength >= head->contentLength ? Scan::Complete : Scan::NeedMore;
}

std::string pathOf(const std::string &target)
{
    const size_t end = target.find_first_of("?#");
    return end == std::string::npos ? target : target.substr(0, end);
}

Kind classify(const requesethttpheader &header)
{
    if (header.version().compare(0, 5, "HTTP/") != 0)
        return Kind::NotHttp;
    if (header.method() == "OPTIONS")
        return Kind::Preflight;
    if (pathOf(header.target()) == "/Cmd-WebLocalCtrl")
        return Kind::Control;
    if (header.hasField("sec-websocket-key") && toLowerString(header.field("upgrade")) == "websocket")
        return Kind::WebSocket;
    return Kind::File;
}

FilePath parseFilePath(const std::string &target)
{
    FilePath out;
    if (target.size() > size_t(kMaxTarget)) {
        out.tooLong = true;
        return out;
    }
    std::string path = pathOf(target);
    // An absolute-form target names the path after the authority.
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos && path[0] != '/') {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? std::string("/") : path.substr(slash);
    }
    const QByteArray decoded = QByteArray::fromPercentEncoding(QByteArray::fromStdString(path));
    if (decoded.contains('\0') || decoded.contains('\\'))
        return out;
    QList<QByteArray> segments;
    for (const QByteArray &segment : decoded.split('/')) {
        if (segment.isEmpty())
            continue;
        if (segment == "." || segment == ".." || segment.size() > kMaxSegment)
            return out;
        segments.append(segment);
    }
    if (segments.isEmpty())
        return out;
    out.typePath = decoded;

    if (segments.size() == 2 && segments[0] == "Cfg"
        && (segments[1] == "tip.png" || segments[1] == "capture.bmp")) {
        out.place = Place::ServiceCfg;
        out.style = QStringLiteral("Web");
    } else if (segments[0].startsWith("WebStyle_")) {
        const QByteArray style = segments[0].mid(9);
        if (!isSafeStyleName(style))
            return out;
        out.place = Place::Style;
        out.style = QString::fromLatin1(style);
        segments.removeFirst();
        if (segments.isEmpty())
            return out;
    } else {
        out.place = Place::Web;
        out.style = QStringLiteral("Web");
    }
    out.relative = QString::fromUtf8(segments.join('/'));
    if (out.place == Place::ServiceCfg)
        out.relative = QStringLiteral("Cfg/") + QString::fromUtf8(segments[1]);
    out.ok = true;
    return out;
}

} // namespace HttpRequest
