// Where the copied tags go in the new file, and the padding that lets a filesystem share their
// blocks: the arithmetic on its own, and padded files as players and checkers read them.
#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/CopyPlan.h"
#include "flv/MetadataInjector.h"

#include "../fakes/RunProgram.h"

#include <QTemporaryDir>
#include <QTest>

#include <set>

using namespace quillora::flv;

namespace {

constexpr std::uint64_t minimum = MetadataTag::minimumPadding;
constexpr std::uint64_t MB = 1 << 20;

// The onMetaData value of a file whose first tag holds it.
AmfValue metadataOf(const QByteArray& file)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.constData());
    const std::size_t size = TagHeader::parse({bytes + 13, tagHeaderSize}).dataSize;
    std::size_t at = 0;
    (void)parseAmf({bytes + 24, size}, at);
    return parseAmf({bytes + 24, size}, at);
}

std::uint64_t firstTagAfterMetadata(const QByteArray& file)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.constData());
    return 13 + tagHeaderSize + TagHeader::parse({bytes + 13, tagHeaderSize}).dataSize +
           previousTagSizeBytes;
}

} // namespace

class TestCopyPlan : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void plans_data()
    {
        QTest::addColumn<std::uint64_t>("blockSize");
        QTest::addColumn<std::uint64_t>("headSize");
        QTest::addColumn<std::vector<ByteRange>>("kept");
        QTest::addColumn<std::uint64_t>("maximum");
        QTest::addColumn<std::uint64_t>("padding");
        QTest::addColumn<bool>("clones");
        // A file whose old onMetaData took its first 321 bytes, as ffmpeg writes them.
        const std::vector<ByteRange> file{{321, 128 * MB + 77}};
        const std::uint64_t room = 1 << 20;
        for (const std::uint64_t b : {512, 4096, 65536}) {
            const QByteArray name = QByteArray::number(b) + ": ";
            QTest::newRow(name + "head ends where the tags did")
                << b << std::uint64_t(321) << file << room << std::uint64_t(0) << true;
            QTest::newRow(name + "gap of exactly the least padding")
                << b << 321 - minimum << file << room << minimum << true;
            QTest::newRow(name + "gap one short of the least padding")
                << b << 321 - minimum + 1 << file << room << minimum - 1 + b << true;
            QTest::newRow(name + "head one byte short")
                << b << std::uint64_t(320) << file << room << 1 + b << true;
            QTest::newRow(name + "head one byte long")
                << b << std::uint64_t(322) << file << room << b - 1 << true;
            QTest::newRow(name + "head a block longer")
                << b << 321 + b << file << room << std::uint64_t(0) << true;
            QTest::newRow(name + "head ending on a block boundary")
                << b << 2 * b << file << room << 321 % b + (321 % b < minimum ? b : 0) << true;
            QTest::newRow(name + "no room for the padding")
                << b << std::uint64_t(322) << file << b - 2 << std::uint64_t(0) << false;
            QTest::newRow(name + "room for exactly the padding")
                << b << std::uint64_t(322) << file << b - 1 << b - 1 << true;
            QTest::newRow(name + "tags that fill no whole block")
                << b << std::uint64_t(300) << std::vector<ByteRange>{{321, 321 + b}} << room
                << std::uint64_t(0) << false;
            QTest::newRow(name + "tags that fill exactly one whole block")
                << b << std::uint64_t(300) << std::vector<ByteRange>{{b - 1, 3 * b - 1}} << room
                << b - 1 - 300 + (b - 1 - 300 < minimum ? b : 0) << true;
            QTest::newRow(name + "tags from a boundary to a boundary")
                << b << std::uint64_t(100) << std::vector<ByteRange>{{b, 9 * b}} << room << b - 100
                << true;
        }
        // The old onMetaData in the middle: the larger range is the one aligned.
        QTest::newRow("two ranges, the second larger")
            << std::uint64_t(4096) << std::uint64_t(400)
            << std::vector<ByteRange>{{13, 5000}, {6000, 10 * MB}} << room
            << std::uint64_t((6000 - 400 - (5000 - 13)) % 4096) << true;
        QTest::newRow("two ranges, the first larger")
            << std::uint64_t(4096) << std::uint64_t(400)
            << std::vector<ByteRange>{{13, 10 * MB}, {10 * MB + 300, 10 * MB + 9000}} << room
            << std::uint64_t(4096 + 13 - 400) << true;
        QTest::newRow("a block size that is no power of two")
            << std::uint64_t(1000) << std::uint64_t(600) << file << room << std::uint64_t(721)
            << true;
        QTest::newRow("blocks smaller than the least padding")
            << std::uint64_t(8) << std::uint64_t(320) << file << room << std::uint64_t(17) << true;
        QTest::newRow("no block size")
            << std::uint64_t(0) << std::uint64_t(300) << file << room << std::uint64_t(0) << false;
        QTest::newRow("nothing kept")
            << std::uint64_t(4096) << std::uint64_t(300) << std::vector<ByteRange>{} << room
            << std::uint64_t(0) << false;
    }

    void plans()
    {
        QFETCH(std::uint64_t, blockSize);
        QFETCH(std::uint64_t, headSize);
        QFETCH(std::vector<ByteRange>, kept);
        QFETCH(std::uint64_t, maximum);
        QFETCH(std::uint64_t, padding);
        QFETCH(bool, clones);
        const CopyPlan plan = planCopy(kept, headSize, blockSize, {minimum, maximum});
        QCOMPARE(plan.padding, padding);
        QCOMPARE(plan.clones(), clones);
        QCOMPARE(plan.headSize, headSize + padding);

        // The steps are the kept ranges in order, packed after the head.
        std::uint64_t to = plan.headSize;
        std::size_t range = 0;
        std::uint64_t from = kept.empty() ? 0 : kept[0].begin;
        for (const CopyStep& step : plan.steps) {
            QVERIFY(step.length > 0);
            QVERIFY(range < kept.size());
            QCOMPARE(step.from, from);
            QCOMPARE(step.to, to);
            from += step.length;
            to += step.length;
            QVERIFY(from <= kept[range].end);
            if (from == kept[range].end && ++range < kept.size())
                from = kept[range].begin;
            if (step.kind == CopyStep::Kind::Clone) {
                QCOMPARE(step.from % blockSize, std::uint64_t(0));
                QCOMPARE(step.to % blockSize, std::uint64_t(0));
                QCOMPARE(step.length % blockSize, std::uint64_t(0));
            }
        }
        QCOMPARE(range, kept.size());
        QCOMPARE(plan.size, to);
        if (padding)
            QVERIFY(padding >= minimum && padding <= maximum && padding < minimum + blockSize);
    }

    // A padded file differs from the packed one only inside onMetaData, where the offsets grow
    // by the padding; checkers and libavformat read it without a word.
    void paddedFilesReadAsPacked_data()
    {
        QTest::addColumn<std::uint64_t>("blockSize");
        QTest::newRow("512") << std::uint64_t(512);
        QTest::newRow("4096") << std::uint64_t(4096);
        QTest::newRow("65536") << std::uint64_t(65536);
    }

    void paddedFilesReadAsPacked()
    {
        QFETCH(std::uint64_t, blockSize);
        const QString in = makeMedia(dir.path() + "/in.flv",
                                     {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f",
                                      "lavfi", "-i", "sine=sample_rate=22050", "-t", "8", "-c:v",
                                      "flv1", "-g", "25", "-c:a", "libmp3lame", "-ac", "1"});
        const QString packed = dir.path() + "/packed.flv";
        const QString padded = dir.path() + "/padded-" + QTest::currentDataTag() + ".flv";
        injectMetadata(in.toStdString(), packed.toStdString(), 1.7e12, "test");
        injectMetadata(in.toStdString(), padded.toStdString(), 1.7e12, "test", {blockSize});

        const QByteArray original = fileContents(in), a = fileContents(packed),
                         b = fileContents(padded);
        const std::uint64_t tagsIn = firstTagAfterMetadata(original);
        const std::uint64_t tagsA = firstTagAfterMetadata(a), tagsB = firstTagAfterMetadata(b);
        QCOMPARE(tagsB % blockSize, tagsIn % blockSize);
        const std::uint64_t padding = tagsB - tagsA;
        QVERIFY(padding > 0);
        QCOMPARE(a.mid(qsizetype(tagsA)), b.mid(qsizetype(tagsB)));

        const AmfValue metaA = metadataOf(a), metaB = metadataOf(b);
        QCOMPARE(metaB.properties().size(), metaA.properties().size() + 1);
        const std::set<std::string> shifted{"filesize", "datasize", "lastkeyframelocation"};
        for (const AmfProperty& p : metaA.properties()) {
            const AmfValue* other = metaB.find(p.key);
            QVERIFY2(other, p.key.c_str());
            if (shifted.count(p.key)) {
                QCOMPARE(other->number(), p.value.number() + double(padding));
            } else if (p.key == "keyframes") {
                const auto& positionsA = p.value.find("filepositions")->elements();
                const auto& positionsB = other->find("filepositions")->elements();
                QCOMPARE(positionsB.size(), positionsA.size());
                for (std::size_t i = 0; i < positionsA.size(); ++i)
                    QCOMPARE(positionsB[i].number(), positionsA[i].number() + double(padding));
            } else {
                std::string x, y;
                renderAmf(p.value, x);
                renderAmf(*other, y);
                QVERIFY2(x == y, p.key.c_str());
            }
        }
        QVERIFY(metaB.find("padding"));
        QCOMPARE(metaB.find("padding")->type(), AmfType::StrictArray);

        const ProgramRun check = runProgram("flvmeta", {"--check", padded});
        QVERIFY2(check.out.contains("0 error(s), 0 warning(s)"), qPrintable(check.out));
        const ProgramRun probe = runProgram("ffprobe", {"-v", "warning", padded});
        QVERIFY2(probe.exitCode == 0 && probe.err.isEmpty(), qPrintable(probe.err));
        // Nothing of it reaches the file's tags as players show them.
        const ProgramRun tags =
            runProgram("ffprobe", {"-v", "error", "-show_entries", "format_tags", padded});
        QVERIFY(tags.out.contains("metadatacreator") && !tags.out.contains("padding"));
    }
};

QTEST_GUILESS_MAIN(TestCopyPlan)
#include "tst_CopyPlan.moc"
