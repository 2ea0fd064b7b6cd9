#include "Muxer.h"

#include <cerrno>
#include <limits>
#include <system_error>

namespace quillora::encoder {

namespace {

// libav's error for a failed system call: the same number here; on Windows, where the
// system's codes are its own, the nearest one libav knows.
int libavError(const std::system_error& error)
{
    if (error.code().category() == std::generic_category())
        return AVERROR(error.code().value());
    return error.code().default_error_condition() == std::errc::no_space_on_device ? AVERROR(ENOSPC)
                                                                                   : AVERROR(EIO);
}

int writeOutput(void* opaque, uint8_t* data, int size)
{
    auto* output = static_cast<Muxer::Output*>(opaque);
    try {
        platform::writeAt(output->file, output->position, data, static_cast<std::size_t>(size),
                          "output");
    } catch (const std::system_error& error) {
        return libavError(error);
    }
    output->position += static_cast<std::uint64_t>(size);
    return size;
}

int64_t seekOutput(void* opaque, int64_t offset, int whence)
{
    auto* output = static_cast<Muxer::Output*>(opaque);
    std::uint64_t size = 0;
    try {
        size = platform::sizeOf(output->file, "output");
    } catch (const std::system_error& error) {
        return libavError(error);
    }
    if (whence == AVSEEK_SIZE)
        return static_cast<int64_t>(size);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
    case SEEK_SET:
        break;
    case SEEK_CUR:
        base = static_cast<int64_t>(output->position);
        break;
    case SEEK_END:
        base = static_cast<int64_t>(size);
        break;
    default:
        return AVERROR(EINVAL);
    }
    if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
        return AVERROR(EINVAL);
    output->position = static_cast<std::uint64_t>(base + offset);
    return base + offset;
}

} // namespace

Muxer::Muxer(platform::FileHandle output) : m_output(new Output{output})
{
    AVFormatContext* context = nullptr;
    check(avformat_alloc_output_context2(&context, nullptr, "flv", nullptr),
          "cannot prepare the output");
    m_context.reset(context);
    // A still held for long is sent again beside the sound only once the picture after it has
    // come, after the sound of the whole hold; the tags stay in time order if the sound waits
    // that long for them. A minute of sound is at most about a megabyte.
    context->max_interleave_delta = 60 * int64_t(AV_TIME_BASE);
    constexpr int bufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(require(av_malloc(bufferSize), "output"));
    m_io.reset(avio_alloc_context(buffer, bufferSize, 1, m_output.get(), nullptr, writeOutput,
                                  seekOutput));
    if (!m_io) {
        av_free(buffer);
        throw EncodeError("output: out of memory");
    }
    context->pb = m_io.get();
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
}

bool Muxer::wantsGlobalHeader() const
{
    return m_context->oformat->flags & AVFMT_GLOBALHEADER;
}

int Muxer::addStream(const AVCodecContext* encoder)
{
    AVStream* stream = require(avformat_new_stream(m_context.get(), nullptr), "output stream");
    check(avcodec_parameters_from_context(stream->codecpar, encoder), "stream");
    stream->time_base = encoder->time_base;
    return stream->index;
}

void Muxer::writeHeader()
{
    check(avformat_write_header(m_context.get(), nullptr), "cannot write the output file");
}

void Muxer::write(AVPacket* packet)
{
    check(av_interleaved_write_frame(m_context.get(), packet), "cannot write the output file");
}

void Muxer::finish()
{
    check(av_write_trailer(m_context.get()), "cannot finish the output file");
    avio_flush(m_io.get());
    if (m_io->error < 0)
        check(m_io->error, "cannot write the output file");
}

} // namespace quillora::encoder
