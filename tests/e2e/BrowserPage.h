#pragma once

// Runs the test page in Chromium through page_driver.js and reads what the
// page collected. A scenario is a list of page steps (see page/test_page.js),
// inline or a file under scenarios/:
//
//     const BrowserTest::PageRun run = BrowserTest::runScenario(port, QStringLiteral("live16.json"));
//     QVERIFY2(run.ok(), qPrintable(run.describe()));
//     QCOMPARE(run.replyTo(2).value("Ret").toInt(), 100);
//
// Headed runs (under Xvfb) pass extra driver options, for example
// { "--headed", "--display", xvfb.display(), "--hold" }, through BrowserDriver.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

namespace BrowserTest {

inline QString e2eDir()
{
    return qEnvironmentVariable("QV_SOURCE_DIR") + QStringLiteral("/tests/e2e");
}

inline QString driverScript()
{
    return e2eDir() + QStringLiteral("/page_driver.js");
}

inline QString testPage()
{
    return e2eDir() + QStringLiteral("/page/test_page.html");
}

inline QString colourPage()
{
    return e2eDir() + QStringLiteral("/page/colour_page.html");
}

inline QString scenarioFile(const QString &name)
{
    return e2eDir() + QStringLiteral("/scenarios/") + name;
}

inline QJsonArray parseSteps(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).array();
}

// What one page run produced.
struct PageRun
{
    bool finished = false; // the page reached its end (or its first failed step)
    QString failure; // the page's or the driver's reason; empty when every step ran
    QList<QJsonObject> entries; // window.results, in order
    QJsonObject browser; // the driver's "browser" line (pid, profile)
    QJsonObject viewport; // hold mode: the page's area on the screen
    int exitCode = -1;
    QString driverErrors; // the driver's standard error

    bool ok() const { return finished && failure.isEmpty(); }

    QList<QJsonObject> ofKind(const QString &kind) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &e : entries)
            if (e.value(QStringLiteral("kind")).toString() == kind)
                out.append(e);
        return out;
    }
    // The "data" of every entry of a kind ("reply", "event", "sent").
    QList<QJsonObject> dataOf(const QString &kind) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &e : ofKind(kind))
            out.append(e.value(QStringLiteral("data")).toObject());
        return out;
    }
    QList<QJsonObject> replies() const { return dataOf(QStringLiteral("reply")); }
    QList<QJsonObject> events() const { return dataOf(QStringLiteral("event")); }
    QList<QJsonObject> events(int mainEvent, int subEvent) const
    {
        QList<QJsonObject> out;
        for (const QJsonObject &e : events())
            if (e.value(QStringLiteral("MainEvent")).toInt(-1) == mainEvent
                && e.value(QStringLiteral("SubEvent")).toInt(-1) == subEvent)
                out.append(e);
        return out;
    }
    // The entry (with "t", "encrypted", "wire") of the first reply with this MsgID.
    QJsonObject replyEntry(const QJsonValue &msgId) const
    {
        for (const QJsonObject &e : ofKind(QStringLiteral("reply")))
            if (e.value(QStringLiteral("data")).toObject().value(QStringLiteral("MsgID")) == msgId)
                return e;
        return QJsonObject();
    }
    QJsonObject replyTo(const QJsonValue &msgId) const
    {
        return replyEntry(msgId).value(QStringLiteral("data")).toObject();
    }
    // Every line of the run, for failure messages.
    QString describe() const
    {
        QString out = QStringLiteral("failure: ") + failure + QLatin1Char('\n');
        for (const QJsonObject &e : entries)
            out += QString::fromUtf8(QJsonDocument(e).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
        if (!driverErrors.isEmpty())
            out += QStringLiteral("driver: ") + driverErrors.right(2000);
        return out;
    }
};

// One run of the driver; reads its lines as they come.
class BrowserDriver
{
public:
    BrowserDriver() { m_process.setProcessChannelMode(QProcess::SeparateChannels); }
    ~BrowserDriver() { end(); }

