#include "tests/support/package_builder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <lzma.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/config.h"
#include "base/state.h"
#include "codec/lzma.h"
#include "codec/sha1.h"
#include "codec/winzip_aes.h"
#include "package/core.h"
#include "platform/aes.h"
#include "platform/platform.h"

namespace testpkg {

namespace {

void Put16(std::string& out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Traditional ZIP encryption, as the ZIP application note describes it.
struct Cipher {
  uint32_t key0 = 0x12345678, key1 = 0x23456789, key2 = 0x34567890;

  static uint32_t CrcByte(uint32_t crc, uint8_t byte) {
    crc ^= byte;
    for (int i = 0; i < 8; i++) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    return crc;
  }
  void Update(uint8_t plain) {
    key0 = CrcByte(key0, plain);
    key1 = (key1 + (key0 & 0xFF)) * 134775813u + 1;
    key2 = CrcByte(key2, static_cast<uint8_t>(key1 >> 24));
  }
  uint8_t Stream() const {
    uint32_t temp = (key2 | 2) & 0xFFFF;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
  }
  uint8_t Encrypt(uint8_t plain) {
    uint8_t out = plain ^ Stream();
    Update(plain);
    return out;
  }
};

std::string Encrypt(const std::string& password, const std::string& data, uint8_t check) {
  Cipher cipher;
  for (char c : password) cipher.Update(static_cast<uint8_t>(c));
  std::string out;
  for (int i = 0; i < 11; i++) out += static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(0x35 + 7 * i)));
  out += static_cast<char>(cipher.Encrypt(check));
  for (char c : data) out += static_cast<char>(cipher.Encrypt(static_cast<uint8_t>(c)));
  return out;
}

// WinZip AES-256: salt, verifier, the data in counter mode (little-endian
// counter from 1), the first 10 bytes of the HMAC-SHA1 over the encrypted data.
std::string AesEncrypt(const std::string& password, const std::string& data) {
  const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  uint8_t keys[66];
  Pbkdf2Sha1(reinterpret_cast<const uint8_t*>(password.data()), static_cast<uint32_t>(password.size()), salt,
             16, AesIterations, keys, sizeof keys);
  AesKey key;
  AesExpandKey(key, keys, 32);
  std::string out = data;
  uint8_t counter[AesBlockSize] = {}, stream[AesBlockSize];
  for (size_t i = 0; i < out.size(); i++) {
    if (i % AesBlockSize == 0) {
      for (uint32_t b = 0; b < AesBlockSize && ++counter[b] == 0; b++) {}
      AesEncryptBlock(key, counter, stream);
    }
    out[i] = static_cast<char>(out[i] ^ stream[i % AesBlockSize]);
  }
  Hmac mac;
  HmacStart(mac, keys + 32, 32);
  Sha1Add(mac.inner, reinterpret_cast<const uint8_t*>(out.data()), static_cast<uint32_t>(out.size()));
  uint8_t code[20];
  HmacFinish(mac, code);
  return std::string(reinterpret_cast<const char*>(salt), 16) + std::string(reinterpret_cast<const char*>(keys + 64), 2) +
         out + std::string(reinterpret_cast<const char*>(code), AesCodeSize);
}

}  // namespace

std::string BuildHeader(const PackageOptions& options) {
  std::string header = options.magic.substr(0, 3);
  header.resize(3, 0);
  header += static_cast<char>(options.flags);
  header += static_cast<char>(std::min<size_t>(options.message.size(), 255));
  header += static_cast<char>(std::min<size_t>(options.folder.size(), 255));
  header += static_cast<char>(std::min<size_t>(options.command.size(), 255));
  header += options.message.substr(0, 255);
  header += options.folder.substr(0, 255);
  header += options.command.substr(0, 255);
  header.resize(HeaderSize, '.');
  return header;
}

std::string BuildPackage(const PackageOptions& options, const std::string& zip) {
  std::string package = options.stub.empty() ? std::string(StubSize, '\0') : options.stub;
  if (options.header) package += BuildHeader(options);
  return package + zip;
}

std::string LocalHeader(uint32_t signature, uint16_t flags, uint16_t method, uint32_t crc,
                        uint32_t compressedSize, uint32_t size, uint16_t nameLength,
                        uint16_t extraLength) {
  std::string out;
  Put32(out, signature);
  Put16(out, 20);
  Put16(out, flags);
  Put16(out, method);
  Put16(out, 0x6000);
  Put16(out, 0x5A21);
  Put32(out, crc);
  Put32(out, compressedSize);
  Put32(out, size);
  Put16(out, nameLength);
  Put16(out, extraLength);
  return out;
}

uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Deflate(const std::string& data, int level) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, data.size()) + 16, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&z, Z_FINISH);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  return out;
}

std::string Lzma(const std::string& data, const lzma_options_lzma* options) {
  lzma_options_lzma preset;
  lzma_lzma_preset(&preset, 6);
  // Given options are LZMA1EXT's: their flags say whether the end marker is written.
  lzma_filter filters[] = {{options ? LZMA_FILTER_LZMA1EXT : LZMA_FILTER_LZMA1,
                            const_cast<lzma_options_lzma*>(options ? options : &preset)},
                           {LZMA_VLI_UNKNOWN, nullptr}};
  std::string out(data.size() + data.size() / 8 + 4096, '\0');
  out[0] = 5, out[1] = 4, out[2] = 5, out[3] = 0;
  size_t used = LzmaHeaderSize;
  if (lzma_properties_encode(&filters[0], reinterpret_cast<uint8_t*>(&out[4])) != LZMA_OK ||
      lzma_raw_buffer_encode(filters, nullptr, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                             reinterpret_cast<uint8_t*>(&out[0]), &used, out.size()) != LZMA_OK)
    throw std::runtime_error("lzma");
  out.resize(used);
  return out;
}

