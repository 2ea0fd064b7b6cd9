#include "flv/VideoDimensions.h"

#include "flv/Bytes.h"

#include <vector>

namespace quillora::flv {

namespace {

// Sorenson H.263 picture header: 17-bit start code, 5-bit version, 8-bit temporal reference,
// 3-bit picture size code, then an explicit size for codes 0 and 1.
Dimensions sorensonDimensions(std::span<const std::uint8_t> frame)
{
    BitReader r(frame);
    r.bits(17 + 5 + 8);
    switch (r.bits(3)) {
    case 0: {
        const auto w = r.bits(8);
        return {w, r.bits(8)};
    }
    case 1: {
        const auto w = r.bits(16);
        return {w, r.bits(16)};
    }
    case 2:
        return {352, 288};
    case 3:
        return {176, 144};
    case 4:
        return {128, 96};
    case 5:
        return {320, 240};
    default:
        return {160, 120};
    }
}

// Screen video 1 and 2: 4-bit block width, 12-bit image width, 4-bit block height, 12-bit
// image height.
Dimensions screenDimensions(std::span<const std::uint8_t> frame)
{
    BitReader r(frame);
    r.bits(4);
    const auto w = r.bits(12);
    r.bits(4);
    return {w, r.bits(12)};
}

// VP6: a key frame carries the macroblock rows and columns; the FLV adjustment byte before it
// says how many pixels to crop on the right (high nibble) and bottom (low nibble).
std::optional<Dimensions> vp6Dimensions(std::uint8_t adjustment,
                                        std::span<const std::uint8_t> frame)
{
    if (frame.size() < 2 || (frame[0] & 0x80))
        return std::nullopt; // an inter frame has no size
    const bool separatedCoefficients = frame[0] & 0x01;
    const bool filterHeader = frame[1] & 0x06;
    const std::size_t at = (separatedCoefficients || !filterHeader) ? 4 : 2;
    if (frame.size() < at + 2)
        throw FormatError(0, "VP6 key frame header ends early");
    const std::uint32_t rows = frame[at];
    const std::uint32_t columns = frame[at + 1];
    const std::uint32_t cropRight = adjustment >> 4;
    const std::uint32_t cropBottom = adjustment & 0x0f;
    if (columns * 16 < cropRight || rows * 16 < cropBottom)
        throw FormatError(0, "VP6 size adjustment larger than the picture");
    return Dimensions{columns * 16 - cropRight, rows * 16 - cropBottom};
}

std::optional<Dimensions> avcDimensions(std::span<const std::uint8_t> body)
{
    // AVCPacketType 0 is the AVCDecoderConfigurationRecord (ISO/IEC 14496-15, 5.2.4.1).
    if (body.size() < 5 || body[1] != 0)
        return std::nullopt;
    const auto record = body.subspan(5);
    if (record.size() < 8)
        throw FormatError(0, "AVC decoder configuration ends early");
    const int spsCount = record[5] & 0x1f;
    if (spsCount == 0)
        throw FormatError(0, "AVC decoder configuration has no SPS");
    const std::size_t length = toUInt16BE(&record[6]);
    if (record.size() < 8 + length)
        throw FormatError(0, "AVC SPS runs past its tag");
    return avcDimensionsFromSps(record.subspan(8, length));
}

void skipScalingList(BitReader& r, int size)
{
    int last = 8, next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0)
            next = (last + r.se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

} // namespace

Dimensions avcDimensionsFromSps(std::span<const std::uint8_t> nal)
{
    // Remove emulation prevention bytes (00 00 03) to get the raw bitstream.
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(nal.size());
    for (std::size_t i = 1; i < nal.size(); ++i) {
        if (i + 2 < nal.size() && nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] == 3) {
            rbsp.push_back(0);
            rbsp.push_back(0);
            i += 2;
            continue;
        }
        rbsp.push_back(nal[i]);
    }
    BitReader r(rbsp);
    const std::uint32_t profile = r.bits(8);
    r.bits(16); // constraint flags, level
    r.ue();     // seq_parameter_set_id
    std::uint32_t chromaFormat = 1;
    bool separateColourPlanes = false;
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135:
        chromaFormat = r.ue();
        if (chromaFormat > 3)
            throw FormatError(0, "AVC SPS has an invalid chroma format");
        if (chromaFormat == 3)
            separateColourPlanes = r.flag();
        r.ue(); // bit depth luma
        r.ue(); // bit depth chroma
        r.flag();
        if (r.flag()) {
            const int lists = chromaFormat != 3 ? 8 : 12;
            for (int i = 0; i < lists; ++i)
                if (r.flag())
                    skipScalingList(r, i < 6 ? 16 : 64);
        }
        break;
    default:
        break;
    }
    r.ue(); // log2_max_frame_num_minus4
    const std::uint32_t pocType = r.ue();
    if (pocType == 0) {
        r.ue();
    } else if (pocType == 1) {
        r.flag();
        r.se();
        r.se();
        const std::uint32_t cycle = r.ue();
        if (cycle > 255)
            throw FormatError(0, "AVC SPS has an invalid POC cycle");
        for (std::uint32_t i = 0; i < cycle; ++i)
            r.se();
    }
    r.ue();   // max_num_ref_frames
    r.flag(); // gaps_in_frame_num_value_allowed_flag
    const std::uint32_t widthMbs = r.ue() + 1;
    const std::uint32_t heightMapUnits = r.ue() + 1;
    const bool frameMbsOnly = r.flag();
    if (!frameMbsOnly)
        r.flag(); // mb_adaptive_frame_field_flag
    r.flag();     // direct_8x8_inference_flag
    std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    if (r.flag()) {
        cropLeft = r.ue();
        cropRight = r.ue();
        cropTop = r.ue();
        cropBottom = r.ue();
    }
    // Crop units (ITU-T H.264, 7.4.2.1.1): chroma subsampling horizontally; vertically also
    // doubled for field-coded streams, where a map unit is a pair of macroblocks.
    const std::uint32_t arrayType = separateColourPlanes ? 0 : chromaFormat;
    const std::uint32_t subWidth = (arrayType == 1 || arrayType == 2) ? 2 : 1;
    const std::uint32_t subHeight = arrayType == 1 ? 2 : 1;
    const std::uint32_t fieldFactor = frameMbsOnly ? 1 : 2;
    const std::uint32_t cropUnitX = arrayType == 0 ? 1 : subWidth;
    const std::uint32_t cropUnitY = (arrayType == 0 ? 1 : subHeight) * fieldFactor;

