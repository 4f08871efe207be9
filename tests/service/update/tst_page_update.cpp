// The page update against a web-file server on Python's http.server, the
// HTTP client under it and the package digest.
#include "HttpClient.h"
#include "PageFiles.h"
#include "RawSocket.h"
#include "RequestTasks.h"
#include "SocketServerSupport.h"
#include "common/PoolJob.h"

#include <QSettings>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QtTest>

using namespace SocketTest;

class TestPageUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // A self-signed certificate for the https server.
        m_cert = m_certDir.path() + QStringLiteral("/cert.pem");
        m_key = m_certDir.path() + QStringLiteral("/key.pem");
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
            { QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                QStringLiteral("-keyout"), m_key, QStringLiteral("-out"), m_cert });
        QVERIFY(openssl.waitForFinished(60000));
        QCOMPARE(openssl.exitCode(), 0);
    }
    // The pool's threads that made https requests end before the program
    // does, so that OpenSSL's per-thread state goes with them.
    void cleanupTestCase() { PoolJob::waitForDone(*QThreadPool::globalInstance()); }

    void update_data()
    {
        QTest::addColumn<QString>("mode"); // page_server.py's, or "gone" for no server
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("installed"); // installed version
        QTest::addColumn<QByteArray>("body"); // empty: the not-found page
        QTest::newRow("newer package") << "good" << false << QByteArray("V1.0.9") << QByteArray("new common");
        QTest::newRow("same version") << "good" << false << QByteArray("V1.0.10") << QByteArray("old common");
        QTest::newRow("installed is newer")
            << "good" << false << QByteArray("V1.0.11") << QByteArray("old common");
        QTest::newRow("wrong md5") << "wrong_md5" << false << QByteArray("V1.0.9") << QByteArray();
        QTest::newRow("zip slip") << "zip_slip" << false << QByteArray("V1.0.9") << QByteArray();
        QTest::newRow("absolute entry") << "absolute" << false << QByteArray("V1.0.9") << QByteArray();
        QTest::newRow("link entry") << "link" << false << QByteArray("V1.0.9") << QByteArray();
        QTest::newRow("cut package") << "cut" << false << QByteArray("V1.0.9") << QByteArray();
        QTest::newRow("server gone") << "gone" << false << QByteArray("V1.0.9") << QByteArray("old common");
        QTest::newRow("no server configured")
            << "none" << false << QByteArray("V1.0.9") << QByteArray("old common");
        QTest::newRow("self-signed https")
            << "good" << true << QByteArray("V1.0.9") << QByteArray("old common");
    }
    void update()
    {
        QFETCH(QString, mode);
        QFETCH(bool, tls);
        QFETCH(QByteArray, installed);
        QFETCH(QByteArray, body);
        WebRoot root;
        QVERIFY(writeFile(root.web(QStringLiteral("WebVersion.txt")), "Version:" + installed + "\n"));
        QVERIFY(writeFile(root.web(QStringLiteral("js/common.js")), "old common"));
        std::unique_ptr<PageServer> pages;
        QString base = mode == QLatin1String("none") ? QString() : QStringLiteral("http://127.0.0.1:1/web/");
        if (mode != QLatin1String("gone") && mode != QLatin1String("none")) {
            pages = std::make_unique<PageServer>(mode, tls ? QStringList { m_cert, m_key } : QStringList());
            QVERIFY(pages->port > 0);
            base
                = pages->url(tls ? QStringLiteral("https") : QStringLiteral("http")) + QStringLiteral("/web");
        }
        {
            QSettings ini(root.appDir + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Tool/webFileAddr"), base);
        }
        auto server = startServer(root.appDir);
        QVERIFY(server);
        const Reply reply = curl({ baseUrl(*server) + QStringLiteral("/js/common.js") });
        if (body.isEmpty()) {
            QCOMPARE(reply.status, QByteArray("HTTP/1.1 404 Not Found"));
        } else {
            QCOMPARE(reply.status, QByteArray("HTTP/1.1 200 OK"));
            QCOMPARE(reply.header("Content-type"), QByteArray("application/x-javascript"));
            QCOMPARE(reply.body, body);
        }
        // A failed update leaves the installed page as it was, and nothing
        // lands outside the page's folder.
        QFile common(root.web(QStringLiteral("js/common.js")));
        QVERIFY(common.open(QIODevice::ReadOnly));
        QCOMPARE(common.readAll(), body.isEmpty() ? QByteArray("old common") : body);
        QVERIFY(!QFile::exists(root.root() + QStringLiteral("/escaped.js")));
        QVERIFY(!QFileInfo::exists(root.web(QStringLiteral("js/link.js"))));
        const QStringList hidden
            = QDir(root.root()).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot);
        QVERIFY2(
            !hidden.join(QLatin1Char(' ')).contains(QLatin1String(".Web.")), qPrintable(hidden.join(' ')));
    }

    // Without an address in the settings there is no web-file server to ask:
    // none is made up.
    void serverAddress_data()
    {
        QTest::addColumn<QString>("configured"); // null: no settings file
        QTest::addColumn<QString>("base");
        QTest::newRow("no settings file") << QString() << QString();
        QTest::newRow("empty address") << "" << QString();
        QTest::newRow("address") << "http://127.0.0.1:9/web"
                                 << "http://127.0.0.1:9/web/";
    }
    void serverAddress()
    {
        QFETCH(QString, configured);
        QFETCH(QString, base);
        QTemporaryDir dir;
        if (!configured.isNull()) {
            QSettings ini(dir.path() + QStringLiteral("/QuorvelToolVersion.ini"), QSettings::IniFormat);
            ini.setValue(QStringLiteral("Tool/webFileAddr"), configured);
        }
        QCOMPARE(CCheckUpdateStateTask::serverBase(dir.path()), base);
    }

    void versions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        QTest::newRow("numeric parts") << "V1.0.10"
                                       << "V1.0.9" << 1;
        QTest::newRow("equal") << "V2.1"
                               << "V2.1.0" << 0;
        QTest::newRow("older") << "V0.0.0.0"
                               << "V1.0.0.1" << -1;
    }
    void versions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        const int c = CCheckUpdateStateTask::compareVersions(a, b);
        QCOMPARE(c < 0 ? -1 : c > 0 ? 1 : 0, order);
    }

    void versionText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("versionOnly");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("version");
        QTest::newRow("installed") << " version: V1.2 \n" << true << 100 << "V1.2";
        QTest::newRow("installed with md5") << "Version:V1\nMd5:ab\n" << true << 111000 << "V1";
        QTest::newRow("server") << "VERSION:V3\r\nmd5: AB\r\n" << false << 100 << "V3";
        QTest::newRow("server without md5") << "Version:V3\n" << false << 111000 << "V3";
    }
    void versionText()
    {
        QFETCH(QString, text);
        QFETCH(bool, versionOnly);
        QFETCH(int, result);
        QFETCH(QString, version);
        UpdateInfo info;
        QCOMPARE(CCheckUpdateStateTask::parseVersion(text, &info, versionOnly), result);
        QCOMPARE(info.version, version);
    }

    // A request the time-out cuts off fails; it is never a success with
    // whatever came so far.
    void client_data()
    {
        QTest::addColumn<QString>("target"); // "silent", "closed", "missing", "self-signed"
        QTest::addColumn<int>("code");
        QTest::newRow("silent server") << "silent" << 7;
        QTest::newRow("closed port") << "closed" << 1;
        QTest::newRow("missing file") << "missing" << 10;
        QTest::newRow("self-signed certificate") << "self-signed" << 1;
    }
    void client()
    {
        QFETCH(QString, target);
        QFETCH(int, code);
        int port = 0;
        const int silent = RawSocket::listenLoopback(0, 0, &port);
        QVERIFY(silent >= 0);
        std::unique_ptr<PageServer> pages;
        QString url = QStringLiteral("http://127.0.0.1:%1/x").arg(port);
        if (target == QLatin1String("closed")) {
            RawSocket::closeSocket(silent);
        } else if (target == QLatin1String("missing")) {
            pages = std::make_unique<PageServer>(QStringLiteral("good"));
            url = pages->url() + QStringLiteral("/nothing.txt");
        } else if (target == QLatin1String("self-signed")) {
            pages = std::make_unique<PageServer>(QStringLiteral("good"), QStringList { m_cert, m_key });
            url = pages->url(QStringLiteral("https")) + QStringLiteral("/web/Web/WebInfo.txt");
        }
        CHttpClient client;
        QString text = QStringLiteral("unchanged");
        QCOMPARE(client.getString(url, text, 1500), code);
        QCOMPARE(text, QStringLiteral("unchanged"));
        const QString file = m_certDir.path() + QStringLiteral("/download.bin");
        QCOMPARE(client.downloadFile(url, file, 1500), code);
        QVERIFY(!QFile::exists(file));
        if (target != QLatin1String("closed"))
            RawSocket::closeSocket(silent);
        QCOMPARE(CHttpClient::errorString(2), QStringLiteral("Unknow Err:2"));
    }

    // The test suite of RFC 1321, and sizes around the file reader's
    // 4096-byte blocks: the buffer's and the file's digests agree.
    void md5_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("digest"); // empty: compare the two only
        QTest::newRow("empty") << QByteArray() << QByteArray("d41d8cd98f00b204e9800998ecf8427e");
        QTest::newRow("a") << QByteArray("a") << QByteArray("0cc175b9c0f1b6a831c399e269772661");
        QTest::newRow("abc") << QByteArray("abc") << QByteArray("900150983cd24fb0d6963f7d28e17f72");
        QTest::newRow("message digest")
            << QByteArray("message digest") << QByteArray("f96b697d7cb7938d525a2f31aaf161d0");
        QTest::newRow("alphabet") << QByteArray("abcdefghijklmnopqrstuvwxyz")
                                  << QByteArray("c3fcd3d76192e4007dfb496cca67e13b");
        QTest::newRow("letters and digits")
            << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789")
            << QByteArray("d174ab98d277d9f5a5611c2c9f419d9f");
        QTest::newRow("eighty digits")
            << QByteArray("1234567890").repeated(8) << QByteArray("57edf4a22be3c955ac49da2e2107b67a");
        for (int size : { 4095, 4096, 4097, 8192 }) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (int i = 0; i < size; ++i)
                bytes[i] = char('A' + i % 26);
            QTest::newRow(qPrintable(QStringLiteral("%1 bytes").arg(size))) << bytes << QByteArray();
        }
    }
    void md5()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, digest);
        const QByteArray fromBuffer = md5Buffer(bytes.constData(), bytes.size()).toHex();
        if (!digest.isEmpty()) {
            QCOMPARE(fromBuffer, digest);
            // A length of 0 reads up to the terminating NUL.
            QCOMPARE(md5Buffer(bytes.constData(), 0).toHex(), digest);
        }
        QTemporaryFile file;
        QVERIFY(file.open());
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
        QVERIFY(file.seek(0));
        QCOMPARE(md5File(file).toHex(), fromBuffer);
        QCOMPARE(PageFiles::fileMd5Hex(file.fileName()), QString::fromLatin1(fromBuffer));
    }

    void md5BufferStopsAtNul()
    {
        const char text[] = "ab\0cd";
        QCOMPARE(md5Buffer(text, 0), md5Buffer("ab", 2));
        QCOMPARE(md5Buffer(text, 5), md5Buffer(QByteArray(text, 5).constData(), 5));
        QVERIFY(md5Buffer(text, 5) != md5Buffer(text, 0));
    }

private:
    QTemporaryDir m_certDir;
    QString m_cert;
    QString m_key;
};

QTEST_GUILESS_MAIN(TestPageUpdate)
#include "tst_page_update.moc"
