#include "platform/Files.h"

#include "platform/Utf16.h"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <windows.h>

namespace quillora::platform {

namespace {

// The system's codes with the system's own texts, as FormatMessageW gives them.
class WindowsCategory final : public std::error_category
{
public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override
    {
        const std::string text = systemErrorText(code);
        return text.empty() ? "error " + std::to_string(code) : text;
    }
};

const std::error_category& windowsCategory()
{
    static const WindowsCategory category;
    return category;
}

std::uint64_t joined(DWORD high, DWORD low)
{
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

FileStatus statusFrom(const BY_HANDLE_FILE_INFORMATION& info)
{
    FileStatus status;
    status.identity = {info.dwVolumeSerialNumber, joined(info.nFileIndexHigh, info.nFileIndexLow)};
    status.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.regular = !status.directory && (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    status.size = joined(info.nFileSizeHigh, info.nFileSizeLow);
    status.permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    return status;
}

OVERLAPPED at(std::uint64_t offset)
{
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

} // namespace

std::optional<FileStatus> statusOf(const std::string& path)
{
    // Opened for no access at all, which even a file that another program holds allows; the
    // backup flag lets a folder be opened too.
    const HANDLE file = ::CreateFileW(systemPath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known)
        return std::nullopt;
    return statusFrom(info);
}

std::uint32_t newFilePermissions()
{
    return 0666;
}

std::string resolveTarget(const std::string& path)
{
    return path;
}

std::string parentFolder(const std::string& path)
{
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    // The root of a drive keeps its separator: "C:\".
    if (slash == 0 || (slash == 2 && path[1] == ':'))
        return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string systemErrorText(int code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer)
        return {};
    std::string text = narrow(std::wstring_view(buffer, length));
    ::LocalFree(buffer);
    // Only a line end that is there is removed; a text without one keeps every character.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void throwLastError(const char* what, const std::string& subject)
{
    const auto error = static_cast<int>(::GetLastError());
    throw std::system_error(error, windowsCategory(), what + subject);
}

void writeAt(FileHandle file, std::uint64_t offset, const void* data, std::size_t size,
             const std::string& path)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        OVERLAPPED where = at(offset);
        DWORD written = 0;
        if (!::WriteFile(file, p, want, &written, &where))
            throwLastError("cannot write ", path);
        p += written;
        offset += written;
        size -= written;
    }
}

std::uint64_t sizeOf(FileHandle file, const std::string& path)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size))
        throwLastError("cannot read ", path);
    return static_cast<std::uint64_t>(size.QuadPart);
}

// Others may go on reading, writing, renaming or deleting the file while it is open, as on
// other systems; a change while it is read is found by checkUnchanged().
InputFile::InputFile(const std::string& path) : m_path(path)
{
    // Named, so that freeing it cannot change the error that a failed open leaves.
    const std::wstring name = systemPath(path);
    m_handle = ::CreateFileW(name.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        throwLastError("cannot open ", path);
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(m_handle) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(m_handle, &info) || !statusFrom(info).regular) {
        ::CloseHandle(m_handle);
        throw std::system_error(EINVAL, std::generic_category(), path + " is not a file");
    }
    const FileStatus status = statusFrom(info);
    m_size = status.size;
    m_identity = status.identity;
    m_permissions = status.permissions;
    m_modified = static_cast<std::int64_t>(
        joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
}

InputFile::~InputFile()
{
    ::CloseHandle(m_handle);
}

std::size_t InputFile::readAt(std::uint64_t offset, void* buffer, std::size_t length) const
{
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(length - done, 1u << 30));
        OVERLAPPED where = at(offset);
        DWORD got = 0;
        if (!::ReadFile(m_handle, p + done, want, &got, &where)) {
            if (::GetLastError() == ERROR_HANDLE_EOF)
                break;
            throwLastError("cannot read ", m_path);
        }
        if (got == 0)
            break;
        done += got;
        offset += got;
    }
    return done;
}

void InputFile::checkUnchanged() const
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(m_handle, &info))
        throwLastError("cannot read ", m_path);
    const auto modified = static_cast<std::int64_t>(
        joined(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime));
    if (statusFrom(info).size != m_size || modified != m_modified)
        throw std::system_error(EBUSY, std::generic_category(),
                                m_path + " changed while it was read; it was left as it is");
}

// The system's cache manager lets go of pages on its own.
void InputFile::dropCachedPages() const noexcept {}

FileMapping::FileMapping(const InputFile& file) : m_size(file.size())
{
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    m_pageSize = system.dwPageSize ? system.dwPageSize : 4096;
    if (m_size == 0 || m_size > SIZE_MAX)
        return;
    m_mappingObject = ::CreateFileMappingW(file.handle(), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!m_mappingObject)
        return;
    m_data =
        static_cast<const std::uint8_t*>(::MapViewOfFile(m_mappingObject, FILE_MAP_READ, 0, 0, 0));
}

FileMapping::~FileMapping()
{
    if (m_data)
        ::UnmapViewOfFile(m_data);
    if (m_mappingObject)
        ::CloseHandle(m_mappingObject);
}

// Unlocking pages that were never locked takes them out of the working set.
void FileMapping::release(std::uint64_t begin, std::uint64_t end) noexcept
{
    begin -= begin % m_pageSize;
    end -= end % m_pageSize;
    if (m_data && end > begin)
        ::VirtualUnlock(const_cast<std::uint8_t*>(m_data) + begin,
                        static_cast<std::size_t>(end - begin));
}

} // namespace quillora::platform
