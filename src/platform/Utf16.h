#pragma once

// Windows only: the wide-character API speaks UTF-16, the rest of the program UTF-8.

#include <string>
#include <string_view>

namespace quillora::platform {

[[nodiscard]] std::wstring widen(std::string_view text);
[[nodiscard]] std::string narrow(std::wstring_view text);

// A path as the wide-character file API takes it: absolute, with backslashes, and with the
// \\?\ prefix that lifts the limit of 260 characters (\\?\UNC\ for a network share).
[[nodiscard]] std::wstring systemPath(const std::string& path);

} // namespace quillora::platform
