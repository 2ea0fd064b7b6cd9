#include "LibAv.h"

namespace quillora::encoder {

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void check(int result, const std::string& what)
{
    if (result < 0)
        throw EncodeError(what + ": " + errorText(result));
}

FramePtr newFrame()
{
    return FramePtr(require(av_frame_alloc(), "frame"));
}

PacketPtr newPacket()
{
    return PacketPtr(require(av_packet_alloc(), "packet"));
}

} // namespace quillora::encoder
