#include "flv/FlvScanner.h"

#include "flv/Bytes.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace quillora::flv {

namespace {

// Script tags larger than this are not metadata we need to read.
constexpr std::uint32_t maxScriptRead = 16u << 20;
// Enough of a video tag for every picture header but AVC's configuration record.
constexpr std::size_t videoPrefix = 32;

// Random access to the file being scanned. Mapped, the scan touches only the pages that hold
// tag headers and makes no system call per tag; where mapping fails it reads with pread.
class FileView
{
public:
    FileView(int fd, std::uint64_t size) : m_fd(fd), m_size(size)
    {
        if (size == 0 || size > std::numeric_limits<std::size_t>::max())
            return;
        void* map = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED)
            m_map = static_cast<const std::uint8_t*>(map);
    }
    ~FileView()
    {
        if (m_map)
            ::munmap(const_cast<std::uint8_t*>(m_map), static_cast<std::size_t>(m_size));
    }
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    // Callers stay within the file size they were given.
    void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const
    {
        if (m_map) {
            std::memcpy(buffer, m_map + offset, length);
            return;
        }
        while (length > 0) {
            const ssize_t n = ::pread(m_fd, buffer, length, static_cast<off_t>(offset));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::generic_category(), "read");
            }
            if (n == 0)
                throw FormatError(offset, "file ends early");
            buffer += n;
            offset += static_cast<std::uint64_t>(n);
            length -= static_cast<std::size_t>(n);
        }
    }

    // The scan never goes back: pages before `offset` can leave our memory (they stay in the
    // page cache), which keeps the peak small however large the file.
    void release(std::uint64_t offset)
    {
        constexpr std::uint64_t step = 8u << 20;
        if (!m_map || offset < m_released + step)
            return;
        const std::uint64_t end = offset & ~(step - 1);
        ::madvise(const_cast<std::uint8_t*>(m_map) + m_released,
                  static_cast<std::size_t>(end - m_released), MADV_DONTNEED);
        m_released = end;
    }

    std::vector<std::uint8_t> body(std::uint64_t offset, std::uint32_t size) const
    {
        std::vector<std::uint8_t> bytes(size);
        if (size)
            read(offset, bytes.data(), size);
        return bytes;
    }

private:
    int m_fd;
    std::uint64_t m_size;
    const std::uint8_t* m_map = nullptr;
    std::uint64_t m_released = 0;
};

class Scanner
{
public:
    Scanner(int fd, std::uint64_t fileSize) : m_file(fd, fileSize), m_size(fileSize) {}

