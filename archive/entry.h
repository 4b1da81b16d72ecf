#pragma once
#include <stdint.h>

// A local file header exactly as stored: 30 bytes, little-endian.
#pragma pack(push, 1)
struct ArchiveEntry {
  uint32_t Signature;
  uint16_t VersionNeeded;
  uint16_t EntryFlags;       // bit 0 encrypted, bit 3 sizes in a data descriptor
  uint16_t Method;           // 0 stored, 8 deflated
  uint16_t EntryTime;
  uint16_t EntryDate;
  uint32_t EntryCrc;
  uint32_t CompressedSize;
  uint32_t UncompressedSize;
  uint16_t NameLength;
  uint16_t ExtraLength;
};
#pragma pack(pop)
static_assert(sizeof(ArchiveEntry) == 30, "a local header is 30 bytes");

const uint32_t DataDescriptorSignature = 0x08074B50;
const uint16_t NameBufferSize = 258;
