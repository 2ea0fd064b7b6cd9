#include "flv/CopyPlan.h"

#include <algorithm>
#include <optional>

namespace quillora::flv {

namespace {

std::uint64_t alignUp(std::uint64_t offset, std::uint64_t block)
{
    return (offset + block - 1) / block * block;
}

std::uint64_t alignDown(std::uint64_t offset, std::uint64_t block)
{
    return offset / block * block;
}

std::uint64_t wholeBlocks(const ByteRange& range, std::uint64_t block)
{
    const std::uint64_t first = alignUp(range.begin, block);
    const std::uint64_t last = alignDown(range.end, block);
    return last > first ? (last - first) / block : 0;
}

// The least padding in range that moves `to` onto `from` modulo the block size, if any.
std::optional<std::uint64_t> paddingFor(std::uint64_t from, std::uint64_t to, std::uint64_t block,
                                        PaddingRange range)
{
    const std::uint64_t gap = (from % block + block - to % block) % block;
    if (gap == 0)
        return 0;
    std::uint64_t padding = gap;
    if (padding < range.minimum)
        padding += alignUp(range.minimum - padding, block);
    if (padding > range.maximum)
        return std::nullopt;
    return padding;
}

} // namespace

bool CopyPlan::clones() const
{
    return std::any_of(steps.begin(), steps.end(),
                       [](const CopyStep& s) { return s.kind == CopyStep::Kind::Clone; });
}

CopyPlan planCopy(std::span<const ByteRange> kept, std::uint64_t headSize, std::uint64_t blockSize,
                  PaddingRange padding)
{
    CopyPlan plan;
    std::size_t aligned = kept.size();
    if (blockSize > 0) {
        std::uint64_t most = 0;
        for (std::size_t i = 0; i < kept.size(); ++i)
            if (const std::uint64_t n = wholeBlocks(kept[i], blockSize); n > most) {
                most = n;
                aligned = i;
            }
    }
    if (aligned < kept.size()) {
        std::uint64_t before = headSize;
        for (std::size_t i = 0; i < aligned; ++i)
            before += kept[i].end - kept[i].begin;
        if (const auto p = paddingFor(kept[aligned].begin, before, blockSize, padding))
            plan.padding = *p;
        else
            aligned = kept.size();
    }

    plan.headSize = headSize + plan.padding;
    std::uint64_t to = plan.headSize;
    // [from, end) of range `r`, which starts at `to` in the new file.
    const auto step = [&](CopyStep::Kind kind, const ByteRange& r, std::uint64_t from,
                          std::uint64_t end) {
        if (end > from)
            plan.steps.push_back({kind, from, to + (from - r.begin), end - from});
    };
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const ByteRange& r = kept[i];
        if (i == aligned) {
            const std::uint64_t first = alignUp(r.begin, blockSize);
            const std::uint64_t last = alignDown(r.end, blockSize);
            step(CopyStep::Kind::Copy, r, r.begin, first);
            step(CopyStep::Kind::Clone, r, first, last);
            step(CopyStep::Kind::Copy, r, last, r.end);
        } else {
            step(CopyStep::Kind::Copy, r, r.begin, r.end);
        }
        to += r.end - r.begin;
    }
    plan.size = to;
    return plan;
}

} // namespace quillora::flv
