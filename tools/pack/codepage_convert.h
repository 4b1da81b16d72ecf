#pragma once
// The system's side of codepage.cpp: conversion between UTF-8 and a code
// page, and lower case. iconv and the C library on Linux
// (codepage_iconv.cpp); the Windows code page functions on Windows
// (codepage_windows.cpp), made to give the bytes iconv gives, so that a
// package is the same whichever system made it.
#include <stddef.h>
#include <stdint.h>
#include <string>

namespace pack {

// Whether the system converts code page 'number'.
bool SystemKnowsCodePage(int number);

// Valid UTF-8 -> the code page. False at the first character the code page
// cannot represent, with 'badOffset' its offset in 'utf8'.
bool Utf8ToCodePage(int number, const std::string& utf8, std::string& out, size_t& badOffset);

// The code page -> UTF-8. False when a byte is one the code page leaves
// undefined.
bool CodePageToUtf8(int number, const std::string& bytes, std::string& out);

// The lower-case form of a Unicode character; the character itself when it
// has none.
uint32_t LowerCase(uint32_t codePoint);

}  // namespace pack
