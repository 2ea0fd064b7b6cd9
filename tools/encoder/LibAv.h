#pragma once

// RAII owners for every libav object, and the one place where a negative AVERROR becomes an
// exception. Borrowed pointers stay raw and are never freed.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include "Errors.h"

#include <memory>
#include <string>

namespace quillora::encoder {

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

std::string errorText(int code);

// Throws EncodeError("what: <libav's text>") for a negative result.
void check(int result, const std::string& what);

template <typename T> T* require(T* pointer, const std::string& what)
{
    if (!pointer)
        throw EncodeError(what + ": out of memory");
    return pointer;
}

// How long a stream says it lasts, in seconds (0 when it does not say).
double declaredLength(const AVStream* stream);

FramePtr newFrame();
PacketPtr newPacket();

} // namespace quillora::encoder
