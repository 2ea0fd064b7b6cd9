#pragma once

#include "LibAv.h"
#include "platform/Files.h"

#include <cstdint>
#include <memory>

namespace quillora::encoder {

// The FLV muxer, writing to an open file that the caller owns (one that appears only when the
// encode succeeds). It goes back at the end to fill in the duration and the size.
class Muxer
{
public:
    explicit Muxer(platform::FileHandle output);

    // Encoders must then put their stream headers in the codec's extradata.
    [[nodiscard]] bool wantsGlobalHeader() const;
    // A stream for an open encoder's packets; its index.
    [[nodiscard]] int addStream(const AVCodecContext* encoder);
    void writeHeader();
    // The stream's time base, which the muxer may choose while writing the header.
    AVRational timeBase(int stream) const { return m_context->streams[stream]->time_base; }

    void write(AVPacket* packet);
    void finish();

    // Where libav's writes go: the file, and how far into it they have come.
    struct Output
    {
        platform::FileHandle file;
        std::uint64_t position = 0;
    };

private:
    // Where libav finds it, however the muxer is moved.
    std::unique_ptr<Output> m_output;
    IoPtr m_io; // outlives the muxer that writes through it
    OutputPtr m_context;
};

} // namespace quillora::encoder
