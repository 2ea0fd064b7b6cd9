#pragma once

#include <functional>

namespace quillora::ui {

// Ends the process at once: no further handler of any window runs. It returns only where a
// test has replaced it, and every caller returns at once after it.
void End(int exitCode = 0);

// Replaces what End does, for tests: the replacement records the call and returns.
void setEndHandler(std::function<void(int)> handler);

} // namespace quillora::ui
