#include "flv/IndexCollector.h"

#include <algorithm>

namespace quillora::flv {

namespace {
// Room in the new onMetaData's tag for everything but the keyframes and cue points: some thirty
// named numbers and flags, and the creator's name.
constexpr std::uint64_t maxIndexBytes = maxTagDataSize - (64u << 10);
constexpr std::size_t pieceSize = 1u << 20;
} // namespace

void IndexCollector::keyframe(std::uint32_t timestamp, std::uint64_t keptOffset)
{
    const double seconds = timestamp / 1000.0;
    if ((m_scan.keyframes.empty() || m_scan.keyframes.back().seconds != seconds) &&
        reserve(keyframeIndexBytes))
        m_scan.keyframes.push_back({seconds, keptOffset});
}

void IndexCollector::cuePoint(std::span<const std::uint8_t> body, std::size_t valueAt,
                              const AmfProgress& progress,
                              const std::function<void(std::size_t, std::size_t)>& release)
{
    if (!m_collect || m_scan.indexTooLarge)
        return;
    std::size_t end = valueAt;
    try {
        // In the index a cue point sits in the cuePoints array of the onMetaData array, and
        // must still be readable there.
        skipAmf(body, end, progress, 2);
    } catch (const FormatError&) {
        return; // a cue point we cannot read is still copied; it is just not indexed
    }
    if (!reserve(end - valueAt))
        return;
    for (std::size_t from = valueAt; from < end;) {
        const std::size_t n = std::min(end - from, pieceSize);
        m_scan.cuePoints.append(body.subspan(from, n));
        release(from, from + n);
        from += n;
    }
    m_scan.cuePoints.endValue();
}

bool IndexCollector::reserve(std::uint64_t bytes)
{
    if (!m_collect)
        return false;
    if (m_scan.indexTooLarge || m_bytes + bytes > maxIndexBytes) {
        m_scan.indexTooLarge = true;
        return false;
    }
    m_bytes += bytes;
    return true;
}

} // namespace quillora::flv
