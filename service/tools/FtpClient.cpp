#include "FtpClient.h"

#include "FtpPath.h"
#include "FtpSocket.h"
#include "RawSocket.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCommandBufferSize = 8192;
constexpr int kMaxLine = kCommandBufferSize - 1;
constexpr int kMaxLoginText = 127;
constexpr int kMaxTransferPath = 255;
constexpr int kTransferBufferSize = 65536;
// A client that is killed closes its connections in no fixed order: after
// its data connection has ended, its control connection may follow a moment
// later. An upload is stored only when the control connection outlasts this.
constexpr int kControlSettleMs = 100;

const char kWelcome[] = "220 Welcome to Mini FtpServer...\r\n";
const char kNotLoggedIn[] = "530 Not logged in.\r\n";
const char kSyntaxError[] = "501 Syntax error.\r\n";
const char kNoDataConnection[] = "425 Can't open data connection.\r\n";
const char kOpening[] = "150 Opening data connection.\r\n";
const char kComplete[] = "226 Transfer complete.\r\n";
const char kNoSuchDirectory[] = "550 No such directory.\r\n";
const char kLoginTimeout[] = "421 Login time-out, closing control connection.\r\n";

bool isSeparator(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

} // namespace

Client::Client(int controlSocket, const QString &canonicalRoot, int dataPort, QObject *parent)
    : QObject(parent)
    , m_controlSocket(controlSocket)
    , m_dataPort(dataPort)
    , m_receiveBuffer(kTransferBufferSize)
    , m_rootFolder(canonicalRoot)
    , m_currentFolder(QStringLiteral("/"))
{
    m_localAddress = FtpSocket::localAddress(controlSocket);
    m_peerAddress = FtpSocket::peerAddress(controlSocket);
    m_command.reserve(kCommandBufferSize);
    m_thread.setCallback(&Client::serveEntry, this);
}

Client::~Client()
{
    requestStop();
    m_thread.wait();
    std::lock_guard<std::mutex> lock(m_socketMutex);
    for (int *s : { &m_controlSocket, &m_passiveSocket, &m_dataSocket }) {
        FtpSocket::closeSocket(*s);
        *s = -1;
    }
}

void Client::setExpectedLogin(const QByteArray &user, const QByteArray &password)
{
    m_expectedUser = user;
    m_expectedPassword = password;
}

void Client::setDataTimeout(int milliseconds)
{
    m_dataTimeoutMs = milliseconds;
}

void Client::setLoginTimeout(int milliseconds)
{
    m_loginTimeoutMs = milliseconds;
}

void Client::start()
{
    if (m_started.exchange(true))
        return;
    m_stopped = false;
    m_sinceStart.start();
    m_thread.start();
}

void Client::requestStop()
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    m_stopped = true;
    for (int s : { m_controlSocket, m_passiveSocket, m_dataSocket })
        RawSocket::shutdownSocket(s);
}

bool Client::waitFinished(int milliseconds)
{
    return !m_started || m_thread.wait(static_cast<unsigned long>(qMax(0, milliseconds)));
}

bool Client::isFinished() const
{
    return !m_started || m_thread.isFinished();
}

void Client::adopt(int &slot, int socket)
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    slot = socket;
    if (m_stopped)
        RawSocket::shutdownSocket(socket);
}

void Client::release(int &slot)
{
    std::lock_guard<std::mutex> lock(m_socketMutex);
    FtpSocket::closeSocket(slot);
    slot = -1;
}

void Client::serveEntry(void *self)
{
    static_cast<Client *>(self)->serve();
}

