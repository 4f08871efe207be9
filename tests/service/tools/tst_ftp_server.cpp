#include "FtpPath.h"
#include "FtpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char kUser[] = "vexqa";
const QHostAddress kLoopback(QStringLiteral("127.0.0.1"));

QtMessageHandler g_testMessages = nullptr;

// Qt Test takes a message only inside a test function, and the server's
// threads log whenever a client ends, which may fall between two of them
// (Qt Test then crashes). Their lines go to standard error instead.
void serverThreadMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (QThread::currentThread() == QCoreApplication::instance()->thread())
        g_testMessages(type, context, text);
    else
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

QByteArray randomBytes(int size)
{
    QVector<quint32> words((size + 3) / 4);
    QRandomGenerator::global()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A raw control connection: exact reply lines, any segmentation.
class Control
{
public:
    bool open(int port, const QHostAddress &from = QHostAddress())
    {
        if (!from.isNull())
            m_socket.bind(from);
        m_socket.connectToHost(kLoopback, quint16(port));
        return m_socket.waitForConnected(5000) && reply() == "220 Welcome to Mini FtpServer...";
    }
    void send(const QByteArray &text)
    {
        m_socket.write(text);
        m_socket.waitForBytesWritten(5000);
    }
    // The next reply line without its line end; empty at the end or after 20 s.
    QByteArray reply()
    {
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(20000))
                return QByteArray();
        }
        return m_socket.readLine().chopped(2);
    }
    bool login()
    {
        send("USER vexqa\r\nPASS vexqa\r\n");
        return reply().startsWith("331") && reply().startsWith("230");
    }
    // Opens the passive listener; its port, or 0.
    int pasv()
    {
        send("PASV\r\n");
        const QByteArray r = reply();
        const QList<QByteArray> n = r.mid(r.indexOf('(') + 1, r.indexOf(')') - r.indexOf('(') - 1).split(',');
        return r.startsWith("227 Entering Passive Mode (127,0,0,1,") && n.size() == 6
            ? n[4].toInt() * 256 + n[5].toInt()
            : 0;
    }
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};

struct DataLink
{
    QTcpSocket socket;
    bool open(int port, const QHostAddress &from = QHostAddress())
    {
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(kLoopback, quint16(port));
        return socket.waitForConnected(5000);
    }
    QByteArray readAll()
    {
        QByteArray all;
        while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(20000))
            all += socket.readAll();
        return all + socket.readAll();
    }
};

// The sizes of the files this process holds open in `folder`: the server's
// uploads in progress, which may have no name there yet.
QList<qint64> openFilesIn(const QString &folder)
{
    QList<qint64> sizes;
    const QByteArray prefix = QFile::encodeName(QFileInfo(folder).canonicalFilePath()) + '/';
    for (const QString &fd : QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System)) {
        const QByteArray link = QFile::encodeName("/proc/self/fd/" + fd);
        char target[4096];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        struct stat st
        {
        };
        if (n > 0 && QByteArray(target, int(n)).startsWith(prefix) && ::stat(link.constData(), &st) == 0
            && S_ISREG(st.st_mode))
            sizes << st.st_size;
    }
    return sizes;
}

QStringList g_uploads;
void recordUpload(const char *path, void *userData)
{
    // At this point the upload must be whole under its own name.
    g_uploads << QString::fromLocal8Bit(path) + ':' + QString::number(QFileInfo(path).size());
    ++*static_cast<int *>(userData);
}

} // namespace

class TestFtpServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_root;
    CFtpServer m_server;
    int m_uploadCount = 0;

    QJsonObject peer(const QStringList &args, const char *password = kUser)
    {
        QProcess p;
        p.start(QStringLiteral("python3"),
            QStringList { qEnvironmentVariable("QV_SOURCE_DIR") + "/tests/service/tools/ftp_peer.py",
                args.first(), "127.0.0.1", QString::number(m_server.listenPort()), kUser, password }
                + args.mid(1));
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            qWarning() << p.readAllStandardError();
        return QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    }

    int curl(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral("curl"), QStringList { "-sS", "--max-time", "60" } + args);
        p.waitForFinished(90000);
        return p.exitCode();
    }

