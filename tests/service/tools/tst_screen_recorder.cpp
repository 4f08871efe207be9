#include "ScreenRecorder.h"

#include "XvfbServer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kTwoSeconds[] = "testsrc=size=320x240:rate=25:duration=2";
const char kEndless[] = "testsrc=size=320x240:rate=25,realtime";

struct Probe
{
    QString errors;
    QString codec;
    int width = 0;
    int height = 0;
    QString rate;
    int frames = 0;
    int packets = 0;
    double duration = 0;
};

// What ffprobe reads from the file, decoding every frame.
Probe probe(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
        { "-v", "error", "-count_frames", "-count_packets", "-select_streams", "v:0", "-show_entries",
            "stream=codec_name,width,height,r_frame_rate,nb_read_frames,nb_read_packets:format=duration",
            "-of", "json", path });
    p.waitForFinished(60000);
    Probe r;
    r.errors = QString::fromUtf8(p.readAllStandardError()).trimmed();
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonObject s = o.value("streams").toArray().at(0).toObject();
    r.codec = s.value("codec_name").toString();
    r.width = s.value("width").toInt();
    r.height = s.value("height").toInt();
    r.rate = s.value("r_frame_rate").toString();
    r.frames = s.value("nb_read_frames").toString().toInt();
    r.packets = s.value("nb_read_packets").toString().toInt();
    r.duration = o.value("format").toObject().value("duration").toString().toDouble();
    return r;
}

QVariantMap params(const QString &path, int width = 320, int height = 240, int fps = 25)
{
    return { { "filePath", path }, { "width", width }, { "height", height }, { "fps", fps } };
}

} // namespace

class TestScreenRecorder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp;