    FlvScan run()
    {
        std::array<std::uint8_t, headerSize + previousTagSizeBytes> header{};
        if (m_size < headerSize)
            throw FormatError(0, "not an FLV file (too short for a header)");
        m_file.read(0, header.data(), headerSize);
        if (header[0] != 'F' || header[1] != 'L' || header[2] != 'V')
            throw FormatError(0, "not an FLV file (no FLV signature)");
        const std::uint32_t dataOffset = toUInt32BE(&header[5]);
        if (dataOffset < headerSize || dataOffset > m_size)
            throw FormatError(5, "FLV header gives an impossible data offset");
        if (m_size < dataOffset + previousTagSizeBytes)
            throw FormatError(dataOffset, "file ends before the first tag");

        std::uint64_t at = dataOffset + previousTagSizeBytes;
        while (at < m_size) {
            at = tag(at);
            m_file.release(at);
        }
        if (m_scan.tagCount == 0)
            throw FormatError(at, "the file holds no tags");
        closeRange(m_size);
        return std::move(m_scan);
    }

private:
    std::uint64_t tag(std::uint64_t at)
    {
        if (m_size - at < tagHeaderSize)
            throw FormatError(at, "truncated tag header");
        std::array<std::uint8_t, tagHeaderSize + videoPrefix> buffer{};
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), m_size - at));
        m_file.read(at, buffer.data(), want);

        const int type = buffer[0] & 0x1f;
        const std::uint32_t dataSize = toUInt24BE(&buffer[1]);
        const std::uint32_t timestamp = tagTimestamp(buffer.data());
        const std::uint64_t bodyAt = at + tagHeaderSize;
        const std::uint64_t end = bodyAt + dataSize + previousTagSizeBytes;
        if (end > m_size)
            throw FormatError(at, "tag runs past the end of the file");
        std::array<std::uint8_t, 4> trailer{};
        m_file.read(bodyAt + dataSize, trailer.data(), trailer.size());
        if (toUInt32BE(trailer.data()) != tagHeaderSize + dataSize)
            throw FormatError(bodyAt + dataSize, "PreviousTagSize does not match the tag");

        ++m_scan.tagCount;
        noteTimestamp(timestamp);
        const std::span<const std::uint8_t> prefix(
            &buffer[tagHeaderSize], std::min<std::size_t>(dataSize, want - tagHeaderSize));
        bool keep = true;
        switch (type) {
        case VideoTag:
            video(at, bodyAt, dataSize, timestamp, prefix);
            break;
        case AudioTag:
            audio(dataSize, timestamp, prefix);
            break;
        case ScriptTag:
            keep = script(bodyAt, dataSize);
            break;
        default:
            break;
        }
        if (keep)
            keepTag(at, end);
        else
            closeRange(at);
        return end;
    }

    void noteTimestamp(std::uint32_t timestamp)
    {
        if (!m_scan.sawTimestamp) {
            m_scan.firstTimestamp = timestamp;
            m_scan.sawTimestamp = true;
        }
        m_scan.lastTimestamp = std::max(m_scan.lastTimestamp, timestamp);
        m_scan.lastTagTimestamp = timestamp;
    }

    void video(std::uint64_t at, std::uint64_t bodyAt, std::uint32_t size, std::uint32_t timestamp,
               std::span<const std::uint8_t> prefix)
    {
        if (prefix.empty())
            return;
        const int frameType = prefix[0] >> 4;
        const int codec = prefix[0] & 0x0f;
        // Video info/command frames carry no picture.
        if (frameType == 5)
            return;
        if (m_scan.videoTags == 0)
            m_scan.firstVideoTimestamp = timestamp;
        ++m_scan.videoTags;
        m_scan.videoBytes += size;
        m_scan.videoTagBytes += tagHeaderSize + size;
        m_scan.lastVideoTimestamp = std::max(m_scan.lastVideoTimestamp, timestamp);
        m_scan.videoCodec = codec;

        const bool avcConfig = codec == Avc && prefix.size() > 1 && prefix[1] == 0;
        // The AVC configuration is marked as a key frame and is where a player must start.
        const bool keyframe = frameType == 1;
        // One seek point a time: the first key frame of a timestamp is where playing starts
        // (an AVC configuration and its picture share one).
        if (keyframe &&
            (m_scan.keyframes.empty() || m_scan.keyframes.back().seconds != timestamp / 1000.0))
            m_scan.keyframes.push_back({timestamp / 1000.0, m_scan.keptBytes});
        if (!avcConfig)
            m_scan.lastVideoIsKeyframe = keyframe;
        if (timestamp != m_scan.lastVideoTagTimestamp) {
            m_scan.previousVideoTagTimestamp = m_scan.lastVideoTagTimestamp;
            m_scan.lastVideoTagTimestamp = timestamp;
        }

        if (!m_scan.dimensions) {
            try {
                if (codec == Avc && avcConfig)
                    m_scan.dimensions = videoDimensions(m_file.body(bodyAt, size));
                else if (codec != Avc)
                    m_scan.dimensions = videoDimensions(prefix);
            } catch (const FormatError& error) {
                throw FormatError(at, std::string("video tag: ") + error.what());
            }
        }
    }

    void audio(std::uint32_t size, std::uint32_t timestamp, std::span<const std::uint8_t> prefix)
    {
        if (m_scan.audioTags == 0)
            m_scan.firstAudioTimestamp = timestamp;
        ++m_scan.audioTags;
        m_scan.audioBytes += size;
        m_scan.audioTagBytes += tagHeaderSize + size;
        m_scan.lastAudioTimestamp = std::max(m_scan.lastAudioTimestamp, timestamp);
        if (timestamp != m_scan.lastAudioTagTimestamp) {
            m_scan.previousAudioTagTimestamp = m_scan.lastAudioTagTimestamp;
            m_scan.lastAudioTagTimestamp = timestamp;
        }
        if (prefix.empty())
            return;
        m_scan.audioCodec = prefix[0] >> 4;
        m_scan.audioRateCode = (prefix[0] >> 2) & 0x03;
        m_scan.audio16Bit = prefix[0] & 0x02;
        m_scan.stereo = prefix[0] & 0x01;
    }

    // False for an onMetaData tag, which is dropped.
    bool script(std::uint64_t bodyAt, std::uint32_t size)
    {
        if (size > maxScriptRead) {
            m_scan.dataTagBytes += tagHeaderSize + size;
            return true;
        }
        const auto body = m_file.body(bodyAt, size);
        std::size_t at = 0;
        std::string name;
        try {
            const AmfValue first = parseAmf(body, at);
            if (first.type == AmfType::String)
                name = first.string;
        } catch (const FormatError&) {
            // Script data of another kind: kept as it is.
        }
        if (name == "onMetaData") {
            try {
                const AmfValue value = at < body.size() ? parseAmf(body, at) : AmfValue{};
                if (!m_scan.oldMetadata)
                    m_scan.oldMetadata = value;
            } catch (const FormatError& error) {
                throw FormatError(bodyAt + error.offset(),
                                  std::string("unreadable onMetaData: ") + error.what());
            }
            return false;
        }
        if (name == "onCuePoint") {
            try {
                m_scan.cuePoints.push_back(parseAmf(body, at));
            } catch (const FormatError&) {
                // A cue point we cannot read is still copied; it is just not indexed.
            }
        }
        m_scan.dataTagBytes += tagHeaderSize + size;
        return true;
    }

    void keepTag(std::uint64_t begin, std::uint64_t end)
    {
        if (!m_openRange) {
            m_rangeBegin = begin;
            m_openRange = true;
        }
        m_scan.keptBytes += end - begin;
    }

    void closeRange(std::uint64_t end)
    {
        if (m_openRange && end > m_rangeBegin)
            m_scan.kept.push_back({m_rangeBegin, end});
        m_openRange = false;
    }

    FileView m_file;
    std::uint64_t m_size;
    FlvScan m_scan;
    bool m_openRange = false;
    std::uint64_t m_rangeBegin = 0;
};

} // namespace

FlvScan scanFlv(int fd, std::uint64_t fileSize)
{
    return Scanner(fd, fileSize).run();
}

} // namespace quillora::flv
