#include "tools/pack/names.h"

#include <stdio.h>
#include <string.h>

#include "extract/names.h"
#include "tools/pack/codepage.h"

namespace pack {

bool IsReservedDeviceName(const std::string& component) {
  // The stub's own rule; names may reach it as UTF-8 or as code page bytes.
  return IsDeviceComponent(component.data(), component.size(), true) ||
         IsDeviceComponent(component.data(), component.size(), false);
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
  if (const char* control = FindDirectionControl(name.c_str())) {
    char point[16];
    uint8_t a = (uint8_t)control[0], b = (uint8_t)control[1], c = (uint8_t)control[2];
    snprintf(point, sizeof point, "U+%04X", a == 0xD8 ? 0x61C : (b & 0x3F) << 6 | (c & 0x3F) | 0x2000);
    return std::string("the name contains the direction control ") + point +
           ", which makes it read as another name";
  }
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
