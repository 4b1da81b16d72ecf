#include "tools/pack/glob.h"

#include <stdint.h>

namespace pack {

namespace {

// The character at 'i' (a whole UTF-8 sequence; a stray byte on its own), and 'i' moved past it.
uint32_t Next(const std::string& s, size_t& i) {
  unsigned char lead = (unsigned char)s[i++];
  size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
  uint32_t c = extra ? lead & (0x3F >> extra) : lead;
  for (; extra > 0 && i < s.size() && ((unsigned char)s[i] & 0xC0) == 0x80; extra--) c = c << 6 | (s[i++] & 0x3F);
  return c;
}

// A bracket set starting after '[' at 'p': whether 'c' is in it, and 'p' moved
// past its ']'. False in 'valid' when the set is not closed: then '[' is itself.
bool InSet(const std::string& pattern, size_t& p, uint32_t c, bool& valid) {
  bool negate = p < pattern.size() && (pattern[p] == '!' || pattern[p] == '^');
  if (negate) p++;
  bool found = false, first = true;
  while (p < pattern.size() && (pattern[p] != ']' || first)) {
    first = false;
    if (pattern[p] == '\\' && p + 1 < pattern.size()) p++;
    uint32_t low = Next(pattern, p), high = low;
    if (p + 1 < pattern.size() && pattern[p] == '-' && pattern[p + 1] != ']') {
      p++;
      if (pattern[p] == '\\' && p + 1 < pattern.size()) p++;
      high = Next(pattern, p);
    }
    if (low <= c && c <= high) found = true;
  }
  valid = p < pattern.size();
  if (valid) p++;   // the ']'
  return found != negate;
}

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& text, bool wholePath) {
  // The last '*' seen and where the text stood then: on a mismatch the star
  // takes one more character and matching resumes after it.
  size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = ++p;
      starT = t;
      continue;
    }
    size_t nextT = t;
    uint32_t c = Next(text, nextT);
    bool slash = wholePath && c == '/';
    if (p < pattern.size()) {
      size_t nextP = p;
      char head = pattern[p];
      bool match = false;
      if (head == '?') {
        nextP++;
        match = !slash;
      } else if (head == '[') {
        nextP++;
        bool valid;
        match = InSet(pattern, nextP, c, valid) && !slash;
        if (!valid) {   // an unclosed '[' stands for itself
          nextP = p + 1;
          match = c == '[';
        }
      } else {
        if (head == '\\' && p + 1 < pattern.size()) nextP++;
        match = Next(pattern, nextP) == c;
      }
      if (match) {
        p = nextP;
        t = nextT;
        continue;
      }
    }
    // Back to the last star, which cannot take a '/' of a whole path.
    if (starP == std::string::npos) return false;
    size_t skip = starT;
    if (Next(text, skip) == '/' && wholePath) return false;
    starT = skip;
    t = skip;
    p = starP;
  }
  while (p < pattern.size() && pattern[p] == '*') p++;
  return p == pattern.size();
}

}  // namespace pack
