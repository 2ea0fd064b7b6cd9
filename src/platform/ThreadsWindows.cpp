#include "Threads.h"

#include <bit>
#include <cstdint>
#include <thread>
#include <windows.h>

namespace quillora::platform {

namespace {
// Kernel and user time, which the system counts in units of 100 ns.
double seconds(const FILETIME& kernel, const FILETIME& user)
{
    const auto ticks = [](const FILETIME& t) {
        return double(std::uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime);
    };
    return (ticks(kernel) + ticks(user)) / 1e7;
}
} // namespace

double threadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    return seconds(kernel, user);
}

double processCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return seconds(kernel, user);
}

int usableProcessors()
{
    DWORD_PTR process = 0, system = 0;
    // The mask covers the process's processor group, which is all a process uses unless it
    // asks for more.
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(std::uint64_t(process));
    const unsigned all = std::thread::hardware_concurrency();
    return all > 0 ? int(all) : 1;
}

} // namespace quillora::platform
