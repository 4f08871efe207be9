// Feeds arbitrary bytes to the socket server's request reading: completeness
// by head and Content-Length, classification, and the file path check, which
// must never name anything with a "." or ".." segment, a backslash or a NUL.
#include "HttpRequest.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const int n = int(size > size_t(HttpRequest::kMaxRequest) ? HttpRequest::kMaxRequest : size);
    HttpRequest::Head head;
    const HttpRequest::Scan state = HttpRequest::scan(bytes, n, &head);
    if (state == HttpRequest::Scan::Complete
        && (head.headLength > n || head.contentLength > n - head.headLength))
        std::abort();
    if (head.headLength == 0)
        return 0;
    HttpRequest::classify(head.header);
    const HttpRequest::FilePath path = HttpRequest::parseFilePath(head.header.target());
    if (!path.ok)
        return 0;
    for (const QString &segment : path.relative.split(QLatin1Char('/'))) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String("..")
            || segment.contains(QLatin1Char('\\')) || segment.contains(QChar(0)))
            std::abort();
    }
    if (path.place == HttpRequest::Place::Style && !HttpRequest::isSafeStyleName(path.style.toLatin1()))
        std::abort();
    return 0;
}
