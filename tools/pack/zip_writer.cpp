#include "tools/pack/zip_writer.h"

#include <errno.h>
#include <string.h>

#include "base/entry.h"
#include "tools/pack/aes_zip.h"
#include "tools/pack/util.h"

namespace pack {

static uint16_t VersionNeeded(const ZipRecord& r) {
  if (r.method == MethodAes) return 51;   // AES
  // A method of our own: 2.0, so that other tools name the method they lack.
  if (r.method == MethodSolid) return 20;
  if (r.method == MethodLzma || (r.flags & FlagLzmaEndMarker)) return 63;
  return r.method == MethodDeflated || (r.flags & FlagEncrypted) || r.folder ? 20 : 10;
}

bool PackageWriter::Write(const void* bytes, size_t size, std::string& error) {
  if (position_ + size > MaxPackageSize) {
    error = "the package would reach 4 GiB, and Windows does not start a program that large";
    return false;
  }
  if (size > 0 && fwrite(bytes, 1, size, file_) != size) {
    error = std::string("cannot write the package: ") + strerror(errno);
    return false;
  }
  position_ += size;
  return true;
}

bool PackageWriter::Begin(const std::string& stub, const std::string& header, std::string& error) {
  return Write(stub, error) && Write(header, error);
}

bool PackageWriter::Add(ZipRecord r, const uint8_t* data, size_t size, std::string& error) {
  if (records_.size() >= MaxEntries) {
    error = "more than 65535 entries do not fit in a zip without ZIP64";
    return false;
  }
  if (r.compressedSize > MaxStoredEntrySize) {
    error = r.name + ": its stored data would take 2 GiB or more, which the stub does not read";
    return false;
  }
  r.offset = (uint32_t)position_;
  std::string local;
  PutLe32(local, LocalHeaderSignature);
  PutLe16(local, VersionNeeded(r));
  PutLe16(local, r.flags);
  PutLe16(local, r.method);
  PutLe32(local, r.dosDateTime);   // time, then date
  PutLe32(local, r.crc);
  PutLe32(local, r.compressedSize);
  PutLe32(local, r.size);
  PutLe16(local, (uint32_t)r.name.size());
  PutLe16(local, (uint32_t)r.extra.size());
  local += r.name;
  local += r.extra;
  if (!Write(local, error) || !Write(data, size, error)) return false;
  records_.push_back(r);
  return true;
}

bool PackageWriter::Finish(std::string& error) {
  uint64_t start = position_;
  std::string cd;
  for (const ZipRecord& r : records_) {
    PutLe32(cd, CentralHeaderSignature);
    // Made by Unix, version 2.0: Info-ZIP unzip takes names made on MS-DOS
    // for OEM text even when flag bit 11 says UTF-8, and Unix tools read the
    // mode from the top of the external attributes.
    PutLe16(cd, 3 << 8 | 20);
    PutLe16(cd, VersionNeeded(r));
    PutLe16(cd, r.flags);
    PutLe16(cd, r.method);
    PutLe32(cd, r.dosDateTime);
    PutLe32(cd, r.crc);
    PutLe32(cd, r.compressedSize);
    PutLe32(cd, r.size);
    PutLe16(cd, (uint32_t)r.name.size());
    PutLe16(cd, (uint32_t)r.extra.size());
    PutLe16(cd, 0);                // comment
    PutLe16(cd, 0);                // disk
    PutLe16(cd, 0);                // internal attributes
    // External: the Unix mode above, the MS-DOS attributes (FILE_ATTRIBUTE_DIRECTORY) below.
    uint32_t mode = (r.folder ? 0040000u : 0100000u) | r.permissions;
    PutLe32(cd, mode << 16 | (r.folder ? 0x10 : 0));
    PutLe32(cd, r.offset);
    cd += r.name;
    cd += r.extra;
  }
  if (!Write(cd, error)) return false;
  std::string end;
  PutLe32(end, EndRecordSignature);
  PutLe16(end, 0);
  PutLe16(end, 0);
  PutLe16(end, (uint32_t)records_.size());
  PutLe16(end, (uint32_t)records_.size());
  PutLe32(end, (uint32_t)cd.size());
  PutLe32(end, (uint32_t)start);
  PutLe16(end, 0);
  return Write(end, error);
}

}  // namespace pack
