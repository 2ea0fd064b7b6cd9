#include "Transcoder.h"

#include "Decoder.h"
#include "Encoder.h"
#include "FilterGraph.h"
#include "FrameQueue.h"
#include "GroupEncoder.h"
#include "Input.h"
#include "LongStills.h"
#include "Muxer.h"
#include "platform/Threads.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <new>
#include <optional>
#include <utility>

namespace quillora::encoder {

namespace {

// A decoded video frame on its way to the filter, with the time where it ends.
struct TimedFrame
{
    FramePtr frame;
    int64_t end;
    // The slots of the sound read since the frame before.
    std::vector<int64_t> heard;
};

using FrameStage = PipelineStage<FramePtr>;

// Longer than this, a still picture is held by the next frame's timestamp instead of copies.
// Ten seconds of copies cost little; a slide or a paused screen recording shows the same.
constexpr double maxFilledStill = 10;

// Each worker below is owned by the thread of its stage; the stages pass data only through
// their queues.

// The de-interlacer, the scaler and the frame rate.
struct VideoFilterWorker
{
    FilterGraph graph;
    LongStills stills;
    FrameStage& encoder;
    // The last picture sent on, to send again while a still is held.
    FramePtr last;

    void consume(TimedFrame item)
    {
        const LongStills::Span span = stills.take(item.frame->pts, item.end, item.heard);
        item.frame->pts = span.pts;
        graph.send(item.frame.get(), span.end, pass());
    }
    void drain() { graph.close(pass()); }
    FilterGraph::FrameSink pass()
    {
        return [this](FramePtr frame) {
            const LongStills::Placed placed = stills.place(frame->pts);
            for (const int64_t t : placed.repeats) {
                if (!last)
                    break;
                encoder.push(copyOf(*last, t));
            }
            frame->pts = placed.pts;
            if (placed.startsScene)
                frame->pict_type = AV_PICTURE_TYPE_I;
            last = copyOf(*frame, frame->pts);
            encoder.push(std::move(frame));
        };
    }
    // Shares the picture's buffers.
    static FramePtr copyOf(const AVFrame& frame, int64_t pts)
    {
        FramePtr copy(require(av_frame_clone(&frame), "picture copy"));
        copy->pts = pts;
        copy->pict_type = AV_PICTURE_TYPE_NONE;
        return copy;
    }
};

// One encoder for the whole video, or groups of pictures on several (GroupEncoder).
struct VideoEncodeWorker
{
    Encoder encoder;
    std::unique_ptr<GroupEncoder> groups;
    PacketStage& muxer;
    std::promise<VideoRate> rate;

    void consume(FramePtr frame)
    {
        if (groups)
            groups->send(std::move(frame));
        else
            encoder.send(frame.get(), pass());
    }
    void drain()
    {
        if (groups) {
            rate.set_value(groups->finish());
            return;
        }
        encoder.send(nullptr, pass());
        rate.set_value(encoder.rate());
    }
    Encoder::PacketSink pass()
    {
        return [this](PacketPtr packet) { muxer.push(std::move(packet)); };
    }
};

// Sound is light: one thread decodes, filters and encodes it.
struct AudioWorker
{
    Decoder decoder;
    FilterGraph graph;
    Encoder encoder;
    PacketStage& muxer;
    std::promise<DecodeSummary> summary;

    void consume(PacketPtr packet) { decoder.send(packet.get(), filter()); }
    void drain()
    {
        decoder.send(nullptr, filter());
        graph.close(encode());
        encoder.send(nullptr, pass());
        summary.set_value(decoder.summary());
    }
    Decoder::FrameSink filter()
    {
        return [this](FramePtr frame, int64_t end) { graph.send(frame.get(), end, encode()); };
    }
    FilterGraph::FrameSink encode()
    {
        return [this](FramePtr frame) { encoder.send(frame.get(), pass()); };
    }
    Encoder::PacketSink pass()
    {
        return [this](PacketPtr packet) { muxer.push(std::move(packet)); };
    }
};

struct MuxWorker
{
    Muxer muxer;

