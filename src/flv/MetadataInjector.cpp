#include "flv/MetadataInjector.h"

#include "flv/Bytes.h"
#include "flv/SafeOutput.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillora::flv {

namespace {

using Properties = AmfProperties;

double seconds(std::uint32_t milliseconds)
{
    return milliseconds / 1000.0;
}

// Data rates as the common checker (flvmeta) computes them, so that the two agree: tag bodies
// less one codec byte a tag, in 1024 bits per second, over the last tag's time plus the last
// frame interval of the audio (or, without audio, the video).
double checkerRate(std::uint64_t bodyBytes, std::uint64_t tags, const FlvScan& scan)
{
    const bool audio = scan.audioTags > 0;
    const std::uint32_t last = audio ? scan.lastAudioTagTimestamp : scan.lastVideoTagTimestamp;
    const std::uint32_t previous =
        audio ? scan.previousAudioTagTimestamp : scan.previousVideoTagTimestamp;
    const double interval = last > previous ? seconds(last - previous) : 0.0;
    const double duration = seconds(scan.lastTagTimestamp) + interval;
    const std::uint64_t payload = bodyBytes > tags ? bodyBytes - tags : 0;
    return duration > 0 ? payload * 8.0 / 1024.0 / duration : 0.0;
}

// The end of a stream: its last timestamp plus one average frame interval.
double streamEnd(std::uint64_t tags, std::uint32_t first, std::uint32_t last)
{
    const double interval = tags > 1 ? (last - first) / 1000.0 / double(tags - 1) : 0.0;
    return seconds(last) + interval;
}

class File
{
public:
    explicit File(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (m_fd < 0)
            throw std::system_error(errno, std::generic_category(), "cannot open " + path);
        if (::fstat(m_fd, &m_info) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot read " + path);
        if (!S_ISREG(m_info.st_mode))
            throw std::system_error(EINVAL, std::generic_category(), path + " is not a file");
    }
    ~File() { ::close(m_fd); }
    int fd() const { return m_fd; }
    const struct stat& info() const { return m_info; }

private:
    int m_fd;
    struct stat m_info
    {
    };
};

// Where to write: the real path of the input when the output names the same file, however
// spelled, so that a link to the input stays a link.
std::string resolveTarget(const std::string& output, const struct stat& inputInfo,
                          const std::string& input)
{
    struct stat outputInfo
    {
    };
    if (::stat(output.c_str(), &outputInfo) == 0 && outputInfo.st_dev == inputInfo.st_dev &&
        outputInfo.st_ino == inputInfo.st_ino) {
        char* real = ::realpath(input.c_str(), nullptr);
        if (!real)
            throw std::system_error(errno, std::generic_category(), "cannot resolve " + input);
        std::string result = real;
        std::free(real);
        return result;
    }
    return output;
}

mode_t targetMode(const std::string& target, const struct stat& inputInfo)
{
    struct stat info
    {
    };
    if (::stat(target.c_str(), &info) == 0)
        return info.st_mode;
    return inputInfo.st_mode;
}

} // namespace

AmfValue buildMetadata(const FlvScan& scan, std::uint64_t metadataTagBytes, double nowMilliseconds,
                       const std::string& creator)
{
    const bool hasVideo = scan.videoTags > 0;
    const bool hasAudio = scan.audioTags > 0;
    const std::uint64_t firstTagAt = headerSize + previousTagSizeBytes + metadataTagBytes;
    const std::uint64_t fileSize = firstTagAt + scan.keptBytes;

    double frameRate = 0;
    if (hasVideo && scan.videoTags > 1 && scan.lastVideoTimestamp > scan.firstVideoTimestamp)
        frameRate =
            (scan.videoTags - 1) * 1000.0 / (scan.lastVideoTimestamp - scan.firstVideoTimestamp);
    // The file plays until its last frame, video or audio, has ended.
    double duration = seconds(scan.lastTimestamp);
    if (hasVideo)
        duration = std::max(
            duration, streamEnd(scan.videoTags, scan.firstVideoTimestamp, scan.lastVideoTimestamp));
    if (hasAudio)
        duration = std::max(
            duration, streamEnd(scan.audioTags, scan.firstAudioTimestamp, scan.lastAudioTimestamp));

    Properties p;
    p.emplace_back("hasMetadata", AmfValue::makeBoolean(true));
    p.emplace_back("hasVideo", AmfValue::makeBoolean(hasVideo));
    p.emplace_back("hasAudio", AmfValue::makeBoolean(hasAudio));
    p.emplace_back("duration", AmfValue::makeNumber(duration));
    p.emplace_back("lasttimestamp", AmfValue::makeNumber(seconds(scan.lastTimestamp)));
    if (hasVideo) {
        if (!scan.keyframes.empty()) {
            p.emplace_back("lastkeyframetimestamp",
                           AmfValue::makeNumber(scan.keyframes.back().seconds));
            p.emplace_back(
                "lastkeyframelocation",
                AmfValue::makeNumber(double(firstTagAt + scan.keyframes.back().keptOffset)));
        }
        if (scan.dimensions) {
            p.emplace_back("width", AmfValue::makeNumber(scan.dimensions->width));
            p.emplace_back("height", AmfValue::makeNumber(scan.dimensions->height));
        }
        if (frameRate > 0)
            p.emplace_back("framerate", AmfValue::makeNumber(std::round(frameRate * 1000) / 1000));
        p.emplace_back("videodatarate",
                       AmfValue::makeNumber(checkerRate(scan.videoBytes, scan.videoTags, scan)));
        p.emplace_back("videocodecid", AmfValue::makeNumber(scan.videoCodec));
        p.emplace_back("videosize", AmfValue::makeNumber(double(scan.videoTagBytes)));
    }
    if (hasAudio) {
        static constexpr double rates[] = {5500, 11025, 22050, 44100};
        // AAC always says 44 kHz in the tag; the real rate is in its own configuration.
        p.emplace_back("audiodatarate",
                       AmfValue::makeNumber(checkerRate(scan.audioBytes, scan.audioTags, scan)));
        p.emplace_back("audiocodecid", AmfValue::makeNumber(scan.audioCodec));
        p.emplace_back("audiosamplerate", AmfValue::makeNumber(rates[scan.audioRateCode]));
        p.emplace_back("audiosamplesize", AmfValue::makeNumber(scan.audio16Bit ? 16 : 8));
        p.emplace_back("stereo", AmfValue::makeBoolean(scan.stereo));
        p.emplace_back("audiosize", AmfValue::makeNumber(double(scan.audioTagBytes)));
        if (hasVideo) {
            const double delay = scan.firstAudioTimestamp > scan.firstVideoTimestamp
                                     ? seconds(scan.firstAudioTimestamp - scan.firstVideoTimestamp)
                                     : 0.0;
            p.emplace_back("audiodelay", AmfValue::makeNumber(delay));
        }
    }
    p.emplace_back("filesize", AmfValue::makeNumber(double(fileSize)));
    // Script data counts our own onMetaData tag too.
    const std::uint64_t ownTag = metadataTagBytes ? metadataTagBytes - previousTagSizeBytes : 0;
    p.emplace_back("datasize", AmfValue::makeNumber(double(scan.dataTagBytes + ownTag)));
    p.emplace_back("hasKeyframes", AmfValue::makeBoolean(!scan.keyframes.empty()));
    p.emplace_back("hasCuePoints", AmfValue::makeBoolean(!scan.cuePoints.empty()));
    p.emplace_back("canSeekToEnd", AmfValue::makeBoolean(hasVideo && scan.lastVideoIsKeyframe));
    p.emplace_back("cuePoints", AmfValue::makeStrictArray(scan.cuePoints));
    if (hasVideo) {
        std::vector<AmfValue> times, positions;
        times.reserve(scan.keyframes.size());
        positions.reserve(scan.keyframes.size());
        for (const Keyframe& k : scan.keyframes) {
            times.push_back(AmfValue::makeNumber(k.seconds));
            positions.push_back(AmfValue::makeNumber(double(firstTagAt + k.keptOffset)));
        }
        p.emplace_back("keyframes",
                       AmfValue::makeObject(
                           {{"times", AmfValue::makeStrictArray(std::move(times))},
                            {"filepositions", AmfValue::makeStrictArray(std::move(positions))}}));
    }
    p.emplace_back("metadatacreator", AmfValue::makeString(creator));
    p.emplace_back("metadatadate", AmfValue::makeDate(nowMilliseconds));
    return AmfValue::makeEcmaArray(std::move(p));
}

std::string renderMetadataTag(const AmfValue& metadata)
{
    std::string body;
    renderAmf(AmfValue::makeString("onMetaData"), body);
    renderAmf(metadata, body);
    if (body.size() > 0xffffff)
        throw std::system_error(EFBIG, std::generic_category(), "metadata too large for a tag");
    std::string tag;
    appendUInt8(tag, ScriptTag);
    appendUInt24BE(tag, static_cast<std::uint32_t>(body.size()));
    appendUInt32BE(tag, 0); // timestamp 0, extension 0
    appendUInt24BE(tag, 0); // stream id
    tag += body;
    appendUInt32BE(tag, static_cast<std::uint32_t>(tagHeaderSize + body.size()));
    return tag;
}

void injectMetadata(const std::string& input, const std::string& output, double nowMilliseconds,
                    const std::string& creator)
{
    const File in(input);
    const FlvScan scan = scanFlv(in.fd(), static_cast<std::uint64_t>(in.info().st_size));

    // Every number is eight bytes, so the tag's size does not depend on the values in it.
    const std::uint64_t tagBytes =
        renderMetadataTag(buildMetadata(scan, 0, nowMilliseconds, creator)).size();
    const std::string tag =
        renderMetadataTag(buildMetadata(scan, tagBytes, nowMilliseconds, creator));

    std::string header = "FLV";
    appendUInt8(header, 1);
    appendUInt8(header, (scan.audioTags ? 0x04 : 0) | (scan.videoTags ? 0x01 : 0));
    appendUInt32BE(header, headerSize);
    appendUInt32BE(header, 0); // PreviousTagSize0

    const std::string target = resolveTarget(output, in.info(), input);
    SafeOutput out(target, targetMode(target, in.info()));
    out.write(header.data(), header.size());
    out.write(tag.data(), tag.size());
    for (const ByteRange& range : scan.kept)
        out.copyFrom(in.fd(), range.begin, range.end - range.begin);
    out.commit();
}

std::optional<AmfValue> readMetadata(const std::string& path)
{
    const File in(path);
    return scanFlv(in.fd(), static_cast<std::uint64_t>(in.info().st_size)).oldMetadata;
}

} // namespace quillora::flv
