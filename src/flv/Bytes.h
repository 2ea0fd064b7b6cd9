#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace quillora::flv {

// A format problem at a known place in a file.
class FormatError : public std::runtime_error
{
public:
    FormatError(std::uint64_t offset, const std::string& problem)
        : std::runtime_error(problem), m_offset(offset)
    {}
    std::uint64_t offset() const { return m_offset; }

private:
    std::uint64_t m_offset;
};

// A value the format has no room for (a key past 65,535 bytes, a tag body past 16 MB), refused
// before any byte of it is written.
class RenderError : public std::length_error
{
public:
    using std::length_error::length_error;
};

inline std::uint32_t toUInt24BE(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
}
inline std::uint32_t toUInt32BE(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | toUInt24BE(p + 1);
}
inline std::uint16_t toUInt16BE(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
// An IEEE 754 double, most significant byte first, as AMF0 stores numbers and dates.
inline double toDoubleBE(const std::uint8_t* p)
{
    return std::bit_cast<double>((std::uint64_t(toUInt32BE(p)) << 32) | toUInt32BE(p + 4));
}

inline void appendUInt8(std::string& out, unsigned v)
{
    out.push_back(static_cast<char>(v & 0xff));
}
inline void appendUInt16BE(std::string& out, unsigned v)
{
    appendUInt8(out, v >> 8);
    appendUInt8(out, v);
}
inline void appendUInt24BE(std::string& out, std::uint32_t v)
{
    appendUInt8(out, v >> 16);
    appendUInt16BE(out, v & 0xffff);
}
inline void appendUInt32BE(std::string& out, std::uint32_t v)
{
    appendUInt16BE(out, v >> 16);
    appendUInt16BE(out, v & 0xffff);
}
inline void appendDoubleBE(std::string& out, double v)
{
    const auto bits = std::bit_cast<std::uint64_t>(v);
    appendUInt32BE(out, static_cast<std::uint32_t>(bits >> 32));
    appendUInt32BE(out, static_cast<std::uint32_t>(bits));
}

// Reads bits most significant first, as video bitstream headers are written.
class BitReader
{
public:
    explicit BitReader(std::span<const std::uint8_t> data) : m_data(data) {}

    std::uint32_t bits(int count)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i) {
            if (m_position >= m_data.size() * 8)
                throw FormatError(0, "video header ends early");
            const std::uint8_t byte = m_data[m_position / 8];
            value = (value << 1) | ((byte >> (7 - m_position % 8)) & 1);
            ++m_position;
        }
        return value;
    }
    bool flag() { return bits(1) != 0; }

    // Exp-Golomb codes of H.264.
    std::uint32_t ue()
    {
        int zeros = 0;
        while (!flag())
            if (++zeros > 31)
                throw FormatError(0, "bad exp-Golomb code");
        return ((1u << zeros) - 1) + bits(zeros);
    }
    std::int32_t se()
    {
        const std::uint32_t k = ue();
        return (k & 1) ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
    }

private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_position = 0;
};

} // namespace quillora::flv
