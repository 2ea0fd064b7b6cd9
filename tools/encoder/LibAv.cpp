#include "LibAv.h"

#include <algorithm>

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

double declaredLength(const AVStream* stream)
{
    double length = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        length = stream->duration * av_q2d(stream->time_base);
    // A container that counts its frames up front (AVI, MP4) still says so when cut.
    if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && stream->nb_frames > 0 &&
        stream->avg_frame_rate.num > 0)
        length = std::max(length, stream->nb_frames / av_q2d(stream->avg_frame_rate));
    return length;
}

} // namespace quillora::encoder
