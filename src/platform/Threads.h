#pragma once

// What the encoder asks of the system about its threads, the same on every system.

namespace quillora::platform {

// The processor time the calling thread has used so far, in seconds.
[[nodiscard]] double threadCpuSeconds();

// The processor time the whole process has used so far, every thread's, in seconds.
[[nodiscard]] double processCpuSeconds();

// The processors this process may run on: its affinity (as `taskset` or a job object set it),
// not the machine's count. At least 1.
[[nodiscard]] int usableProcessors();

} // namespace quillora::platform
