#pragma once

#include "flv/Amf0.h"
#include "flv/FlvScanner.h"

#include <string>

namespace quillora::flv {

// The onMetaData array for a scanned file whose new metadata tag is `metadataTagBytes` long
// (tag header, body and trailer), written at `nowMilliseconds`.
AmfValue buildMetadata(const FlvScan& scan, std::uint64_t metadataTagBytes, double nowMilliseconds,
                       const std::string& creator);

// A complete script tag (header, body, PreviousTagSize) holding onMetaData.
std::string renderMetadataTag(const AmfValue& metadata);

// Writes `output` (which may be `input` itself) as `input` with a fresh onMetaData first. The
// output appears complete or not at all. Throws FormatError for a bad FLV and
// std::system_error for a failure to read or write.
void injectMetadata(const std::string& input, const std::string& output, double nowMilliseconds,
                    const std::string& creator);

// The onMetaData the file holds, if any.
std::optional<AmfValue> readMetadata(const std::string& path);

} // namespace quillora::flv
