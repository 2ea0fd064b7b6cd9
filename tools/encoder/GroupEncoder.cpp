#include "GroupEncoder.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace quillora::encoder {

namespace {
// The pictures the workers' queues may hold, together: above this, fewer workers.
constexpr double picturesInFlightBytes = 1024.0 * 1024 * 1024;
// Each worker keeps to an equal share of the player's 2-second buffer: beyond four, a share is
// too small for a keyframe at the low rates, unless more are asked for.
constexpr int mostWorkersByDefault = 4;
} // namespace

// What the workers share: the groups finished out of turn, and the first failure.
struct GroupEncoder::Shared
{
    Shared(const EncoderOptions& options, bool globalHeader, int workers, int streamIndex,
           AVRational outputTimeBase, PacketStage& muxer, const std::atomic<bool>& cancel)
        : options(options), globalHeader(globalHeader), workers(workers), streamIndex(streamIndex),
          outputTimeBase(outputTimeBase), muxer(muxer), cancel(cancel)
    {}

    // Hands the packets of every group whose turn has come to the muxer.
    void deliver(int group, std::vector<PacketPtr> packets)
    {
        std::lock_guard lock(outputMutex);
        waiting.emplace(group, std::move(packets));
        for (auto next = waiting.find(written); next != waiting.end();
             next = waiting.find(written)) {
            for (PacketPtr& packet : next->second)
                muxer.push(std::move(packet));
            waiting.erase(next);
            ++written;
        }
    }

    void fail(std::exception_ptr error)
    {
        std::lock_guard lock(failureMutex);
        if (!failure)
            failure = std::move(error);
    }

    // Inside a catch block: the first failure of any worker, else the one being handled.
    [[noreturn]] void rethrowFirstFailure()
    {
        std::exception_ptr first;
        {
            std::lock_guard lock(failureMutex);
            first = failure;
        }
        if (first)
            std::rethrow_exception(first);
        throw;
    }

    const EncoderOptions options;
    const bool globalHeader;
    const int workers;
    const int streamIndex;
    const AVRational outputTimeBase;
    PacketStage& muxer;
    const std::atomic<bool>& cancel;

    std::mutex outputMutex;
    std::map<int, std::vector<PacketPtr>> waiting;
    int written = 0;

    std::mutex failureMutex;
    std::exception_ptr failure;
    std::vector<VideoRate> rates;
};

// Encodes groups first, first + N, first + 2N... on one encoder, so that its rate control
// learns the picture as a single encoder's does. A null picture ends a group.
struct GroupEncoder::Worker
{
    Worker(std::shared_ptr<Shared> shared, int first) : shared(std::move(shared)), group(first) {}

    std::shared_ptr<Shared> shared;
    int group;
    std::optional<Encoder> encoder;
    // The encoder sees its groups back to back: its rate control counts the bits it owes from
    // the time of its pictures. `clock` is where the next group starts for it.
    int64_t clock = 0;
    int64_t groupStart = AV_NOPTS_VALUE;
    int64_t groupEnd = 0;
    std::vector<PacketPtr> packets;

    void consume(FramePtr frame)
    {
        try {
            if (shared->cancel)
                throw Cancelled();
            if (frame)
                encode(*frame);
            else
                endGroup();
        } catch (...) {
            shared->fail(std::current_exception());
            throw;
        }
    }

    void drain()
    {
        if (!encoder)
            return;
        encoder->send(nullptr, keep());
        if (!packets.empty())
            throw EncodeError("the video encoder held pictures back");
        std::lock_guard lock(shared->outputMutex);
        shared->rates[std::size_t(group % shared->workers)] = encoder->rate();
    }

    void encode(AVFrame& frame)
    {
        if (!encoder) {
            encoder = Encoder::videoWorker(shared->options, shared->globalHeader, shared->workers);
        }
        if (groupStart == AV_NOPTS_VALUE) {
            groupStart = frame.pts;
            encoder->setOutput(shared->streamIndex, shared->outputTimeBase, groupStart - clock);
            frame.pict_type = AV_PICTURE_TYPE_I;
        }
        groupEnd = frame.pts + 1;
        frame.pts += clock - groupStart;
        encoder->send(&frame, keep());
    }

    // Without B-frames the encoder holds no picture back: the group's packets are all out.
    void endGroup()
    {
        clock += groupEnd - groupStart;
        groupStart = AV_NOPTS_VALUE;
        shared->deliver(group, std::exchange(packets, {}));
        group += shared->workers;
    }

    Encoder::PacketSink keep()
    {
        return [this](PacketPtr packet) { packets.push_back(std::move(packet)); };
    }
};

GroupEncoder::GroupEncoder(const EncoderOptions& options, bool globalHeader, int workers,
                           int streamIndex, AVRational outputTimeBase, PacketStage& muxer,
                           const std::atomic<bool>& cancel, StageTimes* times)
    : m_shared(std::make_shared<Shared>(options, globalHeader, workers, streamIndex, outputTimeBase,
                                        muxer, cancel)),
      m_groupSize(2 * options.frameRate)
{
    m_shared->rates.resize(std::size_t(workers));
    for (int w = 0; w < workers; ++w) {
        // Two groups: the one being encoded and the next, so that the pictures keep coming
        // while the other workers take theirs.
        auto stage = std::make_unique<PipelineStage<FramePtr>>(2 * m_groupSize + 2, cancel);
        stage->start(Worker(m_shared, w), times, "video encode " + std::to_string(w + 1));
        m_workers.push_back(std::move(stage));
    }
}

GroupEncoder::~GroupEncoder()
{
    for (auto& worker : m_workers)
        worker->abort();
    for (auto& worker : m_workers)
        worker->stop();
}

int GroupEncoder::workersFor(int asked, int processors, int width, int height, int frameRate)
{
    const double picture = double(width) * height * 3 / 2;
    const double perWorker = picture * (2 * 2 * frameRate + 2);
    const int fit = std::max(1, int(picturesInFlightBytes / perWorker));
    if (asked > 0)
        return std::min(asked, fit);
    // On two processors the other stages (the decoder's threads above all) keep both busy
    // already: groups made no encode faster there, and a worker's half of the buffer cost up
    // to 0.7 dB on hard pictures (bench/quality.sh). They pay from three processors on.
    if (processors <= 2)
        return 1;
    return std::min({processors, fit, mostWorkersByDefault});
}

void GroupEncoder::push(int worker, FramePtr frame)
{
    try {
        m_workers[std::size_t(worker)]->push(std::move(frame));
    } catch (...) {
        m_shared->rethrowFirstFailure();
    }
}

void GroupEncoder::send(FramePtr frame)
{
    push(m_group % int(m_workers.size()), std::move(frame));
    if (++m_inGroup == m_groupSize)
        endGroup();
}

void GroupEncoder::endGroup()
{
    push(m_group % int(m_workers.size()), nullptr);
    ++m_group;
    m_inGroup = 0;
}

VideoRate GroupEncoder::finish()
{
    if (m_inGroup > 0)
        endGroup();
    for (auto& worker : m_workers) {
        try {
            worker->finish();
        } catch (...) {
            m_shared->rethrowFirstFailure();
        }
    }
    if (m_shared->written != m_group)
        throw EncodeError("an encoding stage stopped");
    VideoRate total;
    total.chosenKbps = m_shared->options.videoKbps;
    total.frameRate = m_shared->options.frameRate;
    for (const VideoRate& rate : m_shared->rates) {
        total.bytes += rate.bytes;
        total.frames += rate.frames;
        total.quantizers += rate.quantizers;
    }
    return total;
}

} // namespace quillora::encoder
