#pragma once
// Shell wildcards for --exclude, the same on every system: '*' any run of
// characters, '?' one character, "[a-z]" / "[!a-z]" one of a set, '\' takes
// the next character as it is. Characters are UTF-8 sequences, not bytes.
#include <string>

namespace pack {

// 'wholePath': the text is a path whose '/' only a '/' in the pattern matches.
bool GlobMatch(const std::string& pattern, const std::string& text, bool wholePath);

}  // namespace pack
