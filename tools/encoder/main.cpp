// ffmpeg: Quillora's FLV encoder. Encodes one source into Sorenson H.263 + MP3 FLV; the output
// appears complete or not at all, and the source is never overwritten.
#include "EncodeCommand.h"
#include "EncoderOptions.h"
#include "Errors.h"
#include "platform/Session.h"

#include <iostream>

using namespace quillora::encoder;

namespace {

const char* usage =
    "Usage: ffmpeg -i SOURCE [-y] -b Nkb/s -r RATE -s WxH [-deinterlace]\n"
    "              (-an | -ar NHz -ab KBITS -ac 1|2) [-threads N] OUTPUT.flv\n"
    "Encodes SOURCE into a Flash Video file: Sorenson H.263 video at N kbit/s, RATE frames per\n"
    "second and exactly WxH pixels; MP3 audio at N Hz, KBITS kbit/s and 1 or 2 channels, or no\n"
    "audio with -an. -y replaces an existing OUTPUT without asking. -threads sets how many\n"
    "video encoders work at once (default: one on two processors or fewer, else one per\n"
    "processor up to four).\n"
    "Exit codes: 0 success, 1 the encode failed, 2 wrong command line, 3 not allowed to replace.\n";

void encode(int argc, char** argv)
{
    const EncoderOptions options =
        parseEncoderOptions(quillora::platform::commandLineArguments(argc, argv));
    if (options.help) {
        std::cout << usage;
        return;
    }
    EncodeCommand(options, argc, argv).run();
}

} // namespace

int main(int argc, char** argv)
{
    try {
        encode(argc, argv);
        return Done;
    } catch (...) {
        // The one place where a failure becomes its line and its exit code.
        const Outcome outcome = outcomeOf(std::current_exception());
        std::cerr << "ffmpeg: " << outcome.message << "\n";
        if (outcome.wrongCommandLine)
            std::cerr << usage;
        return outcome.exitCode;
    }
}
