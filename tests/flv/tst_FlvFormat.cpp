// AMF0 values round-trip, and picture sizes from hand-made video tag bodies.
#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/FlvScanner.h"
#include "flv/VideoDimensions.h"

#include "SameAmf.h"

#include <QTest>

#include <limits>
#include <sstream>

using namespace quillora::flv;

namespace {

std::vector<std::uint8_t> bytes(std::initializer_list<int> values)
{
    std::vector<std::uint8_t> v;
    for (int b : values)
        v.push_back(static_cast<std::uint8_t>(b));
    return v;
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
        const TagHeader parsed =
            TagHeader::parse(reinterpret_cast<const std::uint8_t*>(bytes.constData()));
        QCOMPARE(parsed.type, type);
        QCOMPARE(parsed.dataSize, dataSize);
        QCOMPARE(parsed.timestamp, timestamp);
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

    void noDimensionsWithoutAPicture()
    {
        // A VP6 inter frame and an AVC picture carry no size.
        QVERIFY(!videoDimensions(bytes({0x24, 0x00, 0x80, 0x00})));
        QVERIFY(!videoDimensions(bytes({0x27, 0x01, 0x00, 0x00, 0x00, 0x00})));
    }
};

QTEST_APPLESS_MAIN(TestFlvFormat)
#include "tst_FlvFormat.moc"
