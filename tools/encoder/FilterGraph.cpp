#include "FilterGraph.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
}

namespace quillora::encoder {

namespace {
std::string rational(AVRational r)
{
    return std::to_string(r.num) + "/" + std::to_string(r.den);
}

std::string videoSource(int width, int height, int format, AVRational timeBase, AVRational sar)
{
    if (sar.num <= 0 || sar.den <= 0)
        sar = {1, 1};
    return "video_size=" + std::to_string(width) + "x" + std::to_string(height) +
           ":pix_fmt=" + std::to_string(format) + ":time_base=" + rational(timeBase) +
           ":pixel_aspect=" + rational(sar);
}
} // namespace

FilterGraph FilterGraph::forVideo(const AVCodecContext* d, AVRational streamTimeBase,
                                  const std::string& description, AVRational outputTimeBase)
{
    if (d->width <= 0 || d->height <= 0 || d->pix_fmt == AV_PIX_FMT_NONE)
        throw EncodeError("the source video has no picture size");
    FilterGraph graph(
        "buffer", "buffersink",
        videoSource(d->width, d->height, d->pix_fmt, streamTimeBase, d->sample_aspect_ratio),
        description, outputTimeBase);
    graph.m_width = d->width;
    graph.m_height = d->height;
    graph.m_format = d->pix_fmt;
    graph.m_sourceTimeBase = streamTimeBase;
    return graph;
}

FilterGraph FilterGraph::forAudio(const AVCodecContext* d, AVRational streamTimeBase,
                                  const std::string& description, AVRational outputTimeBase)
{
    char layout[128] = {};
    av_channel_layout_describe(&d->ch_layout, layout, sizeof layout);
    // Frames keep the stream's time base on their way into the graph.
    const std::string arguments =
        "time_base=" + rational(streamTimeBase) + ":sample_rate=" + std::to_string(d->sample_rate) +
        ":sample_fmt=" + av_get_sample_fmt_name(d->sample_fmt) + ":channel_layout=" + layout;
    return FilterGraph("abuffer", "abuffersink", arguments, description, outputTimeBase);
}

FilterGraph::FilterGraph(const char* source, const char* sink, const std::string& sourceArguments,
                         const std::string& description, AVRational outputTimeBase)
    : m_sourceName(source), m_sinkName(sink), m_description(description),
      m_outputTimeBase(outputTimeBase)
{
    configure(sourceArguments);
}

void FilterGraph::configure(const std::string& sourceArguments)
{
    m_graph.reset(require(avfilter_graph_alloc(), "filter graph"));
    check(avfilter_graph_create_filter(&m_source, avfilter_get_by_name(m_sourceName), "in",
                                       sourceArguments.c_str(), nullptr, m_graph.get()),
          "filter source");
    check(avfilter_graph_create_filter(&m_sink, avfilter_get_by_name(m_sinkName), "out", nullptr,
                                       nullptr, m_graph.get()),
          "filter sink");
    InOutPtr outputs(require(avfilter_inout_alloc(), "filter"));
    InOutPtr inputs(require(avfilter_inout_alloc(), "filter"));
    // Without its name a pad is not linked, and the graph would fail later with a misleading
    // "Invalid argument".
    outputs->name = require(av_strdup("in"), "filter");
    outputs->filter_ctx = m_source;
    inputs->name = require(av_strdup("out"), "filter");
    inputs->filter_ctx = m_sink;
    AVFilterInOut* in = inputs.release();
    AVFilterInOut* out = outputs.release();
    const int parsed =
        avfilter_graph_parse_ptr(m_graph.get(), m_description.c_str(), &in, &out, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&out);
    check(parsed, "filter description");
    check(avfilter_graph_config(m_graph.get(), nullptr), "filter graph");
    if (m_frameSize > 0)
        av_buffersink_set_frame_size(m_sink, m_frameSize);
}

void FilterGraph::send(AVFrame* frame, int64_t end, const FrameSink& sink)
{
    if (m_format >= 0 &&
        (frame->width != m_width || frame->height != m_height || frame->format != m_format)) {
        // The picture changed size within the source. Not every filter follows such a change
        // (the de-interlacer reads past its buffers), so the pictures before it are finished
        // and a graph made for the new size takes the rest.
        if (frame->width <= 0 || frame->height <= 0 || frame->format < 0)
            throw EncodeError("the source video has no picture size");
        check(av_buffersrc_close(m_source, frame->pts, AV_BUFFERSRC_FLAG_PUSH), "filter flush");
        pull(sink);
        m_width = frame->width;
        m_height = frame->height;
        m_format = frame->format;
        configure(
            videoSource(m_width, m_height, m_format, m_sourceTimeBase, frame->sample_aspect_ratio));
    }
    // The stream ends where its last frame does: an earlier frame's length (a still that an
    // MP4 says lasts until the next picture) ends where the next frame starts, and counted at
    // the close it would fill the output with copies of the last frame past the source's end.
    m_end = end;
    if (frame->pts != AV_NOPTS_VALUE)
        m_latestSent = std::max(m_latestSent, frame->pts);
    check(av_buffersrc_add_frame_flags(m_source, frame, AV_BUFFERSRC_FLAG_KEEP_REF), "filter");
    pull(sink);
}

void FilterGraph::close(const FrameSink& sink)
{
    // Never before a frame already sent, where damaged timestamps went back.
    check(av_buffersrc_close(m_source, std::max(m_end, m_latestSent), AV_BUFFERSRC_FLAG_PUSH),
          "filter flush");
    pull(sink);
}

void FilterGraph::setFrameSize(int samples)
{
    m_frameSize = samples;
    av_buffersink_set_frame_size(m_sink, samples);
}

void FilterGraph::pull(const FrameSink& sink)
{
    for (;;) {
        FramePtr frame = newFrame();
        const int got = av_buffersink_get_frame(m_sink, frame.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        check(got, "filter");
        if (frame->pts != AV_NOPTS_VALUE) {
            frame->pts =
                av_rescale_q(frame->pts, av_buffersink_get_time_base(m_sink), m_outputTimeBase);
            // A new graph may start on the time where the last one ended.
            if (m_lastPts != AV_NOPTS_VALUE && frame->pts <= m_lastPts)
                continue;
            m_lastPts = frame->pts;
        }
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        sink(std::move(frame));
    }
}

} // namespace quillora::encoder
