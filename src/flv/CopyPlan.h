#pragma once

#include "flv/FlvScanner.h"

#include <cstdint>
#include <span>
#include <vector>

namespace quillora::flv {

// One run of bytes that goes from the old file to the new one unchanged.
struct CopyStep
{
    enum class Kind {
        Copy, // through the kernel's copy, or a buffer where that is refused
        Clone // the old file's blocks shared, nothing written: whole blocks at aligned offsets
    };
    Kind kind;
    std::uint64_t from; // offset in the old file
    std::uint64_t to;   // offset in the new file
    std::uint64_t length;

    bool operator==(const CopyStep&) const = default;
};

// The sizes that the head can grow by to align the copied bytes: `minimum` up to `maximum`
// bytes, besides growing by nothing.
struct PaddingRange
{
    std::uint64_t minimum;
    std::uint64_t maximum;
};

// How a new file is made from an old one: `headSize` bytes written first (the FLV header, the
// first PreviousTagSize and the new onMetaData, grown by `padding`), then the kept ranges of the
// old file one after another, in `steps`.
struct CopyPlan
{
    std::uint64_t headSize = 0;
    std::uint64_t padding = 0;
    std::vector<CopyStep> steps;
    // Of the new file.
    std::uint64_t size = 0;

    bool clones() const;
};

// Where the kept ranges go after a head of `headSize` bytes. With a `blockSize`, the head grows
// (by a padding within `padding`) so that one range, the one with the most whole blocks, keeps
// every byte's offset modulo the block size; its whole blocks are then cloned and only its
// partial first and last blocks copied. Without a block size, or where no padding in range
// aligns a whole block, nothing grows and everything is copied.
[[nodiscard]] CopyPlan planCopy(std::span<const ByteRange> kept, std::uint64_t headSize,
                                std::uint64_t blockSize, PaddingRange padding);

} // namespace quillora::flv