std::vector<std::string> SolidBlock(const std::vector<std::string>& files, const lzma_options_lzma* options) {
  lzma_options_lzma preset;
  lzma_lzma_preset(&preset, 6);
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, const_cast<lzma_options_lzma*>(options ? options : &preset)},
                           {LZMA_VLI_UNKNOWN, nullptr}};
  uint8_t property;
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_properties_encode(&filters[0], &property) != LZMA_OK ||
      lzma_raw_encoder(&stream, filters) != LZMA_OK)
    throw std::runtime_error("lzma2");
  std::vector<std::string> entries;
  for (const std::string& file : files) {
    std::string out(1, static_cast<char>(property));
    stream.next_in = reinterpret_cast<const uint8_t*>(file.data());
    stream.avail_in = file.size();
    lzma_ret ret;
    do {
      uint8_t buffer[65536];
      stream.next_out = buffer;
      stream.avail_out = sizeof buffer;
      ret = lzma_code(&stream, LZMA_SYNC_FLUSH);
      out.append(reinterpret_cast<char*>(buffer), sizeof buffer - stream.avail_out);
    } while (ret == LZMA_OK);
    if (ret != LZMA_STREAM_END) throw std::runtime_error("lzma2");
    entries.push_back(out);
  }
  lzma_end(&stream);
  return entries;
}

std::string BuildZip(const std::vector<ZipEntry>& entries, bool central) {
  std::string zip, directory;
  for (const ZipEntry& e : entries) {
    uint32_t offset = static_cast<uint32_t>(zip.size());
    uint16_t flags = e.flags;
    if (!e.password.empty()) flags |= FlagEncrypted;
    if (e.descriptor) flags |= FlagDescriptor;
    uint32_t crc = Crc32(e.data);
    std::string body = !e.compressed.empty()          ? e.compressed
                       : e.method == MethodDeflated ? Deflate(e.data)
                       : e.method == MethodLzma     ? Lzma(e.data)
                                                    : e.data;
    if (e.method == MethodLzma) flags |= FlagLzmaEndMarker;
    uint16_t method = e.method;
    std::string extra = e.extra;
    if (e.aes) {
      body = AesEncrypt(e.password, body);
      crc = 0;   // AE-2 carries no CRC
      method = MethodAes;
      extra += std::string("\x01\x99\x07\x00\x02\x00" "AE\x03", 9) + static_cast<char>(e.method & 0xFF) +
               static_cast<char>(e.method >> 8);
    } else if (!e.password.empty()) {
      uint8_t check = (flags & FlagDescriptor) ? static_cast<uint8_t>(e.time >> 8) : static_cast<uint8_t>(crc >> 24);
      body = Encrypt(e.password, body, check);
    }
    uint32_t compressed = static_cast<uint32_t>(body.size());
    uint32_t size = static_cast<uint32_t>(e.data.size());
    uint16_t nameLength = e.nameLengthOverride >= 0 ? static_cast<uint16_t>(e.nameLengthOverride)
                                                    : static_cast<uint16_t>(e.name.size());

    std::string local = LocalHeader(0x04034B50, flags, method, e.sizesInHeader ? crc : 0,
                                    e.sizesInHeader ? compressed : 0, e.sizesInHeader ? size : 0,
                                    nameLength, static_cast<uint16_t>(extra.size()));
    local[10] = static_cast<char>(e.time & 0xFF);
    local[11] = static_cast<char>(e.time >> 8);
    local[12] = static_cast<char>(e.date & 0xFF);
    local[13] = static_cast<char>(e.date >> 8);
    zip += local + e.name + extra + body;
    if (e.descriptor) {
      Put32(zip, 0x08074B50);
      Put32(zip, crc);
      Put32(zip, compressed);
      Put32(zip, size);
    }

    Put32(directory, 0x02014B50);
    Put16(directory, 20);
    Put16(directory, 20);
    Put16(directory, flags);
    Put16(directory, method);
    Put16(directory, e.time);
    Put16(directory, e.date);
    Put32(directory, crc);
    Put32(directory, compressed);
    Put32(directory, size);
    Put16(directory, static_cast<uint32_t>(e.name.size()));
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, 0);
    Put32(directory, offset);
    directory += e.name;
  }
  if (!central) return zip;
  uint32_t directoryOffset = static_cast<uint32_t>(zip.size());
  zip += directory;
  Put32(zip, 0x06054B50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, static_cast<uint32_t>(entries.size()));
  Put16(zip, static_cast<uint32_t>(entries.size()));
  Put32(zip, static_cast<uint32_t>(directory.size()));
  Put32(zip, directoryOffset);
  Put16(zip, 0);
  return zip;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

int RunCommand(const std::string& command) {
  int status = system(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TempDir::TempDir() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tolvane-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp");
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CoreSession::CoreSession() {
  State = ExtractState();
  StartCore(NoFile);
}

CoreSession::~CoreSession() { EndCore(); }

}  // namespace testpkg
