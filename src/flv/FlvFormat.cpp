#include "flv/FlvFormat.h"

namespace quillora::flv {

FlvHeader FlvHeader::parse(std::span<const std::uint8_t> bytes, std::uint64_t fileSize)
{
    if (bytes.size() < headerSize)
        throw FormatError(0, "not an FLV file (too short for a header)");
    if (bytes[0] != 'F' || bytes[1] != 'L' || bytes[2] != 'V')
        throw FormatError(0, "not an FLV file (no FLV signature)");
    FlvHeader header;
    header.audio = bytes[4] & 0x04;
    header.video = bytes[4] & 0x01;
    header.dataOffset = toUInt32BE(&bytes[5]);
    if (header.dataOffset < headerSize || header.dataOffset > fileSize)
        throw FormatError(5, "FLV header gives an impossible data offset");
    return header;
}

void FlvHeader::render(std::string& out) const
{
    out += "FLV";
    appendUInt8(out, 1);
    appendUInt8(out, (audio ? 0x04 : 0) | (video ? 0x01 : 0));
    appendUInt32BE(out, dataOffset);
}

TagHeader TagHeader::parse(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < tagHeaderSize)
        throw FormatError(0, "tag header cut off");
    TagHeader header;
    header.type = bytes[0] & 0x1f;
    header.dataSize = toUInt24BE(&bytes[1]);
    // The extension byte holds the timestamp's upper 8 bits.
    header.timestamp = (std::uint32_t(bytes[7]) << 24) | toUInt24BE(&bytes[4]);
    header.streamId = toUInt24BE(&bytes[8]);
    return header;
}

void TagHeader::render(std::string& out) const
{
    appendUInt8(out, static_cast<unsigned>(type));
    appendUInt24BE(out, dataSize);
    appendUInt24BE(out, timestamp & 0xffffff);
    appendUInt8(out, timestamp >> 24);
    appendUInt24BE(out, streamId);
}

VideoTagHeader VideoTagHeader::parse(std::span<const std::uint8_t> body)
{
    if (body.empty())
        throw FormatError(0, "video tag without a body");
    VideoTagHeader header;
    header.frameType = body[0] >> 4;
    header.codec = body[0] & 0x0f;
    if (header.codec == Avc && body.size() > 1)
        header.avcPacketType = body[1];
    return header;
}

void VideoTagHeader::render(std::string& out) const
{
    appendUInt8(out, static_cast<unsigned>((frameType << 4) | (codec & 0x0f)));
    if (avcPacketType)
        appendUInt8(out, static_cast<unsigned>(*avcPacketType));
}

bool VideoTagHeader::holdsPicture() const
{
    return frameType != InfoFrame && avcPacketType != AvcSequenceHeader &&
           avcPacketType != AvcEndOfSequence;
}

AudioTagHeader AudioTagHeader::parse(std::span<const std::uint8_t> body)
{
    if (body.empty())
        throw FormatError(0, "audio tag without a body");
    AudioTagHeader header;
    header.soundFormat = body[0] >> 4;
    header.rateCode = (body[0] >> 2) & 0x03;
    header.sixteenBit = body[0] & 0x02;
    header.stereo = body[0] & 0x01;
    if (header.soundFormat == Aac && body.size() > 1)
        header.aacPacketType = body[1];
    return header;
}

void AudioTagHeader::render(std::string& out) const
{
    appendUInt8(out, static_cast<unsigned>((soundFormat << 4) | ((rateCode & 0x03) << 2) |
                                           (sixteenBit ? 0x02 : 0) | (stereo ? 0x01 : 0)));
    if (aacPacketType)
        appendUInt8(out, static_cast<unsigned>(*aacPacketType));
}

} // namespace quillora::flv
