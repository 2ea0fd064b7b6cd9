#pragma once

#include <cstdint>
#include <string>

namespace quillora::encoder {

// How the video's bitrate came out against the one chosen.
struct VideoRate
{
    int chosenKbps = 0;
    int frameRate = 25;
    int64_t bytes = 0;
    int64_t frames = 0;
    // The quantizers of the frames (1 finest, 31 coarsest), added up.
    double quantizers = 0;
    // With groups of pictures on several encoders: how many, and how many of them were encoded
    // a second time because the player's buffer held less at their start than their encoder
    // had counted on.
    int groups = 0;
    int groupsEncodedAgain = 0;

    [[nodiscard]] double reachedKbps() const
    {
        return frames ? double(bytes) * 8 / 1000 / (double(frames) / frameRate) : 0;
    }
    [[nodiscard]] double meanQuantizer() const { return frames ? quantizers / double(frames) : 0; }
};

// The line that tells the user the video missed the chosen rate by more than 5%, and why when
// the codec could do no better; empty when it kept to the rate, or there is no video.
std::string rateNotice(const VideoRate& rate);

} // namespace quillora::encoder
