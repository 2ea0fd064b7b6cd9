#include "flv/MetadataInjector.h"

#include "flv/Bytes.h"
#include "flv/CopyPlan.h"
#include "platform/Files.h"
#include "platform/SafeOutput.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <thread>

namespace quillora::flv {

namespace {

using Properties = AmfProperties;

double seconds(std::uint32_t milliseconds)
{
    return milliseconds / 1000.0;
}

// Data rates as the common checker (flvmeta) computes them, so that the two agree: a stream's
// tag bodies less one codec byte a tag, in 1024 bits per second, over the last tag's time plus
// the last frame interval of the audio (or, without audio, the video).
double checkerRate(const StreamStats& stream, const FlvScan& scan)
{
    const StreamStats& clock = scan.audio.tags > 0 ? scan.audio : scan.video;
    const double duration = seconds(scan.file.latest) + clock.lastInterval();
    const std::uint64_t payload =
        stream.bodyBytes > stream.tags ? stream.bodyBytes - stream.tags : 0;
    return duration > 0 ? payload * 8.0 / 1024.0 / duration : 0.0;
}

using platform::InputFile;

void readExactly(const InputFile& in, std::uint8_t* buffer, std::size_t length,
                 std::uint64_t offset)
{
    const std::size_t got = in.readAt(offset, buffer, length);
    if (got != length)
        throw FormatError(offset + got, "file ends early");
}

// The length of the first "times" array in a keyframe index, which `offset` is moved past.
std::uint64_t keyframeCount(std::span<const std::uint8_t> data, std::size_t& offset)
{
    std::uint64_t count = 0;
    bool found = false;
    const bool object = readAmfProperties(data, offset, [&](std::string_view key, std::size_t& at) {
        if (!found && key == "times") {
            found = true;
            if (data.size() - at >= 5 && data[at] == std::uint8_t(AmfType::StrictArray))
                count = toUInt32BE(&data[at + 1]);
        }
        skipAmf(data, at);
    });
    if (!object)
        skipAmf(data, offset);
    return count;
}

} // namespace

MetadataTag::MetadataTag(const FlvScan& scan, double nowMilliseconds, std::string creator)
    : m_scan(scan), m_now(nowMilliseconds), m_creator(std::move(creator))
{
    if (scan.indexTooLarge)
        throw RenderError("the keyframe index and cue points do not fit in one onMetaData tag");
    // Every number is eight bytes, so the tag's size does not depend on the values in it.
    std::uint64_t size = 0;
    render(0, [&](std::string_view piece) { size += piece.size(); });
    if (size - tagHeaderSize - previousTagSizeBytes > maxTagDataSize)
        throw RenderError("onMetaData of " + std::to_string(size) +
                          " bytes does not fit in one tag");
    m_size = size;
}

std::uint64_t MetadataTag::paddingRoom() const
{
    return maxTagDataSize - (m_size - tagHeaderSize - previousTagSizeBytes);
}

void MetadataTag::pad(std::uint64_t bytes)
{
    if (bytes > paddingRoom())
        throw RenderError("onMetaData has no room for " + std::to_string(bytes) +
                          " bytes of padding");
    if (bytes != 0 && bytes < minimumPadding)
        throw RenderError("padding of " + std::to_string(bytes) + " bytes is too short");
    m_padding = bytes;
}

AmfProperties MetadataTag::scalars(std::uint64_t ownSize) const
{
    const FlvScan& scan = m_scan;
    const bool hasVideo = scan.video.tags > 0;
    const bool hasAudio = scan.audio.tags > 0;
    const std::uint64_t firstTagAt = headerSize + previousTagSizeBytes + ownSize;
    const std::uint64_t fileSize = firstTagAt + scan.keptBytes;

    const double frameRate = scan.video.frameRate();
    // The file plays until its last frame, video or audio, has ended.
    double duration = seconds(scan.file.last);
    if (hasVideo)
        duration = std::max(duration, scan.video.end());
    if (hasAudio)
        duration = std::max(duration, scan.audio.end());

    Properties p;
    p.emplace_back("hasMetadata", AmfValue::makeBoolean(true));
    p.emplace_back("hasVideo", AmfValue::makeBoolean(hasVideo));
    p.emplace_back("hasAudio", AmfValue::makeBoolean(hasAudio));
    p.emplace_back("duration", AmfValue::makeNumber(duration));
    p.emplace_back("lasttimestamp", AmfValue::makeNumber(seconds(scan.file.last)));
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
        p.emplace_back("videodatarate", AmfValue::makeNumber(checkerRate(scan.video, scan)));
        p.emplace_back("videocodecid", AmfValue::makeNumber(scan.videoCodec));
        p.emplace_back("videosize", AmfValue::makeNumber(double(scan.video.tagBytes)));
    }
    if (hasAudio) {
        static constexpr double rates[] = {5500, 11025, 22050, 44100};
        // AAC always says 44 kHz in the tag; the real rate is in its own configuration.
        p.emplace_back("audiodatarate", AmfValue::makeNumber(checkerRate(scan.audio, scan)));
        p.emplace_back("audiocodecid", AmfValue::makeNumber(scan.audioCodec));
        p.emplace_back("audiosamplerate", AmfValue::makeNumber(rates[scan.audioRateCode]));
        p.emplace_back("audiosamplesize", AmfValue::makeNumber(scan.audio16Bit ? 16 : 8));
        p.emplace_back("stereo", AmfValue::makeBoolean(scan.stereo));
        p.emplace_back("audiosize", AmfValue::makeNumber(double(scan.audio.tagBytes)));
        if (hasVideo) {
            const double delay = scan.audio.first > scan.video.first
                                     ? seconds(scan.audio.first - scan.video.first)
                                     : 0.0;
            p.emplace_back("audiodelay", AmfValue::makeNumber(delay));
        }
    }
    p.emplace_back("filesize", AmfValue::makeNumber(double(fileSize)));
    // Script data counts our own onMetaData tag too.
    const std::uint64_t ownTag = ownSize ? ownSize - previousTagSizeBytes : 0;
    p.emplace_back("datasize", AmfValue::makeNumber(double(scan.dataTagBytes + ownTag)));
    p.emplace_back("hasKeyframes", AmfValue::makeBoolean(!scan.keyframes.empty()));
    p.emplace_back("hasCuePoints", AmfValue::makeBoolean(scan.cuePoints.count() > 0));
    p.emplace_back("canSeekToEnd", AmfValue::makeBoolean(hasVideo && scan.lastVideoIsKeyframe));
    return p;
}

