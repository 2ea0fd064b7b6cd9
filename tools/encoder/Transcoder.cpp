#include "Transcoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "FrameQueue.h"

#include <cerrno>
#include <exception>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillora::encoder {

namespace {

// RAII owners for every libav object; borrowed pointers stay raw.
struct InputCloser
{
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct OutputCloser
{
    void operator()(AVFormatContext* c) const { avformat_free_context(c); }
};
// Our own I/O context over a file descriptor; its buffer belongs to it.
struct IoCloser
{
    void operator()(AVIOContext* io) const
    {
        if (io)
            av_freep(&io->buffer);
        avio_context_free(&io);
    }
};
struct CodecCloser
{
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFreer
{
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFreer
{
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct GraphFreer
{
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct InOutFreer
{
    void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputCloser>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputCloser>;
using IoPtr = std::unique_ptr<AVIOContext, IoCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecCloser>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using GraphPtr = std::unique_ptr<AVFilterGraph, GraphFreer>;
using InOutPtr = std::unique_ptr<AVFilterInOut, InOutFreer>;

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

int check(int result, const std::string& what)
{
    if (result < 0)
        throw EncodeError(what + ": " + errorText(result));
    return result;
}

template <typename T> T* require(T* pointer, const std::string& what)
{
    if (!pointer)
        throw EncodeError(what + ": out of memory");
    return pointer;
}

// The output goes to a descriptor the caller owns (an unnamed file that appears only when the
// encode succeeds). The FLV muxer seeks back to fill in duration and size.
int writeToFd(void* opaque, uint8_t* data, int size)
{
    const int fd = *static_cast<int*>(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        data += n;
        left -= static_cast<int>(n);
    }
    return size;
}

int64_t seekFd(void* opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<int*>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat info
        {
        };
        return ::fstat(fd, &info) == 0 ? info.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

// One stream's way from the source to the output: decoder, filter graph, encoder.
struct StreamPipeline
{
    AVStream* in = nullptr;
    CodecPtr decoder;
    GraphPtr graph;
    AVFilterContext* source = nullptr;
    AVFilterContext* sink = nullptr;
    CodecPtr encoder;
    AVStream* out = nullptr;
    int64_t startPts = 0;
    int64_t nextPts = AV_NOPTS_VALUE; // where the next frame starts, for frames without time
    int64_t endPts = 0;               // where the latest frame ended, from the source's start
    uint64_t packets = 0, damaged = 0;
    bool decodedAny = false;

    bool isVideo() const { return in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO; }
};

CodecPtr openDecoder(AVStream* stream)
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw EncodeError(std::string("the source uses a ") +
                          (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") +
                          " format that cannot be decoded");
    CodecPtr decoder(require(avcodec_alloc_context3(codec), "decoder"));
    check(avcodec_parameters_to_context(decoder.get(), stream->codecpar), "decoder parameters");
    decoder->pkt_timebase = stream->time_base;
    decoder->thread_count = 0;
    check(avcodec_open2(decoder.get(), codec, nullptr), "cannot open the decoder");
    return decoder;
}

void buildGraph(StreamPipeline& p, const std::string& sourceArgs, const std::string& description)
{
    const bool video = p.isVideo();
    p.graph.reset(require(avfilter_graph_alloc(), "filter graph"));
    check(avfilter_graph_create_filter(&p.source,
                                       avfilter_get_by_name(video ? "buffer" : "abuffer"), "in",
                                       sourceArgs.c_str(), nullptr, p.graph.get()),
          "filter source");
    check(avfilter_graph_create_filter(&p.sink,
                                       avfilter_get_by_name(video ? "buffersink" : "abuffersink"),
                                       "out", nullptr, nullptr, p.graph.get()),
          "filter sink");
    InOutPtr outputs(require(avfilter_inout_alloc(), "filter"));
    InOutPtr inputs(require(avfilter_inout_alloc(), "filter"));
    outputs->name = av_strdup("in");
    outputs->filter_ctx = p.source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = p.sink;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const int parsed =
        avfilter_graph_parse_ptr(p.graph.get(), description.c_str(), &in, &out, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&out);
    check(parsed, "filter description");
    check(avfilter_graph_config(p.graph.get(), nullptr), "filter graph");
}

void openVideo(StreamPipeline& p, AVFormatContext* output, const EncoderOptions& o)
{
    const AVCodecContext* d = p.decoder.get();
    if (d->width <= 0 || d->height <= 0 || d->pix_fmt == AV_PIX_FMT_NONE)
        throw EncodeError("the source video has no picture size");
    const AVRational sar = d->sample_aspect_ratio.num ? d->sample_aspect_ratio : AVRational{1, 1};
    const std::string args = "video_size=" + std::to_string(d->width) + "x" +
                             std::to_string(d->height) + ":pix_fmt=" + std::to_string(d->pix_fmt) +
                             ":time_base=" + std::to_string(p.in->time_base.num) + "/" +
                             std::to_string(p.in->time_base.den) +
                             ":pixel_aspect=" + std::to_string(sar.num) + "/" +
                             std::to_string(sar.den);
    buildGraph(p, args, videoFilterDescription(o));

    const AVCodec* codec =
        require(avcodec_find_encoder(AV_CODEC_ID_FLV1), "Sorenson H.263 encoder");
    p.encoder.reset(require(avcodec_alloc_context3(codec), "video encoder"));
    AVCodecContext* e = p.encoder.get();
    e->width = o.width;
    e->height = o.height;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->time_base = {1, o.frameRate};
    e->framerate = {o.frameRate, 1};
    e->sample_aspect_ratio = {1, 1};
    e->bit_rate = int64_t(o.videoKbps) * 1000;
    e->gop_size = 12;
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(e, codec, nullptr), "cannot open the video encoder");
}

void openAudio(StreamPipeline& p, AVFormatContext* output, const EncoderOptions& o)
{
    AVCodecContext* d = p.decoder.get();
    if (d->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&d->ch_layout, d->ch_layout.nb_channels);
    char layout[128] = {};
    av_channel_layout_describe(&d->ch_layout, layout, sizeof layout);
    // Frames keep the stream's time base on their way into the graph.
    const std::string args =
        "time_base=" + std::to_string(p.in->time_base.num) + "/" +
        std::to_string(p.in->time_base.den) + ":sample_rate=" + std::to_string(d->sample_rate) +
        ":sample_fmt=" + av_get_sample_fmt_name(d->sample_fmt) + ":channel_layout=" + layout;
    const std::string description =
        "aresample=" + std::to_string(o.sampleRate) +
        ",aformat=sample_fmts=s16p:channel_layouts=" + (o.channels == 2 ? "stereo" : "mono");
    buildGraph(p, args, description);

    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec)
        throw EncodeError("the MP3 encoder (libmp3lame) is not available");
    p.encoder.reset(require(avcodec_alloc_context3(codec), "audio encoder"));
    AVCodecContext* e = p.encoder.get();
    e->sample_rate = o.sampleRate;
    av_channel_layout_default(&e->ch_layout, o.channels);
    e->sample_fmt = AV_SAMPLE_FMT_S16P;
    e->bit_rate = int64_t(o.audioKbps) * 1000;
    e->time_base = {1, o.sampleRate};
    if (output->oformat->flags & AVFMT_GLOBALHEADER)
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(e, codec, nullptr), "cannot open the audio encoder");
    av_buffersink_set_frame_size(p.sink, e->frame_size);
}

class Transcoder
{
public:
    Transcoder(const EncoderOptions& o, int outputFd, const std::atomic<bool>& cancel,
               const ProgressCallback& progress)
        : m_options(o), m_outputFd(outputFd), m_cancel(cancel), m_progress(progress)
    {}

    ~Transcoder()
    {
        for (auto* stage : {&m_videoFilterStage, &m_videoStage})
            stage->abort();
        m_audioStage.abort();
        m_videoFilterStage.stop();
        m_videoStage.stop();
        m_audioStage.stop();
    }
    Transcoder(const Transcoder&) = delete;
    Transcoder& operator=(const Transcoder&) = delete;

    void run()
    {
        openInput();
        openOutput();
        startStages();
        PacketPtr packet(require(av_packet_alloc(), "packet"));
        for (;;) {
            if (m_cancel)
                throw EncodeError("cancelled");
            const int read = av_read_frame(m_input.get(), packet.get());
            if (read == AVERROR_EOF)
                break;
            if (read < 0)
                throw EncodeError("the source could not be read to its end (" + errorText(read) +
                                  ")");
            StreamPipeline* p = pipelineFor(packet->stream_index);
            if (p == &m_video) {
                reportProgress(*p, packet.get());
                decode(*p, packet.get());
            } else if (p == &m_audio) {
                if (!m_video.in)
                    reportProgress(*p, packet.get());
                PacketPtr queued(require(av_packet_alloc(), "packet"));
                av_packet_move_ref(queued.get(), packet.get());
                m_audioStage.push(std::move(queued));
            }
            av_packet_unref(packet.get());
        }
        if (m_video.in)
            drainDecoder(m_video);
        m_videoStage.finish();
        m_audioStage.finish();
        if (!(m_video.in && m_video.decodedAny) && !(m_audio.in && m_audio.decodedAny))
            throw EncodeError("nothing in the source could be decoded: it is damaged or not a "
                              "video file");
        checkComplete();
        check(av_write_trailer(m_output.get()), "cannot finish the output file");
        avio_flush(m_io.get());
        if (m_io->error < 0)
            check(m_io->error, "cannot write the output file");
    }

private:
    // Four threads share the work: this one demuxes and decodes video; one filters video (the
    // de-interlacer and the scaler); one encodes video; one decodes, filters and encodes audio.
    void startStages()
    {
        if (m_video.in) {
            m_videoFilterStage.start([this](FramePtr frame) { filter(m_video, frame.get()); },
                                     [this] { closeFilter(m_video); });
            m_videoStage.start([this](FramePtr frame) { encode(m_video, frame.get()); },
                               [this] { encode(m_video, nullptr); });
        }
        if (m_audio.in)
            m_audioStage.start([this](PacketPtr packet) { decode(m_audio, packet.get()); },
                               [this] {
                                   drainDecoder(m_audio);
                                   encode(m_audio, nullptr);
                               });
    }

    void drainDecoder(StreamPipeline& p)
    {
        decode(p, nullptr);
        if (p.isVideo())
            m_videoFilterStage.finish();
        else
            closeFilter(p);
    }

    void closeFilter(StreamPipeline& p)
    {
        // Closing at the end of the last frame lets the frame-rate filter fill the last
        // frame's whole duration, so the output lasts as long as the source.
        check(av_buffersrc_close(p.source, p.endPts, AV_BUFFERSRC_FLAG_PUSH), "filter flush");
        pullFiltered(p);
    }

    void openInput()
    {
        AVFormatContext* input = nullptr;
        const int opened = avformat_open_input(&input, m_options.input.c_str(), nullptr, nullptr);
        if (opened < 0)
            throw EncodeError(opened == AVERROR(ENOENT)
                                  ? "the source file does not exist"
                                  : "the source is not a video file that can be read (" +
                                        errorText(opened) + ")");
        m_input.reset(input);
        check(avformat_find_stream_info(input, nullptr), "the source could not be analysed");
        m_total = input->duration > 0 ? input->duration / double(AV_TIME_BASE) : 0.0;

        const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0 && !(input->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            m_video.in = input->streams[video];
        if (!m_options.noAudio) {
            const int audio = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
            if (audio >= 0)
                m_audio.in = input->streams[audio];
        }
        if (!m_video.in && !m_audio.in)
            throw EncodeError(m_options.noAudio ? "the source holds no video"
                                                : "the source holds no video or audio");
        // Both streams start at the earliest start of the source, keeping them in sync.
        const int64_t start = input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
        for (auto* p : {&m_video, &m_audio}) {
            if (!p->in)
                continue;
            p->decoder = openDecoder(p->in);
            p->startPts = av_rescale_q(start, AV_TIME_BASE_Q, p->in->time_base);
        }
    }

    void openOutput()
    {
        AVFormatContext* output = nullptr;
        check(avformat_alloc_output_context2(&output, nullptr, "flv", nullptr),
              "cannot prepare the output");
        m_output.reset(output);
        if (m_video.in)
            openVideo(m_video, output, m_options);
        if (m_audio.in)
            openAudio(m_audio, output, m_options);
        for (auto* p : {&m_video, &m_audio}) {
            if (!p->in)
                continue;
            p->out = require(avformat_new_stream(output, nullptr), "output stream");
            check(avcodec_parameters_from_context(p->out->codecpar, p->encoder.get()), "stream");
            p->out->time_base = p->encoder->time_base;
        }
        constexpr int bufferSize = 1 << 16;
        auto* buffer = static_cast<unsigned char*>(require(av_malloc(bufferSize), "output"));
        m_io.reset(
            avio_alloc_context(buffer, bufferSize, 1, &m_outputFd, nullptr, writeToFd, seekFd));
        if (!m_io) {
            av_free(buffer);
            throw EncodeError("output: out of memory");
        }
        output->pb = m_io.get();
        output->flags |= AVFMT_FLAG_CUSTOM_IO;
        check(avformat_write_header(output, nullptr), "cannot write the output file");
    }

    StreamPipeline* pipelineFor(int index)
    {
        if (m_video.in && m_video.in->index == index)
            return &m_video;
        if (m_audio.in && m_audio.in->index == index)
            return &m_audio;
        return nullptr;
    }

    void reportProgress(const StreamPipeline& p, const AVPacket* packet)
    {
        if (!m_progress || packet->pts == AV_NOPTS_VALUE)
            return;
        const double done = (packet->pts - p.startPts) * av_q2d(p.in->time_base);
        m_progress(std::max(0.0, done), m_total);
    }

    void decode(StreamPipeline& p, const AVPacket* packet)
    {
        // A damaged packet is skipped, as players do; too many of them fail the encode.
        if (packet)
            ++p.packets;
        const int sent = avcodec_send_packet(p.decoder.get(), packet);
        if (sent < 0 && sent != AVERROR_EOF && sent != AVERROR(EAGAIN)) {
            ++p.damaged;
            return;
        }
        FramePtr frame(require(av_frame_alloc(), "frame"));
        for (;;) {
            const int got = avcodec_receive_frame(p.decoder.get(), frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return;
            if (got < 0) {
                ++p.damaged;
                return;
            }
            p.decodedAny = true;
            int64_t pts = frame->best_effort_timestamp;
            if (pts == AV_NOPTS_VALUE)
                pts = p.nextPts != AV_NOPTS_VALUE ? p.nextPts : p.startPts;
            p.nextPts = pts + frameDuration(p, frame.get());
            frame->pts = pts - p.startPts;
            p.endPts = std::max(p.endPts, p.nextPts - p.startPts);
            if (p.isVideo()) {
                m_videoFilterStage.push(std::move(frame));
                frame.reset(require(av_frame_alloc(), "frame"));
                continue;
            }
            filter(p, frame.get());
            av_frame_unref(frame.get());
        }
    }

    void filter(StreamPipeline& p, AVFrame* frame)
    {
        check(av_buffersrc_add_frame_flags(p.source, frame, AV_BUFFERSRC_FLAG_KEEP_REF), "filter");
        pullFiltered(p);
    }

    // How long a decoded frame lasts, in its stream's time base.
    static int64_t frameDuration(const StreamPipeline& p, const AVFrame* frame)
    {
        if (frame->pkt_duration > 0)
            return frame->pkt_duration;
        AVRational length{1, 25};
        if (!p.isVideo() && frame->sample_rate > 0)
            length = {frame->nb_samples, frame->sample_rate};
        else if (p.in->avg_frame_rate.num > 0 && p.in->avg_frame_rate.den > 0)
            length = av_inv_q(p.in->avg_frame_rate);
        return std::max<int64_t>(1, av_rescale_q(1, length, p.in->time_base));
    }

    // A source whose frames end well before the length it declares was cut off.
    void checkComplete() const
    {
        double decodedEnd = 0, declaredEnd = 0;
        for (const auto* p : {&m_video, &m_audio}) {
            if (!p->in || !p->decodedAny)
                continue;
            if (p->packets >= 20 && p->damaged * 4 > p->packets)
                throw EncodeError("the source is damaged: " + std::to_string(p->damaged) + " of " +
                                  std::to_string(p->packets) + " pieces could not be decoded");
            decodedEnd = std::max(decodedEnd, p->endPts * av_q2d(p->in->time_base));
            if (p->in->duration != AV_NOPTS_VALUE && p->in->duration > 0)
                declaredEnd = std::max(declaredEnd, p->in->duration * av_q2d(p->in->time_base));
            // A container that counts its frames up front (AVI, MP4) still says so when cut.
            if (p->isVideo() && p->in->nb_frames > 0 && p->in->avg_frame_rate.num > 0)
                declaredEnd =
                    std::max(declaredEnd, p->in->nb_frames / av_q2d(p->in->avg_frame_rate));
        }
        if (declaredEnd == 0)
            declaredEnd = m_total;
        if (declaredEnd > 1.0 && decodedEnd < declaredEnd * 0.9 - 0.5)
            throw EncodeError("the source ends early (" + std::to_string(int(decodedEnd)) + " of " +
                              std::to_string(int(declaredEnd)) +
                              " seconds): it is truncated or damaged");
    }

    void pullFiltered(StreamPipeline& p)
    {
        FramePtr frame(require(av_frame_alloc(), "frame"));
        for (;;) {
            const int got = av_buffersink_get_frame(p.sink, frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return;
            check(got, "filter");
            if (frame->pts != AV_NOPTS_VALUE)
                frame->pts = av_rescale_q(frame->pts, av_buffersink_get_time_base(p.sink),
                                          p.encoder->time_base);
            frame->pict_type = AV_PICTURE_TYPE_NONE;
            if (p.isVideo()) {
                m_videoStage.push(std::move(frame));
                frame.reset(require(av_frame_alloc(), "frame"));
                continue;
            }
            encode(p, frame.get());
            av_frame_unref(frame.get());
        }
    }

    void encode(StreamPipeline& p, const AVFrame* frame)
    {
        check(avcodec_send_frame(p.encoder.get(), frame), "encoder");
        PacketPtr packet(require(av_packet_alloc(), "packet"));
        for (;;) {
            const int got = avcodec_receive_packet(p.encoder.get(), packet.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return;
            check(got, "encoder");
            av_packet_rescale_ts(packet.get(), p.encoder->time_base, p.out->time_base);
            packet->stream_index = p.out->index;
            std::lock_guard lock(m_muxerMutex);
            check(av_interleaved_write_frame(m_output.get(), packet.get()),
                  "cannot write the output file");
        }
    }

    const EncoderOptions& m_options;
    int m_outputFd;
    const std::atomic<bool>& m_cancel;
    const ProgressCallback& m_progress;
    InputPtr m_input;
    IoPtr m_io; // outlives the muxer that writes through it
    OutputPtr m_output;
    StreamPipeline m_video, m_audio;
    double m_total = 0;

    std::mutex m_muxerMutex; // every stage writes packets
    // Declared last: they stop before anything they use is destroyed.
    PipelineStage<FramePtr> m_videoFilterStage{8};
    PipelineStage<FramePtr> m_videoStage{8};
    PipelineStage<PacketPtr> m_audioStage{64};
};

} // namespace

void transcode(const EncoderOptions& options, int outputFd, const std::atomic<bool>& cancel,
               const ProgressCallback& progress)
{
    // Our one line says what went wrong; the libraries' own diagnostics would bury it.
    av_log_set_level(AV_LOG_FATAL);
    Transcoder(options, outputFd, cancel, progress).run();
}

} // namespace quillora::encoder
