// Whole-archive extraction, side by side: the engine through the host seam,
// a small zlib-based extractor as the reference, the same extractor decoding
// each entry in one call of libdeflate, and the extractors installed
// on the machine (unzip, 7z, bsdtar), each on the same zips, each writing to
// the same tmpfs folder. Prints the best of several runs per tool and its
// ratio to the zlib reference.
//
//   bench_extract WORKDIR PASSWORD ZIP...
//
// WORKDIR should be on tmpfs (e.g. /dev/shm/x); it receives the packages and
// the output. bench/bench_extract.sh makes the corpus and the zips.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <libdeflate.h>
#include <zlib.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "extract/engine.h"
#include "codec/crc32.h"
#include "codec/inflate.h"
#include "base/state.h"
#include "base/config.h"
#include "package/header.h"
#include "package/core.h"
#include "base/reader.h"
#include "tests/support/host_double.h"
#include "ui/resource.h"

namespace {

const int Runs = 3;

double Seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Shell(const std::string& command) {
  if (system(command.c_str()) != 0) {
    fprintf(stderr, "failed: %s\n", command.c_str());
    exit(1);
  }
}

std::string ReadAll(const std::string& path) {
  std::string data;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return data;
  char buffer[1 << 16];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  fclose(f);
  return data;
}

// ---- the references: a forward walk over the local headers, raw inflate,
// traditional decryption, CRC check; written the plain way such a tool would
// be, with zlib's streaming inflate or libdeflate's whole-buffer one.

struct Keys {
  uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
  const z_crc_t* table = get_crc_table();
  void Update(uint8_t p) {
    k0 = table[(k0 ^ p) & 0xFF] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xFF)) * 134775813 + 1;
    k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
  }
  uint8_t Stream() const {
    uint16_t t = (uint16_t)((k2 & 0xFFFF) | 2);
    return (uint8_t)((t * (t ^ 1)) >> 8);
  }
  void Decrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; i++) {
      data[i] ^= Stream();
      Update(data[i]);
    }
  }
};

uint32_t Get32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }

void MakeParents(const std::string& path) {
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
    mkdir(path.substr(0, at).c_str(), 0755);
}

// Reads the whole entry, decrypts it and decodes it in one call into a buffer
// of the size the local header states. Returns the data's CRC-32.
uint32_t LibdeflateEntry(int fd, uint32_t left, uint16_t method, uint32_t size, Keys* keys, int file) {
  static libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  static std::vector<uint8_t> in, out;
  in.resize(left);
  ssize_t got = read(fd, in.data(), left);
  if (got < 0) got = 0;
  if (keys) keys->Decrypt(in.data(), (size_t)got);
  const uint8_t* data = in.data();
  size_t produced = (size_t)got;
  if (method == 8) {
    out.resize(size);
    if (libdeflate_deflate_decompress(decompressor, in.data(), (size_t)got, out.data(), size, &produced) !=
        LIBDEFLATE_SUCCESS)
      produced = 0;
    data = out.data();
  }
  write(file, data, produced);
  return libdeflate_crc32(0, data, produced);
}

// Returns the number of entries whose CRC did not match.
int ReferenceExtract(const std::string& zipPath, const std::string& out, const std::string& password,
                     bool libdeflate) {
  int fd = open(zipPath.c_str(), O_RDONLY);
  std::vector<uint8_t> in(1 << 18), outBuffer(1 << 18);
  int bad = 0;
  off_t position = 0;
  for (;;) {
    uint8_t h[30];
    if (pread(fd, h, 30, position) != 30) break;
    if (Get32(h) == 0x08074B50) {  // a signed data descriptor after the data
      position += 16;
      continue;
    }
    if (Get32(h) != 0x04034B50) break;
    uint16_t flags = Get16(h + 6), method = Get16(h + 8), nameLength = Get16(h + 26);
    uint32_t crc = Get32(h + 14), size = Get32(h + 18);
    std::string name(nameLength, 0);
    pread(fd, &name[0], nameLength, position + 30);
    off_t data = position + 30 + nameLength + Get16(h + 28);
    position = data + size;
    std::string path = out + "/" + name;
    MakeParents(path);
    if (name.back() == '/') continue;
    Keys keys;
    uint32_t left = size;
    lseek(fd, data, SEEK_SET);
    if (flags & 1) {
      for (char c : password) keys.Update((uint8_t)c);
      uint8_t header[12];
      read(fd, header, 12);
      keys.Decrypt(header, 12);
      left -= 12;
    }
    int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (libdeflate) {
      if (LibdeflateEntry(fd, left, method, Get32(h + 22), flags & 1 ? &keys : nullptr, file) != crc) bad++;
      close(file);
      continue;
    }
    uLong check = crc32(0, nullptr, 0);
    z_stream z = {};
    inflateInit2(&z, -15);
    int status = Z_OK;
    while (status != Z_STREAM_END && (left > 0 || method == 8)) {
      size_t chunk = left < in.size() ? left : in.size();
      ssize_t got = chunk ? read(fd, in.data(), chunk) : 0;
      if (got < 0) got = 0;
      left -= (uint32_t)got;
      if (flags & 1) keys.Decrypt(in.data(), (size_t)got);
      if (method == 0) {
        if (got == 0) break;
        write(file, in.data(), (size_t)got);
        check = crc32(check, in.data(), (uInt)got);
        continue;
      }
      z.next_in = in.data();
      z.avail_in = (uInt)got;
      do {
        z.next_out = outBuffer.data();
        z.avail_out = (uInt)outBuffer.size();
        status = inflate(&z, Z_NO_FLUSH);
        size_t produced = outBuffer.size() - z.avail_out;
        write(file, outBuffer.data(), produced);
        check = crc32(check, outBuffer.data(), (uInt)produced);
      } while (z.avail_out == 0 && status == Z_OK);
      if (status != Z_OK && status != Z_STREAM_END) break;
      if (got == 0 && status != Z_STREAM_END) break;
    }
    inflateEnd(&z);
    close(file);
    if (check != crc) bad++;
  }
  close(fd);
  return bad;
}

