#pragma once

#include "LibAv.h"

namespace quillora::encoder {

// The FLV muxer, writing to an open, seekable file descriptor that the caller owns (an unnamed
// file that appears only when the encode succeeds). It seeks back at the end to fill in the
// duration and the size.
class Muxer
{
public:
    explicit Muxer(int outputFd);

    // Encoders must then put their stream headers in the codec's extradata.
    [[nodiscard]] bool wantsGlobalHeader() const;
    // A stream for an open encoder's packets; its index.
    [[nodiscard]] int addStream(const AVCodecContext* encoder);
    void writeHeader();
    // The stream's time base, which the muxer may choose while writing the header.
    AVRational timeBase(int stream) const { return m_context->streams[stream]->time_base; }

    void write(AVPacket* packet);
    void finish();

private:
    IoPtr m_io; // outlives the muxer that writes through it
    OutputPtr m_context;
};

} // namespace quillora::encoder
