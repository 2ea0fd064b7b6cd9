#include "flv/ByteSource.h"

#include "flv/Bytes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <system_error>

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
// and make no system call per tag; where mapping fails they are read into a buffer.
FileSource::FileSource(const platform::InputFile& file) : m_file(file), m_mapping(file) {}

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
            std::min<std::uint64_t>(windowSize, size() > offset ? size() - offset : 0));
        readFile(offset, m_window.data(), m_windowLength);
    }
    std::memcpy(buffer, m_window.data() + (offset - m_windowAt), length);
}

// The bytes in place where the file is mapped, else read into a buffer that the next call
// reuses.
std::span<const std::uint8_t> FileSource::bytes(std::uint64_t offset, std::uint32_t length)
{
    if (m_mapping.data())
        return {m_mapping.data() + offset, length};
    m_buffer.resize(length);
    if (length)
        readFile(offset, m_buffer.data(), length);
    return m_buffer;
}

// Called for what lies behind a reader, it keeps the peak small however large the file or a
// tag.
void FileSource::release(std::uint64_t begin, std::uint64_t end)
{
    m_mapping.release(begin, end);
}

void FileSource::readFile(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const
{
    const std::size_t got = m_file.readAt(offset, buffer, length);
    if (got != length)
        throw FormatError(offset + got, "file ends early");
}

} // namespace quillora::flv
