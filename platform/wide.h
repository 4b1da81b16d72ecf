#pragma once
// Windows only: the wide (UTF-16) text the system's file calls take, from
// the UTF-8 the tools work in, and back.
#include <string>

namespace wide {

std::wstring FromUtf8(const std::string& utf8);
std::string ToUtf8(const wchar_t* text, size_t length);
std::string ToUtf8(const std::wstring& text);

// The path made absolute and given the \\?\ prefix, so that no 260-character
// limit applies; '/' and '\' both separate. Empty stays empty. The name is
// normalized as the system normalizes a path without the prefix (".." and
// "." folded, trailing dots and spaces of the last name dropped). A path
// that has a prefix already (\\?\ or the device prefix \\.\) stays as it is.
std::wstring LongPath(const std::string& utf8Path);
std::wstring LongPath(const std::wstring& path);

}  // namespace wide
