// The encoder's pipeline parts that can be tried without a source: the decoding rule and the
// hand-over between stages.
#include "Decoder.h"
#include "FrameQueue.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <optional>
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
    std::atomic<bool>* busy = nullptr;

    void consume(int item)
    {
        if (busy)
            *busy = true;
        std::this_thread::sleep_for(pause);
        if (item == failOn)
            throw std::runtime_error("the disk is full");
        seen->push_back(item);
    }
    void drain() { seen->push_back(-1); }
};

// A decoder with one frame of delay, as frame-threaded and hardware decoders have: its frame is
// ready only at the second ask, and it refuses a packet (EAGAIN) while it holds a frame that
// has not been taken. Once flushed it gives what it holds.
struct LaggingDecoder
{
    std::optional<int> held;
    bool ready = false;
    bool flushed = false;
    std::vector<int> frames;
    int calls = 0;

    int send(int packet)
    {
        if (++calls > 1000)
            return AVERROR(EINVAL); // a loop that never ends fails instead of hanging
        if (packet == 0) {
            flushed = true;
            return 0;
        }
        if (held)
            return AVERROR(EAGAIN);
        held = packet;
        ready = false;
        return 0;
    }
    int receive()
    {
        if (++calls > 1000)
            return AVERROR(EINVAL);
        if (!held)
            return flushed ? AVERROR_EOF : AVERROR(EAGAIN);
        if (!ready && !flushed) {
            ready = true;
            return AVERROR(EAGAIN);
        }
        frames.push_back(*held);
        held.reset();
        return 0;
    }
};

} // namespace

class TestEncoderStages : public QObject
{
    Q_OBJECT

private slots:
    // A packet refused until the decoder's output is read is offered again, not dropped.
    void refusedPacketIsResent()
    {
        LaggingDecoder decoder;
        int damaged = 0;
        for (int packet : {1, 2, 3, 4, 5, 0})
            damaged += decodePacket([&] { return decoder.send(packet); },
                                    [&] { return decoder.receive(); });
        QCOMPARE(decoder.frames, (std::vector<int>{1, 2, 3, 4, 5}));
        QCOMPARE(damaged, 0);
    }

    // A decoder that neither takes the packet nor gives anything does not hang the encode:
    // the packet counts as damaged.
    void stuckDecoderDoesNotHang()
    {
        int calls = 0;
        const int damaged = decodePacket([&] { return ++calls > 1000 ? 0 : AVERROR(EAGAIN); },
                                         [&] { return AVERROR(EAGAIN); });
        QCOMPARE(damaged, 1);
        QVERIFY(calls < 10);
    }

    void stagePassesEverythingInOrder()
    {
        std::vector<int> seen;
        PipelineStage<int> stage(2, m_notCancelled);
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
        PipelineStage<int> stage(2, m_notCancelled);
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

    // The owner stops a stage at the moment it fails: the feeder still gets an error, and reads
    // the stage's stored failure only under the queue's lock (the thread-sanitizer run watches
    // this).
    void failureWhileStoppedIsReadSafely()
    {
        std::vector<int> seen;
        std::atomic<bool> busy{false};
        PipelineStage<int> stage(4, m_notCancelled);
        stage.start(Collector{&seen, 0, std::chrono::milliseconds(50), &busy});
        stage.push(0);
        while (!busy)
            std::this_thread::yield();
        stage.abort();
        QVERIFY_THROWS_EXCEPTION(std::exception, stage.push(1));
        stage.stop();
        QVERIFY(seen.empty());
    }

    // A cancel stops the hand-over at once, even while the stage still has room: a stage
    // busy for long (making many frames of one) stops at its next frame.
    void cancelStopsTheHandOver()
    {
        std::vector<int> seen;
        std::atomic<bool> cancel{false};
        PipelineStage<int> stage(64, cancel);
        stage.start(Collector{&seen});
        stage.push(0);
        cancel = true;
        QVERIFY_THROWS_EXCEPTION(Cancelled, stage.push(1));
        stage.stop();
        QVERIFY(seen.size() <= 1);
    }

private:
    const std::atomic<bool> m_notCancelled{false};
};

QTEST_GUILESS_MAIN(TestEncoderStages)
#include "tst_EncoderStages.moc"
