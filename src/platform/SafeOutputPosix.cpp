#include "platform/SafeOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace quillora::platform {

namespace {
[[noreturn]] void fail(const char* what, const std::string& subject)
{
    throwLastError(what, subject);
}

// The extended attributes of `from`, copied where the system allows each one.
void copyAttributes(const std::string& from, int to)
{
    ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size <= 0)
        return;
    std::vector<char> names(static_cast<std::size_t>(size));
    size = ::listxattr(from.c_str(), names.data(), names.size());
    if (size <= 0)
        return;
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + size;
         name += std::strlen(name) + 1) {
        const ssize_t length = ::getxattr(from.c_str(), name, nullptr, 0);
        if (length < 0)
            continue;
        value.resize(static_cast<std::size_t>(length));
        const ssize_t got = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (got >= 0)
            (void)::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0);
    }
}

// Takes over what a replaced file's readers and owner rely on.
void takeOver(const std::string& target, int fd)
{
    struct stat old
    {
    };
    if (::stat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    // Only root may give a file away; anyone may keep a group they belong to.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    struct stat now
    {
    };
    const bool ownerKept =
        ::fstat(fd, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid;
    ::fchmod(fd, old.st_mode & (ownerKept ? 07777 : 0777));
    copyAttributes(target, fd);
}

std::string randomSuffix()
{
    static std::mt19937_64 generator{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}
} // namespace

SafeOutput::SafeOutput(const std::string& target, std::uint32_t permissions)
    : m_target(target), m_handle(-1)
{
    const std::string folder = parentFolder(target);
    // An unnamed file is named through /proc when it is complete, which a chroot or a sandbox
    // may lack.
    if (::access("/proc/self/fd", X_OK) == 0)
        m_handle = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions & 0777);
    if (m_handle < 0) {
        // File systems without unnamed files: a hidden name beside the target.
        const auto slash = target.find_last_of('/');
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        m_tempPath = folder + "/." + name + "." + randomSuffix() + ".part";
        m_handle =
            ::open(m_tempPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, permissions & 0777);
        if (m_handle < 0) {
            m_tempPath.clear();
            fail("cannot create a file in ", folder);
        }
    }
    takeOver(target, m_handle);
}

SafeOutput::~SafeOutput()
{
    if (m_handle >= 0)
        ::close(m_handle);
    if (!m_committed && !m_tempPath.empty())
        ::unlink(m_tempPath.c_str());
}

void SafeOutput::writeAt(std::uint64_t offset, const void* data, std::size_t size)
{
    platform::writeAt(m_handle, offset, data, size, m_target);
}

void SafeOutput::copyFrom(const InputFile& input, std::uint64_t from, std::uint64_t length,
                          std::uint64_t to)
{
    // Each chunk copied goes to the disk while the next one is copied.
    constexpr std::uint64_t chunk = 8u << 20;
    const auto flushing = [&](std::uint64_t begin, std::uint64_t end) {
        if (end / chunk != begin / chunk)
            ::sync_file_range(m_handle, static_cast<off64_t>(end / chunk * chunk - chunk),
                              static_cast<off64_t>(chunk), SYNC_FILE_RANGE_WRITE);
    };
    auto in = static_cast<off64_t>(from);
    auto out = static_cast<off64_t>(to);
    while (length > 0) {
        const std::uint64_t want =
            std::min(length, chunk - static_cast<std::uint64_t>(out) % chunk);
        const ssize_t n = ::copy_file_range(input.handle(), &in, m_handle, &out, want, 0);
        if (n > 0) {
            length -= static_cast<std::uint64_t>(n);
            flushing(static_cast<std::uint64_t>(out - n), static_cast<std::uint64_t>(out));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            fail("cannot copy into ", m_target);
        // Refused, or nothing copied where a read may still work (some filesystems answer 0):
        // copying through a buffer decides.
        break;
    }
    if (length == 0)
        return;
    std::vector<char> buffer(1 << 20);
    while (length > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length));
        const std::size_t n = input.readAt(static_cast<std::uint64_t>(in), buffer.data(), want);
        if (n == 0)
            throw std::system_error(EIO, std::generic_category(), "input ended while copying");
        writeAt(static_cast<std::uint64_t>(out), buffer.data(), n);
        in += static_cast<off64_t>(n);
        out += static_cast<off64_t>(n);
        flushing(static_cast<std::uint64_t>(out) - n, static_cast<std::uint64_t>(out));
        length -= n;
    }
}

bool SafeOutput::cloneFrom(const InputFile& input, std::uint64_t from, std::uint64_t length,
                           std::uint64_t to)
{
    file_clone_range range{};
    range.src_fd = input.handle();
    range.src_offset = from;
    range.src_length = length;
    range.dest_offset = to;
    while (::ioctl(m_handle, FICLONERANGE, &range) != 0) {
        switch (errno) {
        case EINTR:
            continue;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
        case EIO:
        case ENOMEM:
            fail("cannot write ", m_target);
        default:
            return false; // not on this filesystem, or not between these two files
        }
    }
    return true;
}

std::uint64_t SafeOutput::blockSize() const
{
    struct statfs info
    {
    };
    if (::fstatfs(m_handle, &info) != 0 || info.f_bsize <= 0)
        return 0;
    return static_cast<std::uint64_t>(info.f_bsize);
}

void SafeOutput::discard()
{
    if (::ftruncate(m_handle, 0) != 0)
        fail("cannot write ", m_target);
}

void SafeOutput::commit()
{
    if (::fsync(m_handle) != 0)
        fail("cannot flush ", m_target);
    if (m_tempPath.empty()) {
        // Give the unnamed file a name beside the target, then move it over the target.
        const std::string procPath = "/proc/self/fd/" + std::to_string(m_handle);
        const std::string named = parentFolder(m_target) + "/." + randomSuffix() + ".part";
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, named.c_str(), AT_SYMLINK_FOLLOW) != 0)
            fail("cannot name the new ", m_target);
        m_tempPath = named;
    }
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0) {
        const int error = errno;
        ::unlink(m_tempPath.c_str());
        errno = error;
        fail("cannot replace ", m_target);
    }
    m_committed = true;
    ::close(m_handle);
    m_handle = -1;
    // Make the rename itself durable.
    const int folder = ::open(parentFolder(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

} // namespace quillora::platform
