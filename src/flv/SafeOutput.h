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
    // A file new at its path gets `mode` as the umask allows. One that replaces a file takes
    // over that file's owner, group, permissions and extended attributes (ACLs among them) as
    // far as the system lets this process; where the owner cannot be kept, no set-user or
    // set-group bit is.
    SafeOutput(const std::string& target, mode_t mode);
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    int fd() const { return m_fd; }
    void write(const void* data, std::size_t size);
    void writeAt(std::uint64_t offset, const void* data, std::size_t size);
    // Copies [from, from + length) of another file to `to`, in the kernel where it can, and
    // starts flushing it as it goes, so that commit() has little left to wait for.
    void copyFrom(int inFd, std::uint64_t from, std::uint64_t length, std::uint64_t to);
    // Shares the blocks of [from, from + length) of another file at `to`, where the filesystem
    // can (offsets and length whole blocks); false where it refuses. Throws for a failure that a
    // copy would meet too (no space, an I/O error).
    [[nodiscard]] bool cloneFrom(int inFd, std::uint64_t from, std::uint64_t length,
                                 std::uint64_t to);
    // The block size of the filesystem the file is on (0 where it does not say).
    std::uint64_t blockSize() const;
    // Empties the file, to begin again.
    void discard();
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