void Client::serve()
{
    if (!m_stopped && reply(kWelcome)) {
        char buffer[kCommandBufferSize];
        while (!m_stopped) {
            // Every whole line already received gets its answer in turn.
            int newline;
            while (!m_stopped && (newline = m_command.indexOf('\n')) >= 0) {
                const QByteArray line = m_command.left(newline);
                m_command.remove(0, newline + 1);
                if (m_discarding)
                    m_discarding = false;
                else
                    handleLine(line);
            }
            if (m_stopped)
                break;
            if (m_command.size() >= kMaxLine) {
                // An over-long line is taken as far as it fits; the rest up to
                // its end is dropped.
                if (!m_discarding)
                    handleLine(m_command.left(kMaxLine));
                m_discarding = true;
                m_command.clear();
                continue;
            }
            // A session that never logs in gives its place back in time.
            if (!m_hadLogin) {
                const qint64 left = m_loginTimeoutMs - m_sinceStart.elapsed();
                if (left <= 0
                    || FtpSocket::waitReadable(m_controlSocket, int(left)) == FtpSocket::Wait::Timeout) {
                    qDebug() << "no login in time, closing";
                    reply(kLoginTimeout);
                    break;
                }
            }
            const ssize_t n
                = RawSocket::receiveSome(m_controlSocket, buffer, size_t(kMaxLine - m_command.size()));
            if (n <= 0)
                break;
            m_command.append(buffer, int(n));
        }
    }
    closePassive();
    release(m_dataSocket);
    if (!m_closed.exchange(true))
        release(m_controlSocket);
    m_stopped = true;
    qDebug() << "Client Thread Exit...";
}

bool Client::reply(const QByteArray &text)
{
    qDebug().noquote() << "Send Info:" << text.trimmed();
    return FtpSocket::sendAll(m_controlSocket, text.constData(), size_t(text.size()));
}

void Client::handleLine(const QByteArray &received)
{
    QByteArray line = received;
    if (line.endsWith('\r'))
        line.chop(1);
    int begin = 0;
    while (begin < line.size() && isSeparator(line.at(begin)))
        ++begin;
    int end = begin;
    while (end < line.size() && !isSeparator(line.at(end)))
        ++end;
    if (begin == end)
        return;
    const QByteArray word = line.mid(begin, end - begin).toUpper();
    // The fixed-column argument of USER, PASS, RETR, STOR and REST.
    const QByteArray columnArgument = line.size() > 5 ? line.mid(5) : QByteArray();
    int restBegin = end;
    while (restBegin < line.size() && line.at(restBegin) == ' ')
        ++restBegin;
    const QByteArray restArgument = line.mid(restBegin);

    qDebug().noquote() << "CMD ORDER:" << (word.contains("PASS") ? QByteArray("PASS ***") : line);

    // The first command whose name occurs in the word wins, in this order.
    enum Command { User, Pass, Pwd, Port, Pasv, Size, Type, Retr, Stor, Quit, Cwd, Rest, Mkd, Unknown };
    static const char *const names[] = { "USER", "PASS", "PWD", "PORT", "PASV", "SIZE", "TYPE", "RETR",
        "STOR", "QUIT", "CWD", "REST", "MKD" };
    int command = 0;
    while (command < Unknown && !word.contains(names[command]))
        ++command;
    if (!m_loggedIn && command != User && command != Pass && command != Quit && command != Type) {
        reply(kNotLoggedIn);
        return;
    }
    switch (command) {
    case User:
        onUser(columnArgument);
        break;
    case Pass:
        onPass(columnArgument);
        break;
    case Pwd:
        reply("257 \"" + m_currentFolder.toLocal8Bit() + "\" is current directory.\r\n");
        break;
    case Port:
        reply("550 Support PORT.\r\n");
        break;
    case Pasv:
        onPasv();
        break;
    case Size:
        onSize(restArgument);
        break;
    case Type:
        reply("200 Type set to " + (restArgument.isEmpty() ? QByteArray("A") : restArgument) + ".\r\n");
        break;
    case Retr:
        onRetr(columnArgument);
        break;
    case Stor:
        onStor(columnArgument);
        break;
    case Quit:
        reply("221 Good bye.\r\n");
        m_stopped = true;
        if (!m_closed.exchange(true))
            release(m_controlSocket);
        break;
    case Cwd:
        onCwd(restArgument);
        break;
    case Rest:
        onRest(columnArgument);
        break;
    case Mkd:
        onMkd(restArgument);
        break;
    default:
        reply("500 command not understand.\r\n");
    }
}