void MetadataTag::render(std::uint64_t ownSize,
                         const std::function<void(std::string_view)>& write) const
{
    constexpr std::size_t pieceSize = 64u << 10;
    const bool hasVideo = m_scan.video.tags > 0;
    const std::uint64_t firstTagAt = headerSize + previousTagSizeBytes + ownSize;
    std::string piece;
    const auto flush = [&](std::size_t atLeast) {
        if (piece.size() >= atLeast) {
            write(piece);
            piece.clear();
        }
    };
    AmfWriter amf(piece);

    const std::uint64_t bodySize = ownSize ? ownSize - tagHeaderSize - previousTagSizeBytes : 0;
    TagHeader{ScriptTag, static_cast<std::uint32_t>(bodySize)}.render(piece);

    amf.string("onMetaData");
    const AmfProperties head = scalars(ownSize);
    // The named values, the cue points, the keyframe index, then who wrote it and when.
    amf.beginEcmaArray(head.size() + 1 + (hasVideo ? 1 : 0) + 2 + (m_padding ? 1 : 0));
    for (const auto& [key, value] : head) {
        amf.key(key);
        amf.value(value);
    }
    amf.key("cuePoints");
    amf.beginStrictArray(m_scan.cuePoints.count());
    flush(0);
    for (const std::string& encoded : m_scan.cuePoints.pieces())
        write(encoded);
    if (hasVideo) {
        const auto& keyframes = m_scan.keyframes;
        amf.key("keyframes");
        amf.beginObject();
        amf.key("times");
        amf.beginStrictArray(keyframes.size());
        for (const Keyframe& k : keyframes) {
            amf.number(k.seconds);
            flush(pieceSize);
        }
        amf.key("filepositions");
        amf.beginStrictArray(keyframes.size());
        for (const Keyframe& k : keyframes) {
            amf.number(double(firstTagAt + k.keptOffset));
            flush(pieceSize);
        }
        amf.endObject();
    }
    amf.key("metadatacreator");
    amf.string(m_creator);
    amf.key("metadatadate");
    amf.date(m_now, 0);
    if (m_padding)
        padding(amf);
    amf.endObject();
    appendUInt32BE(piece, static_cast<std::uint32_t>(tagHeaderSize + bodySize));
    flush(0);
}

// A strict array of short strings of spaces: readers skip it without a word, as they skip any
// array at the top of the metadata, and keep none of it (libavformat reads strings of up to 255
// bytes there without complaint, and so does every checker).
void MetadataTag::padding(AmfWriter& amf) const
{
    constexpr std::uint64_t longest = 255;
    constexpr std::uint64_t stringOverhead = 3; // marker and 16-bit length
    amf.key("padding");
    // Bytes left for the strings, after the key and the array's marker and count.
    const std::uint64_t strings = m_padding - (minimumPadding - stringOverhead);
    const std::uint64_t count =
        (strings + longest + stringOverhead - 1) / (longest + stringOverhead);
    const std::uint64_t text = strings - count * stringOverhead;
    amf.beginStrictArray(count);
    for (std::uint64_t i = 0; i < count; ++i)
        amf.string(std::string(text / count + (i < text % count ? 1 : 0), ' '));
}

