#include "GroupEncoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace quillora::encoder {

namespace {
// The pictures the workers hold, together: above this, fewer workers.
constexpr double picturesInFlightBytes = 1024.0 * 1024 * 1024;
// Beyond four, each worker's share of the buffer (below) is too small for keyframes at the
// low rates, and its rate control sees too little of the video, unless more are asked for.
constexpr int mostWorkersByDefault = 4;

// How much of the player's buffer each worker's encoder counts on. Each one's rate control
// runs ahead of the rate or behind it, within its tolerance and its buffer, and in the real
// buffer those leads add up: with the whole of it for each of four, 12 of 15 groups of a
// text scroll had to be encoded again; with an equal share (1/N), the only one that can never
// run the real buffer dry, keyframes starved: four workers lost up to 1.6 dB and fell 10%
// below the rate. Leads that come and go independently add up like a random walk's steps,
// as the square root of their number, so a share of 1/sqrt(N) keeps their sum near one
// encoder's (bench/quality.sh with -threads 2, 3 and 4).
double bufferShare(int workers)
{
    return 1 / std::sqrt(double(workers));
}

// How much of what the written groups fell short of the rate a worker is handed at a group's
// start, counted in its workers' shares. Each worker's rate control makes up only for its own
// groups, and a fresh one or one that saw only easy groups spends no more than the rate on a
// hard one, where a single encoder spends what the easy ones left: four workers fell 6% below
// 468k on fast motion. The rate control acts on a credit only in part: twice the share
// brought that to 3% below (one share: 4%), and no encode lost more than 0.03 dB PSNR-Y by it
// but the text scroll, whose PSNR swings by decibels at any change of rate control
// (bench/quality.sh with -threads 2 and 4).
constexpr double shortfallHandedOn = 2.0;

// How many of the pictures before its first group a worker's encoder sees first, and then
// drops. A fresh rate control takes its first group for an average one and spends the rate on
// it, however hard or easy; having seen a second of what went before, it spends on the group
// what its difficulty asks, as a single encoder does. It costs one second of pictures per
// worker, once. On bench/quality.sh, the VP6 file (17 seconds, nine groups) had lost up to
// 0.44 dB PSNR-Y with four workers and now loses 0.05 at most; the mean loss against one
// encoder went from 0.09 to 0.05 dB with four workers and from 0.06 to 0.01 with two.
int warmUpPictures(const EncoderOptions& o, int firstGroup)
{
    return firstGroup > 0 ? o.frameRate : 0;
}

// The player's buffer as the encoders' rate control models it: filled at the chosen rate up
// to two seconds of it (or a share of that), starting half full, and emptied by each picture
// as it is shown.
struct PlayerBuffer
{
    explicit PlayerBuffer(const EncoderOptions& o, double share = 1)
        : fill(o.videoKbps * 1000.0 / o.frameRate), size(o.videoKbps * 2000.0 * share),
          held(size / 2)
    {}

    // Takes the pictures' bits; how many more the deepest of them needed than the buffer
    // held (0: it never ran dry).
    double take(const std::vector<PacketPtr>& packets)
    {
        double missing = 0;
        for (const PacketPtr& packet : packets) {
            held -= 8.0 * packet->size;
            missing = std::max(missing, -held);
            held = std::min(std::max(held, 0.0) + fill, size);
        }
        return missing;
    }

    double fill;
    double size;
    double held;
};

VideoRate operator+(VideoRate a, const VideoRate& b)
{
    a.bytes += b.bytes;
    a.frames += b.frames;
    a.quantizers += b.quantizers;
    return a;
}

VideoRate operator-(VideoRate a, const VideoRate& b)
{
    a.bytes -= b.bytes;
    a.frames -= b.frames;
    a.quantizers -= b.quantizers;
    return a;
}
} // namespace

// One group as its worker encoded it.
struct GroupEncoder::Group
{
    std::vector<PacketPtr> packets;
    // Kept until the group is written, in case it must be encoded again.
    std::vector<FramePtr> pictures;
    // Added to the pictures' times to give the packets' (in the encoder's time base).
    int64_t offset = 0;
    // What the worker's encoder counted on the player's buffer holding at the group's start,
    // and whether it kept the group within that buffer.
    double bufferHeld = 0;
    bool fitItsBuffer = true;
    VideoRate rate;
};

// What the workers share: the player's buffer as the written groups left it, the groups
// finished out of turn, and the first failure.
struct GroupEncoder::Shared
{
    Shared(const EncoderOptions& options, bool globalHeader, int workers, int streamIndex,
           AVRational outputTimeBase, PacketStage& muxer, const std::atomic<bool>& cancel)
        : options(options), globalHeader(globalHeader), workers(workers), streamIndex(streamIndex),
          outputTimeBase(outputTimeBase), muxer(muxer), cancel(cancel), buffer(options)
    {
        written.chosenKbps = options.videoKbps;
        written.frameRate = options.frameRate;
    }

