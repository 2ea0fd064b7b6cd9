#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace quillora::flv {

// A new file that appears at its target path complete or not at all. It is written unnamed in
// the target's folder where the system allows it, so that not even a kill leaves a temporary
// file behind, and renamed over the target only by commit().
class SafeOutput
{
public:
    SafeOutput(const std::string& target, mode_t mode);
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    int fd() const { return m_fd; }
    void write(const void* data, std::size_t size);
    // Copies [offset, offset + length) of another file, in the kernel where it can.
    void copyFrom(int inFd, std::uint64_t offset, std::uint64_t length);
    // Flushes to disk and puts the file in place of the target.
    void commit();

private:
    std::string m_target;
    std::string m_tempPath; // set when the file had to be named from the start
    int m_fd = -1;
    bool m_committed = false;
};

// The folder part of a path ("." for a bare name).
std::string parentFolder(const std::string& path);

} // namespace quillora::flv
