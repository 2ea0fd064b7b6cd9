#include "flv/ByteSource.h"

#include "flv/Bytes.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace quillora::flv {

std::span<const std::uint8_t> MemorySource::at(std::uint64_t offset, std::uint64_t length) const
{
    // As a file that is shorter than its caller thought: the error is where the bytes end.
    if (offset > m_bytes.size() || length > m_bytes.size() - offset)
        throw FormatError(std::max<std::uint64_t>(offset, m_bytes.size()), "file ends early");
    return m_bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

void MemorySource::read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length)
{
    const auto piece = at(offset, length);
    if (length)
        std::memcpy(buffer, piece.data(), length);
}

std::span<const std::uint8_t> MemorySource::bytes(std::uint64_t offset, std::uint32_t length)
{
    return at(offset, length);
}

// Mapped, large pieces (AVC configurations, script data up to a tag's 16 MB) are read in place
// and make no system call per tag; where mapping fails they are read with pread.
FileSource::FileSource(int fd, std::uint64_t size)
    : m_fd(fd), m_size(size), m_pageSize(static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)))
{
    if (size == 0 || size > std::numeric_limits<std::size_t>::max())
        return;
    void* map = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED)
        m_map = static_cast<const std::uint8_t*>(map);
}

FileSource::~FileSource()
{
    if (m_map)
        ::munmap(const_cast<std::uint8_t*>(m_map), static_cast<std::size_t>(m_size));
}

// Small reads, as of tag headers, come from a window read ahead: one system call for many tags,
// and no page of the file mapped (in a virtual machine, a page fault costs far more than copying
// the page).
void FileSource::read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length)
{
    if (length > windowSize / 2) {
        readFile(offset, buffer, length);
        return;
    }
    if (offset < m_windowAt || offset + length > m_windowAt + m_windowLength) {
        m_window.resize(windowSize);
        m_windowAt = offset;
        m_windowLength = static_cast<std::size_t>(
            std::min<std::uint64_t>(windowSize, m_size > offset ? m_size - offset : 0));
        readFile(offset, m_window.data(), m_windowLength);
    }
    std::memcpy(buffer, m_window.data() + (offset - m_windowAt), length);
}

// The bytes in place where the file is mapped, else read into a buffer that the next call
// reuses.
std::span<const std::uint8_t> FileSource::bytes(std::uint64_t offset, std::uint32_t length)
{
    if (m_map)
        return {m_map + offset, length};
    m_buffer.resize(length);
    if (length)
        readFile(offset, m_buffer.data(), length);
    return m_buffer;
}

// The pages from the one holding `begin` to the one before the page holding `end` leave our
// memory; they stay in the page cache, and a read maps them again. Called for what lies behind
// a reader, it keeps the peak small however large the file or a tag.
void FileSource::release(std::uint64_t begin, std::uint64_t end)
{
    begin -= begin % m_pageSize;
    end -= end % m_pageSize;
    if (m_map && end > begin)
        ::madvise(const_cast<std::uint8_t*>(m_map) + begin, static_cast<std::size_t>(end - begin),
                  MADV_DONTNEED);
}

void FileSource::readFile(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const
{
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

} // namespace quillora::flv
