// Real players (copies in a folder of their own, so that their logs are the
// test's) against the service's end of the link played by link_crowd.py: how
// they end when the link goes, and what their logs keep of a request.

#include "LineProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

// Bounds of how long players may take to end once their link is gone: well
// above the aim (1 s and 2 s on an idle machine's release build), for the
// sanitizer build on a busy machine. The measured figures are printed.
constexpr int kQueuedEndMs = 5000;
constexpr int kIdleEndMs = 10000;
constexpr int kStartMs = 60000;

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace

class TestPlayerLinkEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_player;
    QString m_socket;

    QString logDir() const { return m_dir.filePath(QStringLiteral("x64/log")); }

    std::unique_ptr<LineProcess> m_crowd;
    std::vector<std::unique_ptr<QProcess>> m_players;

    // `count` players linked to a new crowd.
    bool linkPlayers(int count, bool echo = false)
    {
        m_crowd = std::make_unique<LineProcess>();
        m_crowd->start(QStringLiteral("/usr/bin/python3"),
            { qEnvironmentVariable("QV_SOURCE_DIR") + QStringLiteral("/tests/player/core/link_crowd.py"),
                m_socket });
        if (!m_crowd->sees(QStringLiteral("listening"), 10000))
            return false;
        for (int i = 0; i < count; ++i)
            m_players.push_back(startPlayer(i + 1, echo));
        m_crowd->write("wait " + QByteArray::number(count));
        return m_crowd->sees(QStringLiteral("accepted"), kStartMs * 2);
    }

    std::unique_ptr<QProcess> startPlayer(int sessionId, bool echo = false)
    {
        auto player = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The leak check at exit takes seconds on a busy machine; how fast a
        // player ends is measured here, its leaks elsewhere.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (echo)
            env.insert(QStringLiteral("TEVORA_LOG_STDERR"), QStringLiteral("1"));
        else
            env.remove(QStringLiteral("TEVORA_LOG_STDERR"));
        player->setProcessEnvironment(env);
        player->start(m_player, { QString::number(sessionId), m_socket, QFileInfo(m_player).path() });
        return player;
    }

    // Closes every link and waits for the players; the time they took, -1
    // when one did not end.
    // Closes the links: the milliseconds until every player had ended, each
    // by itself with exit code 0; nothing when one did not.
    std::optional<qint64> closeAndTime()
    {
        QElapsedTimer t;
        t.start();
        m_crowd->write("close");
        for (auto &player : m_players) {
            if (!player->waitForFinished(60000) || player->exitStatus() != QProcess::NormalExit
                || player->exitCode() != 0)
                return std::nullopt;
        }
        return t.elapsed();
    }

    QByteArray logText() const
    {
        QByteArray all;
        const QStringList names = QDir(logDir()).entryList(QDir::Files);
        for (const QString &name : names) {
            QFile file(logDir() + QLatin1Char('/') + name);
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString bin = qEnvironmentVariable("QV_BINARY_DIR") + QStringLiteral("/bin");
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("x64"))));
        m_player = m_dir.filePath(QStringLiteral("x64/Tevora_x64"));
        QVERIFY(copyFile(bin + QStringLiteral("/x64/Tevora_x64"), m_player));
        QVERIFY(QFile::setPermissions(m_player, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        for (const char *name : { "libkestrix.so", "liblumarel.so" })
            QVERIFY(
                copyFile(bin + QLatin1Char('/') + QLatin1String(name), m_dir.filePath(QLatin1String(name))));
        m_socket = m_dir.filePath(QStringLiteral("link"));
    }
    void init() { QDir(logDir()).removeRecursively(); }
    void cleanup()
    {
        m_players.clear();
        m_crowd.reset();
    }

    // Requests still queued when the link goes are dropped: the player logs
    // out and ends at once instead of working through them.
    void queuedRequestsDroppedAtLinkLoss_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("2000 queued") << 2000;
        QTest::newRow("500 queued") << 500;
    }
    void queuedRequestsDroppedAtLinkLoss()
    {
        QFETCH(int, count);
        QVERIFY(linkPlayers(1));
        // Each asks the window side for work.
        m_crowd->write("send " + QByteArray::number(count)
            + R"( {"MainType":12,"SubType":2,"MsgID":1,"Pos":{"Left":0,"Top":0,"Width":640,"Height":360}})");
        const std::optional<qint64> ms = closeAndTime();
        QVERIFY(ms.has_value());
        qInfo("player ended %lld ms after its link, %d requests queued", *ms, count);
        // Whether requests are still queued when the link goes depends on how
        // fast the player reads; the end must come soon either way.
        QVERIFY2(*ms < kQueuedEndMs, qPrintable(QString::number(*ms)));
    }

    // Sessions that never showed a window end without making one.
    void idleSessionsEndTogether_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("twenty") << 20;
    }
    void idleSessionsEndTogether()
    {
        QFETCH(int, count);
        QVERIFY(linkPlayers(count));
        const std::optional<qint64> ms = closeAndTime();
        QVERIFY(ms.has_value());
        qInfo("%d idle players ended %lld ms after their links", count, *ms);
        QVERIFY2(*ms < kIdleEndMs, qPrintable(QString::number(*ms)));
        QVERIFY(!QDir(logDir()).entryList(QDir::Files).isEmpty());
        QVERIFY(!logText().contains("PlayWidget::PlayWidget"));
    }

    // A log line keeps a few KiB of a large request and its size, never a
    // secret however its name is spelt; files are the owner's only, and the
    // lines reach standard error only when asked.
    void logKeepsLittleOfARequest_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<QByteArray>("gone");
        QTest::addColumn<bool>("echo");
        QTest::addColumn<int>("replies"); // with the one of the request behind it
        const QByteArray pad(1024 * 1024, 'x');
        QTest::newRow("1 MiB request") << QByteArray(R"({"MainType":9999,"MsgID":1,"Pad":")" + pad + R"("})")
                                       << QByteArray("bytes)") << pad.left(8192) << false << 1;
        QTest::newRow("1 MiB request, echoed")
            << QByteArray(R"({"MainType":9999,"MsgID":1,"Pad":")" + pad + R"("})") << QByteArray("bytes)")
            << pad.left(8192) << true << 1;
        QTest::newRow("escaped password name")
            << QByteArray(R"({"MainType":9999,"MsgID":2,"Device":{"Pass\u0077ord":"s3cr3t-value"}})")
            << QByteArray(R"("Pass\u0077ord":"***")") << QByteArray("s3cr3t-value") << false << 2;
        QTest::newRow("escaped token name")
            << QByteArray(R"({"MainType":9999,"MsgID":3,"\u0054oken":"s3cr3t-value"})")
            << QByteArray(R"("\u0054oken":"***")") << QByteArray("s3cr3t-value") << false << 2;
    }
    void logKeepsLittleOfARequest()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, kept);
        QFETCH(QByteArray, gone);
        QFETCH(bool, echo);
        QFETCH(int, replies);
        QVERIFY(linkPlayers(1, echo));
        m_crowd->write("send 1 " + request);
        // A request behind it is answered: both are handled before the link goes.
        m_crowd->write(R"(send 1 {"MainType":9999,"MsgID":99})");
        m_crowd->write("replies " + QByteArray::number(replies));
        QVERIFY(m_crowd->sees(QStringLiteral("replied"), kStartMs));
        QVERIFY(closeAndTime().has_value());

        const QByteArray log = logText();
        qInfo("log of the session: %d bytes", log.size());
        QVERIFY(log.contains(kept));
        QVERIFY(!log.contains(gone));
        // The whole session, start and end included, stays small.
        QVERIFY2(log.size() < 64 * 1024, qPrintable(QString::number(log.size())));
        const QStringList names = QDir(logDir()).entryList(QDir::Files);
        QVERIFY(!names.isEmpty());
        for (const QString &name : names) {
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(logDir() + QLatin1Char('/') + name).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 0777), 0600);
        }
        const QByteArray err = m_players.front()->readAllStandardError();
        QCOMPARE(err.contains("RecvWeb msg="), echo);
        QVERIFY(err.size() < 64 * 1024);
    }
};

QTEST_GUILESS_MAIN(TestPlayerLinkEnd)
#include "tst_player_link_end.moc"
