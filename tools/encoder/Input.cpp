#include "Input.h"

namespace quillora::encoder {

namespace {
// libavformat asks between reads, so a cancel also ends a read that scans far through a damaged
// file (or waits on a slow one) inside one call; the call then fails or ends early.
int interrupted(void* cancel)
{
    return *static_cast<const std::atomic<bool>*>(cancel) ? 1 : 0;
}
} // namespace

Input::Input(const std::string& path, bool wantAudio, const std::atomic<bool>& cancel)
    : m_cancel(cancel)
{
    AVFormatContext* input = require(avformat_alloc_context(), "input");
    input->interrupt_callback = {interrupted, const_cast<std::atomic<bool>*>(&m_cancel)};
    const int opened = avformat_open_input(&input, path.c_str(), nullptr, nullptr);
    throwIfCancelled();
    if (opened < 0)
        throw EncodeError(opened == AVERROR(ENOENT) ? "the source file does not exist"
                                                    : "the source is not a video file that can "
                                                      "be read (" +
                                                          errorText(opened) + ")");
    m_context.reset(input);
    const int analysed = avformat_find_stream_info(input, nullptr);
    throwIfCancelled();
    check(analysed, "the source could not be analysed");

    const int video = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0 && !(input->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC))
        m_video = input->streams[video];
    if (wantAudio) {
        const int audio = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
        if (audio >= 0)
            m_audio = input->streams[audio];
    }
    if (!m_video && !m_audio)
        throw EncodeError(wantAudio ? "the source holds no video or audio"
                                    : "the source holds no video");
}

int64_t Input::start() const
{
    return m_context->start_time != AV_NOPTS_VALUE ? m_context->start_time : 0;
}

double Input::duration() const
{
    return m_context->duration > 0 ? m_context->duration / double(AV_TIME_BASE) : 0.0;
}

bool Input::read(AVPacket* packet)
{
    throwIfCancelled();
    const int read = av_read_frame(m_context.get(), packet);
    // An interrupted read may look like the end of the source.
    throwIfCancelled();
    if (read == AVERROR_EOF)
        return false;
    if (read < 0)
        throw EncodeError("the source could not be read to its end (" + errorText(read) + ")");
    return true;
}

void Input::throwIfCancelled() const
{
    if (m_cancel)
        throw Cancelled();
}

} // namespace quillora::encoder
