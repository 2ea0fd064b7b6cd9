#pragma once

#include "Errors.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillora::encoder {

struct EncoderOptions
{
    std::string input;
    std::string output;
    bool overwrite = false;
    int videoKbps = 468;
    int frameRate = 25;
    int width = 240;
    int height = 180;
    bool deinterlace = false;
    bool noAudio = false;
    int sampleRate = 22050;
    int audioKbps = 48;
    int channels = 1;
    // Video encoders working at once; 0: chosen for the processors the process may use.
    int threads = 0;
    bool help = false;
};

// Reads the option dialect the desktop program writes ("468kb/s", "22050Hz", "-ab 48" in
// kbit/s) and the plain forms, in any order. Throws UsageError naming the problem.
[[nodiscard]] EncoderOptions parseEncoderOptions(const std::vector<std::string>& arguments);

// The video filter description: de-interlace first, then scale and keep to the frame rate, in
// the order that scales fewer pictures for a source of `sourceFrameRate` pictures a second
// (0: not known).
std::string videoFilterDescription(const EncoderOptions& options, double sourceFrameRate = 0);

// The audio filter description: the chosen sampling rate and channels, in the sample format
// that the MP3 encoder takes.
std::string audioFilterDescription(const EncoderOptions& options);

} // namespace quillora::encoder
