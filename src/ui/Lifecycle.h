#pragma once

#include <functional>

namespace quillora::ui {

// Ends the process at once: no further handler of any window runs. Tests replace it.
[[noreturn]] void End(int exitCode = 0);

// Replaces what End does; the replacement must not return (throw, or end the process).
void setEndHandler(std::function<void(int)> handler);

} // namespace quillora::ui
