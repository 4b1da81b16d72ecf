#include "tools/pack/names.h"

#include <stdio.h>
#include <string.h>

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
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    unsigned char digit = (unsigned char)base[3];
    // 1-9 and the superscript digits 1, 2, 3 of the Windows code pages.
    if ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3)
      return true;
  }
  return false;
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
  return AssumedDestination + 1 + name.size() > MaxWindowsPath;
}

}  // namespace pack
