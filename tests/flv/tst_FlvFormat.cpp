// AMF0 values round-trip, picture sizes from hand-made video tag bodies, a stream's timing, and
// the same scan from a file and from memory.
#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/FlvScanner.h"
#include "flv/MetadataInjector.h"
#include "flv/VideoDimensions.h"

#include "SameAmf.h"

#include <QDir>
#include <QTemporaryFile>
#include <QTest>

#include <limits>
#include <sstream>
#include <system_error>

using namespace quillora::flv;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> v;
    for (int b : values)
        v.push_back(static_cast<std::uint8_t>(b));
    return v;
}

void appendTag(std::string& file, int type, std::uint32_t timestamp, const std::string& body)
{
    TagHeader{type, static_cast<std::uint32_t>(body.size()), timestamp}.render(file);
    file += body;
    appendUInt32BE(file, static_cast<std::uint32_t>(tagHeaderSize + body.size()));
}

// An FLV with something of each kind the scan reads: an old onMetaData, an AVC configuration,
// pictures and a video info frame, audio, and a cue point too large for the file's read-ahead.
std::string madeFile()
{
    std::string file;
    FlvHeader{true, true}.render(file);
    appendUInt32BE(file, 0);
    std::string metadata;
    AmfWriter amf(metadata);
    amf.string("onMetaData");
    amf.beginEcmaArray(1);
    amf.key("duration");
    amf.number(1);
    amf.endObject();
    appendTag(file, ScriptTag, 0, metadata);
    // The configuration that Debian's ffmpeg writes for 176x144 with libx264.
    appendTag(file, VideoTag, 0,
              std::string("\x17\x00\x00\x00\x00\x01\xf4\x00\x0b\xff\xe1\x00\x19\x67\xf4\x00\x0b"
                          "\x91\x9b\x28\x58\x9d\x80\x88\x00\x00\x03\x00\x08\x00\x00\x03\x01\xe0"
                          "\x78\xa1\x4c\xb0\x01\x00\x06\x68\xeb\xe3\xc4\x48\x44\xff\xf8\xf8\x00",
                          51));
    for (std::uint32_t ms = 0; ms < 200; ms += 40) {
        appendTag(file, VideoTag, ms, std::string(ms == 0 ? "\x17\x01" : "\x27\x01", 2) + "pic");
        appendTag(file, AudioTag, ms + 3, "\x2e\xff\xfb");
    }
    appendTag(file, VideoTag, 200, std::string("\x50\x00", 2));
    std::string cue;
    AmfWriter cueAmf(cue);
    cueAmf.string("onCuePoint");
    cueAmf.beginObject();
    cueAmf.key("name");
    cueAmf.string(std::string(100000, 'c'));
    cueAmf.endObject();
    appendTag(file, ScriptTag, 120, cue);
    return file;
}

// What a scan gave, as text to compare: its error, or what it found and the metadata it makes.
std::string scanned(const std::function<FlvScan()>& scan)
{
    try {
        const FlvScan result = scan();
        std::string text = std::to_string(result.keptBytes);
        for (const ByteRange& range : result.kept)
            text += " " + std::to_string(range.begin) + "-" + std::to_string(range.end);
        if (result.oldMetadata)
            text += " old " + std::to_string(result.oldMetadata->begin);
        try {
            return text + "\n" + MetadataTag(result, 0, "test").render();
        } catch (const RenderError& error) {
            return text + " RenderError " + error.what();
        }
    } catch (const FormatError& error) {
        return "FormatError " + std::to_string(error.offset()) + " " + error.what();
    }
}

