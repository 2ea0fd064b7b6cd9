#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// The fuzzer's input as a file in memory, for code that reads files: its descriptor, or -1.
inline int fuzzFile(const std::uint8_t* data, std::size_t size)
{
    static const int fd = memfd_create("fuzz.flv", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return -1;
    return fd;
}

// A path that opens the file.
inline std::string fuzzFilePath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

// A finding: libFuzzer keeps the input that got here.
[[noreturn]] inline void fuzzFinding()
{
    __builtin_trap();
}
