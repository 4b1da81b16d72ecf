#pragma once
// Conversion between UTF-8 (what the tool works in) and the 8-bit Windows
// code page the stub's names and texts are written in.
#include <string>

namespace pack {

struct CodePage {
  int number = 1252;
};

// Checks that the code page is a single-byte one the system converts (iconv
// on Linux; on Windows the same set, see codepage_windows.cpp). The stub treats
// every byte on its own (a backslash is byte 0x5C), so multi-byte code pages
// whose second bytes can be 0x5C are refused.
bool CheckCodePage(int number, std::string& error);

bool IsValidUtf8(const std::string& text);

// UTF-8 -> code page. False when a character has no representation there
// (or the text is not valid UTF-8); 'problem' then says which, in words that
// follow "the name ..." or "the message ...".
bool ToCodePage(const CodePage& page, const std::string& utf8, std::string& out, std::string& problem);
// Code page -> UTF-8, for showing names and texts on the terminal. Bytes the
// code page leaves undefined come out as '?'.
std::string FromCodePage(const CodePage& page, const std::string& bytes);
// Code page -> UTF-8 for names of other archives; invalid bytes are kept.
std::string FromLegacyNames(int codePage, const std::string& bytes);

// Case folding as the Windows file system compares names (for duplicates).
std::string FoldCase(const std::string& utf8);

}  // namespace pack
