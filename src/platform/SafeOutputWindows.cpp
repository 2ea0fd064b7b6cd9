#include "platform/SafeOutput.h"

#include "platform/Utf16.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <system_error>
#include <vector>
#include <windows.h>

namespace quillora::platform {

namespace {

std::string randomSuffix()
{
    static std::mt19937_64 generator{std::random_device{}() ^
                                     (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^
                                     ::GetTickCount64()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// While the mark is set, the system deletes the file as its last handle closes, however the
// process ends: a kill leaves no temporary file behind.
bool markForDeletion(HANDLE file, bool deleted)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != 0;
}

} // namespace

SafeOutput::SafeOutput(const std::string& target, std::uint32_t permissions)
    : m_target(target), m_handle(INVALID_HANDLE_VALUE)
{
    const std::string folder = parentFolder(target);
    const auto separator = target.find_last_of("/\\");
    const std::string name = separator == std::string::npos ? target : target.substr(separator + 1);
    const std::string prefix =
        separator == std::string::npos ? std::string() : target.substr(0, separator + 1);
    m_tempPath = prefix + "." + name + "." + randomSuffix() + ".part";
    // Windows has no permission bits to give it: a replaced file's attributes go over to it when
    // it takes that file's place.
    (void)permissions;
    const std::wstring temporary = systemPath(m_tempPath);
    m_handle = ::CreateFileW(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                             FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        m_tempPath.clear();
        throwLastError("cannot create a file in ", folder);
    }
    if (!markForDeletion(m_handle, true)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(m_handle);
        ::DeleteFileW(temporary.c_str());
        m_handle = INVALID_HANDLE_VALUE;
        m_tempPath.clear();
        ::SetLastError(error);
        throwLastError("cannot create a file in ", folder);
    }
}

SafeOutput::~SafeOutput()
{
    // Still marked for deletion unless committed: closing deletes it.
    if (m_handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_handle);
}

void SafeOutput::writeAt(std::uint64_t offset, const void* data, std::size_t size)
{
    platform::writeAt(m_handle, offset, data, size, m_target);
}

// Windows has no copy between two open files in the kernel; a buffer does it.
void SafeOutput::copyFrom(const InputFile& input, std::uint64_t from, std::uint64_t length,
                          std::uint64_t to)
{
    std::vector<char> buffer(1 << 20);
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length));
        const std::size_t n = input.readAt(from, buffer.data(), want);
        if (n == 0)
            throw std::system_error(EIO, std::generic_category(), "input ended while copying");
        writeAt(to, buffer.data(), n);
        from += n;
        to += n;
        length -= n;
    }
}

bool SafeOutput::cloneFrom(const InputFile&, std::uint64_t, std::uint64_t, std::uint64_t)
{
    return false;
}

std::uint64_t SafeOutput::blockSize() const
{
    return 0;
}

void SafeOutput::discard()
{
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(m_handle, start, nullptr, FILE_BEGIN) || !::SetEndOfFile(m_handle))
        throwLastError("cannot write ", m_target);
}

void SafeOutput::commit()
{
    if (!::FlushFileBuffers(m_handle))
        throwLastError("cannot flush ", m_target);
    // The file is kept from here on, so it must reach its place or go.
    if (!markForDeletion(m_handle, false))
        throwLastError("cannot keep ", m_target);
    ::CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    const std::wstring temporary = systemPath(m_tempPath);
    const std::wstring target = systemPath(m_target);
    // Replacing keeps the old file's attributes, security and creation time; where that
    // cannot be done (a file system without it, or no old file), the new one is moved there.
    const bool replaced =
        statusOf(m_target) &&
        ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                       REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS, nullptr,
                       nullptr);
    if (!replaced && !::MoveFileExW(temporary.c_str(), target.c_str(),
                                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        ::DeleteFileW(temporary.c_str());
        ::SetLastError(error);
        throwLastError("cannot replace ", m_target);
    }
    // The replaced file's attributes, without the hidden one the temporary file had.
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN) && !replaced)
        ::SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_HIDDEN);
    m_committed = true;
}

} // namespace quillora::platform
