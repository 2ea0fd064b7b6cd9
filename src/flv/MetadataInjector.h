#pragma once

// The onMetaData tag, how a file's metadata is printed, and the sequence that writes a file
// with fresh metadata: the three jobs of flvtool2, one file each.
#include "flv/MetadataPrinter.h"
#include "flv/MetadataTag.h"

#include <cstdint>
#include <string>

namespace quillora::flv {

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

} // namespace quillora::flv
