#include "tools/pack/names.h"

#include <stdio.h>
#include <string.h>

#include "tools/pack/codepage.h"

namespace pack {

static std::string Upper(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = (char)(c - 32);
  return out;
}

bool IsReservedDeviceName(const std::string& component) {
  // Windows matches the part before the first dot, ignoring trailing blanks.
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = Upper(base);
  static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* name : fixed)
    if (base == name) return true;
  if (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) {
    std::string digit = base.substr(3);
    // 0-9 and the superscript digits 1, 2, 3 (U+00B9, U+00B2, U+00B3), in
    // UTF-8 or as the single byte of the Windows code pages.
    for (const char* device : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3", "\xB9", "\xB2", "\xB3"})
      if (digit == device) return true;
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
  }
  return false;
}

bool IsAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

size_t Utf16Length(const std::string& utf8) {
  size_t units = 0;
  for (unsigned char c : utf8) units += ((c & 0xC0) != 0x80) + (c >= 0xF0);
  return units;
}

static std::string Printable(unsigned char c) {
  char text[8];
  snprintf(text, sizeof text, "0x%02X", c);
  return text;
}

std::string NameProblem(const std::string& name) {
  if (name.empty() || name == "/") return "the name is empty";
  if (name.size() > MaxNameBytes)
    return "the name is " + std::to_string(name.size()) + " bytes long; the stub accepts at most " +
           std::to_string(MaxNameBytes);
  if (name[0] == '/' || name[0] == '\\') return "the name is rooted (starts with a separator)";
  if (!IsValidUtf8(name)) return "the name is not valid UTF-8";
  for (unsigned char c : name) {
    if (c < 0x20) return "the name contains the control character " + Printable(c);
    if (c == ':') return "the name contains ':' (a drive or a data stream on Windows)";
    if (c == '\\') return "the name contains a backslash, which Windows takes as a separator";
    if (strchr("<>\"|?*", c)) return std::string("the name contains '") + (char)c + "', which Windows forbids";
  }
  std::string body = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
  size_t start = 0;
  while (start <= body.size()) {
    size_t end = body.find('/', start);
    if (end == std::string::npos) end = body.size();
    std::string component = body.substr(start, end - start);
    if (component.empty()) return "the name has an empty component ('//')";
    std::string trimmed = component;
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) trimmed.pop_back();
    if (trimmed.empty())
      return "the component '" + component + "' is '.' or '..' for Windows, which could leave the destination folder";
    if (trimmed.size() != component.size())
      return "the component '" + component + "' ends with a dot or a blank, which Windows drops";
    if (IsReservedDeviceName(component))
      return "the component '" + component + "' is a reserved device name on Windows";
    start = end + 1;
  }
  return "";
}

bool NameTooLongForWindows(const std::string& name) {
  return AssumedDestination + 1 + Utf16Length(name) > MaxWindowsPath;
}

}  // namespace pack
