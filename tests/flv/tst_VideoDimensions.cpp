// Picture sizes from hand-made video tag bodies of each codec.
#include "flv/VideoDimensions.h"

#include <QTest>

#include <vector>

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

class TestVideoDimensions : public QObject
{
    Q_OBJECT

private slots:
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

    void noDimensionsWithoutAPicture()
    {
        // A VP6 inter frame and an AVC picture carry no size.
        QVERIFY(!videoDimensions(bytes({0x24, 0x00, 0x80, 0x00})));
        QVERIFY(!videoDimensions(bytes({0x27, 0x01, 0x00, 0x00, 0x00, 0x00})));
    }
};

QTEST_APPLESS_MAIN(TestVideoDimensions)
#include "tst_VideoDimensions.moc"
