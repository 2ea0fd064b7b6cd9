#pragma once

#include "EncoderOptions.h"
#include "Errors.h"
#include "VideoRate.h"
#include "platform/Files.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace quillora::encoder {

// Seconds of the source done so far and in all (0 when the source does not say).
using ProgressCallback = std::function<void(double done, double total)>;

// Decodes the source and writes an FLV (Sorenson H.263 and MP3) to the open, empty file
// `output` (which the caller owns and puts in place). Throws Cancelled soon after `cancel`
// becomes true, and EncodeError when the encode fails. Returns how the video's rate came out.
VideoRate transcode(const EncoderOptions& options, platform::FileHandle output,
                    const std::atomic<bool>& cancel, const ProgressCallback& progress);

} // namespace quillora::encoder
