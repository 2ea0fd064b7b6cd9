#pragma once

#include "flv/Amf0.h"
#include "flv/VideoDimensions.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace quillora::flv {

// FLV tag types (FLV specification, FLVTAG).
enum TagType : int { AudioTag = 8, VideoTag = 9, ScriptTag = 18 };

constexpr std::uint64_t headerSize = 9;
constexpr std::uint64_t tagHeaderSize = 11;
constexpr std::uint64_t previousTagSizeBytes = 4;

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

// What one pass over the tag headers learns about a file.
struct FlvScan
{
    std::vector<ByteRange> kept;
    std::uint64_t keptBytes = 0;
    std::uint64_t tagCount = 0;

    std::uint64_t videoTags = 0, audioTags = 0;
    std::uint64_t videoBytes = 0, audioBytes = 0; // tag bodies
    // Timestamps in file order: of the last tag, and each stream's last two distinct ones.
    std::uint32_t lastTagTimestamp = 0;
    std::uint32_t lastVideoTagTimestamp = 0, previousVideoTagTimestamp = 0;
    std::uint32_t lastAudioTagTimestamp = 0, previousAudioTagTimestamp = 0;
    // Tags with their headers, without trailers; script data other than onMetaData.
    std::uint64_t videoTagBytes = 0, audioTagBytes = 0, dataTagBytes = 0;
    std::uint32_t firstTimestamp = 0, lastTimestamp = 0;
    std::uint32_t firstVideoTimestamp = 0, lastVideoTimestamp = 0;
    std::uint32_t firstAudioTimestamp = 0, lastAudioTimestamp = 0;
    bool sawTimestamp = false;

    int videoCodec = -1;
    int audioCodec = -1;
    int audioRateCode = 0;
    bool audio16Bit = false;
    bool stereo = false;
    std::optional<Dimensions> dimensions;

    std::vector<Keyframe> keyframes;
    bool lastVideoIsKeyframe = false;
    std::vector<AmfValue> cuePoints;

    // The onMetaData the file held before, if any (its values may be stale).
    std::optional<AmfValue> oldMetadata;
};

// Reads tag headers (and the first bytes of video tags) from an open file. Throws FormatError
// naming the offset of the first problem.
FlvScan scanFlv(int fd, std::uint64_t fileSize);

// The tag's timestamp with its extension byte (FLV specification, TimestampExtended).
inline std::uint32_t tagTimestamp(const std::uint8_t* header)
{
    return (std::uint32_t(header[7]) << 24) | (std::uint32_t(header[4]) << 16) |
           (std::uint32_t(header[5]) << 8) | header[6];
}

} // namespace quillora::flv
