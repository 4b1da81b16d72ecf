// LZMA decoding: the stub's decoder, built for speed as the host build makes
// it, against liblzma on the same streams, in one run. Each file named (or
// each file below a named folder) is encoded once by liblzma as tolvane-pack
// encodes it (level 12: preset 9, the dictionary no larger than the file or
// 8 MiB, with the end marker); both decoders then decode every stream, the
// better of three rounds counted. Prints output MB/s of each and their ratio.
//
//   bench_lzma PATH...
#include <dirent.h>
#include <lzma.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/lzma.h"
#include "package/core.h"
#include "tests/support/host_double.h"
#include "tests/support/package_builder.h"
#include "tools/pack/lzma_encode.h"

namespace {

struct Stream {
  std::string entry;   // header and stream
  size_t size;
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Gather(const std::string& path, std::vector<std::string>& files) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISREG(st.st_mode) && st.st_size > 0) files.push_back(path);
  if (!S_ISDIR(st.st_mode)) return;
  DIR* d = opendir(path.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  closedir(d);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) Gather(path + "/" + n, files);
}

double OursSeconds(const std::vector<Stream>& streams) {
  std::string sink;
  double start = Now();
  for (const Stream& s : streams) {
    sink.clear();
    UseArchiveFile(host::OpenMemoryFile(s.entry.data(), s.entry.size()));
    State.OutputFile = host::CreateMemorySink(&sink);
    State.CompressedLeft = (int32_t)s.entry.size();
    State.CurrentEntry.EntryFlags = FlagLzmaEndMarker;
    State.CurrentEntry.UncompressedSize = (uint32_t)s.size;
    State.Crc = 0xFFFFFFFF;
    DecodeResult r = LzmaEntry(State);
    CloseFileHandle(State.ArchiveFile);
    CloseFileHandle(State.OutputFile);
    if (r.end != DecodeDone || r.written != s.size) {
      fprintf(stderr, "our decoder failed on a stream\n");
      exit(1);
    }
  }
  return Now() - start;
}

double LiblzmaSeconds(const std::vector<Stream>& streams) {
  std::string out;
  double start = Now();
  for (const Stream& s : streams) {
    out.resize(s.size);
    lzma_filter filter = {LZMA_FILTER_LZMA1, nullptr};
    lzma_properties_decode(&filter, nullptr, (const uint8_t*)s.entry.data() + 4, 5);
    lzma_filter filters[] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
    size_t in = LzmaHeaderSize, produced = 0;
    lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, (const uint8_t*)s.entry.data(), &in, s.entry.size(),
                                          (uint8_t*)&out[0], &produced, out.size());
    free(filter.options);
    if ((ret != LZMA_OK && ret != LZMA_STREAM_END) || produced != s.size) {
      fprintf(stderr, "liblzma failed on a stream\n");
      exit(1);
    }
  }
  return Now() - start;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) Gather(argv[i], files);
  if (files.empty()) {
    fprintf(stderr, "usage: bench_lzma PATH...\n");
    return 2;
  }
  StartCore(NoFile);
  std::vector<Stream> streams;
  size_t total = 0, packed = 0;
  for (const std::string& f : files) {
    std::string data = testpkg::ReadWholeFile(f);
    std::string entry(data.size() + data.size() / 8 + 4096, '\0');
    size_t length = pack::LzmaCompress((const uint8_t*)data.data(), data.size(), 12, (uint8_t*)&entry[0],
                                       entry.size());
    if (length == 0) continue;
    entry.resize(length);
    streams.push_back({entry, data.size()});
    total += data.size();
    packed += length;
  }
  double ours = 1e9, theirs = 1e9;
  for (int round = 0; round < 3; round++) {
    ours = std::min(ours, OursSeconds(streams));
    theirs = std::min(theirs, LiblzmaSeconds(streams));
  }
  printf("%zu streams, %.1f MB decoded from %.1f MB\n", streams.size(), total / 1e6, packed / 1e6);
  printf("%-10s %8.3f s %8.1f MB/s\n", "ours", ours, total / 1e6 / ours);
  printf("%-10s %8.3f s %8.1f MB/s\n", "liblzma", theirs, total / 1e6 / theirs);
  printf("ours / liblzma time: %.2f\n", ours / theirs);
  return 0;
}