    void consume(PacketPtr packet) { muxer.write(packet.get()); }
    void drain() { muxer.finish(); }
};

// The pictures a second the video stream declares on average; 0 where it declares none.
double averageFrameRate(const AVStream* video)
{
    const AVRational rate = video->avg_frame_rate;
    return rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
}

// A damaged stream may declare any length, far beyond what an integer holds.
std::string wholeSeconds(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", seconds);
    return text;
}

// A source whose frames end well before the length it declares was cut off; one with too many
// damaged pieces is refused rather than half converted.
void checkComplete(const std::vector<DecodeSummary>& streams, double sourceDuration)
{
    double decodedEnd = 0, declaredEnd = 0;
    for (const DecodeSummary& s : streams) {
        if (!s.decodedAny)
            continue;
        if (s.packets >= 20 && s.damaged * 4 > s.packets)
            throw EncodeError("the source is damaged: " + std::to_string(s.damaged) + " of " +
                              std::to_string(s.packets) + " pieces could not be decoded");
        decodedEnd = std::max(decodedEnd, s.decodedEnd);
        declaredEnd = std::max(declaredEnd, s.declaredEnd);
    }
    if (declaredEnd == 0)
        declaredEnd = sourceDuration;
    if (declaredEnd > 1.0 && decodedEnd < declaredEnd * 0.9 - 0.5)
        throw EncodeError("the source ends early (" + wholeSeconds(decodedEnd) + " of " +
                          wholeSeconds(declaredEnd) + " seconds): it is truncated or damaged");
}

// Five stages on five threads: this one reads the source and decodes video; one filters video
// (the de-interlacer and the scaler); one encodes video; one decodes, filters and encodes
// audio; one writes the FLV.
class Pipeline
{
public:
    Pipeline(const EncoderOptions& options, platform::FileHandle output,
             const std::atomic<bool>& cancel, const ProgressCallback& progress)
        : m_input(options.input, !options.noAudio, cancel), m_progress(progress), m_cancel(cancel)
    {
        Muxer muxer(output);
        std::optional<Encoder> videoEncoder, audioEncoder;
        std::optional<FilterGraph> videoGraph, audioGraph;
        std::optional<Decoder> audioDecoder;
        std::optional<LongStills> stills;
        if (const AVStream* video = m_input.video()) {
            m_videoDecoder.emplace(video, m_input.start());
            videoEncoder = Encoder::video(options, muxer.wantsGlobalHeader());
            videoGraph = FilterGraph::forVideo(
                m_videoDecoder->context(), LongStills::filterTimeBase,
                videoFilterDescription(options, averageFrameRate(video)), videoEncoder->timeBase());
            stills.emplace(video->time_base, videoEncoder->timeBase(), maxFilledStill);
        }
        if (const AVStream* audio = m_input.audio()) {
            audioDecoder.emplace(audio, m_input.start());
            audioEncoder = Encoder::audio(options, muxer.wantsGlobalHeader());
            audioGraph =
                FilterGraph::forAudio(audioDecoder->context(), audio->time_base,
                                      audioFilterDescription(options), audioEncoder->timeBase());
            // MP3 takes the sound in frames of a fixed number of samples.
            audioGraph->setFrameSize(audioEncoder->context()->frame_size);
        }
        const int videoStream = videoEncoder ? muxer.addStream(videoEncoder->context()) : -1;
        const int audioStream = audioEncoder ? muxer.addStream(audioEncoder->context()) : -1;
        muxer.writeHeader();
        if (videoEncoder)
            videoEncoder->setOutput(videoStream, muxer.timeBase(videoStream));
        if (audioEncoder)
            audioEncoder->setOutput(audioStream, muxer.timeBase(audioStream));

        const bool globalHeader = muxer.wantsGlobalHeader();
        const AVRational videoTimeBase =
            videoStream >= 0 ? muxer.timeBase(videoStream) : AVRational{1, 1000};
        m_muxStage.start(MuxWorker{std::move(muxer)}, &m_times, "mux");
        if (videoEncoder) {
            VideoEncodeWorker worker{std::move(*videoEncoder), nullptr, m_muxStage, {}};
            const int workers =
                GroupEncoder::workersFor(options.threads, platform::usableProcessors(),
                                         options.width, options.height, options.frameRate);
            if (workers > 1)
                worker.groups =
                    std::make_unique<GroupEncoder>(options, globalHeader, workers, videoStream,
                                                   videoTimeBase, m_muxStage, m_cancel, &m_times);
            m_videoRate = worker.rate.get_future();
            m_videoEncodeStage.start(std::move(worker), &m_times,
                                     workers > 1 ? "video groups" : "video encode");
            m_videoFilterStage.start(
                VideoFilterWorker{
                    std::move(*videoGraph), std::move(*stills), m_videoEncodeStage, {}},
                &m_times, "video filter");
        }
        if (audioEncoder) {
            AudioWorker worker{std::move(*audioDecoder),
                               std::move(*audioGraph),
                               std::move(*audioEncoder),
                               m_muxStage,
                               {}};
            m_audioSummary = worker.summary.get_future();
            m_audioStage.start(std::move(worker), &m_times, "audio");
        }
    }

