#include "Encoder.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace quillora::encoder {

Encoder Encoder::video(const EncoderOptions& o, bool globalHeader)
{
    const AVCodec* codec =
        require(avcodec_find_encoder(AV_CODEC_ID_FLV1), "Sorenson H.263 encoder");
    CodecPtr context(require(avcodec_alloc_context3(codec), "video encoder"));
    AVCodecContext* e = context.get();
    e->width = o.width;
    e->height = o.height;
    e->pix_fmt = AV_PIX_FMT_YUV420P;
    e->time_base = {1, o.frameRate};
    e->framerate = {o.frameRate, 1};
    e->sample_aspect_ratio = {1, 1};
    e->bit_rate = int64_t(o.videoKbps) * 1000;
    e->gop_size = 12;
    if (globalHeader)
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(e, codec, nullptr), "cannot open the video encoder");
    return Encoder(std::move(context));
}

Encoder Encoder::audio(const EncoderOptions& o, bool globalHeader)
{
    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec)
        throw EncodeError("the MP3 encoder (libmp3lame) is not available");
    CodecPtr context(require(avcodec_alloc_context3(codec), "audio encoder"));
    AVCodecContext* e = context.get();
    e->sample_rate = o.sampleRate;
    av_channel_layout_default(&e->ch_layout, o.channels);
    e->sample_fmt = AV_SAMPLE_FMT_S16P;
    e->bit_rate = int64_t(o.audioKbps) * 1000;
    e->time_base = {1, o.sampleRate};
    if (globalHeader)
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(e, codec, nullptr), "cannot open the audio encoder");
    return Encoder(std::move(context));
}

void Encoder::setOutput(int streamIndex, AVRational timeBase)
{
    m_streamIndex = streamIndex;
    m_outputTimeBase = timeBase;
}

void Encoder::send(const AVFrame* frame, const PacketSink& sink)
{
    check(avcodec_send_frame(m_context.get(), frame), "encoder");
    for (;;) {
        PacketPtr packet = newPacket();
        const int got = avcodec_receive_packet(m_context.get(), packet.get());
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
            return;
        check(got, "encoder");
        av_packet_rescale_ts(packet.get(), m_context->time_base, m_outputTimeBase);
        packet->stream_index = m_streamIndex;
        sink(std::move(packet));
    }
}

} // namespace quillora::encoder
