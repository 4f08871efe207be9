#include "common/LinkFrame.h"

#include <QtTest>

namespace {

QList<LinkFrameDecoder::Event> drain(LinkFrameDecoder &decoder)
{
    QList<LinkFrameDecoder::Event> events;
    LinkFrameDecoder::Event ev;
    while (decoder.next(&ev))
        events.append(ev);
    return events;
}

QByteArrayList frames(const QList<LinkFrameDecoder::Event> &events)
{
    QByteArrayList out;
    for (const auto &ev : events) {
        if (ev.kind == LinkFrameDecoder::Kind::Frame)
            out.append(ev.payload);
    }
    return out;
}

} // namespace

class TestLinkFrame : public QObject
{
    Q_OBJECT

private slots:
    void header_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("zero") << 0u << QByteArray("00000000");
        QTest::newRow("42") << 42u << QByteArray("0000002a");
        QTest::newRow("cap") << LinkFrame::kMaxPayload << QByteArray("01000000");
        QTest::newRow("max") << 0xFFFFFFFFu << QByteArray("ffffffff");
    }
    void header()
    {
        QFETCH(quint32, length);
        QFETCH(QByteArray, expected);
        QCOMPARE(LinkFrame::header(length), expected);
        quint32 back = 0;
        QVERIFY(LinkFrame::parseHeader(expected.constData(), &back));
        QCOMPARE(back, length);
    }

    void parseHeader_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<quint32>("value");
        QTest::newRow("upper case") << QByteArray("0000002A") << true << 42u;
        QTest::newRow("mixed case") << QByteArray("00000aBc") << true << 0xabcu;
        QTest::newRow("sign") << QByteArray("+000002a") << false << 0u;
        QTest::newRow("minus") << QByteArray("-000002a") << false << 0u;
        QTest::newRow("blank") << QByteArray(" 000002a") << false << 0u;
        QTest::newRow("trailing blank") << QByteArray("000002a ") << false << 0u;
        QTest::newRow("0x prefix") << QByteArray("0x00002a") << false << 0u;
        QTest::newRow("letter g") << QByteArray("0000002g") << false << 0u;
        QTest::newRow("nul") << QByteArray("0000\0"
                                           "02a",
            8) << false << 0u;
    }
    void parseHeader()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(quint32, value);
        quint32 got = 0;
        QCOMPARE(LinkFrame::parseHeader(text.constData(), &got), valid);
        if (valid)
            QCOMPARE(got, value);
    }

    void utf8LengthCountsBytes()
    {
        const QByteArray payload = QString(QChar(0x00e9)).toUtf8();
        QCOMPARE(LinkFrame::encode(payload), QByteArray("00000002") + payload);
    }

    void emptyPayloadIsHeaderAlone()
    {
        QCOMPARE(LinkFrame::encode(QByteArray()), QByteArray("00000000"));
        LinkFrameDecoder decoder;
        decoder.append(QByteArray("00000000"));
        const auto events = drain(decoder);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].kind, LinkFrameDecoder::Kind::Frame);
        QVERIFY(events[0].payload.isEmpty());
    }

    void twoFramesInOneRead()
    {
        LinkFrameDecoder decoder;
        decoder.append(LinkFrame::encode("{\"a\":1}") + LinkFrame::encode("{\"b\":2}"));
        QCOMPARE(frames(drain(decoder)), (QByteArrayList { "{\"a\":1}", "{\"b\":2}" }));
        QCOMPARE(decoder.pendingBytes(), 0);
    }

    // Every way of cutting a stream of three frames into two reads delivers
    // the same three frames once, in order.
    void splitAnywhere()
    {
        const QByteArrayList sent { "first", QByteArray(), QString::fromUtf8("dritt\u00e9").toUtf8() };
        QByteArray stream;
        for (const auto &p : sent)
            stream += LinkFrame::encode(p);
        for (int cut = 0; cut <= stream.size(); ++cut) {
            LinkFrameDecoder decoder;
            decoder.append(stream.left(cut));
            auto events = drain(decoder);
            decoder.append(stream.mid(cut));
            events += drain(decoder);
            QCOMPARE(frames(events), sent);
        }
    }

    void byteByByte()
    {
        const QByteArray payload(1000, 'x');
        const QByteArray stream = LinkFrame::encode(payload) + LinkFrame::encode("y");
        LinkFrameDecoder decoder;
        QByteArrayList got;
        for (char c : stream) {
            decoder.append(&c, 1);
            got += frames(drain(decoder));
        }
        QCOMPARE(got, (QByteArrayList { payload, "y" }));
    }

    // A bad header costs its 8 bytes; a frame behind it in the same read is
    // delivered at once, not only when more data arrives.
    void badHeaderThenValidFrameInSameRead()
    {
        LinkFrameDecoder decoder;
        decoder.append(QByteArray("zzzzzzzz") + LinkFrame::encode("ok"));
        const auto events = drain(decoder);
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].kind, LinkFrameDecoder::Kind::BadHeader);
        QCOMPARE(events[0].header, QByteArray("zzzzzzzz"));
        QCOMPARE(events[1].kind, LinkFrameDecoder::Kind::Frame);
        QCOMPARE(events[1].payload, QByteArray("ok"));
    }

    // A declared length above the cap is reported, its payload skipped as it
    // arrives (never buffered), and the frame behind it comes out intact.
    void oversizedFrameIsSkipped()
    {
        const quint32 cap = 64;
        LinkFrameDecoder decoder(cap);
        decoder.append(LinkFrame::header(1000));
        auto events = drain(decoder);
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].kind, LinkFrameDecoder::Kind::Oversized);
        QCOMPARE(events[0].length, 1000u);
        for (int i = 0; i < 10; ++i) {
            decoder.append(QByteArray(99, 'a'));
            QVERIFY(drain(decoder).isEmpty());
            QCOMPARE(decoder.pendingBytes(), 0);
        }
        decoder.append(QByteArray(10, 'a') + LinkFrame::encode("next"));
        events = drain(decoder);
        QCOMPARE(frames(events), QByteArrayList { "next" });
    }

    void payloadAtCapIsAccepted()
    {
        LinkFrameDecoder decoder(16);
        decoder.append(LinkFrame::encode(QByteArray(16, 'q')));
        QCOMPARE(frames(drain(decoder)), QByteArrayList { QByteArray(16, 'q') });
    }

    void payloadTextEndsAtNul()
    {
        QCOMPARE(LinkFrame::payloadText(QByteArray("ab\0cd", 5)), QStringLiteral("ab"));
        QCOMPARE(LinkFrame::payloadText(QString::fromUtf8("\u00e4").toUtf8()), QString::fromUtf8("\u00e4"));
    }
};

QTEST_APPLESS_MAIN(TestLinkFrame)
#include "tst_link_frame.moc"
