// The FLV format's headers read back as written, and a stream's timing from its timestamps.
#include "flv/Bytes.h"
#include "flv/FlvFormat.h"
#include "flv/FlvScanner.h"

#include <QTest>

using namespace quillora::flv;

class TestFlvFormat : public QObject
{
    Q_OBJECT

private slots:
    // Headers read back as written, a timestamp's upper byte in the extension.
    void tagHeaders_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("dataSize");
        QTest::addColumn<quint32>("timestamp");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("script at 0")
            << 18 << 300u << 0u << QByteArray("\x12\x00\x01\x2c\x00\x00\x00\x00\x00\x00\x00", 11);
        QTest::newRow("largest body, 5 h")
            << 9 << 0xffffffu << 18000000u
            << QByteArray("\x09\xff\xff\xff\x12\xa8\x80\x01\x00\x00\x00", 11);
        QTest::newRow("last millisecond")
            << 8 << 2u << 0xffffffffu
            << QByteArray("\x08\x00\x00\x02\xff\xff\xff\xff\x00\x00\x00", 11);
    }

    void tagHeaders()
    {
        QFETCH(int, type);
        QFETCH(quint32, dataSize);
        QFETCH(quint32, timestamp);
        QFETCH(QByteArray, bytes);
        std::string rendered;
        TagHeader{type, dataSize, timestamp}.render(rendered);
        QCOMPARE(QByteArray::fromStdString(rendered), bytes);
        const TagHeader parsed = TagHeader::parse(
            {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())});
        QCOMPARE(parsed.type, type);
        QCOMPARE(parsed.dataSize, dataSize);
        QCOMPARE(parsed.timestamp, timestamp);
    }

    // The first bytes of video and audio bodies, read back as written, and what each holds.
    void bodyHeaders_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("video");
        QTest::addColumn<bool>("holdsFrame");
        QTest::newRow("sorenson key frame") << QByteArray("\x12", 1) << true << true;
        QTest::newRow("sorenson inter frame") << QByteArray("\x22", 1) << true << true;
        QTest::newRow("vp6 info frame") << QByteArray("\x54", 1) << true << false;
        QTest::newRow("avc configuration") << QByteArray("\x17\x00", 2) << true << false;
        QTest::newRow("avc key picture") << QByteArray("\x17\x01", 2) << true << true;
        QTest::newRow("avc end of sequence") << QByteArray("\x17\x02", 2) << true << false;
        QTest::newRow("mp3 22 kHz 16-bit mono") << QByteArray("\x2a", 1) << false << true;
        QTest::newRow("aac configuration") << QByteArray("\xaf\x00", 2) << false << false;
        QTest::newRow("aac frame") << QByteArray("\xaf\x01", 2) << false << true;
    }

    void bodyHeaders()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, video);
        QFETCH(bool, holdsFrame);
        // What follows the header in a body is never read as part of it.
        const QByteArray body = bytes + QByteArray("\xff\xff\xff", 3);
        const std::span<const std::uint8_t> span(
            reinterpret_cast<const std::uint8_t*>(body.constData()), std::size_t(body.size()));
        std::string rendered;
        if (video) {
            const VideoTagHeader header = VideoTagHeader::parse(span);
            QCOMPARE(header.holdsPicture(), holdsFrame);
            header.render(rendered);
        } else {
            const AudioTagHeader header = AudioTagHeader::parse(span);
            QCOMPARE(header.holdsSound(), holdsFrame);
            header.render(rendered);
        }
        QCOMPARE(QByteArray::fromStdString(rendered), bytes);
        QVERIFY_THROWS_EXCEPTION(FormatError, VideoTagHeader::parse({}));
        QVERIFY_THROWS_EXCEPTION(FormatError, AudioTagHeader::parse({}));
        QVERIFY_THROWS_EXCEPTION(
            FormatError, TagHeader::parse(span.first(std::min<std::size_t>(span.size(), 10))));
    }

    void flvHeaders()
    {
        std::string rendered;
        FlvHeader{true, false}.render(rendered);
        QCOMPARE(QByteArray::fromStdString(rendered), QByteArray("FLV\x01\x04\x00\x00\x00\x09", 9));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(rendered.data());
        const FlvHeader parsed = FlvHeader::parse({bytes, rendered.size()}, 13);
        QVERIFY(parsed.audio && !parsed.video);
        QCOMPARE(parsed.dataOffset, 9u);
        // A data offset past the file's end, or inside the header, is refused.
        QVERIFY_THROWS_EXCEPTION(FormatError, FlvHeader::parse({bytes, rendered.size()}, 8));
        rendered[8] = 8;
        QVERIFY_THROWS_EXCEPTION(FormatError, FlvHeader::parse({bytes, rendered.size()}, 13));
        rendered[0] = 'G';
        QVERIFY_THROWS_EXCEPTION(FormatError, FlvHeader::parse({bytes, rendered.size()}, 13));
    }

    // Timestamps as muxers write them; the last frame interval is the one checkers add to the
    // last tag's time.
    void streamStats_data()
    {
        QTest::addColumn<std::vector<std::uint32_t>>("timestamps");
        QTest::addColumn<quint32>("first");
        QTest::addColumn<quint32>("last");
        QTest::addColumn<quint32>("latest");
        QTest::addColumn<quint32>("previous");
        QTest::addColumn<double>("interval");
        QTest::addColumn<double>("end");
        QTest::addColumn<double>("frameRate");
        QTest::newRow("in order") << std::vector<std::uint32_t>{0, 40, 80, 120} << 0u << 120u
                                  << 120u << 80u << 0.04 << 0.16 << 25.0;
        QTest::newRow("repeated") << std::vector<std::uint32_t>{0, 40, 40, 80, 80} << 0u << 80u
                                  << 80u << 40u << 0.04 << 0.1 << 50.0;
        QTest::newRow("going backwards") << std::vector<std::uint32_t>{100, 200, 150} << 100u
                                         << 200u << 150u << 200u << 0.0 << 0.25 << 20.0;
        QTest::newRow("starting late") << std::vector<std::uint32_t>{1000, 1000, 1040} << 1000u
                                       << 1040u << 1040u << 1000u << 0.04 << 1.06 << 50.0;
        QTest::newRow("one tag at 0")
            << std::vector<std::uint32_t>{0} << 0u << 0u << 0u << 0u << 0.0 << 0.0 << 0.0;
        QTest::newRow("one tag later")
            << std::vector<std::uint32_t>{500} << 500u << 500u << 500u << 0u << 0.5 << 0.5 << 0.0;
        QTest::newRow("past the extension byte")
            << std::vector<std::uint32_t>{0xfffff00u, 0xfffff28u} << 0xfffff00u << 0xfffff28u
            << 0xfffff28u << 0xfffff00u << 0.04 << 0xfffff28u / 1000.0 + 0.04 << 25.0;
    }

    void streamStats()
    {
        QFETCH(std::vector<std::uint32_t>, timestamps);
        QFETCH(quint32, first);
        QFETCH(quint32, last);
        QFETCH(quint32, latest);
        QFETCH(quint32, previous);
        QFETCH(double, interval);
        QFETCH(double, end);
        QFETCH(double, frameRate);
        StreamStats stats;
        for (std::uint32_t timestamp : timestamps)
            stats.note(timestamp, 10);
        QCOMPARE(stats.tags, timestamps.size());
        QCOMPARE(stats.bodyBytes, 10 * timestamps.size());
        QCOMPARE(stats.tagBytes, (10 + tagHeaderSize) * timestamps.size());
        QCOMPARE(stats.first, first);
        QCOMPARE(stats.last, last);
        QCOMPARE(stats.latest, latest);
        QCOMPARE(stats.previous, previous);
        QCOMPARE(stats.lastInterval(), interval);
        QCOMPARE(stats.end(), end);
        QCOMPARE(stats.frameRate(), frameRate);
    }
};

QTEST_APPLESS_MAIN(TestFlvFormat)
#include "tst_FlvFormat.moc"
