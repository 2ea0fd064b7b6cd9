#pragma once

#include "platform/Files.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillora::platform {

// A new file that appears at its target path complete or not at all. It is written in the
// target's folder (unnamed where the system allows it, so that not even a kill leaves a
// temporary file behind; elsewhere under a hidden temporary name that the system deletes when
// the file is closed, however the process ends) and put in place of the target only by commit().
class SafeOutput
{
public:
    // A file new at its path gets `permissions` as the umask allows. One that replaces a file
    // takes over that file's owner, group, permissions and extended attributes (ACLs among
    // them) as far as the system lets this process; where the owner cannot be kept, no set-user
    // or set-group bit is. On Windows it takes over the replaced file's attributes.
    SafeOutput(const std::string& target, std::uint32_t permissions);
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    FileHandle handle() const { return m_handle; }
    void writeAt(std::uint64_t offset, const void* data, std::size_t size);
    // Copies [from, from + length) of another file to `to`, in the kernel where it can, and
    // starts flushing it as it goes, so that commit() has little left to wait for.
    void copyFrom(const InputFile& in, std::uint64_t from, std::uint64_t length, std::uint64_t to);
    // Shares the blocks of [from, from + length) of another file at `to`, where the filesystem
    // can (offsets and length whole blocks); false where it refuses. Throws for a failure that a
    // copy would meet too (no space, an I/O error).
    [[nodiscard]] bool cloneFrom(const InputFile& in, std::uint64_t from, std::uint64_t length,
                                 std::uint64_t to);
    // The block size of the filesystem the file is on (0 where it does not say).
    std::uint64_t blockSize() const;
    // Empties the file, to begin again.
    void discard();
    // Flushes to disk and puts the file in place of the target.
    void commit();

private:
    std::string m_target;
    std::string m_tempPath; // set when the file has a name before it is complete
    FileHandle m_handle;
    bool m_committed = false;
};

} // namespace quillora::platform
