// UTF-8 <-> UTF-16 and long paths for the Windows builds of the tools.
#include "platform/wide.h"

#include <windows.h>

#include <algorithm>

namespace wide {

std::wstring FromUtf8(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
  return text;
}

std::string ToUtf8(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], n, nullptr, nullptr);
  return utf8;
}

std::string ToUtf8(const std::wstring& text) { return ToUtf8(text.data(), text.size()); }

std::wstring LongPath(const std::string& utf8Path) { return LongPath(FromUtf8(utf8Path)); }

std::wstring LongPath(const std::wstring& path) {
  if (path.empty()) return std::wstring();
  // The system takes such a path as it is, where '/' is no separator.
  if (path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0) {
    std::wstring verbatim = path;
    std::replace(verbatim.begin() + 4, verbatim.end(), L'/', L'\\');
    return verbatim;
  }
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
  if (n == 0 || n >= full.size()) return path;   // the current folder changed in between
  full.resize(n);
  // A reserved device name ("C:\dir\CON" on older systems) comes back as \\.\CON.
  if (full.compare(0, 4, L"\\\\.\\") == 0) return full;
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);   // \\server\share
  return L"\\\\?\\" + full;
}

}  // namespace wide
