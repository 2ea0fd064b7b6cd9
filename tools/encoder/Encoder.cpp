#include "Encoder.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
}

namespace quillora::encoder {

namespace {
void setOption(AVCodecContext* context, const char* name, int64_t value)
{
    check(av_opt_set_int(context->priv_data, name, value, 0),
          std::string("video encoder option ") + name);
}
} // namespace

void configureVideoEncoder(AVCodecContext* e, const EncoderOptions& o)
{
    const int64_t rate = int64_t(o.videoKbps) * 1000;
    e->bit_rate = rate;
    // FLV is streamed: a file that needs more than the chosen rate stalls on the connection it
    // was chosen for. So the stream fits a 2-second buffer filled at that rate, and a player
    // that holds one second before it starts never runs dry.
    e->rc_max_rate = rate;
    e->rc_buffer_size = int(2 * rate);
    e->rc_initial_buffer_occupancy = int(rate);
    // The file's average keeps to the chosen rate: libavcodec's default tolerance (4 Mbit)
    // corrects a drift only once it has grown that large, which lets a short file miss by
    // half. Half a second of the rate keeps it within a few per cent.
    e->bit_rate_tolerance = int(rate / 2);
    // An easy picture (a dark scene) spends what the rate allows on quality, down to the
    // finest quantizer; the rate is never padded.
    e->qmin = 1;
    e->qmax = 31;
    setOption(e, "lmin", 1 * FF_QP2LAMBDA);
    setOption(e, "lmax", 31 * FF_QP2LAMBDA);

    // A keyframe every 2 seconds: a player seeks to keyframes only, so this is how far a seek
    // may land from where it was aimed. The common choice for streamed video; 12 frames
    // (0.48 s) spent 0.7 dB of PSNR on seek precision nobody notices.
    e->gop_size = 2 * o.frameRate;
    // The quality effort, chosen by measurement against the encoder's time (bench/quality.sh;
    // the log is in the commit that set it). Four motion vectors per macroblock where that pays
    // (Sorenson H.263 allows them) cost nothing measurable. Rate-distortion optimal
    // quantization gains 0.35 dB at the same size but doubles the encoder's time: affordable
    // only where the encoder is not the pipeline's slowest stage, that is for pictures up to
    // 320x240, where decoding and scaling the source take longer. Macroblock decision by rate
    // and distortion, SATD comparisons, a larger diamond, more predictors and the zero vector
    // each bought under 0.1 dB for 10% to 60% more time, and are left out.
    e->flags |= AV_CODEC_FLAG_4MV;
    e->trellis = o.width * o.height <= 320 * 240 ? 1 : 0;
}

Encoder Encoder::video(const EncoderOptions& o, bool globalHeader)
{
    return openVideo(o, globalHeader, 0, 0);
}

Encoder Encoder::videoWorker(const EncoderOptions& o, bool globalHeader, double bufferShare,
                             double bufferHeld)
{
    return openVideo(o, globalHeader, bufferShare, bufferHeld);
}

Encoder Encoder::openVideo(const EncoderOptions& o, bool globalHeader, double bufferShare,
                           double bufferHeld)
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
    configureVideoEncoder(e, o);
    if (bufferShare > 0) {
        // Its keyframes are the groups' first pictures and the scenes' starts, which it is told.
        e->gop_size = 600;
        e->rc_buffer_size = int(e->rc_buffer_size * bufferShare);
        e->rc_initial_buffer_occupancy =
            bufferHeld > 0 ? int(std::clamp(bufferHeld, 1.0, double(e->rc_buffer_size)))
                           : e->rc_buffer_size / 2;
    }
    if (globalHeader)
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(e, codec, nullptr), "cannot open the video encoder");
    Encoder encoder(std::move(context));
    encoder.m_rate.chosenKbps = o.videoKbps;
    encoder.m_rate.frameRate = o.frameRate;
    return encoder;
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

void Encoder::setOutput(int streamIndex, AVRational timeBase, int64_t offset)
{
    m_streamIndex = streamIndex;
    m_outputTimeBase = timeBase;
    m_offset = offset;
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
        m_rate.bytes += packet->size;
        ++m_rate.frames;
        size_t size = 0;
        if (const uint8_t* stats =
                av_packet_get_side_data(packet.get(), AV_PKT_DATA_QUALITY_STATS, &size);
            stats && size >= 4)
            m_rate.quantizers += double(AV_RL32(stats)) / FF_QP2LAMBDA;
        if (m_offset) {
            packet->pts += m_offset;
            packet->dts += m_offset;
        }
        av_packet_rescale_ts(packet.get(), m_context->time_base, m_outputTimeBase);
        packet->stream_index = m_streamIndex;
        sink(std::move(packet));
    }
}

} // namespace quillora::encoder
