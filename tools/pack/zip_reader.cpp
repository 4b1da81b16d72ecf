#include "tools/pack/zip_reader.h"

#include <libdeflate.h>
#include <string.h>

#include "base/entry.h"
#include "archive/entry_time.h"
#include "base/config.h"
#include "platform/host.h"
#include "tools/os/os.h"
#include "tools/pack/codepage.h"
#include "tools/pack/util.h"

#ifdef TOLVANE_PACK_BZIP2
#include <bzlib.h>
#endif

namespace pack {

namespace {


bool ReadAt(const os::File& file, uint64_t offset, size_t size, std::string& out) {
  out.resize(size);
  return file.ReadAt(offset, &out[0], size) == size;
}

std::string NameToUtf8(const std::string& raw, uint16_t flags, int legacyCodePage) {
  std::string name = (flags & 0x800) || IsValidUtf8(raw) ? raw : FromLegacyNames(legacyCodePage, raw);
  for (char& c : name)
    if (c == '\\') c = '/';   // archives made on Windows sometimes use backslashes
  return name;
}

}  // namespace

bool ReadZipDirectory(const std::string& path, ZipInput& zip, std::string& error, int packageCodePage) {
  zip.path = path;
  zip.entries.clear();
  os::File file(path);
  if (!file.IsOpen()) {
    error = "cannot open " + path + ": " + os::LastError();
    return false;
  }
  uint64_t fileSize = file.Size();
  if (fileSize < 22) {
    error = path + " is not a zip archive (too short)";
    return false;
  }
  uint64_t tailSize = fileSize < 65557 ? fileSize : 65557;
  std::string tail;
  if (!ReadAt(file, fileSize - tailSize, (size_t)tailSize, tail)) {
    error = "cannot read " + path;
    return false;
  }
  // The end record is the last signature whose comment fits in the file.
  size_t endPos = std::string::npos;
  for (size_t i = tail.size() - 22 + 1; i-- > 0;) {
    if (GetLe32(&tail[i]) == EndRecordSignature && i + 22 + GetLe16(&tail[i + 20]) <= tail.size()) {
      endPos = i;
      break;
    }
  }
  if (endPos == std::string::npos) {
    error = path + " is not a zip archive (no end of central directory record)";
    return false;
  }
  const char* end = &tail[endPos];
  uint16_t disk = GetLe16(end + 4), cdDisk = GetLe16(end + 6);
  uint16_t count = GetLe16(end + 10);
  uint32_t cdSize = GetLe32(end + 12), cdOffset = GetLe32(end + 16);
  if (disk != 0 || cdDisk != 0) {
    error = path + " is a multi-volume zip archive, which is not supported";
    return false;
  }
  if (count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) {
    error = path + " is a ZIP64 archive, which is not supported (packages stay below 4 GB)";
    return false;
  }
  uint64_t endAbsolute = fileSize - tailSize + endPos;
  if (cdSize > endAbsolute) {
    error = path + ": the central directory is damaged";
    return false;
  }
  uint64_t cdStart = endAbsolute - cdSize;
  // Data prepended to the archive (a self-extractor) shifts every offset.
  if (cdOffset > cdStart) {
    error = path + ": the central directory is damaged";
    return false;
  }
  uint64_t base = cdStart - cdOffset;
  std::string head;
  bool isPackage = ReadAt(file, 0, 2, head) && head == "MZ" && ReadAt(file, StubSize, HeaderMagicSize, head) &&
                   head == HeaderMagic;
  int legacyCodePage = isPackage ? packageCodePage : 437;
  std::string cd;
  if (!ReadAt(file, cdStart, cdSize, cd)) {
    error = "cannot read the central directory of " + path;
    return false;
  }
  size_t pos = 0;
  for (uint32_t index = 0; index < count; index++) {
    if (pos + 46 > cd.size() || GetLe32(&cd[pos]) != CentralHeaderSignature) {
      error = path + ": the central directory is damaged";
      return false;
    }
    const char* h = &cd[pos];
    ZipInputEntry entry;
    // Unix attributes sit in the top 16 bits of the external attributes.
    uint8_t madeBy = (uint8_t)(GetLe16(h + 4) >> 8);
    uint32_t unixMode = GetLe32(h + 38) >> 16;
    entry.symlink = (madeBy == 3 || madeBy == 19) && (unixMode & 0170000) == 0120000;
    entry.flags = GetLe16(h + 8);
    entry.method = GetLe16(h + 10);
    entry.dosDateTime = (uint32_t)GetLe16(h + 14) << 16 | GetLe16(h + 12);
    entry.crc = GetLe32(h + 16);
    entry.compressedSize = GetLe32(h + 20);
    entry.size = GetLe32(h + 24);
    size_t nameLength = GetLe16(h + 28), extraLength = GetLe16(h + 30), commentLength = GetLe16(h + 32);
    uint32_t localOffset = GetLe32(h + 42);
    if (pos + 46 + nameLength + extraLength + commentLength > cd.size()) {
      error = path + ": the central directory is damaged";
      return false;
    }
    entry.rawName = cd.substr(pos + 46, nameLength);
    entry.name = NameToUtf8(entry.rawName, entry.flags, legacyCodePage);
    if (entry.method == MethodAes) ParseAesExtra(cd.substr(pos + 46 + nameLength, extraLength), entry.aes);
    if (entry.compressedSize == 0xFFFFFFFF || entry.size == 0xFFFFFFFF || localOffset == 0xFFFFFFFF) {
      error = path + ": entry " + entry.name + " uses ZIP64, which is not supported";
      return false;
    }
    std::string local;
    uint64_t localPos = base + localOffset;
    if (!ReadAt(file, localPos, 30, local) || GetLe32(&local[0]) != LocalHeaderSignature) {
      error = path + ": the local header of " + entry.name + " is missing or damaged";
      return false;
    }
    size_t localExtraLength = GetLe16(&local[28]);
    entry.dataOffset = localPos + 30 + GetLe16(&local[26]) + localExtraLength;
    if (!ReadAt(file, entry.dataOffset - GetLe16(&local[28]), localExtraLength, entry.localExtra))
      entry.localExtra.clear();
    if (entry.dataOffset + entry.compressedSize > cdStart) {
      error = path + ": the data of " + entry.name + " runs into the central directory";
      return false;
    }
    zip.entries.push_back(entry);
    pos += 46 + nameLength + extraLength + commentLength;
  }
  return true;
}

bool EntryModifiedTime(const ZipInputEntry& entry, struct timespec& time) {
  FileStamp stamp;
  EntryStamp(reinterpret_cast<const uint8_t*>(entry.localExtra.data()), (uint32_t)entry.localExtra.size(),
             (uint16_t)(entry.dosDateTime >> 16), (uint16_t)entry.dosDateTime, stamp);
  return host::StampToUnix(stamp, time);
}

bool ReadRawData(const std::string& path, const ZipInputEntry& entry, uint8_t* data, std::string& error) {
  os::File file(path);
  size_t size = (size_t)entry.compressedSize;
  if (!file.IsOpen() || file.ReadAt(entry.dataOffset, data, size) != size) {
    error = "cannot read " + entry.name + " from " + path;
    return false;
  }
  return true;
}

bool CanDecodeMethod(uint16_t method) {
#ifdef TOLVANE_PACK_BZIP2
  if (method == 12) return true;
#endif
  return method == MethodStored || method == MethodDeflated || method == MethodLzma;
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 0: return "stored";
    case 1: return "shrunk";
    case 6: return "imploded";
    case 8: return "deflated";
    case 9: return "deflate64";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 93: return "Zstandard";
    case 95: return "XZ";
    case 98: return "PPMd";
    case MethodAes: return "AES-encrypted";
    default: return "method " + std::to_string(method);
  }
}