    const std::uint64_t width = std::uint64_t(widthMbs) * 16;
    const std::uint64_t height = std::uint64_t(heightMapUnits) * 16 * fieldFactor;
    const std::uint64_t cropX = std::uint64_t(cropLeft + cropRight) * cropUnitX;
    const std::uint64_t cropY = std::uint64_t(cropTop + cropBottom) * cropUnitY;
    if (cropX >= width || cropY >= height || width > 65536 || height > 65536)
        throw FormatError(0, "AVC SPS gives an impossible picture size");
    return {static_cast<std::uint32_t>(width - cropX), static_cast<std::uint32_t>(height - cropY)};
}

std::optional<Dimensions> videoDimensions(std::span<const std::uint8_t> body)
{
    if (body.empty())
        return std::nullopt;
    const int codec = body[0] & 0x0f;
    const auto frame = body.subspan(1);
    switch (codec) {
    case SorensonH263:
        return sorensonDimensions(frame);
    case ScreenVideo:
    case ScreenVideo2:
        return screenDimensions(frame);
    case Vp6:
        if (frame.empty())
            return std::nullopt;
        return vp6Dimensions(frame[0], frame.subspan(1));
    case Vp6Alpha:
        // Adjustment byte, then a 24-bit offset to the alpha plane.
        if (frame.size() < 4)
            return std::nullopt;
        return vp6Dimensions(frame[0], frame.subspan(4));
    case Avc:
        return avcDimensions(body);
    default:
        return std::nullopt;
    }
}

} // namespace quillora::flv
