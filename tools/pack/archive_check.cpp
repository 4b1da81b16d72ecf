#include "tools/pack/archive_check.h"

#include <stdio.h>
#include <string.h>
#include <lzma.h>
#include <stdlib.h>
#include <zlib.h>

#include "base/entry.h"
#include "codec/lzma.h"
#include "tools/os/os.h"
#include "tools/pack/util.h"
#include "tools/pack/zipcrypto.h"

namespace pack {

namespace {

const size_t Chunk = 1 << 16;

std::string At(uint64_t offset) { return "at offset " + std::to_string(offset); }

}  // namespace

std::string MethodLabel(uint16_t method) {
  return method == MethodStored     ? "stored"
         : method == MethodDeflated ? "deflate"
         : method == MethodLzma     ? "lzma"
                                    : "method " + std::to_string(method);
}

bool WalkLocalHeaders(const std::string& package, uint32_t archiveStart, LocalWalk& walk,
                      std::string& error) {
  walk = LocalWalk();
  os::File file(package);
  if (!file.IsOpen()) {
    error = "cannot open " + package + ": " + os::LastError();
    return false;
  }
  uint64_t size = file.Size(), position = archiveStart;
  for (;;) {
    uint8_t h[LocalHeaderSize];
    size_t got = file.ReadAt(position, h, sizeof h);
    uint32_t signature = got >= 4 ? GetLe32(h) : 0;
    if (got >= 4 && (signature == CentralHeaderSignature || signature == EndRecordSignature)) return true;
    if (got >= 4 && signature == DataDescriptorSignature) {   // skipped, as the stub does
      position += DataDescriptorSize;
      continue;
    }
    if (got == 0) walk.earlyEnd = "the package ends " + At(position) + " without a central directory: it is cut short";
    else if (got < 4 || signature != LocalHeaderSignature) walk.earlyEnd = "no local header " + At(position) + ": the archive is damaged";
    else if (got < LocalHeaderSize) walk.earlyEnd = "the package ends inside a local header " + At(position);
    if (!walk.earlyEnd.empty()) return true;
    ArchiveEntry header;   // the stub's own view of the 30 bytes
    memcpy(&header, h, sizeof header);
    LocalEntry e;
    e.offset = position;
    e.flags = header.EntryFlags;
    e.method = header.Method;
    e.dosDateTime = (uint32_t)header.EntryDate << 16 | header.EntryTime;
    e.crc = header.EntryCrc;
    e.compressedSize = header.CompressedSize;
    e.size = header.UncompressedSize;
    uint16_t nameLength = header.NameLength, extraLength = header.ExtraLength;
    e.name.resize(nameLength);
    if (file.ReadAt(position + LocalHeaderSize, &e.name[0], nameLength) < nameLength) {
      walk.earlyEnd = "the package ends inside the name of the entry " + At(position);
      return true;
    }
    e.dataMethod = e.method;
    if (e.method == MethodAes && extraLength > 0) {
      std::string extra(extraLength, '\0');
      if (file.ReadAt(position + LocalHeaderSize + nameLength, &extra[0], extraLength) == extraLength &&
          ParseAesExtra(extra, e.aes))
        e.dataMethod = e.aes.method;
    }
    e.dataOffset = position + LocalHeaderSize + nameLength + extraLength;
    uint64_t next = e.dataOffset + e.compressedSize;
    uint8_t d[DataDescriptorSize];
    if ((e.flags & FlagDescriptor) && file.ReadAt(next, d, sizeof d) == sizeof d &&
        GetLe32(d) == DataDescriptorSignature) {
      e.crc = GetLe32(d + 4);
      e.size = GetLe32(d + 12);
    }
    walk.entries.push_back(e);
    if (next > size) {
      walk.earlyEnd = "the package ends inside the data of the last entry";
      return true;
    }
    position = next;
  }
}

namespace {

// Hands a zlib or liblzma stream (the same four fields) the caller's input and
// room, runs 'code' on it and takes back how far both got.
template <typename Stream, typename Code>
auto Pump(Stream& s, const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft, Code code) {
  s.next_in = (decltype(s.next_in))in;
  s.avail_in = (decltype(s.avail_in))inLeft;
  s.next_out = out;
  s.avail_out = (decltype(s.avail_out))outLeft;
  auto status = code();
  in = s.next_in;
  inLeft = s.avail_in;
  out = s.next_out;
  outLeft = s.avail_out;
  return status;
}

// The compressed streams a check decodes in chunks: deflate through zlib,
// LZMA (its 9-byte header first) through liblzma, which is told the size and
// allows the end marker there.
class StreamDecoder {
 public:
  enum Status { Going, Ended, Damaged, Failed };

