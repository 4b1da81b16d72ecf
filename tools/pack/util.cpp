#include "tools/pack/util.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tools/os/os.h"

namespace pack {

static int warnings = 0;

void Warn(const std::string& text) {
  ++warnings;
  fprintf(stderr, "tolvane-pack: warning: %s\n", Printable(text).c_str());
}

void Error(const std::string& text) { fprintf(stderr, "tolvane-pack: error: %s\n", Printable(text).c_str()); }

std::string Printable(const std::string& utf8, bool keepLineFeeds) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); i++) {
    unsigned char c = (unsigned char)utf8[i];
    // C1 controls are U+0080..U+009F: the two bytes C2 80..C2 9F in UTF-8.
    bool c1 = c == 0xC2 && i + 1 < utf8.size() && (unsigned char)utf8[i + 1] < 0xA0 &&
              (unsigned char)utf8[i + 1] >= 0x80;
    if ((c < 0x20 && !(c == '\n' && keepLineFeeds)) || c == 0x7F || c1) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", c1 ? (unsigned char)utf8[++i] : c);
      out += hex;
    } else {
      out += (char)c;
    }
  }
  return out;
}

namespace {

// The length of the UTF-8 sequence at p (shortest form, no surrogates,
// nothing above U+10FFFF, as RFC 3629 draws the byte ranges); 0 when it is not one.
size_t Utf8SequenceAt(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  if (c < 0xC2 || c > 0xF4) return 0;
  size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  if (left < length) return 0;
  unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  if (p[1] < low || p[1] > high) return 0;
  for (size_t i = 2; i < length; i++)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  const unsigned char* bytes = (const unsigned char*)utf8.data();
  for (size_t i = 0; i < utf8.size(); i++) {
    unsigned char c = bytes[i];
    size_t length = Utf8SequenceAt(bytes + i, utf8.size() - i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";   // U+FFFD for a byte that is not UTF-8: the output stays valid JSON
    } else if (length > 1) {
      out.append(utf8, i, length);
      i += length - 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

int WarningCount() { return warnings; }

bool ReadWholeFile(const std::string& path, std::string& data, std::string& error) {
  os::File file(path);
  if (!file.IsOpen()) {
    error = "cannot open " + path + ": " + os::LastError();
    return false;
  }
  data.assign(file.Size(), '\0');
  if (file.ReadAt(0, &data[0], data.size()) != data.size()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool IsDirectory(const std::string& path) { return os::Status(path, true).kind == os::FileStatus::Folder; }

bool IsRegularFile(const std::string& path) { return os::Status(path, true).kind == os::FileStatus::File; }

std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

uint64_t FileSize(const std::string& path) { return os::Status(path, true).size; }

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of(os::PathSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of(os::PathSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint32_t DosDateTime(int64_t seconds, bool utc) {
  struct tm parts;
  bool ok = utc ? os::UtcTime(seconds, parts) : os::LocalTime(seconds, parts);
  if (!ok || parts.tm_year < 80) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
  if (parts.tm_year > 207) return (127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u);
  uint32_t date = (uint32_t)(parts.tm_year - 80) << 9 | (uint32_t)(parts.tm_mon + 1) << 5 |
                  (uint32_t)parts.tm_mday;
  uint32_t time = (uint32_t)parts.tm_hour << 11 | (uint32_t)parts.tm_min << 5 |
                  (uint32_t)(parts.tm_sec / 2);
  return date << 16 | time;
}

bool SourceDateEpoch(int64_t& seconds) {
  std::string value = os::Environment("SOURCE_DATE_EPOCH");
  if (value.empty()) return false;
  char* end = nullptr;
  long long parsed = strtoll(value.c_str(), &end, 10);
  if (*end != 0 || parsed < 0) {
    Warn("SOURCE_DATE_EPOCH is not a number of seconds; file times are used");
    return false;
  }
  seconds = parsed;
  return true;
}

void PutLe16(std::string& out, uint32_t value) {
  out.push_back((char)(value & 0xFF));
  out.push_back((char)(value >> 8 & 0xFF));
}

void PutLe32(std::string& out, uint32_t value) {
  PutLe16(out, value & 0xFFFF);
  PutLe16(out, value >> 16);
}

uint16_t GetLe16(const void* p) {
  const uint8_t* b = (const uint8_t*)p;
  return (uint16_t)(b[0] | b[1] << 8);
}

uint32_t GetLe32(const void* p) {
  const uint8_t* b = (const uint8_t*)p;
  return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

void RemoveTree(const std::string& path) {
  os::FileStatus status = os::Status(path, false);
  if (status.kind == os::FileStatus::Missing) return;
  std::vector<std::string> names;
  if (status.kind == os::FileStatus::Folder && os::ListFolder(path, names)) {
    for (const std::string& name : names) RemoveTree(path + "/" + name);
  }
  if (status.kind == os::FileStatus::Folder) os::RemoveFolder(path);
  else os::RemoveFile(path);
}

std::string Hex8(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace pack
