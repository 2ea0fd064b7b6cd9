#include "flv/MetadataTag.h"

#include "flv/Bytes.h"

#include <algorithm>
#include <cmath>

namespace quillora::flv {

namespace {

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

} // namespace

MetadataTag::MetadataTag(const FlvScan& scan, double nowMilliseconds, std::string creator)
    : m_scan(scan), m_now(nowMilliseconds), m_creator(std::move(creator)),
      m_hasVideo(scan.video.tags > 0)
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

std::uint64_t MetadataTag::firstTagOffset(std::uint64_t ownSize)
{
    return headerSize + previousTagSizeBytes + ownSize;
}

// The cue points, the keyframe index (with video), then who wrote it and when, and the padding.
std::vector<MetadataTag::TailEntry> MetadataTag::tailEntries() const
{
    std::vector<TailEntry> entries{TailEntry::CuePoints};
    if (m_hasVideo)
        entries.push_back(TailEntry::Keyframes);
    entries.insert(entries.end(), {TailEntry::Creator, TailEntry::Date});
    if (m_padding)
        entries.push_back(TailEntry::Padding);
    return entries;
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
    const bool hasVideo = m_hasVideo;
    const bool hasAudio = scan.audio.tags > 0;
    const std::uint64_t firstTagAt = firstTagOffset(ownSize);
    const std::uint64_t fileSize = firstTagAt + scan.keptBytes;

    const double frameRate = scan.video.frameRate();
    // The file plays until its last frame, video or audio, has ended.
    double duration = seconds(scan.file.last);
    if (hasVideo)
        duration = std::max(duration, scan.video.end());
    if (hasAudio)
        duration = std::max(duration, scan.audio.end());

    AmfProperties p;
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
    const std::uint64_t firstTagAt = firstTagOffset(ownSize);
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
    const std::vector<TailEntry> tail = tailEntries();
    // The count comes from the very lists written below, so that it cannot disagree with them.
    amf.beginEcmaArray(head.size() + tail.size());
    for (const auto& [key, value] : head) {
        amf.key(key);
        amf.value(value);
    }
    for (const TailEntry entry : tail) {
        switch (entry) {
        case TailEntry::CuePoints:
            amf.key("cuePoints");
            amf.beginStrictArray(m_scan.cuePoints.count());
            flush(0);
            for (const std::string& encoded : m_scan.cuePoints.pieces())
                write(encoded);
            break;
        case TailEntry::Keyframes: {
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
            break;
        }
        case TailEntry::Creator:
            amf.key("metadatacreator");
            amf.string(m_creator);
            break;
        case TailEntry::Date:
            amf.key("metadatadate");
            amf.date(m_now, 0);
            break;
        case TailEntry::Padding:
            padding(amf);
            break;
        }
    }
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

} // namespace quillora::flv