    ~Pipeline()
    {
        // Stages that feed each other are all aborted before any is joined: a stage may be
        // waiting to hand over to the next.
        m_videoFilterStage.abort();
        m_videoEncodeStage.abort();
        m_audioStage.abort();
        m_muxStage.abort();
        m_videoFilterStage.stop();
        m_videoEncodeStage.stop();
        m_audioStage.stop();
        m_muxStage.stop();
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    VideoRate run()
    {
        const AVStream* video = m_input.video();
        const AVStream* audio = m_input.audio();
        PacketPtr packet = newPacket();
        while (m_input.read(packet.get())) {
            if (video && packet->stream_index == video->index) {
                reportProgress(video, packet.get());
                m_videoDecoder->send(packet.get(), toVideoFilter());
            } else if (audio && packet->stream_index == audio->index) {
                if (!video)
                    reportProgress(audio, packet.get());
                hear(audio, packet.get());
                PacketPtr queued = newPacket();
                av_packet_move_ref(queued.get(), packet.get());
                m_audioStage.push(std::move(queued));
            }
            av_packet_unref(packet.get());
        }
        std::vector<DecodeSummary> streams;
        VideoRate rate;
        if (video) {
            m_videoDecoder->send(nullptr, toVideoFilter());
            m_videoFilterStage.finish();
            m_videoEncodeStage.finish();
            streams.push_back(m_videoDecoder->summary());
            rate = m_videoRate.get();
        }
        if (audio) {
            m_audioStage.finish();
            streams.push_back(m_audioSummary.get());
        }
        bool decodedAny = false;
        for (const DecodeSummary& s : streams)
            decodedAny = decodedAny || s.decodedAny;
        if (!decodedAny)
            throw EncodeError("nothing in the source could be decoded: it is damaged or not a "
                              "video file");
        // Sound alone, or nothing, is no conversion of a source that has pictures.
        if (video && rate.frames == 0)
            throw EncodeError("no picture in the source could be decoded");
        checkComplete(streams, m_input.duration());
        m_muxStage.finish();
        m_times.add("read, decode video", platform::threadCpuSeconds());
        return rate;
    }

    // Each stage's processor time; the rest of the process's is the threads that libavcodec and
    // libavfilter start of their own (frame and slice threads).
    std::vector<std::pair<std::string, double>> stageTimes() const
    {
        auto times = m_times.all();
        double stages = 0;
        for (const auto& [name, seconds] : times)
            stages += seconds;
        times.emplace_back("decoders' and filters' own threads",
                           std::max(0.0, platform::processCpuSeconds() - stages));
        return times;
    }

private:
    Decoder::FrameSink toVideoFilter()
    {
        return [this](FramePtr frame, int64_t end) {
            m_videoFilterStage.push({std::move(frame), end, std::exchange(m_heard, {})});
        };
    }

    // Notes when the source's sound plays, for a held still to be sent again beside it. A
    // damaged packet may claim any time or length: times out of any range are left out, and no
    // packet counts for more than a couple of seconds.
    void hear(const AVStream* audio, const AVPacket* packet)
    {
        constexpr int64_t longestPiece = 2 * AV_TIME_BASE;
        constexpr int64_t farthest = int64_t(1) << 52;
        if (packet->pts == AV_NOPTS_VALUE || packet->duration <= 0)
            return;
        const int64_t begin =
            av_rescale_q(packet->pts, audio->time_base, AV_TIME_BASE_Q) - m_input.start();
        const int64_t length = av_rescale_q(packet->duration, audio->time_base, AV_TIME_BASE_Q);
        if (begin < -farthest || begin > farthest || length <= 0)
            return;
        LongStills::noteSound(begin, std::min(length, longestPiece), m_heard);
    }

    void reportProgress(const AVStream* stream, const AVPacket* packet)
    {
        if (!m_progress || packet->pts == AV_NOPTS_VALUE)
            return;
        const double done =
            (packet->pts - av_rescale_q(m_input.start(), AV_TIME_BASE_Q, stream->time_base)) *
            av_q2d(stream->time_base);
        m_progress(std::max(0.0, done), m_input.duration());
    }

    Input m_input;
    const ProgressCallback& m_progress;
    const std::atomic<bool>& m_cancel;
    std::optional<Decoder> m_videoDecoder;
    std::vector<int64_t> m_heard;
    std::future<DecodeSummary> m_audioSummary;
    std::future<VideoRate> m_videoRate;
    StageTimes m_times;
    // Declared last: they stop before anything they use is destroyed.
    PacketStage m_muxStage{32, m_cancel};
    FrameStage m_videoEncodeStage{8, m_cancel};
    PipelineStage<TimedFrame> m_videoFilterStage{8, m_cancel};
    PacketStage m_audioStage{64, m_cancel};
};

} // namespace

std::string rateNotice(const VideoRate& rate)
{
    const double reached = rate.reachedKbps();
    if (!rate.frames || !rate.chosenKbps ||
        std::abs(reached - rate.chosenKbps) <= 0.05 * rate.chosenKbps)
        return {};
    const bool above = reached > rate.chosenKbps;
    const int percent =
        int(std::lround(std::abs(reached - rate.chosenKbps) * 100 / rate.chosenKbps));
    std::string line = "video " + std::to_string(std::lround(reached)) + " kbit/s, " +
                       std::to_string(percent) + "% " + (above ? "above" : "below") +
                       " the chosen " + std::to_string(rate.chosenKbps) + " kbit/s";
    // Within a step of the codec's limits on average, it could have done no better.
    const double q = rate.meanQuantizer();
    if (above && q >= 30)
        line += ": the picture needs more even at the coarsest quantizer";
    else if (!above && q > 0 && q <= 2)
        line += ": the picture needs less even at the finest quantizer";
    return line;
}

VideoRate transcode(const EncoderOptions& options, platform::FileHandle output,
                    const std::atomic<bool>& cancel, const ProgressCallback& progress)
{
    // Our one line says what went wrong; the libraries' own diagnostics would bury it.
    av_log_set_level(AV_LOG_FATAL);
    Pipeline pipeline(options, output, cancel, progress);
    const VideoRate rate = pipeline.run();
    // For bench/encode.sh: where the processor time went.
    if (std::getenv("QUILLORA_STAGE_TIMES")) {
        for (const auto& [name, seconds] : pipeline.stageTimes())
            std::fprintf(stderr, "stage %s: %.2f s\n", name.c_str(), seconds);
        if (rate.groups > 0)
            std::fprintf(stderr, "groups encoded again: %d of %d\n", rate.groupsEncodedAgain,
                         rate.groups);
    }
    return rate;
}

} // namespace quillora::encoder
