#include "tools/pack/entry_preparer.h"

#include <libdeflate.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <utility>

#include "base/entry.h"
#include "tools/os/os.h"
#include "tools/pack/aes_zip.h"
#include "tools/pack/lzma_encode.h"
#include "tools/pack/entry_buffer.h"
#include "tools/pack/names.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_reader.h"
#include "tools/pack/zipcrypto.h"

namespace pack {

uint64_t ExpectedSize(const PlannedEntry& e) {
  return e.source == PlannedEntry::FromZip ? std::max(e.size, e.zip.compressedSize) : e.size;
}

EntryPreparer::EntryPreparer(const CreateOptions& o, const Plan& plan)
    : plan_(plan), level_(o.level), method_(o.method), hasPassword_(o.hasPassword), encryption_(o.encryption), password_(plan.password),
      spillDir_(DirName(o.output)), useEpoch_(plan.useEpoch), epoch_(plan.epoch) {
  if (level_ > 0) compressor_ = libdeflate_alloc_compressor(level_);
}

EntryPreparer::~EntryPreparer() {
  if (compressor_) libdeflate_free_compressor(compressor_);
}

PreparedEntry EntryPreparer::Prepare(const PlannedEntry& e) {
  PreparedEntry out;
  try {
    if (!Build(e, out)) out.data = EntryBuffer();
  } catch (const std::bad_alloc&) {
    out.data = EntryBuffer();
    out.error = "out of memory while packing " + e.origin;
  }
  return out;
}

// 0755 for folders and for files their owner may run (on Windows: scripts
// and programs for Unix, by their first bytes), else 0644: a script stays
// executable when a zip tool unpacks the package on Unix, and the package
// does not depend on the umask it was packed under. Entries from a zip get
// 0644: the reader does not keep their modes.
static uint16_t Permissions(const PlannedEntry& e) {
  if (e.IsFolder()) return 0755;
  bool runnable = e.source != PlannedEntry::FromZip && os::Status(e.path, true).runnable;
  return runnable ? 0755 : 0644;
}

// The fields of an entry's record that do not depend on its data.
void EntryPreparer::Describe(const PlannedEntry& e, ZipRecord& r) const {
  r.name = e.name;
  if (!IsAscii(r.name)) r.flags |= FlagUtf8;
  r.dosDateTime = useEpoch_ ? DosDateTime(epoch_, true)
                  : e.source == PlannedEntry::FromZip ? e.zip.dosDateTime
                                                      : DosDateTime(e.mtime, false);
  r.permissions = Permissions(e);
}

bool EntryPreparer::Build(const PlannedEntry& e, PreparedEntry& out) {
  ZipRecord& r = out.record;
  Describe(e, r);
  if (e.IsFolder()) {
    r.folder = true;
    return true;
  }
  if (e.source == PlannedEntry::FromZip) return FromZip(e, out);
  EntryBuffer bytes;
  if (!ReadInput(e, bytes, out.error)) return false;
  return FromBytes(bytes.Bytes(), bytes.size, out);
}

// The file's bytes, read once: its CRC and every compressor see these same
// bytes whatever happens to the file meanwhile. A file that changed since it
// was listed or while it was read is refused, not packed half old, half new.
bool EntryPreparer::ReadInput(const PlannedEntry& e, EntryBuffer& bytes, std::string& error) {
  os::File file(e.path);
  if (!file.IsOpen()) {
    error = "cannot read " + e.path + ": " + os::LastError();
    return false;
  }
  uint64_t size = file.Size();
  int64_t modified = file.Modified();
  std::string changed = e.path + " changed while it was packed";
  if (size != e.size || modified != e.modified) {
    error = changed;
    return false;
  }
  // One byte more than the size is asked for: a file that grew fills it.
  if (!bytes.Allocate((size_t)size + 1, size >= SpillSize ? spillDir_ : "", error)) return false;
  size_t got = file.ReadAt(0, bytes.Bytes(), (size_t)size + 1);
  uint64_t after = file.Size();
  if (got < size && after == size) error = "cannot read " + e.path + ": " + os::LastError();
  else if (got < size) error = e.path + " shrank while it was read (" + std::to_string(got) + " of " + std::to_string(size) + " bytes)";
  else if (got > size || after != size || file.Modified() != modified) error = changed;
  bytes.size = (size_t)size;
  return error.empty();
}

bool KeepsZipData(const PlannedEntry& e) {
  const ZipInputEntry& z = e.zip;
  return e.source == PlannedEntry::FromZip && !e.IsFolder() &&
         (z.aes.version != 0 || z.method == MethodStored || z.method == MethodDeflated || z.method == MethodLzma);
}

bool EntryPreparer::FromZip(const PlannedEntry& e, PreparedEntry& out) {
  return KeepsZipData(e) ? CopyRaw(e, out) : Recompress(e, out);
}

// An AES entry is copied as it is, opened only by its own password; other
// data are encrypted when asked.
bool EntryPreparer::CopyRaw(const PlannedEntry& e, PreparedEntry& out) {
  const ZipInputEntry& z = e.zip;
  ZipRecord& r = out.record;
  bool aes = z.aes.version != 0;
  uint8_t* data;
  if (!Reserve((size_t)z.compressedSize, !aes, out, data) || !ReadRawData(e.path, z, data, out.error)) return false;
  r.crc = z.crc;
  r.size = (uint32_t)z.size;
  r.flags |= z.flags & FlagLzmaEndMarker;
  if (!aes) {
    r.method = z.method;
    return Seal((size_t)z.compressedSize, out);
  }
  r.method = MethodAes;
  r.flags = FlagEncrypted | (r.flags & FlagUtf8);
  r.extra = AesExtraField(z.aes);
  return Finish((size_t)z.compressedSize, out);
}

// Data in a method the stub cannot read are decoded and compressed again.
bool EntryPreparer::Recompress(const PlannedEntry& e, PreparedEntry& out) {
  const ZipInputEntry& z = e.zip;
  size_t rawSize = (size_t)z.compressedSize, size = (size_t)z.size;
  EntryBuffer raw, plain;
  if (!raw.Allocate(rawSize, rawSize >= SpillSize ? spillDir_ : "", out.error) ||
      !ReadRawData(e.path, z, raw.Bytes(), out.error) ||
      !plain.Allocate(size, size >= SpillSize ? spillDir_ : "", out.error))
    return false;
  if (!DecodeInputEntry(z, raw.Bytes(), rawSize, plain.Bytes(), out.error)) {
    out.error = e.path + ": " + out.error;
    return false;
  }
  raw = EntryBuffer();
  return FromBytes(plain.Bytes(), size, out);
}

bool EntryPreparer::FromBytes(const uint8_t* data, size_t size, PreparedEntry& out) {
  ZipRecord& r = out.record;
  r.crc = libdeflate_crc32(0, data, size);
  r.size = (uint32_t)size;
  // One call for the whole entry: deflating in pieces would give other bytes.
  bool deflate = compressor_ && size > 0;
  size_t room = deflate ? libdeflate_deflate_compress_bound(compressor_, size) : size;
  uint8_t* stored;
  if (!Reserve(room, true, out, stored)) return false;
  size_t length = deflate ? libdeflate_deflate_compress(compressor_, data, size, stored, room) : 0;
  r.method = length > 0 && length < size ? MethodDeflated : MethodStored;
  if (r.method == MethodStored) {
    if (size > 0) memcpy(stored, data, size);
    length = size;
  }
  // LZMA is kept only when it is smaller than the better of the two.
  if (method_ == Method::Lzma && level_ > 0 && size > 0) {
    EntryBuffer lzma;
    if (!lzma.Allocate(length, length >= SpillSize ? spillDir_ : "", out.error)) return false;
    size_t lzmaLength = LzmaCompress(data, size, level_, lzma.Bytes(), length);
    if (lzmaLength > 0) {
      memcpy(stored, lzma.Bytes(), lzmaLength);
      length = lzmaLength;
      r.method = MethodLzma;
      r.flags |= FlagLzmaEndMarker;
    }
  }
  return Seal(length, out);
}

std::vector<PreparedEntry> EntryPreparer::PrepareBlock(size_t first, size_t count) {
  std::vector<PreparedEntry> out(count);
  std::string error;
  size_t i = 0;
  try {
    uint64_t blockBytes = 0;
    for (size_t j = 0; j < count; j++) blockBytes += plan_.entries[first + j].size;
    SolidEncoder encoder;
    if (!encoder.Start(level_, blockBytes, error)) error = "cannot pack " + plan_.entries[first].origin + ": " + error;
    for (; i < count && error.empty(); i++) {
      const PlannedEntry& e = plan_.entries[first + i];
      PreparedEntry& p = out[i];
      ZipRecord& r = p.record;
      Describe(e, r);
      EntryBuffer bytes;
      if (!ReadInput(e, bytes, error)) break;
      r.crc = libdeflate_crc32(0, bytes.Bytes(), bytes.size);
      r.size = (uint32_t)bytes.size;
      r.method = MethodSolid;
      std::string chunks(1, (char)encoder.Property());
      if (!encoder.Entry(bytes.Bytes(), bytes.size, chunks, error)) {
        error = "cannot pack " + e.origin + ": " + error;
        break;
      }
      bytes = EntryBuffer();
      uint8_t* stored;
      if (!Reserve(chunks.size(), true, p, stored)) break;
      memcpy(stored, chunks.data(), chunks.size());
      if (!Seal(chunks.size(), p)) break;
    }
  } catch (const std::bad_alloc&) {
    error = "out of memory while packing " + plan_.entries[first + std::min(i, count - 1)].origin;
  }
  if (i < count && error.empty()) error = out[i].error;
  for (; i < count; i++) {
    out[i].data = EntryBuffer();
    out[i].error = error;
  }
  return out;
}

// Room for 'size' bytes of data, and around them for the encryption when the
// data are to be 'sealed'; 'data' is where they go.
bool EntryPreparer::Reserve(size_t size, bool sealed, PreparedEntry& out, uint8_t*& data) {
  size_t before = sealed ? HeaderRoom() : 0, capacity = before + size + (sealed ? TrailerRoom() : 0);
  if (!out.data.Allocate(capacity, capacity >= SpillSize ? spillDir_ : "", out.error)) return false;
  data = out.data.Bytes() + before;
  return true;
}

size_t EntryPreparer::HeaderRoom() const {
  if (!hasPassword_) return 0;
  return encryption_ == Encryption::ZipCrypto ? EncryptionHeaderSize : AesHeaderSize(AesStrength());
}

size_t EntryPreparer::TrailerRoom() const {
  return hasPassword_ && encryption_ != Encryption::ZipCrypto ? AesCodeSize : 0;
}

uint8_t EntryPreparer::AesStrength() const { return encryption_ == Encryption::Aes128 ? 1 : 3; }

// Encrypts when asked the 'size' bytes Reserve made room for, in place; the
// data are then as the package stores them.
bool EntryPreparer::Seal(size_t size, PreparedEntry& out) {
  ZipRecord& r = out.record;
  uint8_t* stored = out.data.Bytes();
  if (hasPassword_ && encryption_ != Encryption::ZipCrypto) {
    AesInfo aes;
    aes.version = AesVersionFor(r.size);
    aes.strength = AesStrength();
    aes.method = r.method;
    if (!AesSeal(password_, aes.strength, stored, size, out.error)) return false;
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
    memcpy(stored, header.data(), header.size());
    cipher.Encrypt(stored + header.size(), size);
    r.flags |= FlagEncrypted;
  }
  return Finish(HeaderRoom() + size + TrailerRoom(), out);
}

bool EntryPreparer::Finish(size_t size, PreparedEntry& out) {
  if (size > MaxEntrySize) {
    out.error = out.record.name + " does not fit in 4 GB once compressed";
    return false;
  }
  out.record.compressedSize = (uint32_t)size;
  out.data.size = size;
  out.data.Shrink();
  return true;
}

}  // namespace pack
