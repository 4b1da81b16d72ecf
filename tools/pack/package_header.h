#pragma once
// The 256-byte configuration header that follows the stub.
#include <stdint.h>
#include <string>

#include "base/config.h"

namespace pack {

const uint32_t MaxTextsTogether = HeaderSize - HeaderFixedSize;

// The package options (switches, kept times, waiting for the command) are on by default.
const uint8_t DefaultFlags = FlagFileList | FlagOverwrite | FlagSwitches | FlagKeepTimes | FlagWaitForCommand;

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
// Reads a header from a package's bytes at offset StubSize; false when the magic is absent.
bool ParseHeader(const std::string& header, HeaderSettings& settings);

}  // namespace pack
