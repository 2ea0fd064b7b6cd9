#include "platform/Utf16.h"

#include "platform/Files.h"

#include <windows.h>

namespace quillora::platform {

std::wstring widen(std::string_view text)
{
    if (text.empty())
        return {};
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0)
        throwLastError("not UTF-8: ", std::string(text));
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                          size);
    return wide;
}

std::string narrow(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string narrowed(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrowed.data(),
                          size, nullptr, nullptr);
    return narrowed;
}

std::wstring systemPath(const std::string& path)
{
    const std::wstring wide = widen(path);
    if (wide.starts_with(LR"(\\?\)"))
        return wide;
    // The prefix turns off the system's own clean-up of the path (relative parts, slashes), so
    // the full path is made first.
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return wide;
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return wide;
    full.resize(length);
    if (full.starts_with(LR"(\\.\)"))
        return full; // a device
    if (full.starts_with(LR"(\\)"))
        return LR"(\\?\UNC\)" + full.substr(2);
    return LR"(\\?\)" + full;
}

} // namespace quillora::platform
