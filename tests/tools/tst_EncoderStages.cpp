// The encoder's pipeline parts that can be tried without a source: the decoding rule and the
// hand-over between stages.
#include "Decoder.h"
#include "FrameQueue.h"

#include <QTest>

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace quillora::encoder;

namespace {

// Collects what a stage is given; fails on the item named `failOn`.
struct Collector
{
    std::vector<int>* seen;
    int failOn = -1;
    std::chrono::milliseconds pause{0};

    void consume(int item)
    {
        std::this_thread::sleep_for(pause);
        if (item == failOn)
            throw std::runtime_error("the disk is full");
        seen->push_back(item);
    }
    void drain() { seen->push_back(-1); }
};

} // namespace

class TestEncoderStages : public QObject
{
    Q_OBJECT

private slots:
    void stagePassesEverythingInOrder()
    {
        std::vector<int> seen;
        PipelineStage<int> stage(2);
        stage.start(Collector{&seen});
        for (int i = 0; i < 50; ++i)
            stage.push(i);
        stage.finish();
        QCOMPARE(seen.size(), size_t(51));
        for (int i = 0; i < 50; ++i)
            QCOMPARE(seen[size_t(i)], i);
        QCOMPARE(seen.back(), -1);
    }

    // The feeder learns the stage's own error, at a push or at the finish, and is never left
    // waiting on a full queue.
    void stageFailureReachesTheFeeder()
    {
        std::vector<int> seen;
        PipelineStage<int> stage(2);
        stage.start(Collector{&seen, 3});
        try {
            for (int i = 0; i < 50; ++i)
                stage.push(i);
            stage.finish();
            QFAIL("the failure was lost");
        } catch (const std::runtime_error& error) {
            QCOMPARE(QString(error.what()), "the disk is full");
        }
        QCOMPARE(seen, (std::vector<int>{0, 1, 2}));
    }
};

QTEST_GUILESS_MAIN(TestEncoderStages)
#include "tst_EncoderStages.moc"
