#pragma once
// A small reader for input archives: the central directory tells where each
// entry's data lies, so stored and deflated data can be copied as they are.
#include <stdint.h>
#include <time.h>
#include <string>
#include <vector>

#include "tools/pack/aes_zip.h"

namespace pack {

struct ZipInputEntry {
  std::string rawName;     // bytes as stored
  std::string name;        // UTF-8, '/' separators
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t dosDateTime = 0;  // date << 16 | time
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t dataOffset = 0;   // absolute offset of the entry's data in the file
  std::string localExtra;    // the local header's extra field
  AesInfo aes;               // method 99: from the central directory's extra field
  bool symlink = false;      // made on Unix with the link type in its attributes
  bool IsFolder() const { return !name.empty() && name.back() == '/'; }
};

struct ZipInput {
  std::string path;
  std::vector<ZipInputEntry> entries;
};

// Reads the central directory and every local header it points to. Names
// without the UTF-8 flag that are not valid UTF-8 are taken to be in code page
// 437 (the zip format's legacy encoding), or in 'packageCodePage' when the
// file is one of our packages, whose names are in the package's code page.
bool ReadZipDirectory(const std::string& path, ZipInput& zip, std::string& error,
                      int packageCodePage = 1252);

// The entry's modification time as the stub gives it to the file (the
// extra field's time, else the DOS date and time as local time); false when
// the DOS fields are not a valid time.
bool EntryModifiedTime(const ZipInputEntry& entry, struct timespec& time);

// Reads an entry's data as stored (compressed, not decrypted): its
// compressedSize bytes, into 'data'.
bool ReadRawData(const std::string& path, const ZipInputEntry& entry, uint8_t* data, std::string& error);

// True when the tool can take the method: 0, 8 and 14 (copied as they are),
// others when built in (decoded and compressed again).
bool CanDecodeMethod(uint16_t method);
std::string MethodName(uint16_t method);

// Decodes raw data in a method the stub does not read (bzip2, when built
// in) into exactly entry.size bytes at 'out' and checks the CRC-32 (unless
// told not to: AE-2 entries carry none). Data that decode to more are
// refused at the first byte too many. Methods the stub reads are never
// decoded here: their data are copied, and the stub's engine checks them.
bool DecodeInputEntry(const ZipInputEntry& entry, const uint8_t* raw, size_t rawSize, uint8_t* out,
                      std::string& error, bool checkCrc = true);

}  // namespace pack
