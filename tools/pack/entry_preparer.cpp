#include "tools/pack/entry_preparer.h"

#include <libdeflate.h>
#include <sys/stat.h>

#include <new>
#include <utility>

#include "base/entry.h"
#include "tools/pack/aes_zip.h"
#include "tools/pack/archive_check.h"
#include "tools/pack/mapped_file.h"
#include "tools/pack/names.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_reader.h"
#include "tools/pack/zipcrypto.h"

namespace pack {

EntryPreparer::EntryPreparer(const CreateOptions& o, const Plan& plan)
    : level_(o.level), hasPassword_(o.hasPassword), encryption_(o.encryption), password_(plan.password),
      useEpoch_(plan.useEpoch), epoch_(plan.epoch) {
  if (level_ > 0) compressor_ = libdeflate_alloc_compressor(level_);
}

EntryPreparer::~EntryPreparer() {
  if (compressor_) libdeflate_free_compressor(compressor_);
}

PreparedEntry EntryPreparer::Prepare(const PlannedEntry& e) {
  PreparedEntry out;
  try {
    if (!Build(e, out)) out.data.clear();
  } catch (const std::bad_alloc&) {
    out.data.clear();
    out.error = "out of memory while packing " + e.origin;
  }
  return out;
}

// 0755 for folders and for files their owner may run, else 0644: a script
// stays executable when a zip tool unpacks the package on Unix, and the
// package does not depend on the umask it was packed under. Entries from a
// zip get 0644: the reader does not keep their modes.
static uint16_t Permissions(const PlannedEntry& e) {
  if (e.IsFolder()) return 0755;
  struct stat st;
  bool runnable = e.source != PlannedEntry::FromZip && stat(e.path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
  return runnable ? 0755 : 0644;
}

bool EntryPreparer::Build(const PlannedEntry& e, PreparedEntry& out) {
  ZipRecord& r = out.record;
  r.name = e.name;
  if (!IsAscii(r.name)) r.flags |= FlagUtf8;
  r.dosDateTime = useEpoch_ ? DosDateTime(epoch_, true)
                  : e.source == PlannedEntry::FromZip ? e.zip.dosDateTime
                                                      : DosDateTime(e.mtime, false);
  r.permissions = Permissions(e);
  if (e.IsFolder()) {
    r.folder = true;
    return true;
  }
  if (e.source == PlannedEntry::FromZip) return FromZip(e, out);
  MappedFile file;
  if (!file.Open(e.path, out.error)) return false;
  return FromBytes(file.data, file.size, out);
}

// Raw zip data is kept as it is when the method is one the stub reads.
bool EntryPreparer::FromZip(const PlannedEntry& e, PreparedEntry& out) {
  std::string raw, plain;
  if (e.zip.method == MethodStored || e.zip.method == MethodDeflated) {
    // Checked by decoding in bounded chunks; the data are kept as they are.
    LocalEntry check;
    check.dataOffset = e.zip.dataOffset;
    check.method = e.zip.method;
    check.crc = e.zip.crc;
    check.compressedSize = (uint32_t)e.zip.compressedSize;
    check.size = (uint32_t)e.zip.size;
    std::string problem = EntryProblem(e.path, check, nullptr);
    if (!problem.empty()) {
      out.error = e.path + ": " + e.zip.name + " is damaged: " + problem;
      return false;
    }
  }
  if (!ReadRawData(e.path, e.zip, raw, out.error)) return false;
  if (e.zip.aes.version != 0) return CopyAesEntry(e, std::move(raw), out);
  if (e.zip.method == MethodStored || e.zip.method == MethodDeflated) {
    out.record.method = e.zip.method;
    out.record.crc = e.zip.crc;
    out.record.size = (uint32_t)e.zip.size;
    return Store(std::move(raw), out);
  }
  if (!DecodeInputEntry(e.zip, raw, plain, out.error)) {
    out.error = e.path + ": " + out.error;
    return false;
  }
  return FromBytes((const uint8_t*)plain.data(), plain.size(), out);
}

bool EntryPreparer::FromBytes(const uint8_t* data, size_t size, PreparedEntry& out) {
  ZipRecord& r = out.record;
  r.crc = libdeflate_crc32(0, data, size);
  r.size = (uint32_t)size;
  r.method = 0;
  if (compressor_ && size > 0) {
    std::string packed(libdeflate_deflate_compress_bound(compressor_, size), '\0');
    size_t length = libdeflate_deflate_compress(compressor_, data, size, &packed[0], packed.size());
    if (length > 0 && length < size) {
      packed.resize(length);
      r.method = 8;
      return Store(std::move(packed), out);
    }
  }
  return Store(std::string((const char*)data, size), out);
}

// An AES entry of an input zip is opened with the package's password,
// decoded and checked, then copied as it is.
bool EntryPreparer::CopyAesEntry(const PlannedEntry& e, std::string raw, PreparedEntry& out) {
  const AesInfo& aes = e.zip.aes;
  std::string compressed, plain;
  ZipInputEntry inner = e.zip;
  inner.method = aes.method;
  if (!AesOpen(password_, aes.strength, raw, compressed, out.error) ||
      !DecodeInputEntry(inner, compressed, plain, out.error, aes.version != 2)) {
    out.error = e.origin + ": " + out.error + "; an AES entry is copied only with its own password";
    return false;
  }
  ZipRecord& r = out.record;
  r.method = MethodAes;
  r.flags = FlagEncrypted | (r.flags & FlagUtf8);
  r.crc = e.zip.crc;
  r.size = (uint32_t)e.zip.size;
  r.extra = AesExtraField(aes);
  r.compressedSize = (uint32_t)raw.size();
  out.data = std::move(raw);
  return true;
}

// Encrypts when asked; the data are then as the package stores them.
bool EntryPreparer::Store(std::string data, PreparedEntry& out) {
  ZipRecord& r = out.record;
  if (hasPassword_ && encryption_ != Encryption::ZipCrypto) {
    AesInfo aes;
    aes.version = AesVersionFor(r.size);
    aes.strength = encryption_ == Encryption::Aes128 ? 1 : 3;
    aes.method = r.method;
    if (!AesSeal(password_, aes.strength, data, out.error)) return false;
    if (aes.version == 2) r.crc = 0;
    r.method = MethodAes;
    r.extra = AesExtraField(aes);
    r.flags |= FlagEncrypted;
  } else if (hasPassword_) {
    uint8_t random[11];
    if (!SecureRandom(random, sizeof random)) {
      out.error = "the system's random source failed";
      return false;
    }
    ZipCipher cipher(password_);
    std::string header = EncryptionHeader(cipher, r.crc, random);
    if (!data.empty()) cipher.Encrypt((uint8_t*)&data[0], data.size());
    data = header + data;
    r.flags |= 1;
  }
  if (data.size() > MaxEntrySize) {
    out.error = r.name + " does not fit in 4 GB once compressed";
    return false;
  }
  r.compressedSize = (uint32_t)data.size();
  out.data = std::move(data);
  return true;
}

}  // namespace pack
