#pragma once
// The package's local headers read front to back as the stub's walk reads
// them: the fields `list -v` shows.
#include <stdint.h>
#include <string>
#include <vector>

#include "base/entry.h"
#include "tools/pack/aes_zip.h"

namespace pack {

struct LocalEntry {
  uint64_t offset = 0;       // of the local header
  uint64_t dataOffset = 0;
  uint16_t flags = 0;        // FlagEncrypted, FlagDescriptor
  uint16_t method = 0;
  uint16_t dataMethod = 0;   // what the data is compressed with (an AES entry's own method)
  AesInfo aes;               // an AES entry's parameters (version 0: none readable)
  uint32_t dosDateTime = 0;  // date << 16 | time
  uint32_t crc = 0;          // from the descriptor when one follows the data
  uint32_t compressedSize = 0;
  uint32_t size = 0;         // from the descriptor when one follows the data
  std::string name;          // code page bytes as stored
  bool Encrypted() const { return (flags & FlagEncrypted) != 0; }
};

struct LocalWalk {
  std::vector<LocalEntry> entries;
  // Empty when the walk ended at the central directory or the end record, as
  // a complete archive does; else where and why it ended.
  std::string earlyEnd;
};

bool WalkLocalHeaders(const std::string& package, uint32_t archiveStart, LocalWalk& walk,
                      std::string& error);

std::string MethodLabel(uint16_t method);
// Why an entry in 'method' cannot be read by the stub.
std::string UnknownMethod(uint16_t method);

}  // namespace pack