private slots:
    // Two seconds of a test picture into every container; the input's end
    // ends the recording.
    void containers_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("codec");
        QTest::newRow("mp4") << "a.mp4"
                             << "h264";
        QTest::newRow("mkv in capitals") << "b.MKV"
                                         << "h264";
        QTest::newRow("mov") << "c.mov"
                             << "h264";
        QTest::newRow("avi") << "d.avi"
                             << "mpeg4";
        QTest::newRow("wmv") << "e.wmv"
                             << "msmpeg4v3";
        QTest::newRow("flv") << "f.flv"
                             << "flv1";
    }
    void containers()
    {
        QFETCH(QString, name);
        QFETCH(QString, codec);
        CScreenRecorder recorder;
        recorder.setCaptureInput("lavfi", kTwoSeconds, {});
        recorder.setRecordParam(params(m_tmp.filePath(name)));
        QVERIFY(recorder.startRecord());
        QVERIFY(recorder.waitStopped(60000));
        const Probe p = probe(m_tmp.filePath(name));
        QCOMPARE(p.errors, QString());
        QCOMPARE(p.codec, codec);
        QCOMPARE(p.width, 320);
        QCOMPARE(p.height, 240);
        QCOMPARE(p.rate, QString("25/1"));
        QCOMPARE(p.packets, 50); // every picture of the input, none dropped
        QVERIFY2(p.frames >= 48, qPrintable(QString::number(p.frames)));
        QVERIFY2(qAbs(p.duration - 2.0) < 0.1, qPrintable(QString::number(p.duration)));
    }

    void invalidParameters_data()
    {
        QTest::addColumn<QVariantMap>("param");
        QTest::newRow("empty path") << params("");
        QTest::newRow("zero width") << params(m_tmp.filePath("x.mp4"), 0, 240);
        QTest::newRow("odd width") << params(m_tmp.filePath("x.mp4"), 321, 240);
        QTest::newRow("negative height") << params(m_tmp.filePath("x.mp4"), 320, -2);
        QTest::newRow("no fps") << QVariantMap { { "filePath", m_tmp.filePath("x.mp4") }, { "width", 320 },
            { "height", 240 } };
    }
    void invalidParameters()
    {
        QFETCH(QVariantMap, param);
        CScreenRecorder recorder;
        recorder.setCaptureInput("lavfi", kTwoSeconds, {});
        recorder.setRecordParam(param);
        QVERIFY(!recorder.startRecord());
        QCOMPARE(recorder.state(), int(CScreenRecorder::Idle));
        QVERIFY(!QFile::exists(m_tmp.filePath("x.mp4")));
    }

    // Start and stop in sequence: a failed open leaves the recorder idle and
    // the next start works; a stop ends an endless recording with a whole file.
    void sequences_data()
    {
        QTest::addColumn<QString>("first"); // what the first start records from
        QTest::addColumn<QString>("firstFile");
        QTest::addColumn<int>("stateAfterFirst");
        QTest::newRow("bad device") << "no_such_source"
                                    << "bad1.mkv" << int(CScreenRecorder::Idle);
        QTest::newRow("bad output folder")
            << QString(kEndless) << "missing/bad2.mkv" << int(CScreenRecorder::Idle);
        QTest::newRow("stopped recording")
            << QString(kEndless) << "first.mkv" << int(CScreenRecorder::StopRequested);
        QTest::newRow("stop before any start")
            << QString() << QString() << int(CScreenRecorder::StopRequested);
    }
    void sequences()
    {
        QFETCH(QString, first);
        QFETCH(QString, firstFile);
        QFETCH(int, stateAfterFirst);
        CScreenRecorder recorder;
        const QString firstPath = m_tmp.filePath(firstFile);
        if (!first.isEmpty()) {
            recorder.setCaptureInput("lavfi", first, {});
            recorder.setRecordParam(params(firstPath));
            QVERIFY(recorder.startRecord());
            if (stateAfterFirst == CScreenRecorder::StopRequested)
                QTRY_VERIFY_WITH_TIMEOUT(recorder.encodedFrames() >= 10, 30000);
        }
        recorder.stopRecord();
        QVERIFY(recorder.waitStopped(30000));
        QCOMPARE(recorder.state(), stateAfterFirst);
        if (stateAfterFirst == CScreenRecorder::StopRequested && !first.isEmpty()) {
            const Probe p = probe(firstPath);
            QCOMPARE(p.errors, QString());
            QVERIFY(p.frames > 0);
        }

        // The next recording starts at once, also while the last one is finishing.
        recorder.setCaptureInput("lavfi", kTwoSeconds, {});
        recorder.setRecordParam(params(m_tmp.filePath("next_" + QString(QTest::currentDataTag()) + ".mp4")));
        QVERIFY(recorder.startRecord());
        QVERIFY(recorder.waitStopped(60000));
        QCOMPARE(probe(m_tmp.filePath("next_" + QString(QTest::currentDataTag()) + ".mp4")).packets, 50);
    }

    // The real desktop of an X server with a moving window.
    void xvfbDesktop()
    {
        XvfbServer xvfb(QSize(640, 480));
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorText()));
        QProcess mover;
        mover.setProcessEnvironment(xvfb.environment());
        mover.start("ico", { "-faces", "-sleep", "0.02" });
        QVERIFY(mover.waitForStarted());
        qputenv("DISPLAY", xvfb.display().toUtf8());
        CScreenRecorder recorder;
        const QString path = m_tmp.filePath("desktop.mkv");
        recorder.setRecordParam(params(path, 640, 480, 10));
        QVERIFY(recorder.startRecord());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.encodedFrames() >= 20, 30000);
        recorder.stopRecord();
        QVERIFY(recorder.waitStopped(30000));
        mover.kill();
        mover.waitForFinished();
        const Probe p = probe(path);
        QCOMPARE(p.errors, QString());
        QCOMPARE(p.width, 640);
        QVERIFY(p.frames >= 3);

        QProcess hashes;
        hashes.start("ffmpeg", { "-v", "error", "-i", path, "-f", "framemd5", "-" });
        QVERIFY(hashes.waitForFinished(60000));
        QSet<QByteArray> distinct;
        for (const QByteArray &line : hashes.readAllStandardOutput().split('\n'))
            if (!line.startsWith('#') && !line.trimmed().isEmpty())
                distinct.insert(line.split(',').last().trimmed());
        QVERIFY2(distinct.size() >= 3, qPrintable(QString::number(distinct.size())));
    }

    // The X server goes away while recording: the reads fail, the capture
    // backs off and gives up by itself, and the file written so far is
    // complete (the trailer is written after the failure).
    void desktopGone()
    {
        XvfbServer xvfb(QSize(320, 240));
        QVERIFY2(xvfb.start(), qPrintable(xvfb.errorText()));
        qputenv("DISPLAY", xvfb.display().toUtf8());
        CScreenRecorder recorder;
        const QString path = m_tmp.filePath("gone.mp4");
        recorder.setRecordParam(params(path, 320, 240, 10));
        QVERIFY(recorder.startRecord());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.encodedFrames() >= 10, 30000);
        xvfb.stop();
        QVERIFY(recorder.waitStopped(60000));
        QVERIFY(recorder.state() != CScreenRecorder::Recording);
        const Probe p = probe(path);
        QCOMPARE(p.errors, QString());
        QCOMPARE(p.codec, QString("h264"));
        QVERIFY2(p.packets >= 10, qPrintable(QString::number(p.packets)));
    }
};

QTEST_GUILESS_MAIN(TestScreenRecorder)
#include "tst_screen_recorder.moc"
