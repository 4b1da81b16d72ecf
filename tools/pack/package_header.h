#pragma once
// The 256-byte configuration header that follows the stub.
#include <stdint.h>
#include <string>

namespace pack {

const uint32_t PackageStubSize = 0x7C00;
const uint32_t PackageHeaderSize = 256;
const uint32_t MaxTextsTogether = 249;   // 256 - magic(3) - flags(1) - three lengths(3)

// Flag bits the stub reads.
const uint8_t FlagFileList = 0x02;
const uint8_t FlagHideOverwrite = 0x04;
const uint8_t FlagOverwriteMask = 0x18;
const uint8_t FlagOverwrite = 0x08;     // bits 3-4 exactly 01: overwrite is checked
const uint8_t DefaultFlags = FlagFileList | FlagOverwrite;

struct HeaderSettings {
  uint8_t flags = DefaultFlags;
  std::string message;   // code page bytes, each at most 255
  std::string folder;    // "##" asks for the temporary folder
  std::string command;   // "##" is the destination, "|" separates the parameters
};

// Empty when the texts fit, else the reason.
std::string HeaderProblem(const HeaderSettings& settings);
// The 256 bytes: magic, flags, three lengths, the texts, filler 0x2E.
std::string BuildHeader(const HeaderSettings& settings);
// Reads a header from a package's bytes at offset 0x7C00; false when the magic is absent.
bool ParseHeader(const std::string& header, HeaderSettings& settings);

}  // namespace pack
