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
} // namespace

FilterGraph FilterGraph::forVideo(const AVCodecContext* d, AVRational streamTimeBase,
                                  const std::string& description, AVRational outputTimeBase)
{
    if (d->width <= 0 || d->height <= 0 || d->pix_fmt == AV_PIX_FMT_NONE)
        throw EncodeError("the source video has no picture size");
    const AVRational sar = d->sample_aspect_ratio.num ? d->sample_aspect_ratio : AVRational{1, 1};
    const std::string arguments =
        "video_size=" + std::to_string(d->width) + "x" + std::to_string(d->height) +
        ":pix_fmt=" + std::to_string(d->pix_fmt) + ":time_base=" + rational(streamTimeBase) +
        ":pixel_aspect=" + rational(sar);
    return FilterGraph("buffer", "buffersink", arguments, description, outputTimeBase);
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
    : m_graph(require(avfilter_graph_alloc(), "filter graph")), m_outputTimeBase(outputTimeBase)
{
    check(avfilter_graph_create_filter(&m_source, avfilter_get_by_name(source), "in",
                                       sourceArguments.c_str(), nullptr, m_graph.get()),
          "filter source");
    check(avfilter_graph_create_filter(&m_sink, avfilter_get_by_name(sink), "out", nullptr, nullptr,
                                       m_graph.get()),
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
        avfilter_graph_parse_ptr(m_graph.get(), description.c_str(), &in, &out, nullptr);
    avfilter_inout_free(&in);
    avfilter_inout_free(&out);
    check(parsed, "filter description");
    check(avfilter_graph_config(m_graph.get(), nullptr), "filter graph");
}

void FilterGraph::send(AVFrame* frame, int64_t end, const FrameSink& sink)
{
    m_end = std::max(m_end, end);
    check(av_buffersrc_add_frame_flags(m_source, frame, AV_BUFFERSRC_FLAG_KEEP_REF), "filter");
    pull(sink);
}

void FilterGraph::close(const FrameSink& sink)
{
    check(av_buffersrc_close(m_source, m_end, AV_BUFFERSRC_FLAG_PUSH), "filter flush");
    pull(sink);
}

void FilterGraph::setFrameSize(int samples)
{
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
        if (frame->pts != AV_NOPTS_VALUE)
            frame->pts =
                av_rescale_q(frame->pts, av_buffersink_get_time_base(m_sink), m_outputTimeBase);
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        sink(std::move(frame));
    }
}

} // namespace quillora::encoder
