#pragma once

#include "flv/Amf0.h"
#include "flv/FlvScanner.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillora::flv {

// The onMetaData tag for a scanned file, written at `nowMilliseconds`. Its size is known before
// any byte is written, and it is rendered in pieces straight from the scan (which must outlive
// it), so a large keyframe index or many cue points are never held twice. Throws RenderError
// when the metadata does not fit in one tag.
class MetadataTag
{
public:
    MetadataTag(const FlvScan& scan, double nowMilliseconds, std::string creator);

    // Tag header, body and PreviousTagSize.
    std::uint64_t size() const { return m_size + m_padding; }

    // The least a padding field takes, and the most that still fits in the tag.
    static constexpr std::uint64_t minimumPadding = 17;
    std::uint64_t paddingRoom() const;
    // Grows the tag by `bytes` (0, or at least minimumPadding), in one field whose value is
    // filler, so that what follows it in the file may start where a block does.
    void pad(std::uint64_t bytes);
    // Hands the tag to `write` in consecutive pieces.
    void render(const std::function<void(std::string_view)>& write) const;
    std::string render() const;

private:
    // The entries that follow the named values, each written by a step of its own.
    enum class TailEntry { CuePoints, Keyframes, Creator, Date, Padding };

    // Where the first kept tag starts when this tag is `ownSize` bytes long.
    static std::uint64_t firstTagOffset(std::uint64_t ownSize);
    std::vector<TailEntry> tailEntries() const;
    // The tag as it is when it is `ownSize` bytes long (0 while that is still unknown).
    void render(std::uint64_t ownSize, const std::function<void(std::string_view)>& write) const;
    AmfProperties scalars(std::uint64_t ownSize) const;
    void padding(AmfWriter& amf) const;

    const FlvScan& m_scan;
    double m_now;
    std::string m_creator;
    bool m_hasVideo;
    std::uint64_t m_size = 0;
    std::uint64_t m_padding = 0;
};

} // namespace quillora::flv
