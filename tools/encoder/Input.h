#pragma once

#include "LibAv.h"

#include <atomic>
#include <string>

namespace quillora::encoder {

// The source file, opened for reading its packets: the best video stream (a cover picture is
// no video) and, when wanted, the best audio stream.
class Input
{
public:
    Input(const std::string& path, bool wantAudio, const std::atomic<bool>& cancel);

    // Null where the source has no such stream.
    const AVStream* video() const { return m_video; }
    const AVStream* audio() const { return m_audio; }
    // Where the source starts, in AV_TIME_BASE units: both streams count from here, in sync.
    int64_t start() const;
    // Seconds the source declares (0 when it does not say).
    double duration() const;

    // The next packet of any stream; false at the end of the source.
    [[nodiscard]] bool read(AVPacket* packet);

private:
    void throwIfCancelled() const;

    InputPtr m_context;
    const std::atomic<bool>& m_cancel;
    const AVStream* m_video = nullptr;
    const AVStream* m_audio = nullptr;
};

} // namespace quillora::encoder
