// Code page conversion with iconv, lower case with the C library (Linux).
#include <errno.h>
#include <iconv.h>
#include <wctype.h>

#include "tools/pack/codepage_convert.h"

namespace pack {

static std::string IconvName(int number) { return "CP" + std::to_string(number); }

// Converts with iconv; false on a character that cannot be converted.
static bool Convert(const std::string& from, const std::string& to, const std::string& input,
                    std::string& output, size_t& badOffset) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == (iconv_t)-1) return false;
  output.clear();
  char* in = const_cast<char*>(input.data());
  size_t inLeft = input.size();
  char buffer[4096];
  bool ok = true;
  while (ok && inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
    output.append(buffer, (size_t)(out - buffer));
    if (result == (size_t)-1 && errno != E2BIG) ok = false;
  }
  // The end of the input: the CP1255 and CP1258 decoders hold back the last
  // letter in case a combining mark follows it, and give it only now.
  while (ok) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    size_t result = iconv(cd, nullptr, nullptr, &out, &outLeft);
    output.append(buffer, (size_t)(out - buffer));
    if (result != (size_t)-1) break;
    if (errno != E2BIG) ok = false;
  }
  badOffset = input.size() - inLeft;
  iconv_close(cd);
  return ok;
}

bool SystemKnowsCodePage(int number) {
  iconv_t cd = iconv_open(IconvName(number).c_str(), "UTF-8");
  if (cd == (iconv_t)-1) return false;
  iconv_close(cd);
  return true;
}

bool Utf8ToCodePage(int number, const std::string& utf8, std::string& out, size_t& badOffset) {
  badOffset = 0;
  return Convert("UTF-8", IconvName(number), utf8, out, badOffset);
}

bool CodePageToUtf8(int number, const std::string& bytes, std::string& out) {
  size_t badOffset;
  return Convert(IconvName(number), "UTF-8", bytes, out, badOffset);
}

// As the locale has it: main sets LC_CTYPE to C.UTF-8.
uint32_t LowerCase(uint32_t codePoint) { return (uint32_t)towlower((wint_t)codePoint); }

}  // namespace pack
