#pragma once

#include "flv/Amf0.h"
#include "flv/ByteSource.h"
#include "flv/FlvFormat.h"
#include "flv/VideoDimensions.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quillora::flv {

// A run of tags copied unchanged, each with its trailing PreviousTagSize.
struct ByteRange
{
    std::uint64_t begin;
    std::uint64_t end;
};

struct Keyframe
{
    double seconds;
    // Offset of the tag header counted from the start of the copied tags in the output.
    std::uint64_t keptOffset;
};

// AMF values as a file held them, one after another, in pieces that growing never moves: the
// bytes are held once, with no more room than they take.
class EncodedValues
{
public:
    // Part or all of a value; endValue() counts it once complete.
    void append(std::span<const std::uint8_t> bytes);
    void endValue() { ++m_count; }

    std::uint64_t count() const { return m_count; }
    std::uint64_t size() const { return m_size; }
    const std::vector<std::string>& pieces() const { return m_pieces; }

private:
    std::vector<std::string> m_pieces;
    std::uint64_t m_count = 0;
    std::uint64_t m_size = 0;
};

// What the scan learns about a run of tags: one stream's, or every tag of the file.
struct StreamStats
{
    std::uint64_t tags = 0;
    // Of those, tags that hold no frame of their own (AVC's and AAC's configuration, AVC's end
    // of sequence): counted in the sizes, never as a frame, and their timestamps not in the
    // stream's span.
    std::uint64_t otherTags = 0;
    std::uint64_t bodyBytes = 0;
    // With their headers, without trailers.
    std::uint64_t tagBytes = 0;
    // In milliseconds: the first tag's timestamp and the largest, which need not be the last
    // tag's, as muxers write streams a little out of step.
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    // The last two distinct timestamps in file order; `latest` is the last tag's.
    std::uint32_t latest = 0;
    std::uint32_t previous = 0;

    void note(std::uint32_t timestamp, std::uint32_t dataSize, bool frame = true)
    {
        ++tags;
        bodyBytes += dataSize;
        tagBytes += tagHeaderSize + dataSize;
        if (!frame) {
            ++otherTags;
            return;
        }
        if (frames() == 1)
            first = timestamp;
        last = std::max(last, timestamp);
        if (timestamp != latest) {
            previous = latest;
            latest = timestamp;
        }
    }

    std::uint64_t frames() const { return tags - otherTags; }

    // In seconds: the time between the last two distinct timestamps, and the end of the
    // stream, its largest timestamp plus one average frame interval.
    double lastInterval() const;
    double end() const;
    // Frames a second over the stream's span, in as few decimals as its millisecond timestamps
    // allow (30, not 29.997); 0 when it has none.
    double frameRate() const;
};

// What one pass over the tag headers learns about a file.
struct FlvScan
{
    std::vector<ByteRange> kept;
    std::uint64_t keptBytes = 0;

    // Every tag; pictures (not video info frames); audio.
    StreamStats file, video, audio;
    // Script data other than onMetaData, tags with their headers, without trailers.
    std::uint64_t dataTagBytes = 0;

    int videoCodec = -1;
    int audioCodec = -1;
    int audioRateCode = 0;
    bool audio16Bit = false;
    bool stereo = false;
    std::optional<Dimensions> dimensions;

    // The index the new onMetaData will hold. It is collected only while it fits in one tag;
    // indexTooLarge then says that it did not.
    std::deque<Keyframe> keyframes;
    bool lastVideoIsKeyframe = false;
    EncodedValues cuePoints;
    bool indexTooLarge = false;

    // The last tag's PreviousTagSize, when the file ends without it (as cut and recorded files
    // often do); the new file gets it.
    std::optional<std::uint32_t> missingTrailer;

    // Where the encoded value of the onMetaData the file held before is, if any (its values may
    // be stale).
    std::optional<ByteRange> oldMetadata;
};

// The bytes that a keyframe takes in the index: its time and its position, as numbers.
constexpr std::uint64_t keyframeIndexBytes = 18;

// Whether a scan collects the keyframes and cue points that new metadata needs.
enum class ScanIndex { Collect, Skip };

// Reads tag headers (and the first bytes of video tags, and script data). Throws FormatError
// naming the offset of the first problem, and std::system_error for a failure to read.
[[nodiscard]] FlvScan scanFlv(ByteSource& file, ScanIndex index = ScanIndex::Collect);
// The same for an open file, as long as it was when opened.
[[nodiscard]] FlvScan scanFlv(const platform::InputFile& file,
                              ScanIndex index = ScanIndex::Collect);

} // namespace quillora::flv
