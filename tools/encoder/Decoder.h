#pragma once

#include "LibAv.h"

#include <cstdint>
#include <functional>

namespace quillora::encoder {

// libavcodec's rule for feeding a decoder one packet, apart from the decoder so that its control
// flow can be tested: `send()` offers the packet (avcodec_send_packet) and `receive()` takes one
// frame (avcodec_receive_frame) and passes it on. Returns how many packets or frames turned out
// damaged; a damaged packet is skipped, as players do.
template <typename Send, typename Receive>
[[nodiscard]] int decodePacket(Send send, Receive receive)
{
    // Every frame that is ready; how many there were and whether one was damaged.
    const auto takeReady = [&receive](int& taken) {
        for (;;) {
            const int got = receive();
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return 0;
            if (got < 0)
                return 1;
            ++taken;
        }
    };
    int damaged = 0;
    int sent = send();
    // Refused until the frames the decoder holds are taken: take them, then offer the packet
    // again. A decoder that gives nothing back would refuse it for ever; then it is lost.
    while (sent == AVERROR(EAGAIN)) {
        int taken = 0;
        damaged += takeReady(taken);
        if (taken == 0)
            return damaged + 1;
        sent = send();
    }
    if (sent < 0 && sent != AVERROR_EOF)
        return damaged + 1;
    int taken = 0;
    return damaged + takeReady(taken);
}

// What decoding one stream came to, for judging whether the source was complete.
struct DecodeSummary
{
    uint64_t packets = 0;
    uint64_t damaged = 0;
    bool decodedAny = false;
    double decodedEnd = 0;  // seconds from the source's start to the end of the last frame
    double declaredEnd = 0; // seconds the stream says it lasts (0 when it does not say)
};

// Decodes one stream. Its frames come out timed from the source's start, in the stream's time
// base, each with the time where it ends.
class Decoder
{
public:
    using FrameSink = std::function<void(FramePtr frame, int64_t end)>;

    // `sourceStart` in AV_TIME_BASE units.
    Decoder(const AVStream* stream, int64_t sourceStart);

    // One packet; null drains the decoder at the end of the stream.
    void send(const AVPacket* packet, const FrameSink& sink);

    const AVCodecContext* context() const { return m_context.get(); }
    AVRational timeBase() const { return m_stream->time_base; }
    DecodeSummary summary() const;

private:
    int64_t frameDuration(const AVFrame* frame) const;

    const AVStream* m_stream;
    CodecPtr m_context;
    int64_t m_start;
    int64_t m_next = AV_NOPTS_VALUE; // where the next frame starts, for frames without time
    int64_t m_end = 0;               // where the latest frame ended, from the source's start
    uint64_t m_packets = 0, m_damaged = 0;
    bool m_decodedAny = false;
};

} // namespace quillora::encoder
