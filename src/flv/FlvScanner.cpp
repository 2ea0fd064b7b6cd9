#include "flv/FlvScanner.h"

#include "flv/Bytes.h"
#include "flv/IndexCollector.h"

#include <array>
#include <cmath>

namespace quillora::flv {

namespace {

// Enough of a video tag for every picture header but AVC's configuration record.
constexpr std::size_t videoPrefix = 32;
// How far the scan goes before the pages behind it leave our memory.
constexpr std::uint64_t releaseStep = 1u << 20;

class Scanner
{
public:
    Scanner(ByteSource& file, ScanIndex index)
        : m_file(file), m_size(file.size()), m_index(m_scan, index == ScanIndex::Collect)
    {}

    FlvScan run()
    {
        std::array<std::uint8_t, headerSize> header{};
        if (m_size < headerSize)
            throw FormatError(0, "not an FLV file (too short for a header)");
        m_file.read(0, header.data(), headerSize);
        const std::uint32_t dataOffset = FlvHeader::parse(header, m_size).dataOffset;
        if (m_size < dataOffset + previousTagSizeBytes)
            throw FormatError(dataOffset, "file ends before the first tag");

        std::uint64_t at = dataOffset + previousTagSizeBytes;
        std::uint64_t released = 0;
        while (at < m_size) {
            at = tag(at);
            if (at - released >= releaseStep) {
                m_file.release(released, at);
                released = at;
            }
        }
        if (m_scan.file.tags == 0)
            throw FormatError(at, "the file holds no tags");
        closeRange(m_size);
        return std::move(m_scan);
    }

private:
    std::uint64_t tag(std::uint64_t at)
    {
        if (m_size - at < tagHeaderSize)
            throw FormatError(at, cutOff(at, tagHeaderSize));
        std::array<std::uint8_t, tagHeaderSize + videoPrefix> buffer{};
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), m_size - at));
        m_file.read(at, buffer.data(), want);

        const TagHeader header = TagHeader::parse(buffer);
        const int type = header.type;
        const std::uint32_t dataSize = header.dataSize;
        const std::uint32_t timestamp = header.timestamp;
        const std::uint64_t bodyAt = at + tagHeaderSize;
        const std::uint64_t end = bodyAt + dataSize + previousTagSizeBytes;
        // Every byte of the last tag is there, only the size after it is not.
        const bool trailerMissing = end - previousTagSizeBytes == m_size;
        // A file cut inside a tag, or one still being written, is refused rather than indexed
        // up to its last whole tag: the tag is not dropped behind the user's back.
        if (end > m_size && !trailerMissing)
            throw FormatError(at, cutOff(at, end - previousTagSizeBytes - at));
        if (!trailerMissing) {
            std::array<std::uint8_t, 4> trailer{};
            m_file.read(bodyAt + dataSize, trailer.data(), trailer.size());
            if (toUInt32BE(trailer.data()) != tagHeaderSize + dataSize)
                throw FormatError(bodyAt + dataSize, "PreviousTagSize does not match the tag");
        }

