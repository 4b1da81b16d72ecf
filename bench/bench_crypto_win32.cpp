// Decryption throughput of the stub's own code under Wine: the traditional
// cipher, AES-256 and AES-128 counter mode with the HMAC-SHA1 over the data
// (what an AES entry costs per byte), and the CRC-32 every entry pays, all
// compiled with the stub's flags; plus the time of one AES password check
// (the PBKDF2 derivation). Built and run by bench/bench_crypto_wine.sh.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <initializer_list>

#include "codec/crc32.h"
#include "codec/crypt.h"
#include "codec/sha1.h"
#include "codec/winzip_aes.h"
#include "base/state.h"

// The one seam call the run's state may make: nothing to show in a benchmark.
void ShowMessage(const char*, const char*, uint32_t) {}

namespace {

const uint32_t Size = 64 << 20;
const uint32_t Chunk = 32768;   // the decoders' buffer size

double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return (double)t.QuadPart / (double)f.QuadPart;
}

template <typename F>
void Measure(const char* what, uint8_t* data, F pass) {
  double best = 1e9;
  for (int run = 0; run < 3; run++) {
    double start = Now();
    for (uint32_t at = 0; at < Size; at += Chunk) pass(data + at, Chunk);
    double took = Now() - start;
    if (took < best) best = took;
  }
  printf("%-40s %7.1f MB/s\n", what, Size / 1e6 / best);
}

bool StartEntryCipher(uint8_t strength) {
  State.AesEntry.strength = strength;
  uint8_t header[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0, 0};
  // The verifier the password gives for this salt: the last two derived bytes.
  uint32_t keySize = 8 + 8 * strength, saltSize = AesSaltSize(strength);
  uint8_t keys[66];
  Pbkdf2Sha1((const uint8_t*)"benchmark", 9, header, saltSize, AesIterations, keys, 2 * keySize + 2);
  header[saltSize] = keys[2 * keySize];
  header[saltSize + 1] = keys[2 * keySize + 1];
  return AesCheckPassword("benchmark", header);
}

}  // namespace

int main() {
  uint8_t* data = (uint8_t*)malloc(Size);
  for (uint32_t i = 0; i < Size; i++) data[i] = (uint8_t)(i * 2654435761u >> 24);
  if (!AesAvailable()) return 1;
  State.CrcTable = (uint32_t*)malloc(CrcTableSize);
  BuildCrcTable();

  Measure("CRC-32", data, [](uint8_t* p, uint32_t n) { CrcUpdate(p, (int32_t)n, State.Crc); });
  InitKeys("benchmark");
  Measure("traditional decryption", data, [](uint8_t* p, uint32_t n) { DecryptBuffer(p, n); });
  for (uint8_t strength : {(uint8_t)3, (uint8_t)1}) {
    if (!StartEntryCipher(strength)) return 1;
    const char* name = strength == 3 ? "AES-256 decryption with HMAC-SHA1" : "AES-128 decryption with HMAC-SHA1";
    Measure(name, data, [](uint8_t* p, uint32_t n) { AesDecryptBuffer(p, n); });
  }
  State.AesEntry.strength = 3;
  uint8_t header[18] = {0};
  double start = Now();
  const int checks = 20;
  for (int i = 0; i < checks; i++) AesCheckPassword("benchmark", header);
  printf("%-40s %7.1f ms\n", "AES-256 password check (PBKDF2)", (Now() - start) * 1000 / checks);
  return 0;
}
