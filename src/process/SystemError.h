#pragma once

#include <QString>

namespace quillora::process {

// The system's message for an error number, without a trailing line end, or the empty text
// when the system has none.
[[nodiscard]] QString GetSystemErrorText(int code);

// The error number for a program that could not be started, found after the fact because
// the process API reports only that the start failed.
[[nodiscard]] int startFailureCode(const QString& program);

} // namespace quillora::process
