#include "GeneralSocket.h"

#include "ClientRegistry.h"
#include "RawSocket.h"
#include "common/ProgramDir.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThreadPool>

namespace {

GeneralSocket *g_instance = nullptr;

const char kPreflightReply[] = "HTTP/1.1 200 OK\r\n"
                               "Access-Control-Allow-Origin:*\r\n"
                               "Access-Control-Allow-Headers:Content-Type, Content-Length, Authorization, "
                               "Accept, X-Requested-With\r\n"
                               "Access-Control-Allow-Methods: GET, POST, OPTIONS, HEAD\r\n"
                               "Access-Control-Max-Age: 8640000\r\n"
                               "Content-Length: 0\r\n"
                               "Connection: close\r\n"
                               "Content-Type: text/plain\r\n"
                               "\r\n";

const char kContinueReply[] = "HTTP/1.1 100 Continue\r\n\r\n";

QString webRootOf(const QString &appDir)
{
    QString root = appDir;
    root.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int slash = root.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? root : root.left(slash);
}

// The real path of `file` when it lies inside `base`; empty otherwise (or
// when either does not exist).
QString confined(const QString &file, const QString &base)
{
    const QString realBase = QFileInfo(base).canonicalFilePath();
    const QString realFile = QFileInfo(file).canonicalFilePath();
    if (realBase.isEmpty() || realFile.isEmpty())
        return QString();
    const QString prefix = realBase.endsWith(QLatin1Char('/')) ? realBase : realBase + QLatin1Char('/');
    return realFile.startsWith(prefix) ? realFile : QString();
}

// True when `folder` is the service's own folder or holds it.
bool holdsServiceFolder(const QString &folder, const QString &appDir)
{
    const QString realFolder = QFileInfo(folder).canonicalFilePath();
    const QString realApp = QFileInfo(appDir).canonicalFilePath();
    if (realFolder.isEmpty() || realApp.isEmpty())
        return false;
    return realApp == realFolder || realApp.startsWith(realFolder + QLatin1Char('/'));
}

} // namespace

GeneralSocket *GeneralSocket::instance()
{
    if (!g_instance)
        g_instance = new GeneralSocket(ProgramDir::folder());
    return g_instance;
}

void GeneralSocket::releaseInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

GeneralSocket::GeneralSocket(const QString &appDir, int firstPort, int lastPort, QObject *parent)
    : QThread(parent)
    , m_strWebRoot(webRootOf(appDir))
    , m_strAppDir(appDir)
    , m_firstPort(firstPort)
    , m_lastPort(lastPort)
{
    QThreadPool::globalInstance()->setMaxThreadCount(10);
}

GeneralSocket::~GeneralSocket()
{
    m_bStop = true;
    RawSocket::wakeListener(m_listenSocket.load());
    wait();
    const int listener = m_listenSocket.exchange(-1);
    if (listener >= 0)
        RawSocket::closeSocket(listener);
    m_port = 0;
}

bool GeneralSocket::listen()
{
    if (m_listenSocket.load() >= 0)
        return true;
    int port = 0;
    const int s = RawSocket::listenLoopback(m_firstPort, m_lastPort, &port);
    if (s < 0) {
        qDebug("Bind error: no free port in %d..%d", m_firstPort, m_lastPort);
        return false;
    }
    qDebug("Bind Port:%d", port);
    m_listenSocket = s;
    m_port = port;
    return true;
}

void GeneralSocket::run()
{
    if (m_bStop || !listen())
        return;
    while (!m_bStop) {
        const int s = RawSocket::acceptConnection(m_listenSocket.load());
        if (s < 0)
            return;
        if (m_bStop) {
            RawSocket::closeSocket(s);
            return;
        }
        try {
            DealClientMsg(s);
        } catch (...) {
            // Out of memory in a request: that connection is dropped, the
            // server goes on.
            RawSocket::closeSocket(s);
        }
    }
}

HttpRequest::Scan GeneralSocket::gatherRequest(int s, QByteArray *request, HttpRequest::Head *head)
{
    bool continueSent = false;
    char chunk[16384];
    for (;;) {
        const HttpRequest::Scan state = HttpRequest::scan(request->constData(), request->size(), head);
        if (state != HttpRequest::Scan::NeedMore)
            return state;
        // A client that waits for leave to send its body gets it once.
        if (head->headLength > 0 && head->expectContinue && !continueSent
            && request->size() == head->headLength) {
            continueSent = true;
            if (ClientRegistry::sendData(s, kContinueReply, int(sizeof kContinueReply - 1), 3) < 0)
                return state;
        }
        if (m_bStop || RawSocket::waitReadable(s, kRequestWaitMs) != RawSocket::Wait::Ready)
            return state;
        const int room = HttpRequest::kMaxRequest - request->size();
        const ssize_t n = RawSocket::receiveSome(s, chunk, size_t(qMin<int>(room, int(sizeof chunk))));
        if (n == -2)
            continue;
        if (n <= 0)
            return state;
        request->append(chunk, int(n));
    }
}

void GeneralSocket::DealClientMsg(int s)
{
    QByteArray request;
    HttpRequest::Head head;
    const HttpRequest::Scan state = gatherRequest(s, &request, &head);
    if (state == HttpRequest::Scan::Bad) {
        ClientRegistry::sendHttpText("", 0, 400, s);
        RawSocket::closeSocket(s);
        return;
    }
    // A head that never ended is no request; one whose body was cut short is
    // still handled with what came.
    if (head.headLength == 0) {
        RawSocket::closeSocket(s);
        return;
    }
    switch (HttpRequest::classify(head.header)) {
    case HttpRequest::Kind::NotHttp:
        break;
    case HttpRequest::Kind::Preflight:
        ClientRegistry::sendData(s, kPreflightReply, int(sizeof kPreflightReply - 1), 2);
        break;
    case HttpRequest::Kind::Control:
        break;
    case HttpRequest::Kind::WebSocket:
        break;
    case HttpRequest::Kind::File:
        if (dealHttpGetFile(s, head) == FileHandedToUpdate)
            return;
        break;
    }
    RawSocket::closeSocket(s);
}

int GeneralSocket::dealHttpGetFile(int s, const HttpRequest::Head &head)
{
    const HttpRequest::FilePath path = HttpRequest::parseFilePath(head.header.target());
    auto notFound = [s](int code) {
        ClientRegistry::sendHttpFile(9, s);
        return code;
    };
    if (path.tooLong)
        return notFound(FileTargetTooLong);
    if (!path.ok)
        return notFound(FileMissing);

    QString base;
    QString relative = path.relative;
    switch (path.place) {
    case HttpRequest::Place::ServiceCfg:
        base = m_strAppDir + QStringLiteral("/Cfg");
        relative = relative.mid(4);
        break;
    case HttpRequest::Place::Style:
        base = m_strWebRoot + QLatin1Char('/') + path.style;
        if (holdsServiceFolder(base, m_strAppDir))
            return notFound(FileMissing);
        break;
    case HttpRequest::Place::Web:
        base = m_strWebRoot + QStringLiteral("/Web");
        break;
    }
    const QString fileName = base + QLatin1Char('/') + relative;

    const QFileInfo info(fileName);
    if (!info.exists())
        return notFound(FileMissing);
    const QString real = confined(fileName, base);
    if (real.isEmpty())
        return notFound(FileMissing);
    if (!QFileInfo(real).isFile())
        return notFound(FileNotRegular);
    const int type = ClientRegistry::fileTypeOfPath(path.typePath);
    return ClientRegistry::sendHttpFileChecked(real, type, s) == 0 ? FileSent : FileSendFailed;
}
