#pragma once
// Builds packages and ZIP archives for tests: stub bytes, the optional
// 256-byte configuration header, and archives with exactly the local headers
// a test needs (stored or deflated data, extra fields, data descriptors,
// traditional encryption, odd names).
#include <stdint.h>

#include <lzma.h>

#include <string>
#include <vector>

#include "base/entry.h"
#include "base/config.h"

namespace testpkg {

struct PackageOptions {
  std::string stub;          // empty: StubSize zero bytes; otherwise used as given
  bool header = true;        // false: the archive follows the stub directly
  std::string magic = HeaderMagic;
  uint8_t flags = FlagFileList | FlagOverwrite;
  std::string message;
  std::string folder;
  std::string command;
};

// The 256-byte header: magic, flags, the three lengths (each text's length,
// at most 255), the texts, then 0x2E filler. Texts longer than the header has
// room for are cut at its end while their lengths still say the full size.
std::string BuildHeader(const PackageOptions& options);
std::string BuildPackage(const PackageOptions& options, const std::string& zip);

struct ZipEntry {
  std::string name;
  std::string data;              // the uncompressed content
  uint16_t method = MethodStored;
  uint16_t flags = 0;            // FlagEncrypted and FlagDescriptor are set by the options below
  std::string extra;             // extra field after the name
  std::string password;          // non-empty: traditional encryption, or AES-256 (AE-2) with 'aes'
  bool aes = false;
  std::string compressed;        // non-empty: the data as compressed (a damaged stream), else 'data' compressed
  bool descriptor = false;       // a signed data descriptor follows the data
  bool sizesInHeader = true;     // false: CRC and sizes are zero in the local header
  uint16_t time = 0x6000;
  uint16_t date = 0x5A21;
  int32_t nameLengthOverride = -1;  // >= 0: the local header states this name length
};

// The local headers and data of every entry, then (unless 'central' is
// false) a central directory and its end record.
std::string BuildZip(const std::vector<ZipEntry>& entries, bool central = true);

// Just the 30-byte local header of an entry with the given fields.
std::string LocalHeader(uint32_t signature, uint16_t flags, uint16_t method, uint32_t crc,
                        uint32_t compressedSize, uint32_t size, uint16_t nameLength,
                        uint16_t extraLength);

uint32_t Crc32(const std::string& data);
std::string Deflate(const std::string& data, int level = 6);
// LZMA entry data (method 14): the 9-byte header, then liblzma's stream:
// preset 6 with the end marker, or LZMA1EXT with the given options.
std::string Lzma(const std::string& data, const lzma_options_lzma* options = nullptr);
// The data of solid entries (method MethodSolid) holding 'files' as one
// block: liblzma's raw LZMA2 encoder (preset 6, or 'options') flushed at
// each file's end, each entry's chunks behind the block's property byte.
std::vector<std::string> SolidBlock(const std::vector<std::string>& files,
                                    const lzma_options_lzma* options = nullptr);

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& data);

// Runs a shell command; returns its exit status (-1 when it could not run).
int RunCommand(const std::string& command);

// A fresh directory below $TMPDIR (or /tmp), removed with its content at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The core started with no package for the time of a test (fresh state,
// empty texts, the CRC table), and ended afterwards.
class CoreSession {
 public:
  CoreSession();
  ~CoreSession();
  CoreSession(const CoreSession&) = delete;
  CoreSession& operator=(const CoreSession&) = delete;
};

}  // namespace testpkg