std::string scannedFromMemory(const std::string& bytes)
{
    MemorySource source({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    return scanned([&] { return scanFlv(source); });
}

std::string scannedFromFile(QTemporaryFile& file, const std::string& bytes)
{
    if (!file.resize(0) || !file.seek(0) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.flush())
        return "cannot write " + file.fileName().toStdString();
    const quillora::platform::InputFile in(QFile::encodeName(file.fileName()).toStdString());
    FileSource source(in);
    return scanned([&] { return scanFlv(source); });
}
} // namespace

class TestFlvFormat : public QObject
{
    Q_OBJECT

private slots:
    void amfRoundTrip()
    {
        const AmfValue value = AmfValue::makeEcmaArray({
            {"duration", AmfValue::makeNumber(12.345)},
            {"stereo", AmfValue::makeBoolean(true)},
            {"title", AmfValue::makeString("Fête à Zürich")},
            {"long", AmfValue::makeString(std::string(70000, 'x'))},
            {"date", AmfValue::makeDate(1.7e12)},
            {"keyframes",
             AmfValue::makeObject({{"times", AmfValue::makeStrictArray({AmfValue::makeNumber(0),
                                                                        AmfValue::makeNumber(2)})},
                                   {"empty", AmfValue::makeStrictArray({})}})},
        });
        std::string rendered;
        renderAmf(value, rendered);
        std::size_t at = 0;
        const auto* data = reinterpret_cast<const std::uint8_t*>(rendered.data());
        const AmfValue parsed = parseAmf({data, rendered.size()}, at);
        QCOMPARE(at, rendered.size());
        QVERIFY(sameAmf(parsed, value));
    }

    void amfRefusals_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("number cut short") << QByteArray("\x00\x40\x00", 3);
        QTest::newRow("string longer than data") << QByteArray("\x02\x00\x09"
                                                               "abc",
                                                               6);
        QTest::newRow("object without end") << QByteArray("\x03\x00\x01"
                                                          "a\x01\x01",
                                                          6);
        QTest::newRow("strict array count too large") << QByteArray("\x0a\xff\xff\xff\xff\x05", 6);
        QTest::newRow("unknown marker") << QByteArray("\x11", 1);
        QByteArray deep;
        for (int i = 0; i < 200; ++i)
            deep += QByteArray("\x0a\x00\x00\x00\x01", 5);
        QTest::newRow("nested too deeply") << deep;
    }

    void amfRefusals()
    {
        QFETCH(QByteArray, data);
        std::size_t at = 0;
        QVERIFY_THROWS_EXCEPTION(FormatError,
                                 parseAmf({reinterpret_cast<const std::uint8_t*>(data.constData()),
                                           std::size_t(data.size())},
                                          at));
    }

    // A property name has a 16-bit length and no long form: past 65,535 bytes it is refused, not
    // written with its length cut.
    void amfLongNames_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("refused");
        QTest::newRow("65,535") << 65535 << false;
        QTest::newRow("65,536") << 65536 << true;
        QTest::newRow("70,000") << 70000 << true;
    }

    void amfLongNames()
    {
        QFETCH(int, length);
        QFETCH(bool, refused);
        const std::string key(std::size_t(length), 'k');
        // Deep inside, as in a cue point, and at the top.
        for (const AmfValue& value :
             {AmfValue::makeObject({{key, AmfValue::makeNumber(1)}}),
              AmfValue::makeStrictArray({AmfValue::makeEcmaArray(
                  {{"a", AmfValue::makeObject({{key, AmfValue::makeNull()}})}})})}) {
            std::string rendered;
            bool threw = false;
            try {
                renderAmf(value, rendered);
            } catch (const RenderError& error) {
                threw = true;
                QVERIFY(std::string(error.what()).find(std::to_string(length)) !=
                        std::string::npos);
            }
            QCOMPARE(threw, refused);
            if (refused)
                continue;
            std::size_t at = 0;
            const auto* data = reinterpret_cast<const std::uint8_t*>(rendered.data());
            QVERIFY(sameAmf(parseAmf({data, rendered.size()}, at), value));
            QCOMPARE(at, rendered.size());
        }
    }

    // The printed text of each type, read straight from the encoded bytes.
    void describedValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("text");
        QTest::newRow("number") << QByteArray("\x00\x40\x28\xb0\xa3\xd7\x0a\x3d\x71", 9)
                                << "12.345";
        QTest::newRow("not a number")
            << QByteArray("\x00\x7f\xf8\x00\x00\x00\x00\x00\x00", 9) << "nan";
        QTest::newRow("boolean") << QByteArray("\x01\x02", 2) << "true";
        QTest::newRow("long string") << QByteArray("\x0c\x00\x00\x00\x02ok", 7) << "ok";
        QTest::newRow("object") << QByteArray("\x03\x00\x01"
                                              "a\x05\x00\x01"
                                              "b\x03\x00\x00\x09\x00\x00\x09",
                                              15)
                                << "{a: null, b: {}}";
        QTest::newRow("ECMA array") << QByteArray("\x08\x00\x00\x00\x07\x00\x01"
                                                  "u\x06\x00\x00\x09",
                                                  12)
                                    << "{u: undefined}";
        QTest::newRow("strict array")
            << QByteArray("\x0a\x00\x00\x00\x02\x05\x01\x00", 8) << "[2 entries]";
        QTest::newRow("date") << QByteArray("\x0b\x42\x78\xbc\xfe\x56\x80\x00\x00\x00\x00", 11)
                              << "2023-11-14T22:13:20Z";
    }

    void describedValues()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, text);
        std::ostringstream out;
        std::size_t at = 0;
        describeAmf(
            {reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size())}, at,
            out);
        QCOMPARE(QString::fromStdString(out.str()), text);
        QCOMPARE(at, std::size_t(data.size()));
    }

    void dimensions_data()
    {
        QTest::addColumn<std::vector<std::uint8_t>>("body");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        // Sorenson H.263: 17-bit start code 0000 0000 0000 0000 1, version, temporal reference,
        // then the size code in bits 30-32.
        QTest::newRow("h263 8-bit size")
            << bytes({0x12, 0x00, 0x00, 0x84, 0x00, 0x50, 0x3c, 0x00}) << 160 << 120;
        QTest::newRow("h263 16-bit size")
            << bytes({0x12, 0x00, 0x00, 0x84, 0x00, 0x81, 0x90, 0x01, 0x2c, 0x00}) << 800 << 600;
        QTest::newRow("h263 code 2 CIF")
            << bytes({0x12, 0x00, 0x00, 0x84, 0x01, 0x00}) << 352 << 288;
        QTest::newRow("h263 code 5 QVGA")
            << bytes({0x12, 0x00, 0x00, 0x84, 0x02, 0x80}) << 320 << 240;
        // Screen video: block width 4 bits, width 12 bits, block height, height.
        QTest::newRow("screen video") << bytes({0x13, 0x31, 0x40, 0x30, 0xf0}) << 320 << 240;
        QTest::newRow("screen video 2") << bytes({0x16, 0x30, 0xc8, 0x30, 0x96}) << 200 << 150;
        // VP6 key frame (filter header set, no separated coefficients): 23x18 macroblocks,
        // cropped by 8 on the right and 0 at the bottom.
        QTest::newRow("vp6 adjusted")
            << bytes({0x14, 0x80, 0x00, 0x46, 0x12, 0x17, 0x12, 0x17}) << 360 << 288;
        QTest::newRow("vp6 alpha")
            << bytes({0x15, 0x00, 0x00, 0x00, 0x10, 0x00, 0x46, 0x0f, 0x14, 0x0f, 0x14}) << 320
            << 240;
    }

    void dimensions()
    {
        QFETCH(std::vector<std::uint8_t>, body);
        QFETCH(int, width);
        QFETCH(int, height);
        const auto d = videoDimensions(body);
        QVERIFY(d);
        QCOMPARE(int(d->width), width);
        QCOMPARE(int(d->height), height);
    }

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

    // A file and the same bytes in memory scan alike: whole, cut short anywhere, or damaged.
    void sourcesAgree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("made") << QString();
        const QString data = qEnvironmentVariable("QUILLORA_SOURCE_DIR") + "/tests/data";
        for (const QString folder : {"fuzz-seeds", "encoder-fuzz"})
            for (const QFileInfo& file : QDir(data + "/" + folder).entryInfoList({"*.flv"}))
                QTest::newRow(qPrintable(file.fileName())) << file.filePath();
        if (!QDir(data).exists())
            QFAIL(qPrintable("no test files in " + data + " (is QUILLORA_SOURCE_DIR set?)"));
    }

    void sourcesAgree()
    {
        QFETCH(QString, name);
        std::string bytes = madeFile();
        if (!name.isEmpty()) {
            QFile in(name);
            QVERIFY(in.open(QIODevice::ReadOnly));
            bytes = in.readAll().toStdString();
        }
        QTemporaryFile file;
        QVERIFY(file.open());
        std::vector<std::size_t> cuts;
        for (std::size_t n = 0; n < std::min<std::size_t>(bytes.size(), 300); ++n)
            cuts.push_back(n);
        for (std::size_t k = 1; k < 64; ++k)
            cuts.push_back(bytes.size() * k / 64);
        for (std::size_t n : cuts) {
            const std::string cut = bytes.substr(0, n);
            QCOMPARE(scannedFromFile(file, cut), scannedFromMemory(cut));
        }
        for (std::size_t k = 0; k < 64; ++k) {
            std::string damaged = bytes;
            damaged[damaged.size() * k / 64] ^= 0x5a;
            QCOMPARE(scannedFromFile(file, damaged), scannedFromMemory(damaged));
        }
        const std::string whole = scannedFromMemory(bytes);
        QCOMPARE(scannedFromFile(file, bytes), whole);
        if (name.isEmpty()) {
            // A picture size from the configuration, and every tag kept but the old onMetaData
            // (a tag of 40 bytes, after the file's 13).
            QVERIFY(whole.find(std::string("\x00\x05width", 7)) != std::string::npos);
            QCOMPARE(whole.substr(0, whole.find(' ')),
                     std::to_string(bytes.size() - 13 - (tagHeaderSize + 40 + 4)));
        }
    }

    // A file that cannot be read is a failure to read, not a format error.
    void unreadableFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("a folder") << QDir::tempPath();
        QTest::newRow("no such file") << QDir::tempPath() + "/quillora-no-such-file.flv";
    }

    void unreadableFile()
    {
        QFETCH(QString, path);
        QVERIFY_THROWS_EXCEPTION(std::system_error, (void)scanFlv(quillora::platform::InputFile(
                                                        QFile::encodeName(path).toStdString())));
    }

    void noDimensionsWithoutAPicture()
    {
        // A VP6 inter frame and an AVC picture carry no size.
        QVERIFY(!videoDimensions(bytes({0x24, 0x00, 0x80, 0x00})));
        QVERIFY(!videoDimensions(bytes({0x27, 0x01, 0x00, 0x00, 0x00, 0x00})));
    }
};

QTEST_APPLESS_MAIN(TestFlvFormat)
#include "tst_FlvFormat.moc"
