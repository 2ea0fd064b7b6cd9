#include "Muxer.h"

#include <cerrno>
#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>

namespace quillora::encoder {

namespace {

int descriptor(void* opaque)
{
    return static_cast<int>(reinterpret_cast<intptr_t>(opaque));
}

int writeToFd(void* opaque, uint8_t* data, int size)
{
    const int fd = descriptor(opaque);
    int left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return AVERROR(errno);
        data += n;
        left -= static_cast<int>(n);
    }
    return size;
}

int64_t seekFd(void* opaque, int64_t offset, int whence)
{
    const int fd = descriptor(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat info
        {
        };
        return ::fstat(fd, &info) == 0 ? info.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

} // namespace

Muxer::Muxer(int outputFd)
{
    AVFormatContext* output = nullptr;
    check(avformat_alloc_output_context2(&output, nullptr, "flv", nullptr),
          "cannot prepare the output");
    m_context.reset(output);
    // A still held for long is sent again beside the sound only once the picture after it has
    // come, after the sound of the whole hold; the tags stay in time order if the sound waits
    // that long for them. A minute of sound is at most about a megabyte.
    output->max_interleave_delta = 60 * int64_t(AV_TIME_BASE);
    constexpr int bufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(require(av_malloc(bufferSize), "output"));
    m_io.reset(avio_alloc_context(buffer, bufferSize, 1,
                                  reinterpret_cast<void*>(static_cast<intptr_t>(outputFd)), nullptr,
                                  writeToFd, seekFd));
    if (!m_io) {
        av_free(buffer);
        throw EncodeError("output: out of memory");
    }
    output->pb = m_io.get();
    output->flags |= AVFMT_FLAG_CUSTOM_IO;
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
