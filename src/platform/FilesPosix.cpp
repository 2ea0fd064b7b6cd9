#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace quillora::platform {

namespace {
FileStatus statusFrom(const struct stat& info)
{
    FileStatus status;
    status.identity = {static_cast<std::uint64_t>(info.st_dev),
                       static_cast<std::uint64_t>(info.st_ino)};
    status.regular = S_ISREG(info.st_mode);
    status.directory = S_ISDIR(info.st_mode);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.permissions = info.st_mode & 07777;
    return status;
}

std::int64_t modifiedNanoseconds(const struct stat& info)
{
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}
} // namespace

std::optional<FileStatus> statusOf(const std::string& path)
{
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return statusFrom(info);
}

std::uint32_t newFilePermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::string resolveTarget(const std::string& path)
{
    if (!statusOf(path))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        throwLastError("cannot resolve ", path);
    std::string result = real;
    std::free(real);
    return result;
}

std::string parentFolder(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string systemErrorText(int code)
{
    // strerror_r's GNU form may return a static text instead of filling the buffer.
    char buffer[256] = {};
    const char* message = strerror_r(code, buffer, sizeof buffer);
    std::string text = message ? message : "";
    if (text.starts_with("Unknown error"))
        return {};
    // Only a line end that is there is removed; a text without one keeps every character.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void throwLastError(const char* what, const std::string& subject)
{
    const int error = errno;
    throw std::system_error(error, std::generic_category(), what + subject);
}

void writeAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size,
             const std::string& path)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(file, p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throwLastError("cannot write ", path);
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
}

std::uint64_t sizeOf(FileHandle file, const std::string& path)
{
    struct stat info
    {
    };
    if (::fstat(file, &info) != 0)
        throwLastError("cannot read ", path);
    return static_cast<std::uint64_t>(info.st_size);
}

// Not blocking: a FIFO given as the input is refused below rather than waited on.
InputFile::InputFile(const std::string& path)
    : m_path(path), m_handle(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
{
    if (m_handle < 0)
        throwLastError("cannot open ", path);
    struct stat info
    {
    };
    if (::fstat(m_handle, &info) != 0) {
        const int error = errno;
        ::close(m_handle);
        throw std::system_error(error, std::generic_category(), "cannot read " + path);
    }
    const FileStatus status = statusFrom(info);
    if (!status.regular) {
        ::close(m_handle);
        throw std::system_error(EINVAL, std::generic_category(), path + " is not a file");
    }
    m_size = status.size;
    m_identity = status.identity;
    m_permissions = status.permissions;
    m_modified = modifiedNanoseconds(info);
}

InputFile::~InputFile()
{
    ::close(m_handle);
}

std::size_t InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t length) const
{
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_handle, p + done, length - done, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throwLastError("cannot read ", m_path);
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return done;
}

void InputFile::checkUnchanged() const
{
    struct stat now
    {
    };
    if (::fstat(m_handle, &now) != 0)
        throwLastError("cannot read ", m_path);
    if (static_cast<std::uint64_t>(now.st_size) != m_size || modifiedNanoseconds(now) != m_modified)
        throw std::system_error(EBUSY, std::generic_category(),
                                m_path + " changed while it was read; it was left as it is");
}

void InputFile::dropCachedPages() const noexcept
{
    ::posix_fadvise(m_handle, 0, 0, POSIX_FADV_DONTNEED);
}

FileMapping::FileMapping(const InputFile& file)
    : m_size(file.size()), m_pageSize(static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)))
{
    if (m_size == 0 || m_size > SIZE_MAX)
        return;
    void* map =
        ::mmap(nullptr, static_cast<std::size_t>(m_size), PROT_READ, MAP_PRIVATE, file.handle(), 0);
    if (map != MAP_FAILED)
        m_data = static_cast<const std::uint8_t*>(map);
}

FileMapping::~FileMapping()
{
    if (m_data)
        ::munmap(const_cast<std::uint8_t*>(m_data), static_cast<std::size_t>(m_size));
}

// From the page holding `begin` to the one before the page holding `end`. They stay in the page
// cache.
void FileMapping::release(std::uint64_t begin, std::uint64_t end) noexcept
{
    begin -= begin % m_pageSize;
    end -= end % m_pageSize;
    if (m_data && end > begin)
        ::madvise(const_cast<std::uint8_t*>(m_data) + begin, static_cast<std::size_t>(end - begin),
                  MADV_DONTNEED);
}

} // namespace quillora::platform
