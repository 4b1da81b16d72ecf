#pragma once
// An input file's bytes in memory, for the entry that packs them.
#include <stddef.h>
#include <stdint.h>
#include <string>

namespace pack {

// A file's bytes, mapped rather than read so large files cost no copy.
// EntryPreparer maps each file input with it.
struct MappedFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool Open(const std::string& path, std::string& error);
  ~MappedFile();
};

}  // namespace pack
