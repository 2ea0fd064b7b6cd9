// libFuzzer target for the metadata printer (flvtool2 -P): any bytes print or give a
// FormatError, never undefined behaviour; and the printer, the checker and the parser agree on
// where every value ends and on which values are readable.
#include "FuzzFile.h"

#include "flv/Amf0.h"
#include "flv/Bytes.h"
#include "flv/MetadataInjector.h"

#include <cstring>
#include <optional>
#include <sstream>
#include <system_error>

using namespace quillora::flv;

namespace {

// Where each reader stops at `offset`: past the value, or nothing when it refuses it.
template <class Read> std::optional<std::size_t> end(Read read, std::size_t offset)
{
    try {
        read(offset);
        return offset;
    } catch (const FormatError&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    std::ostringstream out;

    for (std::size_t at = 0; at < size;) {
        const auto parsed = end([&](std::size_t& o) { (void)parseAmf(bytes, o); }, at);
        const auto checked = end([&](std::size_t& o) { skipAmf(bytes, o); }, at);
        const auto described = end([&](std::size_t& o) { describeAmf(bytes, o, out); }, at);
        if (parsed != checked || parsed != described)
            fuzzFinding();
        if (!parsed)
            break;
        at = *parsed;
    }
    try {
        printMetadataValue(bytes, out);
    } catch (const FormatError&) {
    }
    if (size >= 8) {
        double milliseconds;
        std::memcpy(&milliseconds, data, sizeof milliseconds);
        out << describeDate(milliseconds);
    }

    // The whole printer, through a file as the tool reads it.
    if (size >= 3 && std::memcmp(data, "FLV", 3) == 0) {
        const int fd = fuzzFile(data, size);
        try {
            if (fd >= 0)
                (void)printMetadata(fuzzFilePath(fd), out);
        } catch (const FormatError&) {
        } catch (const std::system_error&) {
        }
    }
    return 0;
}