// ---- the engine, as the main dialog drives it.

bool EngineExtract(const std::string& packagePath, const std::string& password) {
  host::Reset();
  host::SetRoot("/");
  host::SetPasswordAnswers({password});
  State.Password[0] = 0;
  UseArchiveFile(OpenReadFile(packagePath.c_str()));
  ReadPackageHeader();
  HostDialog dialog;
  ListArchive(&dialog, IDC_ENTRY_LIST);
  ListSelect(GetEntryList(&dialog, IDC_ENTRY_LIST), -1, true);
  State.SkipExisting = 0;
  ExtractArchive(&dialog, IDC_ENTRY_LIST);
  CloseFileHandle(State.ArchiveFile);
  UseArchiveFile(NoFile);  // EndCore would close it again
  return State.ExtractSucceeded == 1;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s WORKDIR PASSWORD ZIP...\n", argv[0]);
    return 2;
  }
  std::string work = argv[1], password = argv[2];
  StartCore(NoFile);

  std::string out = work + "/out";
  printf("%-22s %-12s %9s %7s\n", "zip", "tool", "seconds", "ratio");
  for (int z = 3; z < argc; z++) {
    std::string zip = argv[z];
    std::string name = zip.substr(zip.rfind('/') + 1);
    // The package: a zero stub of the fixed size, no header, then the zip.
    std::string package = work + "/package.exe";
    {
      std::string bytes(StubSize, '\0');
      bytes += ReadAll(zip);
      FILE* f = fopen(package.c_str(), "wb");
      fwrite(bytes.data(), 1, bytes.size(), f);
      fclose(f);
    }
    strcpy(DestFolder, (out).c_str());

    struct Tool {
      const char* name;
      std::function<void()> run;
    };
    std::string pw = Quote(password), o = Quote(out), q = Quote(zip);
    std::vector<Tool> tools = {
        {"zlib-ref", [&] {
           if (ReferenceExtract(zip, out, password, false) != 0) fprintf(stderr, "zlib reference: CRC errors\n");
         }},
        {"libdeflate", [&] {
           if (ReferenceExtract(zip, out, password, true) != 0) fprintf(stderr, "libdeflate: CRC errors\n");
         }},
        {"tolvane", [&] {
           if (!EngineExtract(package, password)) fprintf(stderr, "engine: extraction failed\n");
         }},
        {"unzip -o", [&] { Shell("unzip -o -q -P " + pw + " " + q + " -d " + o); }},
        {"7z x", [&] { Shell("7z x -y -bso0 -bsp0 -p" + pw + " -o" + o + " " + q); }},
        {"bsdtar -x", [&] { Shell("bsdtar -x --passphrase " + pw + " -f " + q + " -C " + o); }},
    };
    double reference = 0;
    const char* only = getenv("BENCH_TOOL");   // one tool alone, for profiling
    for (const Tool& tool : tools) {
      if (only && strcmp(only, tool.name) != 0) continue;
      double best = 1e9;
      for (int run = 0; run < Runs; run++) {
        Shell("rm -rf " + o + " && mkdir -p " + o);
        double seconds = Seconds(tool.run);
        if (seconds < best) best = seconds;
      }
      if (reference == 0) reference = best;
      printf("%-22s %-12s %9.3f %7.2f\n", name.c_str(), tool.name, best, best / reference);
      fflush(stdout);
    }
  }
  Shell("rm -rf " + Quote(out) + " " + Quote(work + "/package.exe"));
  UseArchiveFile(NoFile);   // each run closed its own
  EndCore();
  return 0;
}
