#include "flv/MetadataPrinter.h"

#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/FlvScanner.h"
#include "platform/Files.h"

namespace quillora::flv {

namespace {

using platform::InputFile;

void readExactly(const InputFile& in, std::uint8_t* buffer, std::size_t length,
                 std::uint64_t offset)
{
    const std::size_t got = in.readAt(offset, buffer, length);
    if (got != length)
        throw FormatError(offset + got, "file ends early");
}

// The length of the first "times" array in a keyframe index, which `offset` is moved past.
std::uint64_t keyframeCount(std::span<const std::uint8_t> data, std::size_t& offset)
{
    std::uint64_t count = 0;
    bool found = false;
    const bool object = readAmfProperties(data, offset, [&](std::string_view key, std::size_t& at) {
        if (!found && key == "times") {
            found = true;
            if (data.size() - at >= 5 && data[at] == std::uint8_t(AmfType::StrictArray))
                count = toUInt32BE(&data[at + 1]);
        }
        skipAmf(data, at);
    });
    if (!object)
        skipAmf(data, offset);
    return count;
}

} // namespace

std::optional<EncodedMetadata> readMetadata(const std::string& path)
{
    const InputFile in(path);
    const std::optional<ByteRange> where = scanFlv(in, ScanIndex::Skip).oldMetadata;
    if (!where)
        return std::nullopt;
    EncodedMetadata metadata{where->begin, std::vector<std::uint8_t>(where->end - where->begin)};
    readExactly(in, metadata.bytes.data(), metadata.bytes.size(), where->begin);
    return metadata;
}

void printMetadataValue(std::span<const std::uint8_t> value, std::ostream& out)
{
    std::size_t at = 0;
    if (value.empty())
        return;
    // Metadata that is not an array has no properties to print.
    (void)readAmfProperties(value, at, [&](std::string_view key, std::size_t& offset) {
        if (key == "keyframes") {
            out << "keyframes: " << keyframeCount(value, offset) << " entries\n";
            return;
        }
        out << key << ": ";
        describeAmf(value, offset, out);
        out << '\n';
    });
}

bool printMetadata(const std::string& path, std::ostream& out)
{
    const auto metadata = readMetadata(path);
    if (!metadata)
        return false;
    try {
        printMetadataValue(metadata->bytes, out);
    } catch (const FormatError& error) {
        throw FormatError(metadata->offset + error.offset(), error.what());
    }
    return true;
}

} // namespace quillora::flv
