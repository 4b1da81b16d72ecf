#include "tools/pack/codepage.h"

#include <stdio.h>

#include <string>

#include "tools/pack/codepage_convert.h"

namespace pack {

bool CheckCodePage(int number, std::string& error) {
  static const int multiByte[] = {932, 936, 949, 950, 1361};
  for (int page : multiByte) {
    if (page == number) {
      error = "code page " + std::to_string(number) +
              " is a multi-byte code page; the stub reads names byte by byte, so only single-byte "
              "code pages (such as 1250-1258, 874, 437, 850) can be used";
      return false;
    }
  }
  if (!SystemKnowsCodePage(number)) {
    error = "unknown code page " + std::to_string(number);
    return false;
  }
  return true;
}

bool IsValidUtf8(const std::string& text) {
  size_t i = 0, n = text.size();
  while (i < n) {
    unsigned char c = (unsigned char)text[i];
    size_t extra;
    uint32_t cp;
    if (c < 0x80) { i++; continue; }
    if (c >= 0xC2 && c <= 0xDF) { extra = 1; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { extra = 2; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { extra = 3; cp = c & 0x07; }
    else return false;
    if (i + extra >= n) return false;
    for (size_t k = 1; k <= extra; k++) {
      unsigned char d = (unsigned char)text[i + k];
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += extra + 1;
  }
  return true;
}

// The whole UTF-8 character starting at 'offset', quoted and with its code
// point, for messages: an invisible character is still named.
static std::string CharacterAt(const std::string& text, size_t offset) {
  if (offset >= text.size()) return "";
  unsigned char lead = (unsigned char)text[offset];
  uint32_t cp = lead >= 0xF0 ? lead & 0x07 : lead >= 0xE0 ? lead & 0x0F : lead >= 0xC0 ? lead & 0x1F : lead;
  size_t end = offset + 1;
  for (; end < text.size() && ((unsigned char)text[end] & 0xC0) == 0x80; end++) cp = cp << 6 | (text[end] & 0x3F);
  char code[16];
  snprintf(code, sizeof code, "U+%04X", (unsigned)cp);
  return "'" + text.substr(offset, end - offset) + "' (" + code + ")";
}

bool ToCodePage(const CodePage& page, const std::string& utf8, std::string& out, std::string& problem) {
  if (!IsValidUtf8(utf8)) {
    problem = "is not valid UTF-8 (rename it, or convert it from its old encoding)";
    return false;
  }
  size_t badOffset = 0;
  if (Utf8ToCodePage(page.number, utf8, out, badOffset)) return true;
  problem = "contains " + CharacterAt(utf8, badOffset) + ", which code page " + std::to_string(page.number) +
            " cannot represent";
  return false;
}

std::string FromCodePage(const CodePage& page, const std::string& bytes) {
  std::string result;
  for (char c : bytes) {
    std::string converted;
    if ((unsigned char)c < 0x80) result += c;
    else if (CodePageToUtf8(page.number, std::string(1, c), converted)) result += converted;
    else result += '?';
  }
  return result;
}

std::string FromLegacyNames(int codePage, const std::string& bytes) {
  std::string out;
  if (!CodePageToUtf8(codePage, bytes, out)) return bytes;
  return out;
}

std::string FoldCase(const std::string& utf8) {
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = (unsigned char)utf8[i];
    if (c < 0x80) {
      out += (char)(c >= 'A' && c <= 'Z' ? c + 32 : c);
      i++;
      continue;
    }
    size_t extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
    uint32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra && i + k < utf8.size(); k++) cp = cp << 6 | (utf8[i + k] & 0x3F);
    i += extra + 1;
    cp = LowerCase(cp);
    if (cp < 0x800) {
      out += (char)(0xC0 | cp >> 6);
      out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += (char)(0xE0 | cp >> 12);
      out += (char)(0x80 | (cp >> 6 & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xF0 | cp >> 18);
      out += (char)(0x80 | (cp >> 12 & 0x3F));
      out += (char)(0x80 | (cp >> 6 & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace pack
