#pragma once
// The ZIP structures the walk reads: the local file header, the data
// descriptor, and the values of their fields.
#include <stdint.h>

#include "platform/platform.h"

// A local file header exactly as stored: 30 bytes, little-endian.
#pragma pack(push, 1)
struct ArchiveEntry {
  uint32_t Signature;
  uint16_t VersionNeeded;
  uint16_t EntryFlags;       // FlagEncrypted, FlagDescriptor, FlagUtf8
  uint16_t Method;           // MethodStored, MethodDeflated, MethodLzma, MethodSolid or MethodAes
  uint16_t EntryTime;
  uint16_t EntryDate;
  uint32_t EntryCrc;
  uint32_t CompressedSize;
  uint32_t UncompressedSize;
  uint16_t NameLength;
  uint16_t ExtraLength;
};
#pragma pack(pop)
const uint32_t LocalHeaderSize = 30;
static_assert(sizeof(ArchiveEntry) == LocalHeaderSize, "a local header is 30 bytes");

// General-purpose flag bits.
const uint16_t FlagEncrypted = 0x0001;   // traditional or AES encryption
const uint16_t FlagLzmaEndMarker = 0x0002;  // an LZMA stream ends with its end marker
const uint16_t FlagDescriptor = 0x0008;  // CRC and sizes may follow the data
const uint16_t FlagStrongEncryption = 0x0040;  // an encryption the stub cannot read
const uint16_t FlagUtf8 = 0x0800;        // the name is UTF-8

// Compression methods.
const uint16_t MethodStored = 0;
const uint16_t MethodDeflated = 8;
const uint16_t MethodLzma = 14;
// Tolvane's solid entries (docs/solid.md): consecutive entries form one LZMA2
// stream. The number ("TV" as stored) lies outside the ZIP application
// note's list, so other tools report an unsupported method.
const uint16_t MethodSolid = 0x5654;
// WinZip AES: the real method and the key size are in the extra field
// ExtraAes; the data holds salt, verifier, encrypted data and an
// authentication code (codec/winzip_aes.h).
const uint16_t MethodAes = 99;
const uint16_t ExtraAes = 0x9901;

// Record signatures. The stub never uses LocalHeaderSignature itself: it
// forms the value at run time, so its image holds no such bytes.
const uint32_t LocalHeaderSignature = 0x04034B50;
const uint32_t CentralHeaderSignature = 0x02014B50;
const uint32_t EndRecordSignature = 0x06054B50;

// A signed data descriptor: signature, CRC-32, compressed and uncompressed size.
const uint32_t DataDescriptorSignature = 0x08074B50;
const uint32_t DataDescriptorSize = 16;

// The 12 bytes in front of a traditionally encrypted entry's data.
const uint32_t EncryptionHeaderSize = 12;

// Extra fields that carry an entry's modification time.
const uint16_t ExtraNtfsTimes = 0x000A;       // tag 1: mtime, atime, ctime as FILETIMEs
const uint16_t ExtraUnixTimestamp = 0x5455;   // flags, then mtime in UTC seconds (flag bit 0)

// The longest name the walk accepts: what an entry list holds.
const uint16_t NameBufferSize = ListTextLimit;

// What an entry's WinZip AES extra field (ExtraAes) says.
struct AesEntryInfo {
  uint8_t version;    // 2: AE-2 (CRC not checked); 1: AE-1 (with CRC)
  uint8_t strength;   // 1, 2, 3: 128-, 192-, 256-bit keys
  uint16_t method;    // the real compression method
};

// Little-endian 16- and 32-bit values in an archive's bytes. Always inline:
// the bytes become one load, which the size heuristics do not foresee (a
// call takes more bytes than the load).
__attribute__((always_inline)) inline uint16_t Read16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
__attribute__((always_inline)) inline uint32_t Read32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Extra fields: 2-byte tag, 2-byte size, then the data. The data of the
// first field with 'tag' among 'length' bytes, with its size; null when there
// is none (or the fields run past the end before it). The tag and the size
// are 16-bit values held in 32 bits, which take no prefix or extension.
const uint8_t* FindExtraField(const uint8_t* extra, uint32_t length, uint32_t tag, uint32_t* size);

// Info-ZIP Unicode Path extra field: version 1, the CRC-32 of the stored
// name, then the name in UTF-8.
const uint16_t UnicodePathTag = 0x7075;
// Fields only Unix writers add (Info-ZIP's two Unix fields, PKWARE's): their
// entries' names are in the writer's locale, which is UTF-8 today.
const uint16_t UnixExtraTags[] = {0x7875, 0x5855, 0x000D};
const uint8_t UnicodePathVersion = 1;
