// The encoder's pipeline parts that can be tried without a source: the decoding rule and the
// hand-over between stages.
#include "Decoder.h"
#include "FrameQueue.h"
#include "GroupEncoder.h"
#include "LongStills.h"

#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
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
    // Chosen: one encoder on up to two processors, which the other stages keep busy; from
    // three, one per processor up to four (each keeps to a quarter of the player's buffer).
    // Asked for: as many as asked. Either way fewer where the pictures they hold would take
    // more than a gigabyte.
    void workersForTheMachine_data()
    {
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("processors");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("workers");
        QTest::newRow("one processor") << 0 << 1 << 240 << 180 << 1;
        QTest::newRow("two") << 0 << 2 << 800 << 600 << 1;
        QTest::newRow("three") << 0 << 3 << 800 << 600 << 3;
        QTest::newRow("sixteen") << 0 << 16 << 240 << 180 << 4;
        QTest::newRow("1080p on sixteen") << 0 << 16 << 1920 << 1080 << 3;
        QTest::newRow("the largest picture") << 0 << 16 << 4096 << 4096 << 1;
        QTest::newRow("two asked on one processor") << 2 << 1 << 240 << 180 << 2;
        QTest::newRow("eight asked") << 8 << 2 << 240 << 180 << 8;
        QTest::newRow("eight asked at 1080p") << 8 << 2 << 1920 << 1080 << 3;
        QTest::newRow("two asked, the largest picture") << 2 << 2 << 4096 << 4096 << 1;
    }

    void workersForTheMachine()
    {
        QFETCH(int, asked);
        QFETCH(int, processors);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, workers);
        QCOMPARE(GroupEncoder::workersFor(asked, processors, width, height, 25), workers);
    }

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

    // Frames go into the frame-rate filter with long stills taken out and come back at their
    // own time. Times in seconds; a still longer than 10 s is held, not copied.
    void longStills_data()
    {
        QTest::addColumn<int>("timeBaseNum");
        QTest::addColumn<int>("timeBaseDen");
        QTest::addColumn<QList<double>>("starts");   // each frame ends where the next starts
        QTest::addColumn<QList<double>>("filtered"); // what the frame-rate filter is given
        QTest::addColumn<QList<double>>("lastEnd");
        QTest::newRow("25 frames a second") << 1 << 25 << QList<double>{0, 0.04, 0.08, 0.12}
                                            << QList<double>{0, 0.04, 0.08} << QList<double>{0.12};
        QTest::newRow("a still of 10 s is copied") << 1 << 1000 << QList<double>{0, 10, 10.04}
                                                   << QList<double>{0, 10} << QList<double>{10.04};
        QTest::newRow("a still of 10.04 s is held")
            << 1 << 1000 << QList<double>{0, 10.04, 10.08} << QList<double>{0, 0.04}
            << QList<double>{0.08};
        QTest::newRow("two stills") << 1 << 90000 << QList<double>{0, 3600, 3600.04, 7200, 7200.04}
                                    << QList<double>{0, 0.04, 0.08, 0.12} << QList<double>{0.16};
        // A damaged time base: a frame every 93 hours, ticks far coarser than a frame.
        QTest::newRow("a frame every 93 hours")
            << 8388609 << 25 << QList<double>{0, 335544.36, 671088.72, 1006633.08}
            << QList<double>{0, 0.04, 0.08} << QList<double>{10.08};
        QTest::newRow("a long last frame is filled for 10 s")
            << 1 << 1000 << QList<double>{0, 0.04, 100} << QList<double>{0, 0.04}
            << QList<double>{10.04};
    }

    void longStills()
    {
        QFETCH(int, timeBaseNum);
        QFETCH(int, timeBaseDen);
        QFETCH(QList<double>, starts);
        QFETCH(QList<double>, filtered);
        QFETCH(QList<double>, lastEnd);
        const AVRational timeBase{timeBaseNum, timeBaseDen}, output{1, 25};
        const auto ticks = [&](double seconds) {
            return int64_t(std::llround(seconds * timeBaseDen / timeBaseNum));
        };
        LongStills stills(timeBase, output, 10);
        int64_t end = 0;
        for (int i = 0; i + 1 < starts.size(); ++i) {
            const LongStills::Span span = stills.take(ticks(starts[i]), ticks(starts[i + 1]));
            QCOMPARE(span.pts, std::llround(filtered[i] * AV_TIME_BASE));
            end = span.end;
            // Back from the filter, in frames of 1/25 s, at the frame's own time; the first frame
            // after a still starts a scene.
            const LongStills::Placed placed = stills.place(std::llround(filtered[i] * 25));
            QVERIFY2(qAbs(placed.pts - starts[i] * 25) <= 1,
                     qPrintable(QString("%1 for %2 s").arg(placed.pts).arg(starts[i])));
            QCOMPARE(placed.startsScene, i > 0 && starts[i] - starts[i - 1] > 10);
        }
        QCOMPARE(end, std::llround(lastEnd[0] * AV_TIME_BASE));
    }

    // While the sound plays, a held still is sent again every half second, and never where
    // the source has no sound: a damaged time base with a second of sound gets one copy.
    // Times in seconds; frames at 0, `next` and just after it.
    void longStillsRepeatWithSound_data()
    {
        QTest::addColumn<double>("next");
        QTest::addColumn<QList<double>>("sound"); // pieces: begin, length, ...
        QTest::addColumn<int>("repeats");
        QTest::addColumn<double>("lastRepeat");
        QTest::newRow("sound throughout") << 15.0 << QList<double>{0, 16} << 29 << 14.5;
        QTest::newRow("sound in short pieces")
            << 15.0 << QList<double>{0, 5, 5, 5, 10, 5.9} << 29 << 14.5;
        QTest::newRow("sound for the first 5 s") << 15.0 << QList<double>{0, 5} << 9 << 4.5;
        QTest::newRow("sound with a hole") << 15.0 << QList<double>{0, 3, 12, 4} << 11 << 14.5;
        QTest::newRow("no sound") << 15.0 << QList<double>{} << 0 << 0.0;
        QTest::newRow("sound after the still only") << 15.0 << QList<double>{15, 5} << 0 << 0.0;
        QTest::newRow("a still of 10 s is copied, not repeated")
            << 10.0 << QList<double>{0, 11} << 0 << 0.0;
        QTest::newRow("a frame 93 hours late, a second of sound")
            << 335544.36 << QList<double>{0, 1} << 1 << 0.5;
    }

    void longStillsRepeatWithSound()
    {
        QFETCH(double, next);
        QFETCH(QList<double>, sound);
        QFETCH(int, repeats);
        QFETCH(double, lastRepeat);
        const auto us = [](double seconds) { return int64_t(std::llround(seconds * 1e6)); };
        std::vector<int64_t> heard;
        for (qsizetype i = 0; i + 1 < sound.size(); i += 2)
            LongStills::noteSound(us(sound[i]), us(sound[i + 1]), heard);
        LongStills stills({1, 1000000}, {1, 25}, 10);
        QList<int64_t> sent;
        const QList<double> starts{0, next, next + 0.04};
        for (int i = 0; i < 2; ++i) {
            // The sound comes with the frame after it, as the source is read.
            const LongStills::Span span = stills.take(us(starts[i]), us(starts[i + 1]),
                                                      i == 1 ? heard : std::vector<int64_t>{});
            const LongStills::Placed placed = stills.place(span.pts * 25 / 1000000);
            for (const int64_t t : placed.repeats)
                sent << t;
            QVERIFY(std::is_sorted(sent.begin(), sent.end()));
            if (!placed.repeats.empty())
                QVERIFY(placed.repeats.back() < placed.pts);
        }
        QCOMPARE(sent.size(), repeats);
        if (repeats > 0) {
            QCOMPARE(sent.front(), int64_t(std::llround(0.5 * 25)));
            QCOMPARE(sent.back(), int64_t(std::llround(lastRepeat * 25)));
        }
    }

    // A time past what an FLV holds (31 bits of milliseconds), or past any range, is damage.
    void longStillsRefuseImpossibleTimes()
    {
        LongStills stills({1, 1000}, {1, 25}, 10);
        QVERIFY_THROWS_EXCEPTION(EncodeError,
                                 stills.take(int64_t(1) << 62, (int64_t(1) << 62) + 40));
        (void)stills.take(0, 40);
        QVERIFY_THROWS_EXCEPTION(EncodeError, stills.place(25LL * 25 * 24 * 3600));
    }

private:
    const std::atomic<bool> m_notCancelled{false};
};

QTEST_GUILESS_MAIN(TestEncoderStages)
#include "tst_EncoderStages.moc"