    // Writes every group whose turn has come.
    void deliver(int group, Group finished)
    {
        {
            std::lock_guard lock(outputMutex);
            waiting.emplace(group, std::move(finished));
            for (auto next = waiting.find(written.groups); next != waiting.end();
                 next = waiting.find(written.groups)) {
                write(next->second);
                waiting.erase(next);
            }
        }
        groupWritten.notify_all();
    }

    // A worker starts a group only once its last one is written, so that each holds the
    // pictures of one group at most besides its queue. Then it learns by how many pictures to
    // move its encoder's clock ahead, so that its rate control spends the credit handed on.
    int awaitTurn(int group)
    {
        std::unique_lock lock(outputMutex);
        while (written.groups <= group - workers) {
            if (cancel || stopping || failed())
                throw Cancelled();
            groupWritten.wait_for(lock, std::chrono::milliseconds(20));
        }
        const auto credit = credits.find(group);
        if (credit == credits.end())
            return 0;
        const int pictures = credit->second;
        credits.erase(credit);
        return pictures;
    }

    void fail(std::exception_ptr error)
    {
        std::lock_guard lock(failureMutex);
        if (!failure)
            failure = std::move(error);
    }

    bool failed()
    {
        std::lock_guard lock(failureMutex);
        return bool(failure);
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
    // The encode is being torn down (another stage failed): the groups awaited may never come.
    std::atomic<bool> stopping = false;

    std::mutex outputMutex;
    std::condition_variable groupWritten;
    std::map<int, Group> waiting;
    PlayerBuffer buffer;
    VideoRate written;
    // The credit for each group not yet begun, in pictures of its worker's clock. Group g's is
    // known once group g - N is written, when its worker may begin it: it depends on the
    // written groups alone, so the file does not depend on which worker finishes first.
    std::map<int, int> credits;

    std::mutex failureMutex;
    std::exception_ptr failure;

private:
    // A worker's encoder counts only on its own pictures having been taken from the player's
    // buffer; the other workers' may have left less in it. Where they left less and the
    // group would run the buffer dry, it is encoded again from where the buffer really
    // stands, which only the written groups tell. A group that runs it dry from no less than
    // its encoder counted on, or that ran its encoder's own buffer dry, needs more than the
    // rate even at the coarsest quantizer, as a single encoder's would: encoding it again
    // from less could not help.
    void write(Group& group)
    {
        PlayerBuffer after = buffer;
        double missing = after.take(group.packets);
        if (missing > 0 && buffer.held < group.bufferHeld && group.fitItsBuffer) {
            // A fresh encoder's first keyframe is a guess, which can still run the buffer dry:
            // then it counts on half as much, down to an eighth, for as long as that helps. A
            // keyframe that needs more than the buffer holds even at the coarsest quantizer
            // (fast motion at 800x600) is not helped by any, and costs one encode more.
            bool replaced = false;
            for (double counted = buffer.held; missing > 0 && counted >= buffer.held / 8;
                 counted /= 2) {
                Encoded again = encodeAgain(group, counted);
                PlayerBuffer trial = buffer;
                const double stillMissing = trial.take(again.packets);
                if (stillMissing >= missing)
                    break;
                group.packets = std::move(again.packets);
                group.rate = again.rate;
                after = trial;
                missing = stillMissing;
                replaced = true;
            }
            written.groupsEncodedAgain += replaced ? 1 : 0;
        }
        buffer = after;
        for (PacketPtr& packet : group.packets)
            muxer.push(std::move(packet));
        written = written + group.rate;
        // Seconds of the rate that the written groups left unspent (negative: spent beyond it).
        const double shortfall = double(written.frames) / options.frameRate -
                                 8.0 * double(written.bytes) / (options.videoKbps * 1000.0);
        const double handedOn = shortfallHandedOn * std::max(shortfall, 0.0) / workers;
        credits[written.groups + workers] = int(std::lround(handedOn * options.frameRate));
        ++written.groups;
    }

    struct Encoded
    {
        std::vector<PacketPtr> packets;
        VideoRate rate;
    };

    // On a fresh encoder that counts on the player's buffer holding `held` bits.
    Encoded encodeAgain(const Group& group, double held)
    {
        Encoder encoder = Encoder::videoWorker(options, globalHeader, 1, held);
        encoder.setOutput(streamIndex, outputTimeBase, group.offset);
        std::vector<PacketPtr> packets;
        const auto keep = [&packets](PacketPtr packet) { packets.push_back(std::move(packet)); };
        for (const FramePtr& picture : group.pictures) {
            if (cancel)
                throw Cancelled();
            encoder.send(picture.get(), keep);
        }
        encoder.send(nullptr, keep);
        return {std::move(packets), encoder.rate()};
    }
};

// Encodes groups first, first + N, first + 2N... on one encoder, so that its rate control
// learns the picture as a single encoder's does. A null picture ends a group.
struct GroupEncoder::Worker
{
    Worker(std::shared_ptr<Shared> shared, int first)
        : shared(std::move(shared)), group(first),
          warmUp(warmUpPictures(this->shared->options, first)),
          buffer(this->shared->options, bufferShare(this->shared->workers))
    {}

