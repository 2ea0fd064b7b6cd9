#pragma once

#include "EncoderOptions.h"

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

namespace quillora::encoder {

// A failure the user should read about, in plain words.
class EncodeError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Seconds of the source done so far and in all (0 when the source does not say).
using ProgressCallback = std::function<void(double done, double total)>;

// Decodes the source and writes an FLV (Sorenson H.263 and MP3) to the open, seekable file
// `outputFd` (which the caller owns and puts in place). Stops with
// EncodeError("cancelled") soon after `cancel` becomes true.
void transcode(const EncoderOptions& options, int outputFd, const std::atomic<bool>& cancel,
               const ProgressCallback& progress);

} // namespace quillora::encoder
