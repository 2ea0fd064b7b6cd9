#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace quillora::flv {

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