    // `args` are driver options (see page_driver.js); `pageTimeoutMs` bounds the page.
    void start(const QStringList &args, int pageTimeoutMs = 30000)
    {
        m_pageTimeoutMs = pageTimeoutMs;
        QStringList all { driverScript(), QStringLiteral("--timeout"), QString::number(pageTimeoutMs) };
        all += args;
        m_process.start(QStringLiteral("/usr/bin/node"), all);
    }

    QProcess &process() { return m_process; }

    // Reads until the page is done (and, in hold mode, until the driver holds);
    // the browser keeps running in hold mode until end().
    PageRun waitDone(bool holding = false)
    {
        QElapsedTimer t;
        t.start();
        // The driver bounds the page itself; this only guards against a driver that hangs.
        const qint64 limit = m_pageTimeoutMs + 30000;
        bool done = false;
        while (!(done && (!holding || !m_run.viewport.isEmpty()))) {
            if (!readLine()) {
                if (m_process.state() == QProcess::NotRunning || t.elapsed() > limit)
                    break;
                m_process.waitForReadyRead(int(qMax<qint64>(1, limit - t.elapsed())));
                continue;
            }
            const QJsonObject line = QJsonDocument::fromJson(m_lastLine).object();
            const QString event = line.value(QStringLiteral("event")).toString();
            if (event == QLatin1String("browser")) {
                m_run.browser = line;
            } else if (event == QLatin1String("done")) {
                done = true;
                m_run.finished = line.value(QStringLiteral("finished")).toBool();
                m_run.failure = line.value(QStringLiteral("failure")).toString();
            } else if (event == QLatin1String("holding")) {
                m_run.viewport = line.value(QStringLiteral("viewport")).toObject();
            } else if (line.contains(QStringLiteral("kind"))) {
                m_run.entries.append(line);
            }
        }
        if (!done && m_run.failure.isEmpty())
            m_run.failure = QStringLiteral("the driver ended without a result");
        if (!holding) {
            m_process.waitForFinished(15000);
            m_run.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        }
        m_run.driverErrors += QString::fromUtf8(m_process.readAllStandardError());
        return m_run;
    }

    // Lets a holding driver end the browser and waits for it; kills a driver that does not.
    int end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return m_process.exitCode();
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(15000)) {
            m_process.terminate();
            if (!m_process.waitForFinished(10000))
                m_process.kill();
            m_process.waitForFinished(5000);
        }
        return m_process.exitCode();
    }

private:
    bool readLine()
    {
        if (!m_process.canReadLine())
            return false;
        m_lastLine = m_process.readLine().trimmed();
        return true;
    }

    QProcess m_process;
    PageRun m_run;
    QByteArray m_lastLine;
    int m_pageTimeoutMs = 30000;
};

inline QStringList pageArgs(int port, const QJsonArray &steps)
{
    return { QStringLiteral("--page"), testPage(), QStringLiteral("--port"), QString::number(port),
        QStringLiteral("--steps"), QString::fromUtf8(QJsonDocument(steps).toJson(QJsonDocument::Compact)) };
}

// Runs the test page headless with these steps against the service on `port`.
inline PageRun runSteps(int port, const QJsonArray &steps, int pageTimeoutMs = 30000,
    const QStringList &extraArgs = QStringList())
{
    BrowserDriver driver;
    driver.start(pageArgs(port, steps) + extraArgs, pageTimeoutMs);
    return driver.waitDone();
}

inline PageRun runSteps(int port, const char *stepsJson, int pageTimeoutMs = 30000)
{
    return runSteps(port, parseSteps(stepsJson), pageTimeoutMs);
}

// Runs a scenario file of scenarios/ (a JSON list of steps).
inline PageRun runScenario(
    int port, const QString &name, int pageTimeoutMs = 30000, const QStringList &extraArgs = QStringList())
{
    QFile file(scenarioFile(name));
    if (!file.open(QIODevice::ReadOnly)) {
        PageRun run;
        run.failure = QStringLiteral("no scenario ") + name;
        return run;
    }
    return runSteps(port, parseSteps(file.readAll()), pageTimeoutMs, extraArgs);
}

} // namespace BrowserTest
