#pragma once

#include "flv/Bytes.h"
#include "flv/VideoDimensions.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The FLV file format's parts as they lie on disk: each parsed from bytes that are checked to
// be there, and rendered back the same.

namespace quillora::flv {

// FLV tag types (FLV specification, FLVTAG).
enum TagType : int { AudioTag = 8, VideoTag = 9, ScriptTag = 18 };
// The sound format of an audio tag whose second byte says what the tag holds.
enum SoundFormat : int { Aac = 10 };
// What an AVC video tag holds (FLV specification, AVCVIDEOPACKET).
enum AvcPacketType : int { AvcSequenceHeader = 0, AvcNalu = 1, AvcEndOfSequence = 2 };
// A video tag's frame type (FLV specification, VIDEODATA).
enum FrameType : int { KeyFrame = 1, InterFrame = 2, InfoFrame = 5 };

constexpr std::uint64_t headerSize = 9;
constexpr std::uint64_t tagHeaderSize = 11;
constexpr std::uint64_t previousTagSizeBytes = 4;
// A tag's DataSize has 24 bits (FLV specification, FLVTAG).
constexpr std::uint32_t maxTagDataSize = 0xffffff;

// The file's header (FLV specification, FLV header), without the PreviousTagSize after it.
struct FlvHeader
{
    bool audio = false;
    bool video = false;
    std::uint32_t dataOffset = headerSize;

    // The first headerSize bytes of a file of `fileSize` bytes. Throws FormatError.
    static FlvHeader parse(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);
    void render(std::string& out) const;
};

// A tag's header (FLV specification, FLVTAG): its type, the size of its body, its timestamp
// with the extension byte, and its stream id.
struct TagHeader
{
    int type = 0;
    std::uint32_t dataSize = 0;
    std::uint32_t timestamp = 0;
    std::uint32_t streamId = 0;

    // The first tagHeaderSize bytes; the filter bit and the reserved bits of the type are left
    // out. Throws FormatError (at 0) where there are fewer.
    static TagHeader parse(std::span<const std::uint8_t> bytes);
    void render(std::string& out) const;
};

// The first bytes of a video tag's body (FLV specification, VIDEODATA): frame type and codec,
// and for AVC what the packet holds.
struct VideoTagHeader
{
    int frameType = InterFrame;
    int codec = SorensonH263;
    // For AVC, where the body has the byte; nothing otherwise.
    std::optional<int> avcPacketType;

    // Throws FormatError (at 0) for an empty body.
    static VideoTagHeader parse(std::span<const std::uint8_t> body);
    void render(std::string& out) const;

    // A picture, or a part of one, rather than information about the stream.
    bool holdsPicture() const;
    bool isKeyFrame() const { return frameType == KeyFrame; }
    bool isAvcConfiguration() const { return avcPacketType == AvcSequenceHeader; }
};

// The first bytes of an audio tag's body (FLV specification, AUDIODATA): sound format, rate,
// sample size and channels, and for AAC what the packet holds.
struct AudioTagHeader
{
    int soundFormat = 0;
    // 0 to 3: 5.5, 11, 22 or 44 kHz.
    int rateCode = 0;
    bool sixteenBit = false;
    bool stereo = false;
    // For AAC, where the body has the byte: 0 the configuration, 1 a frame.
    std::optional<int> aacPacketType;

    // Throws FormatError (at 0) for an empty body.
    static AudioTagHeader parse(std::span<const std::uint8_t> body);
    void render(std::string& out) const;

    // A frame of sound, rather than the decoder's configuration.
    bool holdsSound() const { return aacPacketType != 0; }
};

} // namespace quillora::flv