void MetadataTag::render(const std::function<void(std::string_view)>& write) const
{
    render(size(), write);
}

std::string MetadataTag::render() const
{
    std::string tag;
    tag.reserve(m_size);
    render([&](std::string_view piece) { tag += piece; });
    return tag;
}

void injectMetadata(const std::string& input, const std::string& output, double nowMilliseconds,
                    const std::string& creator, Layout layout)
{
    const InputFile in(input);
    const FlvScan scan = scanFlv(in);
    MetadataTag tag(scan, nowMilliseconds, creator);
    // Through any symbolic link, so that a link stays a link; a hard link to the input is a
    // name of its own, and gets the new file.
    const std::string target = platform::resolveTarget(output);
    platform::SafeOutput out(target, in.permissions());

    // Little enough padding that players never notice it, whatever a filesystem's blocks.
    constexpr std::uint64_t mostPadding = (64u << 10) + MetadataTag::minimumPadding;
    const auto plan = [&](std::uint64_t blockSize) {
        return planCopy(scan.kept, headerSize + previousTagSizeBytes + tag.size(), blockSize,
                        {MetadataTag::minimumPadding, std::min(tag.paddingRoom(), mostPadding)});
    };
    CopyPlan copy = plan(layout.blockSize ? layout.blockSize : out.blockSize());
    // The blocks are shared first: where the filesystem refuses, nothing else has been written
    // yet, and the file is laid out as if it had never been asked.
    for (CopyStep& step : copy.steps) {
        if (step.kind != CopyStep::Kind::Clone ||
            out.cloneFrom(in, step.from, step.length, step.to))
            continue;
        out.discard();
        if (layout.blockSize) {
            for (CopyStep& s : copy.steps)
                s.kind = CopyStep::Kind::Copy;
        } else {
            copy = plan(0);
        }
        break;
    }
    tag.pad(copy.padding);

    std::string header;
    FlvHeader{scan.audio.tags > 0, scan.video.tags > 0}.render(header);
    appendUInt32BE(header, 0); // PreviousTagSize0
    out.writeAt(0, header.data(), header.size());
    std::uint64_t at = header.size();
    tag.render([&](std::string_view piece) {
        out.writeAt(at, piece.data(), piece.size());
        at += piece.size();
    });
    for (const CopyStep& step : copy.steps)
        if (step.kind == CopyStep::Kind::Copy)
            out.copyFrom(in, step.from, step.length, step.to);
    // In place, the old file goes when the new one replaces it, and the process then waits
    // while its cached pages are dropped; dropping them during the flush overlaps that with the
    // wait for the disk. Where no thread can be had, they are dropped at the end as ever.
    std::optional<std::thread> drop;
    const auto existing = platform::statusOf(target);
    if (existing && existing->identity == in.identity()) {
        in.checkUnchanged();
        try {
            drop.emplace([&in] { in.dropCachedPages(); });
        } catch (const std::system_error&) {
        }
    }
    try {
        out.commit();
    } catch (...) {
        if (drop)
            drop->join();
        throw;
    }
    if (drop)
        drop->join();
}

std::optional<EncodedMetadata> readMetadata(const std::string& path)
{
    const InputFile in(path);
    const std::optional<ByteRange> where = scanFlv(in, ScanIndex::Skip).oldMetadata;
    if (!where)
        return std::nullopt;
    EncodedMetadata metadata{where->begin, std::vector<std::uint8_t>(where->end - where->begin)};
    readExactly(in, metadata.bytes.data(), metadata.bytes.size(), where->begin);
    return metadata;
}

void printMetadataValue(std::span<const std::uint8_t> value, std::ostream& out)
{
    std::size_t at = 0;
    if (value.empty())
        return;
    // Metadata that is not an array has no properties to print.
    (void)readAmfProperties(value, at, [&](std::string_view key, std::size_t& offset) {
        if (key == "keyframes") {
            out << "keyframes: " << keyframeCount(value, offset) << " entries\n";
            return;
        }
        out << key << ": ";
        describeAmf(value, offset, out);
        out << '\n';
    });
}

bool printMetadata(const std::string& path, std::ostream& out)
{
    const auto metadata = readMetadata(path);
    if (!metadata)
        return false;
    try {
        printMetadataValue(metadata->bytes, out);
    } catch (const FormatError& error) {
        throw FormatError(metadata->offset + error.offset(), error.what());
    }
    return true;
}

} // namespace quillora::flv