    std::shared_ptr<Shared> shared;
    int group;
    std::optional<Encoder> encoder;
    // The pictures still to come that only show the encoder what went before its first group.
    int warmUp;
    // The encoder sees its groups back to back: its rate control counts the bits it owes from
    // the time of its pictures. `clock` is where the next group starts for it: after its
    // earlier groups, and ahead by the credits it was handed.
    int64_t clock = 0;
    int64_t groupStart = AV_NOPTS_VALUE;
    int64_t groupEnd = 0;
    // The player's buffer as this worker's encoder counts it: its own pictures alone.
    PlayerBuffer buffer;
    VideoRate before;
    Group current;

    void consume(FramePtr frame)
    {
        try {
            if (shared->cancel)
                throw Cancelled();
            if (frame)
                encode(std::move(frame));
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
        if (!current.packets.empty())
            throw EncodeError("the video encoder held pictures back");
    }

    void encode(FramePtr frame)
    {
        if (!encoder)
            encoder = Encoder::videoWorker(shared->options, shared->globalHeader,
                                           bufferShare(shared->workers));
        if (warmUp > 0) {
            --warmUp;
            // On its clock like any picture, so that the rate control owes their bits; its
            // buffer took them as well.
            frame->pts = clock++;
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            std::vector<PacketPtr> dropped;
            encoder->send(frame.get(),
                          [&dropped](PacketPtr packet) { dropped.push_back(std::move(packet)); });
            buffer.take(dropped);
            return;
        }
        if (groupStart == AV_NOPTS_VALUE) {
            clock += shared->awaitTurn(group);
            groupStart = frame->pts;
            current.offset = groupStart - clock;
            current.bufferHeld = buffer.held;
            before = encoder->rate();
            encoder->setOutput(shared->streamIndex, shared->outputTimeBase, current.offset);
            frame->pict_type = AV_PICTURE_TYPE_I;
        }
        groupEnd = frame->pts + 1;
        frame->pts += clock - groupStart;
        encoder->send(frame.get(), keep());
        current.pictures.push_back(std::move(frame));
    }

    // Without B-frames the encoder holds no picture back: the group's packets are all out.
    void endGroup()
    {
        clock += groupEnd - groupStart;
        groupStart = AV_NOPTS_VALUE;
        current.fitItsBuffer = buffer.take(current.packets) == 0;
        current.rate = encoder->rate() - before;
        shared->deliver(group, std::exchange(current, {}));
        group += shared->workers;
    }

    Encoder::PacketSink keep()
    {
        return [this](PacketPtr packet) { current.packets.push_back(std::move(packet)); };
    }
};

GroupEncoder::GroupEncoder(const EncoderOptions& options, bool globalHeader, int workers,
                           int streamIndex, AVRational outputTimeBase, PacketStage& muxer,
                           const std::atomic<bool>& cancel, StageTimes* times)
    : m_shared(std::make_shared<Shared>(options, globalHeader, workers, streamIndex, outputTimeBase,
                                        muxer, cancel)),
      m_groupSize(2 * options.frameRate)
{
    for (int w = 0; w < workers; ++w) {
        // The next group, so that the pictures keep coming while the other workers take
        // theirs; the worker holds the one it encodes.
        auto stage = std::make_unique<PipelineStage<FramePtr>>(m_groupSize + 2, cancel);
        stage->start(Worker(m_shared, w), times, "video encode " + std::to_string(w + 1));
        m_workers.push_back(std::move(stage));
    }
}

GroupEncoder::~GroupEncoder()
{
    m_shared->stopping = true;
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
    // already: groups made no encode faster there, and cost up to 0.25 dB on fast motion
    // (bench/quality.sh). They pay from three processors on.
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
    const int workers = int(m_workers.size());
    if (m_inGroup == 0 && m_group > 0 && m_group < workers) {
        // The worker's first group: the end of the one before goes first, to warm it up.
        for (const FramePtr& picture : m_lastPictures)
            push(m_group, FramePtr(require(av_frame_clone(picture.get()), "picture copy")));
    }
    if (m_group + 1 < workers) {
        m_lastPictures.emplace_back(require(av_frame_clone(frame.get()), "picture copy"));
        if (int(m_lastPictures.size()) > warmUpPictures(m_shared->options, m_group + 1))
            m_lastPictures.pop_front();
    } else {
        m_lastPictures.clear();
    }
    push(m_group % workers, std::move(frame));
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
    std::lock_guard lock(m_shared->outputMutex);
    if (m_shared->written.groups != m_group)
        throw EncodeError("an encoding stage stopped");
    return m_shared->written;
}

} // namespace quillora::encoder