        m_scan.file.note(timestamp, dataSize);
        const std::span<const std::uint8_t> prefix(
            &buffer[tagHeaderSize], std::min<std::size_t>(dataSize, want - tagHeaderSize));
        bool keep = true;
        switch (type) {
        case VideoTag:
            video(at, bodyAt, dataSize, timestamp, prefix);
            break;
        case AudioTag:
            audio(dataSize, timestamp, prefix);
            break;
        case ScriptTag:
            keep = script(bodyAt, dataSize);
            break;
        default:
            break;
        }
        if (keep)
            keepTag(at, end - at);
        else
            closeRange(at);
        if (keep && trailerMissing)
            m_scan.missingTrailer = std::uint32_t(tagHeaderSize + dataSize);
        return end;
    }

    std::string cutOff(std::uint64_t at, std::uint64_t tagSize) const
    {
        return "the last tag is cut off: the file ends " + std::to_string(tagSize - (m_size - at)) +
               " bytes short of its end";
    }

    void video(std::uint64_t at, std::uint64_t bodyAt, std::uint32_t size, std::uint32_t timestamp,
               std::span<const std::uint8_t> prefix)
    {
        if (prefix.empty())
            return;
        const VideoTagHeader header = VideoTagHeader::parse(prefix);
        // Video info/command frames carry no picture, and are no part of the stream.
        if (header.frameType == InfoFrame)
            return;
        m_scan.video.note(timestamp, size, header.holdsPicture());
        m_scan.videoCodec = header.codec;

        // The AVC configuration is marked as a key frame and is where a player must start.
        const bool keyframe = header.isKeyFrame();
        if (keyframe)
            m_index.keyframe(timestamp, m_scan.keptBytes);
        if (!header.isAvcConfiguration())
            m_scan.lastVideoIsKeyframe = keyframe;

        if (!m_scan.dimensions) {
            try {
                if (header.isAvcConfiguration())
                    m_scan.dimensions = videoDimensions(m_file.bytes(bodyAt, size));
                else if (header.codec != Avc)
                    m_scan.dimensions = videoDimensions(prefix);
            } catch (const FormatError& error) {
                throw FormatError(at, std::string("video tag: ") + error.what());
            }
        }
    }

    void audio(std::uint32_t size, std::uint32_t timestamp, std::span<const std::uint8_t> prefix)
    {
        if (prefix.empty()) {
            m_scan.audio.note(timestamp, size);
            return;
        }
        const AudioTagHeader header = AudioTagHeader::parse(prefix);
        m_scan.audio.note(timestamp, size, header.holdsSound());
        m_scan.audioCodec = header.soundFormat;
        m_scan.audioRateCode = header.rateCode;
        m_scan.audio16Bit = header.sixteenBit;
        m_scan.stereo = header.stereo;
    }

    // False for an onMetaData tag, which is dropped.
    bool script(std::uint64_t bodyAt, std::uint32_t size)
    {
        const auto body = m_file.bytes(bodyAt, size);
        std::size_t at = 0;
        // Script data of another kind is kept as it is, unread.
        const auto name = parseAmfString(body, at);
        // A value may fill its tag: the pages that its check has passed can go.
        std::uint64_t checked = bodyAt;
        const AmfProgress progress = [&](std::size_t reached) {
            m_file.release(checked, bodyAt + reached);
            checked = bodyAt + reached;
        };
        if (name == "onMetaData") {
            const std::size_t valueAt = at;
            try {
                if (at < body.size())
                    skipAmf(body, at, progress);
            } catch (const FormatError& error) {
                throw FormatError(bodyAt + error.offset(),
                                  std::string("unreadable onMetaData: ") + error.what());
            }
            if (!m_scan.oldMetadata)
                m_scan.oldMetadata = ByteRange{bodyAt + valueAt, bodyAt + at};
            return false;
        }
        if (name == "onCuePoint")
            m_index.cuePoint(body, at, progress, [&](std::size_t from, std::size_t to) {
                m_file.release(bodyAt + from, bodyAt + to);
            });
        m_scan.dataTagBytes += tagHeaderSize + size;
        return true;
    }

    // The tag at `begin` takes `size` bytes in the new file, its PreviousTagSize included.
    void keepTag(std::uint64_t begin, std::uint64_t size)
    {
        if (!m_openRange) {
            m_rangeBegin = begin;
            m_openRange = true;
        }
        m_scan.keptBytes += size;
    }

    void closeRange(std::uint64_t end)
    {
        if (m_openRange && end > m_rangeBegin)
            m_scan.kept.push_back({m_rangeBegin, end});
        m_openRange = false;
    }

    ByteSource& m_file;
    std::uint64_t m_size;
    FlvScan m_scan;
    IndexCollector m_index;
    bool m_openRange = false;
    std::uint64_t m_rangeBegin = 0;
};

} // namespace

double StreamStats::lastInterval() const
{
    return latest > previous ? (latest - previous) / 1000.0 : 0.0;
}

double StreamStats::end() const
{
    const double interval = frames() > 1 ? (last - first) / 1000.0 / double(frames() - 1) : 0.0;
    return last / 1000.0 + interval;
}

double StreamStats::frameRate() const
{
    if (frames() < 2 || last <= first)
        return 0.0;
    const double intervals = double(frames() - 1);
    const double span = last - first;
    const double estimate = intervals * 1000.0 / span;
    // Each timestamp is up to half a millisecond off the frame's time, so the span may be one
    // millisecond off either way.
    const double lowest = intervals * 1000.0 / (span + 1);
    const double highest = span > 1 ? intervals * 1000.0 / (span - 1) : estimate;
    for (const double scale : {1.0, 10.0, 100.0}) {
        const double rounded = std::round(estimate * scale) / scale;
        if (rounded >= lowest && rounded <= highest)
            return rounded;
    }
    return estimate;
}

void EncodedValues::append(std::span<const std::uint8_t> bytes)
{
    constexpr std::size_t pieceSize = 1u << 20;
    m_size += bytes.size();
    while (!bytes.empty()) {
        if (m_pieces.empty() || m_pieces.back().size() == pieceSize)
            m_pieces.emplace_back().reserve(pieceSize);
        std::string& piece = m_pieces.back();
        const std::size_t n = std::min(bytes.size(), pieceSize - piece.size());
        piece.append(reinterpret_cast<const char*>(bytes.data()), n);
        bytes = bytes.subspan(n);
    }
}

FlvScan scanFlv(ByteSource& file, ScanIndex index)
{
    return Scanner(file, index).run();
}

FlvScan scanFlv(const platform::InputFile& file, ScanIndex index)
{
    FileSource source(file);
    return scanFlv(source, index);
}

} // namespace quillora::flv