  StreamDecoder(uint16_t method, uint32_t size) : method_(method), size_(size) {
    memset(&z_, 0, sizeof z_);
    if (method_ == MethodDeflated && inflateInit2(&z_, -15) != Z_OK) failed_ = true;
  }
  ~StreamDecoder() {
    if (method_ == MethodDeflated) inflateEnd(&z_);
    lzma_end(&lzma_);
  }
  // Decodes what 'in' holds into 'out'; 'in' and 'out' advance.
  Status Step(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft) {
    if (failed_) return Failed;
    if (method_ == MethodLzma) return LzmaStep(in, inLeft, out, outLeft);
    int status = Pump(z_, in, inLeft, out, outLeft, [&]() { return inflate(&z_, Z_NO_FLUSH); });
    return status == Z_STREAM_END ? Ended : status == Z_DATA_ERROR ? Damaged
           : status == Z_OK || status == Z_BUF_ERROR ? Going : Failed;
  }

 private:
  Status LzmaStep(const uint8_t*& in, size_t& inLeft, uint8_t*& out, size_t& outLeft) {
    while (header_.size() < LzmaHeaderSize && inLeft > 0) {
      header_ += (char)*in++;
      inLeft--;
    }
    if (header_.size() < LzmaHeaderSize) return Going;
    if (!started_) {
      started_ = true;
      // Properties the stub refuses are refused here too; liblzma refuses more.
      LzmaProperties properties;
      lzma_filter filter = {LZMA_FILTER_LZMA1EXT, nullptr};
      if (!ReadLzmaHeader((const uint8_t*)header_.data(), properties) ||
          lzma_properties_decode(&filter, nullptr, (const uint8_t*)header_.data() + 4, 5) != LZMA_OK)
        return failed_ = true, Failed;
      lzma_options_lzma* options = (lzma_options_lzma*)filter.options;
      options->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
      lzma_set_ext_size(*options, size_);
      lzma_filter filters[] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
      lzma_ret ret = lzma_raw_decoder(&lzma_, filters);
      free(options);
      if (ret != LZMA_OK) return failed_ = true, Failed;
    }
    lzma_ret ret = Pump(lzma_, in, inLeft, out, outLeft, [&]() { return lzma_code(&lzma_, LZMA_RUN); });
    return ret == LZMA_STREAM_END ? Ended : ret == LZMA_DATA_ERROR ? Damaged
           : ret == LZMA_OK || ret == LZMA_BUF_ERROR ? Going : Failed;
  }

