#pragma once

#include "platform/Files.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quillora::flv {

// Random access to the bytes of a file being read, wherever they are. Callers stay within
// size(). Where the bytes are not all there after all (a file cut short while it is read),
// FormatError names the offset where they end; std::system_error reports a failure to read.
class ByteSource
{
public:
    virtual ~ByteSource() = default;

    virtual std::uint64_t size() const = 0;
    // A small piece, as a tag header, copied into `buffer`.
    virtual void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) = 0;
    // A piece of any size, valid until the next call.
    virtual std::span<const std::uint8_t> bytes(std::uint64_t offset, std::uint32_t length) = 0;
    // Readers that go forward say what lies behind them, which the source may let go of.
    virtual void release(std::uint64_t begin, std::uint64_t end) = 0;
};

// Bytes already in memory, which must outlive the source.
class MemorySource final : public ByteSource
{
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::uint64_t size() const override { return m_bytes.size(); }
    void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
    std::span<const std::uint8_t> bytes(std::uint64_t offset, std::uint32_t length) override;
    void release(std::uint64_t, std::uint64_t) override {}

private:
    std::span<const std::uint8_t> at(std::uint64_t offset, std::uint64_t length) const;

    std::span<const std::uint8_t> m_bytes;
};

// An open file, as long as it was when opened, read in place: small reads come from a window
// read ahead, large pieces from a mapping of the file, and the memory it takes stays small
// however large the file. The file must outlive the source.
class FileSource final : public ByteSource
{
public:
    explicit FileSource(const platform::InputFile& file);

    std::uint64_t size() const override { return m_file.size(); }
    void read(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override;
    std::span<const std::uint8_t> bytes(std::uint64_t offset, std::uint32_t length) override;
    void release(std::uint64_t begin, std::uint64_t end) override;

private:
    static constexpr std::size_t windowSize = 128u << 10;

    void readFile(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) const;

    const platform::InputFile& m_file;
    platform::FileMapping m_mapping;
    std::vector<std::uint8_t> m_buffer;
    std::vector<std::uint8_t> m_window;
    std::uint64_t m_windowAt = 0;
    std::size_t m_windowLength = 0;
};

} // namespace quillora::flv
