#pragma once

#include "EncoderOptions.h"
#include "Errors.h"

#include <atomic>
#include <functional>
#include <string>

namespace quillora::encoder {

// Seconds of the source done so far and in all (0 when the source does not say).
using ProgressCallback = std::function<void(double done, double total)>;

// Decodes the source and writes an FLV (Sorenson H.263 and MP3) to the open, seekable file
// `outputFd` (which the caller owns and puts in place). Throws Cancelled soon after `cancel`
// becomes true, and EncodeError when the encode fails.
void transcode(const EncoderOptions& options, int outputFd, const std::atomic<bool>& cancel,
               const ProgressCallback& progress);

} // namespace quillora::encoder
