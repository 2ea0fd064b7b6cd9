#pragma once

#include "EncoderOptions.h"
#include "LibAv.h"
#include "VideoRate.h"

#include <functional>

namespace quillora::encoder {

// The Sorenson H.263 encoder's rate control and quality settings for these options, on a
// context allocated for that codec and not yet opened.
void configureVideoEncoder(AVCodecContext* context, const EncoderOptions& options);

// One output stream's encoder: Sorenson H.263 video or MP3 audio, at the chosen settings.
class Encoder
{
public:
    using PacketSink = std::function<void(PacketPtr packet)>;

    static Encoder video(const EncoderOptions& options, bool globalHeader);
    // One of the encoders that take turns at groups of pictures (GroupEncoder). It keeps to
    // the chosen rate over its own pictures, counting on `bufferShare` of the player's buffer
    // and on that share holding `bufferHeld` bits at its first picture (0: half of it), and
    // makes a keyframe only where it is told to (a group's first picture, a new scene).
    static Encoder videoWorker(const EncoderOptions& options, bool globalHeader, double bufferShare,
                               double bufferHeld = 0);
    static Encoder audio(const EncoderOptions& options, bool globalHeader);

    // Where its packets go: the muxer's stream, in that stream's time base; `offset` (in the
    // encoder's time base) is added to their times. It may change between pictures.
    void setOutput(int streamIndex, AVRational timeBase, int64_t offset = 0);

    // One frame in the encoder's time base; null flushes the encoder at the end.
    void send(const AVFrame* frame, const PacketSink& sink);

    const AVCodecContext* context() const { return m_context.get(); }
    AVRational timeBase() const { return m_context->time_base; }
    // What came out so far: the bitrate and the quantizers.
    const VideoRate& rate() const { return m_rate; }

private:
    static Encoder openVideo(const EncoderOptions& options, bool globalHeader, double bufferShare,
                             double bufferHeld);
    explicit Encoder(CodecPtr context) : m_context(std::move(context)) {}

    CodecPtr m_context;
    int m_streamIndex = 0;
    AVRational m_outputTimeBase{1, 1000};
    int64_t m_offset = 0;
    VideoRate m_rate;
};

} // namespace quillora::encoder
