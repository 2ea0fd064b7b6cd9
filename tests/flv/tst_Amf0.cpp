// AMF0 values read back as written, refused where the format cannot hold them, and described as
// flvtool2 -P prints them.
#include "flv/Amf0.h"
#include "flv/Bytes.h"

#include "SameAmf.h"

#include <QTest>

#include <limits>
#include <sstream>

using namespace quillora::flv;

class TestAmf0 : public QObject
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
};

QTEST_APPLESS_MAIN(TestAmf0)
#include "tst_Amf0.moc"