void Client::onUser(const QByteArray &argument)
{
    m_userName = argument.left(kMaxLoginText);
    m_loggedIn = false;
    reply("331 User name okay, need password.\r\n");
}

void Client::onPass(const QByteArray &argument)
{
    m_password = argument.left(kMaxLoginText);
    m_loggedIn = m_userName == m_expectedUser && m_password == m_expectedPassword;
    m_hadLogin = m_hadLogin || m_loggedIn;
    reply(m_loggedIn ? "230 User logged in, proceed.\r\n" : "530 Authentication failed.\r\n");
}

QString Client::resolve(const QByteArray &argument) const
{
    return FtpPath::localPath(
        m_rootFolder, FtpPath::virtualPath(m_currentFolder, QString::fromLocal8Bit(argument)));
}

void Client::onPasv()
{
    closePassive();
    const int listener = FtpSocket::listenOn(m_localAddress, m_dataPort);
    if (listener < 0) {
        reply(kNoDataConnection);
        return;
    }
    adopt(m_passiveSocket, listener);
    m_passiveMode = true;
    const uint32_t a = m_localAddress;
    reply(QStringLiteral("227 Entering Passive Mode (%1,%2,%3,%4,%5,%6).\r\n")
              .arg(a >> 24)
              .arg((a >> 16) & 0xff)
              .arg((a >> 8) & 0xff)
              .arg(a & 0xff)
              .arg(m_dataPort / 256)
              .arg(m_dataPort % 256)
              .toLatin1());
}

void Client::closePassive()
{
    release(m_passiveSocket);
    m_passiveMode = false;
}

bool Client::acceptData()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_stopped) {
        const qint64 left = m_dataTimeoutMs - timer.elapsed();
        if (left <= 0)
            return false;
        if (FtpSocket::waitReadable(m_passiveSocket, int(left)) != FtpSocket::Wait::Ready || m_stopped)
            return false;
        uint32_t peer = 0;
        const int socket = FtpSocket::acceptOne(m_passiveSocket, &peer);
        if (socket < 0)
            return false;
        if (peer == m_peerAddress) {
            adopt(m_dataSocket, socket);
            return true;
        }
        // Only the control connection's own host may connect.
        qDebug() << "data connection from another host refused";
        FtpSocket::closeSocket(socket);
    }
    return false;
}

void Client::onSize(const QByteArray &argument)
{
    if (argument.isEmpty()) {
        reply(kSyntaxError);
        return;
    }
    const QString path = resolve(argument);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile() || info.size() == 0) {
        reply("550 Not a plain file.\r\n");
        return;
    }
    reply("213 <" + QByteArray::number(info.size()) + ">\r\n");
}

