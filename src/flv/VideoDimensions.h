#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace quillora::flv {

struct Dimensions
{
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const Dimensions&) const = default;
};

// FLV video codec ids (FLV specification, VIDEODATA).
enum VideoCodec : int {
    SorensonH263 = 2,
    ScreenVideo = 3,
    Vp6 = 4,
    Vp6Alpha = 5,
    ScreenVideo2 = 6,
    Avc = 7,
};

// The picture size from a video tag's body (the bytes after the tag header), or nothing when
// the tag does not carry it (an AVC frame that is not the decoder configuration, say).
std::optional<Dimensions> videoDimensions(std::span<const std::uint8_t> body);

// From an H.264 sequence parameter set NAL unit (with its one-byte NAL header).
Dimensions avcDimensionsFromSps(std::span<const std::uint8_t> sps);

} // namespace quillora::flv
