#include "Decoder.h"

#include "Input.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace quillora::encoder {

Decoder::Decoder(const AVStream* stream, int64_t sourceStart)
    : m_stream(stream), m_start(av_rescale_q(sourceStart, AV_TIME_BASE_Q, stream->time_base))
{
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw EncodeError(std::string("the source uses a ") +
                          (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? "video" : "audio") +
                          " format that cannot be decoded");
    m_context.reset(require(avcodec_alloc_context3(codec), "decoder"));
    check(avcodec_parameters_to_context(m_context.get(), stream->codecpar), "decoder parameters");
    m_context->pkt_timebase = stream->time_base;
    m_context->thread_count = 0;
    // Every picture is decoded whole, whatever the shrink after it. Decoding MPEG-1/2/4 at a
    // reduced size (lowres) drifts: 0.8 to 4.5 dB lost after the shrink. Leaving out H.264's
    // loop filter on pictures nothing refers to cost up to 0.22 dB on screen content, for a
    // saving too small to measure. bench/quality.sh measured both.
    check(avcodec_open2(m_context.get(), codec, nullptr), "cannot open the decoder");
    // Sound whose channels have no names gets the usual layout for their number, in the
    // decoder as in the filter that follows, so that its frames and the filter agree.
    if (m_context->ch_layout.nb_channels > 0 &&
        m_context->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&m_context->ch_layout, m_context->ch_layout.nb_channels);
}

void Decoder::send(const AVPacket* packet, const FrameSink& sink)
{
    if (packet)
        ++m_packets;
    FramePtr frame = newFrame();
    m_damaged += decodePacket([&] { return avcodec_send_packet(m_context.get(), packet); },
                              [&] {
                                  const int got =
                                      avcodec_receive_frame(m_context.get(), frame.get());
                                  if (got < 0)
                                      return got;
                                  m_decodedAny = true;
                                  int64_t pts = frame->best_effort_timestamp;
                                  if (pts == AV_NOPTS_VALUE)
                                      pts = m_next != AV_NOPTS_VALUE ? m_next : m_start;
                                  m_next = pts + frameDuration(frame.get());
                                  frame->pts = pts - m_start;
                                  m_end = std::max(m_end, m_next - m_start);
                                  sink(std::move(frame), m_next - m_start);
                                  frame = newFrame();
                                  return got;
                              });
}

// How long a decoded frame lasts, in the stream's time base.
int64_t Decoder::frameDuration(const AVFrame* frame) const
{
    if (frame->pkt_duration > 0)
        return frame->pkt_duration;
    AVRational length{1, 25};
    if (frame->sample_rate > 0)
        length = {frame->nb_samples, frame->sample_rate};
    else if (m_stream->avg_frame_rate.num > 0 && m_stream->avg_frame_rate.den > 0)
        length = av_inv_q(m_stream->avg_frame_rate);
    return std::max<int64_t>(1, av_rescale_q(1, length, m_stream->time_base));
}

DecodeSummary Decoder::summary() const
{
    return {m_packets, m_damaged, m_decodedAny, m_end * av_q2d(m_stream->time_base),
            declaredLength(m_stream)};
}

} // namespace quillora::encoder
