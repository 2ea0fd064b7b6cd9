#pragma once

#include "Errors.h"
#include "ProgressWindow.h"

#include <functional>

namespace quillora::encoder {

// An encode that reports its progress (seconds done, seconds in all) as it goes.
using EncodeJob = std::function<void(const std::function<void(double, double)>& progress)>;
// Shows the user how an encode ended; tests record it instead.
using OutcomeNotice = std::function<void(QWidget* window, const Outcome& outcome)>;

// What the window says about an encode that did not succeed.
QString noticeText(const Outcome& outcome);

// Runs `encode` on a worker thread behind `window`, which shows its progress and lets the user
// cancel. When it ends the window says how, unless it succeeded; then the encode's failure,
// if any, is thrown on.
void encodeInWindow(ProgressWindow& window, const EncodeJob& encode,
                    const OutcomeNotice& notice = {});

} // namespace quillora::encoder