  uint16_t method_;
  uint32_t size_;
  z_stream z_;
  lzma_stream lzma_ = LZMA_STREAM_INIT;
  std::string header_;
  bool started_ = false, failed_ = false;
};

// Decodes 'left' bytes of stored, deflated or LZMA data, taken in chunks
// through 'read' (false: the package cannot be read there), and says what is
// wrong with them against the declared size and, when 'checkCrc', the CRC.
template <typename Read>
std::string DataProblem(uint16_t method, uint64_t left, Read read, uint32_t size, uint32_t expectedCrc,
                        bool checkCrc) {
  StreamDecoder decoder(method, size);
  std::string in(Chunk, '\0'), out(Chunk, '\0');
  uint64_t produced = 0;
  uint32_t crc = (uint32_t)crc32(0, nullptr, 0);
  std::string problem;
  bool ended = false;
  while (problem.empty() && !ended) {
    size_t take = left < Chunk ? (size_t)left : Chunk;
    if (take > 0 && !read(&in[0], take, problem)) break;
    left -= take;
    if (method == MethodStored) {
      crc = (uint32_t)crc32(crc, (const Bytef*)in.data(), (uInt)take);
      produced += take;
      ended = left == 0;
      continue;
    }
    const uint8_t* next = (const uint8_t*)in.data();
    size_t inLeft = take, outLeft;
    do {
      uint8_t* to = (uint8_t*)&out[0];
      outLeft = Chunk;
      StreamDecoder::Status status = decoder.Step(next, inLeft, to, outLeft);
      size_t got = Chunk - outLeft;
      crc = (uint32_t)crc32(crc, (const Bytef*)out.data(), (uInt)got);
      produced += got;
      if (status == StreamDecoder::Ended) ended = true;
      else if (status == StreamDecoder::Damaged) problem = "the compressed data are damaged after " + std::to_string(produced) + " bytes";
      else if (status == StreamDecoder::Failed) problem = "the data cannot be decoded";
      else if (left == 0 && inLeft == 0 && outLeft != 0)
        problem = "data ends early: the " + MethodLabel(method) + " stream stops after " + std::to_string(produced) +
                  " of " + std::to_string(size) + " bytes";
      // A declared size bounds the work whatever the data claim.
      if (problem.empty() && produced > size)
        problem = "its data decode to more than the declared " + std::to_string(size) + " bytes";
    } while (problem.empty() && !ended && outLeft == 0);
  }
  if (!problem.empty()) return problem;
  if (produced > size) return "its data decode to more than the declared " + std::to_string(size) + " bytes";
  if (produced < size) return "data ends early: " + std::to_string(produced) + " of " + std::to_string(size) + " bytes";
  if (checkCrc && crc != expectedCrc)
    return "CRC mismatch: the header says " + Hex8(expectedCrc) + ", the data give " + Hex8(crc);
  return "";
}

bool StubReads(uint16_t method) {
  return method == MethodStored || method == MethodDeflated || method == MethodLzma;
}

// An AES entry: the password and the authentication code are checked on the
// whole stored data, then the decrypted data are decoded (AE-2 entries carry
// no CRC). Both passes read the package in chunks.
std::string AesProblem(const os::File& file, const LocalEntry& e, const std::string* password) {
  if (e.aes.version == 0) return "its AES extra field is missing or not one the stub reads";
  if (!StubReads(e.aes.method)) return UnknownMethod(e.aes.method);
  if (!password) return "encrypted, and no password was given";
  size_t headerSize = AesHeaderSize(e.aes.strength);
  if (e.compressedSize < headerSize + AesCodeSize) return "its AES data is too short";
  uint8_t header[32], code[AesCodeSize];
  uint64_t start = e.dataOffset + headerSize, size = e.compressedSize - headerSize - AesCodeSize;
  AesOpener opener;
  std::string error;
  if (file.ReadAt(e.dataOffset, header, headerSize) != headerSize ||
      file.ReadAt(start + size, code, AesCodeSize) != AesCodeSize)
    return "data ends early: the package cannot be read " + At(e.dataOffset);
  if (!opener.Start(*password, e.aes.strength, header, error)) return error;
  std::string chunk(Chunk, '\0');
  for (uint64_t at = 0; at < size;) {
    size_t take = size - at < Chunk ? (size_t)(size - at) : Chunk;
    if (file.ReadAt(start + at, &chunk[0], take) != take)
      return "data ends early: the package cannot be read " + At(start + at);
    opener.Authenticate((const uint8_t*)chunk.data(), take);
    at += take;
  }
  if (!opener.CodeMatches(code)) return "its authentication code does not match (damaged, or not the right password)";
  uint64_t position = start;
  auto read = [&](char* buffer, size_t take, std::string& problem) {
    if (file.ReadAt(position, buffer, take) != take || !opener.Decrypt((uint8_t*)buffer, take)) {
      problem = "data ends early: the package cannot be read " + At(position);
      return false;
    }
    position += take;
    return true;
  };
  return DataProblem(e.aes.method, size, read, e.size, e.crc, e.aes.version == 1);
}

}  // namespace

std::string UnknownMethod(uint16_t method) {
  return "unknown compression method " + std::to_string(method) + " (the stub reads stored, deflated and LZMA data)";
}

std::string EntryProblem(const std::string& package, const LocalEntry& e, const std::string* password) {
  if (!StubReads(e.method) && e.method != MethodAes) return UnknownMethod(e.method);
  os::File file(package);
  if (!file.IsOpen()) return "";
  uint64_t size = file.Size(), present = size > e.dataOffset ? size - e.dataOffset : 0;
  if (present < e.compressedSize)
    return "data ends early: the package holds " + std::to_string(present) + " of its " +
           std::to_string(e.compressedSize) + " bytes";
  if (e.method == MethodAes) return AesProblem(file, e, password);
  uint64_t position = e.dataOffset, left = e.compressedSize;
  ZipCipher cipher(password ? *password : "");
  if (e.Encrypted()) {
    uint8_t header[EncryptionHeaderSize];
    if (left < EncryptionHeaderSize) return "shorter than its encryption header";
    if (!password) return "encrypted, and no password was given";
    file.ReadAt(position, header, EncryptionHeaderSize);
    cipher.Decrypt(header, EncryptionHeaderSize);
    if (header[EncryptionHeaderSize - 1] != (uint8_t)(e.crc >> 24)) return "the password given does not open it";
    position += EncryptionHeaderSize;
    left -= EncryptionHeaderSize;
  }
  auto read = [&](char* buffer, size_t size, std::string& problem) {
    if (file.ReadAt(position, buffer, size) != size) {
      problem = "data ends early: the package cannot be read " + At(position);
      return false;
    }
    position += size;
    if (e.Encrypted()) cipher.Decrypt((uint8_t*)buffer, size);
    return true;
  };
  return DataProblem(e.method, left, read, e.size, e.crc, true);
}

}  // namespace pack
