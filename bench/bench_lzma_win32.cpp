// LZMA decoding speed of the stub's own code under Wine: the decoder, the
// CRC and the output loop compiled with the stub's flags, decoding every
// LZMA entry of a package from memory into a file that takes the bytes and
// keeps nothing. Counts the output bytes per second of processor time, the
// best of five rounds.
// Built and run by bench/bench_lzma_wine.sh, which also extracts the entries.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include "base/state.h"
#include "codec/crc32.h"
#include "codec/lzma.h"

// The seam calls the decoder makes, as the stub's would minus the disk.
uint32_t WriteFileBytes(FileHandle, const void*, uint32_t count) { return count; }
void* TryAllocate(size_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE); }
void* Allocate(size_t size) { return TryAllocate(size); }
void Release(void* block) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}
// Entries in memory are never read from the package nor decrypted.
uint32_t ReadArchive(void*, uint32_t) { return 0; }
void DecryptEntryData(uint8_t*, uint32_t) {}
void ShowMessage(const char*, const char*, uint32_t) {}

namespace {

// The thread's processor time: a machine busy with other work slows the
// clock on the wall, not this one.
double Now() {
  FILETIME created, ended, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  return (((uint64_t)user.dwHighDateTime << 32 | user.dwLowDateTime) +
          ((uint64_t)kernel.dwHighDateTime << 32 | kernel.dwLowDateTime)) / 1e7;
}

}  // namespace

// The entries file: for each entry its size, its data's length and its
// end-marker flag (three 32-bit words), then its data.
int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 2;
  fseek(f, 0, SEEK_END);
  long length = ftell(f);
  fseek(f, 0, SEEK_SET);
  uint8_t* all = (uint8_t*)malloc(length);
  if (fread(all, 1, length, f) != (size_t)length) return 2;
  fclose(f);
  State.CrcTable = (uint32_t*)Allocate(CrcTableSize);
  BuildCrcTable();

  double best = 1e9;
  uint64_t total = 0;
  for (int round = 0; round < 5; round++) {
    total = 0;
    double start = Now();
    for (long at = 0; at < length;) {
      uint32_t* words = (uint32_t*)(all + at);
      uint32_t crc = 0xFFFFFFFF;
      DecodeResult result = LzmaFromMemory(all + at + 12, words[1], words[0], words[2] != 0, nullptr, crc);
      if (result.end != DecodeDone) {
        printf("entry at %ld: %d\n", at, (int)result.end);
        return 1;
      }
      total += words[0];
      at += 12 + words[1];
    }
    double took = Now() - start;
    if (took < best) best = took;
  }
  printf("LZMA, stub's code: %.1f MB in %.3f s, %.1f MB/s\n", total / 1e6, best, total / 1e6 / best);
  return 0;
}
