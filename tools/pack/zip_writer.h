#pragma once
// Writes the package: stub, header, then a zip whose local headers carry the
// sizes and CRC-32 (the stub walks them front to back) and whose central
// directory counts offsets from the start of the whole file (so ordinary zip
// tools open the package).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <vector>

namespace pack {

// Windows does not start a program of 4 GiB or more (and the stub's offsets
// are 32-bit); the stub keeps the bytes left of an entry in a signed 32-bit
// count, so an entry's stored data stay below 2 GiB.
const uint64_t MaxPackageSize = 0xFFFFFFFF;
const uint64_t MaxStoredEntrySize = 0x7FFFFFFF;
const size_t MaxEntries = 0xFFFF;   // without ZIP64

struct ZipRecord {
  std::string name;        // UTF-8, or ASCII
  uint16_t flags = 0;      // bit 0: encrypted, bit 11: UTF-8 name
  uint16_t method = 0;     // 0 stored, 8 deflated, 99 AES (real method in 'extra')
  uint32_t dosDateTime = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;   // with the encryption header
  uint32_t size = 0;
  uint32_t offset = 0;     // of the local header, from the start of the package
  bool folder = false;
  uint16_t permissions = 0;   // Unix rwx bits, stored with the file type in the central directory
  std::string extra;       // extra fields, in the local header and the central directory
};

class PackageWriter {
 public:
  explicit PackageWriter(FILE* file) : file_(file) {}
  // Stub and header; the archive starts right after them.
  bool Begin(const std::string& stub, const std::string& header, std::string& error);
  // One entry: its local header, then its 'size' bytes of 'data' (compressed
  // and encrypted as the record says).
  bool Add(ZipRecord record, const uint8_t* data, size_t size, std::string& error);
  bool Finish(std::string& error);
  uint64_t Position() const { return position_; }
  const std::vector<ZipRecord>& Records() const { return records_; }

 private:
  bool Write(const std::string& bytes, std::string& error) { return Write(bytes.data(), bytes.size(), error); }
  bool Write(const void* bytes, size_t size, std::string& error);
  FILE* file_;
  uint64_t position_ = 0;
  std::vector<ZipRecord> records_;
};

}  // namespace pack
