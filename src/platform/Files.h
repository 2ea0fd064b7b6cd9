#pragma once

// Files as the three programs use them, the same on every system. Paths are UTF-8; where the
// system speaks another encoding (UTF-16 on Windows) the implementation converts at its calls.
// Failures are std::system_error with the system's own code and category, so that what() ends
// in the system's own words.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quillora::platform {

// An open file as the system knows it: a descriptor, or a Windows HANDLE.
#ifdef _WIN32
using FileHandle = void*;
#else
using FileHandle = int;
#endif

// What makes a file the one it is, whatever name it is reached by.
struct FileIdentity
{
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct FileStatus
{
    FileIdentity identity;
    bool regular = false;
    bool directory = false;
    std::uint64_t size = 0;
    // The permission bits (with set-user, set-group and sticky), where the system has them.
    std::uint32_t permissions = 0;
};

// What `path` names now, through symbolic links; nothing when it names nothing.
[[nodiscard]] std::optional<FileStatus> statusOf(const std::string& path);

// True when both paths name one existing file, by any names or links.
[[nodiscard]] bool sameFile(const std::string& a, const std::string& b);

// The permissions a new file gets where it replaces none: read and write for those the
// user's settings allow. It reads the umask, which means setting it for the whole process: only
// while no other thread runs.
[[nodiscard]] std::uint32_t newFilePermissions();

// The file that writing to `path` replaces: the one at the end of its symbolic links, so that a
// link stays a link. `path` itself when it names nothing yet.
[[nodiscard]] std::string resolveTarget(const std::string& path);

// The folder part of a path ("." for a bare name).
[[nodiscard]] std::string parentFolder(const std::string& path);

// The system's message for an error code (errno here, GetLastError() on Windows), with a line
// end it ends in removed, or the empty text when the system has none.
[[nodiscard]] std::string systemErrorText(int code);

// The last failure of a system call, as an exception whose message is `what` followed by
// `subject` (a path, say). The message is put together after the failure is read, which
// allocating it could change.
[[noreturn]] void throwLastError(const char* what, const std::string& subject = {});

// Writes all of [data, data + size) at `offset`; throws naming `path` on failure.
void writeAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size,
             const std::string& path);

// The size of an open file; throws naming `path` on failure.
[[nodiscard]] std::uint64_t sizeOf(FileHandle file, const std::string& path);

// A file opened for reading, closed with the object. Anything but a plain file (a folder, a
// FIFO that would block) is refused.
class InputFile
{
public:
    explicit InputFile(const std::string& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    FileHandle handle() const { return m_handle; }
    const std::string& path() const { return m_path; }
    // As it was when opened.
    std::uint64_t size() const { return m_size; }
    FileIdentity identity() const { return m_identity; }
    std::uint32_t permissions() const { return m_permissions; }

    // Reads up to `length` bytes at `offset`; fewer only where the file ends.
    [[nodiscard]] std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t length) const;
    // A file that something wrote to while it was read (a recording still going on) would lose
    // what came after the read: throws when its size or modification time changed since it was
    // opened.
    void checkUnchanged() const;
    // Says that the file's cached pages are not needed again.
    void dropCachedPages() const noexcept;

private:
    std::string m_path;
    FileHandle m_handle;
    std::uint64_t m_size = 0;
    FileIdentity m_identity;
    std::uint32_t m_permissions = 0;
    std::int64_t m_modified = 0;
};

// A read-only view of a whole open file in memory, where the system can give one.
class FileMapping
{
public:
    explicit FileMapping(const InputFile& file);
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    // Null where the file could not be mapped.
    const std::uint8_t* data() const { return m_data; }
    // Lets the pages of [begin, end) leave this process's memory; a later read brings them back.
    void release(std::uint64_t begin, std::uint64_t end) noexcept;

private:
    const std::uint8_t* m_data = nullptr;
    std::uint64_t m_size = 0;
    std::uint64_t m_pageSize = 4096;
    // The section object that Windows keeps beside the view; POSIX has no such thing.
    [[maybe_unused]] void* m_mappingObject = nullptr;
};

} // namespace quillora::platform
