#pragma once

#include "flv/Amf0.h"
#include "flv/FlvScanner.h"

#include <cstdint>
#include <functional>
#include <optional>
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
    // The tag as it is when it is `ownSize` bytes long (0 while that is still unknown).
    void render(std::uint64_t ownSize, const std::function<void(std::string_view)>& write) const;
    AmfProperties scalars(std::uint64_t ownSize) const;
    void padding(AmfWriter& amf) const;

    const FlvScan& m_scan;
    double m_now;
    std::string m_creator;
    std::uint64_t m_size = 0;
    std::uint64_t m_padding = 0;
};

// How the new file is laid out. By default, for the filesystem it goes to: where that can share
// blocks between files, the new onMetaData is padded so that the copied tags keep their offsets
// modulo its block size and their blocks are shared; elsewhere the tags follow it closely. A
// block size pads for blocks of that size, shared or not.
struct Layout
{
    std::uint64_t blockSize = 0;
};

// Writes `output` (which may be `input` itself) as `input` with a fresh onMetaData first. The
// output appears complete or not at all. Throws FormatError for a bad FLV, RenderError for
// metadata that one tag cannot hold and std::system_error for a failure to read or write.
void injectMetadata(const std::string& input, const std::string& output, double nowMilliseconds,
                    const std::string& creator, Layout layout = {});

// The encoded value of the onMetaData a file holds, and where it is in the file.
struct EncodedMetadata
{
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// The onMetaData the file holds, if any.
[[nodiscard]] std::optional<EncodedMetadata> readMetadata(const std::string& path);

// Prints the properties of an encoded onMetaData value, a "key: text" line each; the keyframe
// index by its length. Throws FormatError with offsets within `value`.
void printMetadataValue(std::span<const std::uint8_t> value, std::ostream& out);

// Prints the onMetaData the file holds; false, with nothing printed, when it holds none.
[[nodiscard]] bool printMetadata(const std::string& path, std::ostream& out);

} // namespace quillora::flv