private slots:
    void initTestCase()
    {
        g_testMessages = qInstallMessageHandler(serverThreadMessages);
        QVERIFY(m_tmp.isValid());
        m_root = m_tmp.path() + "/root";
        QVERIFY(writeFile(m_tmp.path() + "/sentinel.txt", "sentinel"));
        m_server.setListenAddress("127.0.0.1");
        m_server.setUploadCallback(recordUpload, &m_uploadCount);
        QCOMPARE(m_server.start("test", 0, qPrintable(m_root)), 1);
        QVERIFY(m_server.listenPort() > 0);
        QVERIFY(writeFile(m_root + "/empty.txt", QByteArray()));
        QVERIFY(writeFile(m_root + "/a.bin", randomBytes(1234)));
        QVERIFY(QDir().mkpath(m_root + "/sub"));
        QVERIFY(QFile::link("/", m_root + "/link"));
    }
    void cleanupTestCase() { m_server.stop(); }

    void virtualPaths_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("expected");
        QTest::newRow("relative") << "/a"
                                  << "b"
                                  << "/a/b";
        QTest::newRow("absolute") << "/a"
                                  << "/b/c"
                                  << "/b/c";
        QTest::newRow("dots clamped at root") << "/a"
                                              << "../../../etc"
                                              << "/etc";
        QTest::newRow("backslashes") << "/"
                                     << "x\\..\\..\\y"
                                     << "/y";
        QTest::newRow("dot and slashes") << "/a"
                                         << "./b//./c/"
                                         << "/a/b/c";
        QTest::newRow("drive letter stays a name") << "/"
                                                   << "C:/x"
                                                   << "/C:/x";
        QTest::newRow("only dots") << "/a/b"
                                   << ".."
                                   << "/a";
    }
    void virtualPaths()
    {
        QFETCH(QString, current);
        QFETCH(QString, argument);
        QFETCH(QString, expected);
        QCOMPARE(FtpPath::virtualPath(current, argument), expected);
    }

    // Exact replies to commands sent in one segment ("|" splits segments);
    // a last TYPE proves that nothing else was answered.
    void replies_data()
    {
        QTest::addColumn<bool>("login");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArrayList>("expected");
        const QByteArray no("530 Not logged in.");
        QTest::newRow("before login")
            << false
            << QByteArray("PWD\r\nCWD sub\r\nRETR a.bin\r\nSTOR x\r\nSIZE a.bin\r\nMKD d\r\nPASV\r\nLIST\r\n")
            << QByteArrayList { no, no, no, no, no, no, no, no };
        QTest::newRow("wrong password")
            << false << QByteArray("USER vexqa\r\nPASS nope\r\nPWD\r\n")
            << QByteArrayList { "331 User name okay, need password.", "530 Authentication failed.", no };
        QTest::newRow("new USER resets login") << true << QByteArray("USER other\r\nPWD\r\n")
                                               << QByteArrayList { "331 User name okay, need password.", no };
        QTest::newRow("bare USER is empty")
            << false << QByteArray("USER\r\nPASS vexqa\r\n")
            << QByteArrayList { "331 User name okay, need password.", "530 Authentication failed." };
        QTest::newRow("lower-case words, split line")
            << false << QByteArray("user vexqa\r\npass vexqa\r\nP|W|D\r|\n")
            << QByteArrayList { "331 User name okay, need password.", "230 User logged in, proceed.",
                   "257 \"/\" is current directory." };
        QTest::newRow("size") << true
                              << QByteArray(
                                     "SIZE a.bin\r\nSIZE empty.txt\r\nSIZE sub\r\nSIZE\r\nSIZE nope\r\n")
                              << QByteArrayList { "213 <1234>", "550 Not a plain file.",
                                     "550 Not a plain file.", "501 Syntax error.", "550 Not a plain file." };
        QTest::newRow("transfers without PASV")
            << true << QByteArray("RETR empty.txt\r\nRETR sub\r\nRETR a.bin\r\nSTOR new.bin\r\nSTOR sub\r\n")
            << QByteArrayList { "550 No such file or directory.", "550 No such file or directory.",
                   "425 Can't open data connection.", "425 Can't open data connection.",
                   "550 Permission denied." };
        QTest::newRow("long transfer names")
            << true
            << "RETR " + QByteArray(256, 'a') + "\r\nSTOR " + QByteArray(256, 'a') + "\r\nRETR "
                + QByteArray(255, 'a') + "\r\n"
            << QByteArrayList { "501 Syntax error.", "501 Syntax error.", "550 No such file or directory." };
        QTest::newRow("cwd")
            << true
            << QByteArray("CWD\r\nCWD /../../..\r\nPWD\r\nCWD new/deeper\r\nPWD\r\nCWD ..\r\nPWD\r\nCWD "
                          "../../a.bin\r\nXPWD\r\n")
            << QByteArrayList { "550 No such directory.", "250 Command okay.",
                   "257 \"/\" is current directory.", "250 Command okay.",
                   "257 \"/new/deeper\" is current directory.", "250 Command okay.",
                   "257 \"/new\" is current directory.", "550 No such directory.",
                   "257 \"/new\" is current directory." };
        QTest::newRow("mkd") << true << QByteArray("MKD\r\nMKD sub\r\nMKD fresh/one\r\n")
                             << QByteArrayList { "550 No such directory.", "550 Already exists.",
                                    "250 Directory created." };
        QTest::newRow("others") << true
                                << QByteArray("REST 0\r\nREST 7\r\nPORT 1,2,3,4,5,6\r\nLIST\r\nEPSV\r\n\r\n")
                                << QByteArrayList { "350 Restarting at <0>.", "504 Reply marker must be 0.",
                                       "550 Support PORT.", "500 command not understand.",
                                       "500 command not understand." };
        QTest::newRow("over-long line")
            << true << QByteArray(9000, 'X') + "\r\nPWD\r\n"
            << QByteArrayList { "500 command not understand.", "257 \"/\" is current directory." };
        QTest::newRow("quit") << false << QByteArray("QUIT\r\nPWD\r\n")
                              << QByteArrayList { "221 Good bye.", "" };
    }
    void replies()
    {
        QFETCH(bool, login);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArrayList, expected);
        Control c;
        QVERIFY(c.open(m_server.listenPort()));
        if (login)
            QVERIFY(c.login());
        if (!expected.last().isEmpty()) {
            sent += "TYPE Z\r\n";
            expected << "200 Type set to Z.";
        }
        for (const QByteArray &segment : sent.split('|'))
            c.send(segment);
        for (const QByteArray &line : expected)
            QCOMPARE(c.reply(), line);
    }

    // The data port is the first one free from 12800; the data connection is
    // taken only from the control connection's host, in the given time.
    void passive_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("dataPort");
        QTest::addColumn<bool>("otherHostFirst");
        QTest::addColumn<int>("timeoutMs");
        QTest::newRow("first port") << 0 << 12800 << false << 20000;
        QTest::newRow("12800 held") << 1 << 12801 << false << 20000;
        QTest::newRow("other host refused") << 0 << 12800 << true << 20000;
        QTest::newRow("no data connection in time") << 0 << 12800 << false << 300;
        QTest::newRow("listener cannot open") << 2 << 12800 << false << 20000;
    }
    void passive()
    {
        QFETCH(int, held);
        QFETCH(int, dataPort);
        QFETCH(bool, otherHostFirst);
        QFETCH(int, timeoutMs);
        m_server.setDataTimeout(timeoutMs);
        // A previous row's client may still be ending with its data port
        // taken: it must have ended, and the ports this row expects be free.
        const auto canListen = [](int port) {
            QTcpServer trial;
            return trial.listen(kLoopback, quint16(port));
        };
        QTRY_COMPARE(m_server.clientCount(), 0);
        QTRY_VERIFY(canListen(12800) && canListen(12801));
        QTcpServer holder;
        if (held == 1)
            QVERIFY(holder.listen(kLoopback, 12800));
        Control c;
        QVERIFY(c.open(m_server.listenPort()));
        QVERIFY(c.login());
        if (held == 2) { // taken after the client got its port
            // The client's port is the first one free from 12800 when it
            // connected (a previous row's client may still be ending), so
            // every port of the range that can be held is held.
            std::vector<std::unique_ptr<QTcpServer>> holders;
            for (int port = 12800; port < 12864; ++port) {
                holders.push_back(std::make_unique<QTcpServer>());
                holders.back()->listen(kLoopback, quint16(port));
            }
            c.send("PASV\r\n");
            QCOMPARE(c.reply(), QByteArray("425 Can't open data connection."));
            return;
        }
        QCOMPARE(c.pasv(), dataPort);
        c.send("RETR a.bin\r\n");
        QCOMPARE(c.reply(), QByteArray("150 Opening data connection."));
        if (timeoutMs < 1000) {
            QCOMPARE(c.reply(), QByteArray("425 Can't open data connection."));
            return;
        }
        if (otherHostFirst) {
            DataLink other;
            QVERIFY(other.open(dataPort, QHostAddress(QStringLiteral("127.0.0.2"))));
            QCOMPARE(other.readAll(), QByteArray()); // closed without a byte
        }
        DataLink data;
        QVERIFY(data.open(dataPort));
        QCOMPARE(data.readAll(), readFile(m_root + "/a.bin"));
        QCOMPARE(c.reply(), QByteArray("226 Transfer complete."));
    }

    // curl as the client: upload, download, a refused login.
    void curlPeer_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("upload") << "upload" << 0;
        QTest::newRow("download") << "download" << 0;
        QTest::newRow("wrong password") << "badlogin" << 67;
    }
    void curlPeer()
    {
        QFETCH(QString, mode);
        QFETCH(int, exitCode);
        const QString base = QStringLiteral("ftp://127.0.0.1:%1/").arg(m_server.listenPort());
        const QByteArray content = randomBytes(300000);
        const QString local = m_tmp.path() + "/curl_" + mode;
        const int before = m_uploadCount;
        if (mode == "upload") {
            QVERIFY(writeFile(local, content));
            QCOMPARE(curl({ "-u", "vexqa:vexqa", "-T", local, base + "sub/up.bin" }), exitCode);
            QCOMPARE(readFile(m_root + "/sub/up.bin"), content);
            QTRY_COMPARE(m_uploadCount, before + 1);
            QCOMPARE(g_uploads.last(), QFileInfo(m_root).canonicalFilePath() + "/sub/up.bin:300000");
            QCOMPARE(QDir(m_root + "/sub").entryList(QDir::Files | QDir::Hidden), QStringList { "up.bin" });
        } else if (mode == "download") {
            QCOMPARE(curl({ "-u", "vexqa:vexqa", "-o", local, base + "a.bin" }), exitCode);
            QCOMPARE(readFile(local), readFile(m_root + "/a.bin"));
        } else {
            QCOMPARE(curl({ "-u", "vexqa:wrong", "-o", local, base + "a.bin" }), exitCode);
        }
    }

    void ftplibTransfers_data()
    {
        QTest::addColumn<int>("size");
        for (int size : { 0, 1, 65536, 65537, 10 << 20 })
            QTest::addRow("%d bytes", size) << size;
    }
    void ftplibTransfers()
    {
        QFETCH(int, size);
        const QJsonObject r = peer({ "transfer", QString::number(size) });
        QCOMPARE(r.value("stor").toString(), QString("226 Transfer complete."));
        QCOMPARE(r.value("size").toString(), size ? QString("213 <%1>").arg(size) : "550 Not a plain file.");
        QCOMPARE(r.value("retr").toString(), size ? "same" : "550 No such file or directory.");
        QCOMPARE(QFileInfo(m_root + QString("/f_%1.bin").arg(size)).size(), qint64(size));
    }

    void ftplibSession()
    {
        const QJsonObject r = peer({ "session" });
        const QJsonObject expected {
            { "pwd", "/" },
            { "mkd", "250 Directory created." },
            { "mkd_again", "550 Already exists." },
            { "cwd", "250 Command okay." },
            { "pwd_after", "/pics" },
            { "cwd_up", "250 Command okay." },
            { "pwd_up", "/" },
            { "port", "550 Support PORT." },
            { "rest0", "350 Restarting at <0>." },
            { "rest5", "504 Reply marker must be 0." },
            { "type", "200 Type set to I." },
            { "list", "500 command not understand." },
        };
        QCOMPARE(r, expected);
    }

    // Names that try to leave the root touch nothing outside it.
    void traversal_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("dot dot") << "../../sentinel.txt";
        QTest::newRow("dot dot folder") << "../../etc";
        QTest::newRow("absolute") << "/etc/hostname";
        QTest::newRow("drive letter") << "C:/x";
        QTest::newRow("backslashes") << "..\\..\\sentinel.txt";
        QTest::newRow("link to /") << "link/etc/hostname";
        QTest::newRow("link to / itself") << "link";
    }
    void traversal()
    {
        QFETCH(QString, path);
        const QStringList outside
            = QDir(m_tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        const QByteArray hostname = readFile("/etc/hostname");
        const QDateTime etcChanged = QFileInfo("/etc").lastModified();
        const QJsonObject r = peer({ "traverse", path });
        QVERIFY(!r.isEmpty());
        QVERIFY2(
            !r.value("retr_bytes").toString().contains("sentinel"), qPrintable(r.value("retr").toString()));
        QCOMPARE(readFile(m_tmp.path() + "/sentinel.txt"), QByteArray("sentinel"));
        QCOMPARE(readFile("/etc/hostname"), hostname);
        QCOMPARE(QFileInfo("/etc").lastModified(), etcChanged);
        QVERIFY(
            !QFile::exists("/dropped.txt") && !QFile::exists("/etc/dropped.txt") && !QFile::exists("/made"));
        QCOMPARE(
            QDir(m_tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), outside);
        QVERIFY(r.value("pwd").toString().startsWith('/'));
    }

    // A write error while storing answers 551 and leaves no file behind.
    void writeErrorAnswers551()
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        rlimit small = old;
        small.rlim_cur = 100000;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        Control c;
        QVERIFY(c.open(m_server.listenPort()));
        QVERIFY(c.login());
        const int port = c.pasv();
        c.send("STOR big.bin\r\n");
        QCOMPARE(c.reply(), QByteArray("150 Opening data connection."));
        DataLink data;
        QVERIFY(data.open(port));
        data.socket.write(randomBytes(400000));
        data.socket.waitForBytesWritten(20000);
        data.socket.disconnectFromHost();
        const QByteArray answer = c.reply();
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(answer, QByteArray("551 Error on output file."));
        QCOMPARE(QDir(m_root).entryList({ "*big.bin*" }, QDir::Files | QDir::Hidden), QStringList());
    }

    // A client that goes away during a transfer, and a stop during transfers.
    void dropAndStop_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("stopServer");
        QTest::newRow("download dropped") << QByteArray("RETR big10.bin") << false;
        QTest::newRow("upload reset") << QByteArray("STOR part.bin") << false;
        QTest::newRow("stop during download") << QByteArray("RETR big10.bin") << true;
        QTest::newRow("stop during upload") << QByteArray("STOR part.bin") << true;
    }
    void dropAndStop()
    {
        QFETCH(QByteArray, command);
        QFETCH(bool, stopServer);
        m_server.setDataTimeout(20000);
        if (!QFile::exists(m_root + "/big10.bin"))
            QVERIFY(writeFile(m_root + "/big10.bin", randomBytes(10 << 20)));
        Control c;
        QVERIFY(c.open(m_server.listenPort()));
        QVERIFY(c.login());
        const int port = c.pasv();
        c.send(command + "\r\n");
        QCOMPARE(c.reply(), QByteArray("150 Opening data connection."));
        DataLink data;
        QVERIFY(data.open(port));
        if (command.startsWith("STOR")) {
            data.socket.write(randomBytes(200000));
            data.socket.waitForBytesWritten(5000);
        } else {
            QVERIFY(data.socket.waitForReadyRead(5000));
        }
        if (stopServer) {
            m_server.stop();
            QCOMPARE(m_server.clientCount(), 0);
            QCOMPARE(m_server.start("test", m_server.listenPort(), qPrintable(m_root)), 1);
        } else {
            const linger reset { 1, 0 }; // a reset, not an end
            setsockopt(int(data.socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            data.socket.abort();
            QCOMPARE(c.reply(),
                command.startsWith("STOR") ? QByteArray("551 Error on output file.")
                                           : QByteArray("551 Error on input file."));
        }
        QVERIFY(!QFile::exists(m_root + "/part.bin"));
        QCOMPARE(QDir(m_root).entryList({ ".*part*" }, QDir::Files | QDir::Hidden), QStringList());
        Control next; // the server still serves
        QVERIFY(next.open(m_server.listenPort()));
        QVERIFY(next.login());
    }

    // An upload whose client goes away in the middle is neither stored nor
    // reported, however it ends; the next complete upload is.
    void abandonedUpload_data()
    {
        QTest::addColumn<QString>("client");
        QTest::newRow("curl killed") << "curl";
        QTest::newRow("ftplib resets the data connection") << "reset_data";
        QTest::newRow("ftplib closes the control connection first") << "close_control";
    }
    void abandonedUpload()
    {
        QFETCH(QString, client);
        const QString base = QStringLiteral("ftp://127.0.0.1:%1/").arg(m_server.listenPort());
        const QString name = "gone_" + client + ".bin";
        const QString sub = m_root + "/sub";
        const int reported = g_uploads.size();
        if (client == "curl") {
            const QString local = m_tmp.path() + "/five_mb.bin";
            QVERIFY(writeFile(local, randomBytes(5 << 20)));
            QProcess p;
            p.start(QStringLiteral("curl"),
                { "-sS", "--limit-rate", "500k", "-u", "vexqa:vexqa", "-T", local, base + "sub/" + name });
            QVERIFY(p.waitForStarted());
            // Killed once a part of the file has arrived.
            QTRY_VERIFY_WITH_TIMEOUT(openFilesIn(sub).value(0) >= 200000, 30000);
            QCOMPARE(::kill(pid_t(p.processId()), SIGKILL), 0);
            QVERIFY(p.waitForFinished(10000));
        } else {
            const QJsonObject r = peer({ client, "sub/" + name });
            if (client == "reset_data")
                QCOMPARE(r.value("reply").toString(), QString("551 Error on output file."));
            else // dropped at once, not when the client's data connection ends
                QCOMPARE(r.value("data").toString(), QString("closed"));
        }
        // The server is done with the upload once it has closed its file.
        QTRY_VERIFY_WITH_TIMEOUT(openFilesIn(sub).isEmpty(), 20000);
        QCOMPARE(QDir(sub).entryList({ "*" + name + "*" }, QDir::Files | QDir::Hidden), QStringList());
        const QString after = m_tmp.path() + "/after.bin";
        QVERIFY(writeFile(after, "after"));
        QCOMPARE(curl({ "-u", "vexqa:vexqa", "-T", after, base + "sub/after.bin" }), 0);
        // Reports arrive in order: the abandoned upload's would be there first.
        const QString afterEntry = QFileInfo(m_root).canonicalFilePath() + "/sub/after.bin:5";
        QTRY_VERIFY(g_uploads.mid(reported).contains(afterEntry));
        QCOMPARE(g_uploads.filter(name), QStringList());
    }

    // Sessions that never log in are closed after the login time-out and give
    // their places back; a logged-in session stays (Python's sockets and ftplib).
    void loginTimeout()
    {
        const int timeoutMs = 3000;
        m_server.stop(); // no sessions left over from earlier tests
        m_server.setLoginTimeout(timeoutMs);
        QCOMPARE(m_server.start("test", m_server.listenPort(), qPrintable(m_root)), 1);
        const QJsonObject r = peer({ "idle", QString::number(CFtpServer::kMaxClients) });
        m_server.setLoginTimeout(30000);
        QCOMPARE(r.value("welcomes").toInt(), CFtpServer::kMaxClients - 1);
        QCOMPARE(r.value("extra").toString(), QString()); // all places taken
        QCOMPARE(
            r.value("goodbyes").toArray(), QJsonArray { "421 Login time-out, closing control connection." });
        QVERIFY(r.value("shortest_ms").toInt() >= timeoutMs);
        QCOMPARE(r.value("logged_in_pwd").toString(), QString("/"));
        QCOMPARE(r.value("later_pwd").toString(), QString("/"));
    }

    // Twenty sessions at once; the next connection is closed without a word.
    void connectionLimit()
    {
        m_server.stop(); // no sessions left over from earlier tests
        QCOMPARE(m_server.start("test", m_server.listenPort(), qPrintable(m_root)), 1);
        std::vector<std::unique_ptr<Control>> sessions;
        for (int i = 0; i < CFtpServer::kMaxClients; ++i) {
            sessions.push_back(std::make_unique<Control>());
            QVERIFY(sessions.back()->open(m_server.listenPort()));
        }
        QTcpSocket extra;
        extra.connectToHost(kLoopback, quint16(m_server.listenPort()));
        QVERIFY(extra.waitForConnected(5000));
        QVERIFY(!extra.waitForReadyRead(20000) || extra.readAll().isEmpty());
        QCOMPARE(extra.state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(TestFtpServer)
#include "tst_ftp_server.moc"