bool DecodeInputEntry(const ZipInputEntry& entry, const uint8_t* raw, size_t rawSize, uint8_t* out,
                      std::string& error, bool checkCrc) {
  bool ok = false;
  size_t size = (size_t)entry.size;
#ifdef TOLVANE_PACK_BZIP2
  if (entry.method == 12) {
    // When 'out' is full the stream must end without a byte more: 'spare' takes it.
    uint8_t spare;
    bz_stream bz;
    memset(&bz, 0, sizeof bz);
    if (BZ2_bzDecompressInit(&bz, 0, 0) != BZ_OK) {
      error = "cannot start the bzip2 decoder";
      return false;
    }
    bz.next_in = (char*)const_cast<uint8_t*>(raw);
    bz.avail_in = (unsigned int)rawSize;
    bz.next_out = size > 0 ? (char*)out : (char*)&spare;
    bz.avail_out = (unsigned int)size;
    int status;
    do {
      status = BZ2_bzDecompress(&bz);
    } while (status == BZ_OK && bz.avail_out > 0 && bz.avail_in > 0);
    if (status == BZ_OK && bz.avail_out == 0) {
      bz.next_out = (char*)&spare;
      bz.avail_out = 1;
      ok = BZ2_bzDecompress(&bz) == BZ_STREAM_END && bz.avail_out == 1;
    } else {
      ok = status == BZ_STREAM_END && bz.avail_out == 0;
    }
    BZ2_bzDecompressEnd(&bz);
  }
#else
  (void)raw;   // built without a decoder: every method here is refused below
  (void)rawSize;
#endif
  if (!CanDecodeMethod(entry.method) || entry.method == MethodStored || entry.method == MethodDeflated ||
      entry.method == MethodLzma) {
    error = entry.name + " is compressed with " + MethodName(entry.method) + ", which tolvane-pack does not decode";
    return false;
  }
  if (!ok || (checkCrc && libdeflate_crc32(0, out, size) != entry.crc)) {
    error = entry.name + " is damaged (its data do not decode to the recorded size and CRC-32)";
    return false;
  }
  return true;
}

}  // namespace pack
