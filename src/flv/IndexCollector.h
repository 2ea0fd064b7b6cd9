#pragma once

#include "flv/Amf0.h"
#include "flv/FlvScanner.h"

#include <cstdint>
#include <functional>
#include <span>

namespace quillora::flv {

// Collects the index that the new onMetaData will hold into a scan's keyframes and cue points:
// one seek point a timestamp, at the first key frame of it (an AVC configuration and its
// picture share one), and every cue point that stays readable inside the index. It collects
// only while the index fits in one tag beside the other metadata, and then says so in
// indexTooLarge.
class IndexCollector
{
public:
    // With `collect` false it collects nothing, for scans that only read.
    IndexCollector(FlvScan& scan, bool collect) : m_scan(scan), m_collect(collect) {}

    // A key frame at `timestamp` (ms) whose tag starts `keptOffset` bytes into the copied tags.
    void keyframe(std::uint32_t timestamp, std::uint64_t keptOffset);

    // The onCuePoint value that starts at `valueAt` in a script tag's `body`. It is copied a
    // piece at a time, and `release(from, to)` is told of each piece of the body it is done
    // with, so that the value is not in memory twice, as mapped pages and as our copy.
    void cuePoint(std::span<const std::uint8_t> body, std::size_t valueAt,
                  const AmfProgress& progress,
                  const std::function<void(std::size_t from, std::size_t to)>& release);

private:
    // Room for `bytes` more of the index; past what one tag holds, the collecting stops.
    bool reserve(std::uint64_t bytes);

    FlvScan& m_scan;
    bool m_collect;
    std::uint64_t m_bytes = 0;
};

} // namespace quillora::flv