void Client::onRetr(const QByteArray &argument)
{
    if (argument.size() > kMaxTransferPath) {
        reply(kSyntaxError);
        return;
    }
    const QString path = resolve(argument);
    qDebug().noquote() << "File Path:" << path;
    int file = path.isEmpty() ? -1 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st
    {
    };
    if (file >= 0 && (::fstat(file, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)) {
        ::close(file);
        file = -1;
    }
    if (file < 0) {
        reply("550 No such file or directory.\r\n");
        return;
    }
    if (!m_passiveMode) {
        ::close(file);
        reply(kNoDataConnection);
        return;
    }
    if (!reply(kOpening) || !acceptData()) {
        ::close(file);
        closePassive();
        reply(kNoDataConnection);
        return;
    }
    const bool sent = FtpSocket::sendFile(m_dataSocket, file, st.st_size);
    ::close(file);
    release(m_dataSocket);
    closePassive();
    reply(sent && !m_stopped ? kComplete : "551 Error on input file.\r\n");
}

void Client::onStor(const QByteArray &argument)
{
    if (argument.size() > kMaxTransferPath) {
        reply(kSyntaxError);
        return;
    }
    const QByteArray denied("550 Permission denied.\r\n");
    const QString path = resolve(argument);
    const QFileInfo info(path);
    if (path.isEmpty() || argument.isEmpty() || (info.exists() && !info.isFile())) {
        reply(denied);
        return;
    }
    if (info.exists()) {
        QFile existing(path);
        if (!existing.open(QIODevice::ReadWrite)) {
            reply(denied);
            return;
        }
    }
    // The upload is written beside its target under a hidden temporary name
    // and takes the target's name only when it is complete.
    QTemporaryFile out(
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!out.open()) {
        reply(denied);
        return;
    }
    if (!m_passiveMode) {
        reply(kNoDataConnection);
        return;
    }
    if (!reply(kOpening) || !acceptData()) {
        closePassive();
        reply(kNoDataConnection);
        return;
    }
    qDebug().noquote() << "STOR path:" << path;
    bool ok = true;
    for (;;) {
        // Fill the buffer before each write to the file. A client that goes
        // away (its control connection closed or reset) abandons the upload,
        // also when its data connection then ends as if complete.
        qint64 filled = 0;
        ssize_t n = 0;
        while (filled < kTransferBufferSize
            && (n = FtpSocket::receiveWatching(m_dataSocket, m_controlSocket, m_receiveBuffer.data() + filled,
                    size_t(kTransferBufferSize - filled)))
                > 0)
            filled += n;
        if (filled > 0 && out.write(m_receiveBuffer.data(), filled) != filled)
            ok = false;
        if (n < 0 || (n == 0 && FtpSocket::peerGoneWithin(m_controlSocket, kControlSettleMs)))
            ok = false;
        if (!ok || n == 0)
            break;
    }
    if (!ok)
        qDebug().noquote() << "STOR abandoned:" << path;
    release(m_dataSocket);
    closePassive();
    ok = ok && !m_stopped && out.flush()
        && out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther)
        && ::rename(QFile::encodeName(out.fileName()).constData(), QFile::encodeName(path).constData()) == 0;
    if (ok) {
        out.setAutoRemove(false);
        emit newPictureSave(path);
        reply(kComplete);
    } else {
        reply("551 Error on output file.\r\n"); // the temporary file goes with `out`
    }
}

void Client::onCwd(const QByteArray &argument)
{
    if (argument.isEmpty()) {
        reply(kNoSuchDirectory);
        return;
    }
    const QString folder = FtpPath::virtualPath(m_currentFolder, QString::fromLocal8Bit(argument));
    const QString path = FtpPath::localPath(m_rootFolder, folder);
    if (path.isEmpty() || !QDir().mkpath(path) || !QFileInfo(path).isDir()) {
        reply(kNoSuchDirectory);
        return;
    }
    m_currentFolder = folder;
    reply("250 Command okay.\r\n");
}

void Client::onRest(const QByteArray &argument)
{
    if (argument.trimmed().toLongLong() != 0) {
        reply("504 Reply marker must be 0.\r\n");
        return;
    }
    reply("350 Restarting at <0>.\r\n");
}

void Client::onMkd(const QByteArray &argument)
{
    if (argument.isEmpty()) {
        reply(kNoSuchDirectory);
        return;
    }
    const QString path = resolve(argument);
    if (path.isEmpty()) {
        reply("550 Cannot create directory.\r\n");
        return;
    }
    if (QFileInfo::exists(path)) {
        reply("550 Already exists.\r\n");
        return;
    }
    reply(QDir().mkpath(path) ? "250 Directory created.\r\n" : "550 Cannot create directory.\r\n");
}
