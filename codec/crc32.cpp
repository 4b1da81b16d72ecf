#include "codec/crc32.h"

#include <string.h>

#include "base/state.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TV_CRC_FOLDING 1
#endif

#if TV_CRC_FOLDING
// On 64-bit x86 hosts with carry-less multiplication, long buffers are folded
// 64 bytes per step (the standard folding of a CRC by multiples of x^n mod P);
// the 16 bytes that remain stand for the whole prefix and finish through the
// tables. The results equal the one-byte step exactly.
static bool HaveCarrylessMultiply;
// Processors with 512-bit carry-less multiplication fold four 64-byte
// registers at once, 256 bytes per step.
static bool HaveWideCarrylessMultiply;

// Folding constants for the reflected polynomial: reflect(x^(d+32) mod P) << 1
// and reflect(x^(d-32) mod P) << 1, for a fold distance d of 512 and 128
// bits (2048 bits in FoldBlocksWide).
#define TV_K512 _mm_set_epi64x(0x1C6E41596LL, 0x154442BD4LL)
#define TV_K128 _mm_set_epi64x(0x0CCAA009ELL, 0x1751997D0LL)
__attribute__((target("pclmul,sse2"))) static inline __m128i Fold(__m128i x, __m128i k,
                                                                    __m128i data) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00),
                                     _mm_clmulepi64_si128(x, k, 0x11)),
                       data);
}

// Finishes a fold: four registers holding 64 consecutive bytes' worth, then
// the whole 16-byte blocks of the 'length' bytes at p, into the 16 bytes at out.
__attribute__((target("pclmul,sse2"))) static void FinishFold(__m128i x0, __m128i x1,
                                                                __m128i x2, __m128i x3,
                                                                const uint8_t* p, size_t length,
                                                                uint8_t out[16]) {
  const __m128i k128 = TV_K128;
  __m128i x = Fold(x0, k128, x1);
  x = Fold(x, k128, x2);
  x = Fold(x, k128, x3);
  while (length >= 16) {
    x = Fold(x, k128, _mm_loadu_si128((const __m128i*)p));
    p += 16;
    length -= 16;
  }
  _mm_storeu_si128((__m128i*)out, x);
}

// Folds the first (length & ~15) bytes (length >= 64) into 16 bytes whose CRC
// from a zero register equals the CRC of those bytes from 'crc'.
__attribute__((target("pclmul,sse2"))) static void FoldBlocks(const uint8_t* p, size_t length,
                                                                uint32_t crc, uint8_t out[16]) {
  const __m128i k512 = TV_K512;
  __m128i x0 = _mm_xor_si128(_mm_loadu_si128((const __m128i*)p), _mm_cvtsi32_si128((int)crc));
  __m128i x1 = _mm_loadu_si128((const __m128i*)(p + 16));
  __m128i x2 = _mm_loadu_si128((const __m128i*)(p + 32));
  __m128i x3 = _mm_loadu_si128((const __m128i*)(p + 48));
  p += 64;
  length -= 64;
  while (length >= 64) {
    x0 = Fold(x0, k512, _mm_loadu_si128((const __m128i*)p));
    x1 = Fold(x1, k512, _mm_loadu_si128((const __m128i*)(p + 16)));
    x2 = Fold(x2, k512, _mm_loadu_si128((const __m128i*)(p + 32)));
    x3 = Fold(x3, k512, _mm_loadu_si128((const __m128i*)(p + 48)));
    p += 64;
    length -= 64;
  }
  FinishFold(x0, x1, x2, x3, p, length, out);
}

#define TV_WIDE_TARGET "vpclmulqdq,avx512f,avx512bw,avx512vl,pclmul,sse2"

__attribute__((target(TV_WIDE_TARGET))) static inline __m512i FoldWide(__m512i x, __m512i k,
                                                                      __m512i data) {
  // The three-way exclusive or of the two products and the data.
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                   _mm512_clmulepi64_epi128(x, k, 0x11), data, 0x96);
}

// FoldBlocks with 512-bit registers (length >= 256): four registers folded
// 256 bytes at a time, then into one register, whose four lanes finish as
// FoldBlocks' four registers do.
__attribute__((target(TV_WIDE_TARGET))) static void FoldBlocksWide(const uint8_t* p,
                                                                   size_t length, uint32_t crc,
                                                                   uint8_t out[16]) {
  // The constants in every lane (set from 64-bit halves: the broadcast and
  // extract intrinsics trip a false uninitialised-use warning).
  const __m512i k2048 = _mm512_set_epi64(0x1322D1430LL, 0x11542778ALL, 0x1322D1430LL,
                                         0x11542778ALL, 0x1322D1430LL, 0x11542778ALL,
                                         0x1322D1430LL, 0x11542778ALL);
  const __m512i k512 = _mm512_set_epi64(0x1C6E41596LL, 0x154442BD4LL, 0x1C6E41596LL,
                                        0x154442BD4LL, 0x1C6E41596LL, 0x154442BD4LL,
                                        0x1C6E41596LL, 0x154442BD4LL);
  __m512i x0 = _mm512_xor_si512(_mm512_loadu_si512(p),
                                _mm512_zextsi128_si512(_mm_cvtsi32_si128((int)crc)));
  __m512i x1 = _mm512_loadu_si512(p + 64);
  __m512i x2 = _mm512_loadu_si512(p + 128);
  __m512i x3 = _mm512_loadu_si512(p + 192);
  p += 256;
  length -= 256;
  while (length >= 256) {
    x0 = FoldWide(x0, k2048, _mm512_loadu_si512(p));
    x1 = FoldWide(x1, k2048, _mm512_loadu_si512(p + 64));
    x2 = FoldWide(x2, k2048, _mm512_loadu_si512(p + 128));
    x3 = FoldWide(x3, k2048, _mm512_loadu_si512(p + 192));
    p += 256;
    length -= 256;
  }
  __m512i w = FoldWide(x0, k512, x1);
  w = FoldWide(w, k512, x2);
  w = FoldWide(w, k512, x3);
  __attribute__((aligned(64))) uint8_t lanes[64];
  _mm512_store_si512(lanes, w);
  FinishFold(_mm_load_si128((const __m128i*)lanes), _mm_load_si128((const __m128i*)(lanes + 16)),
             _mm_load_si128((const __m128i*)(lanes + 32)),
             _mm_load_si128((const __m128i*)(lanes + 48)), p, length, out);
}
#endif

void BuildCrcTable() {
  uint32_t* table = State.CrcTable;
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t v = i;
    for (int bit = 0; bit < 8; bit++) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
    table[i] = v;
  }
  // Each further row from the one before: the same results as the one-byte step.
  for (uint32_t i = 256; i < CrcTableRows * 256; i++) {
    uint32_t v = table[i - 256];
    table[i] = table[v & 0xFF] ^ (v >> 8);
  }
#if TV_CRC_FOLDING
  HaveCarrylessMultiply = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  HaveWideCarrylessMultiply = HaveCarrylessMultiply && __builtin_cpu_supports("vpclmulqdq") &&
                              __builtin_cpu_supports("avx512f") &&
                              __builtin_cpu_supports("avx512bw") &&
                              __builtin_cpu_supports("avx512vl");
#endif
}

uint32_t CrcStep(uint8_t b, uint32_t crc) { return CrcStepIn(State.CrcTable, b, crc); }

static inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  memcpy(&v, p, 4);   // little-endian on every target
  return v;
}

void CrcUpdate(const uint8_t* buffer, int32_t length, uint32_t& crc) {
  CrcUpdateBy(CrcWideFolding, buffer, length, crc);
}

void CrcUpdateBy(CrcWay way, const uint8_t* buffer, int32_t length, uint32_t& crc) {
  (void)way;   // only the tables where there is no folding
  if (length <= 0) return;
  const uint32_t* table = State.CrcTable;
  uint32_t c = crc;
  const uint8_t* p = buffer;
  const uint8_t* end = buffer + length;
#if TV_CRC_FOLDING
  if (HaveCarrylessMultiply && way != CrcTables && length >= 256) {
    uint8_t folded[16];
    size_t whole = (size_t)length & ~(size_t)15;
    if (HaveWideCarrylessMultiply && way == CrcWideFolding)
      FoldBlocksWide(p, whole, c, folded);
    else
      FoldBlocks(p, whole, c, folded);
    p += whole;
    c = 0;
    for (int i = 0; i < 16; i++) c = table[(c ^ folded[i]) & 0xFF] ^ (c >> 8);
  }
#endif
  while (end - p >= 8) {
    uint32_t lo = Load32(p) ^ c;
    uint32_t hi = Load32(p + 4);
    c = table[7 * 256 + (lo & 0xFF)] ^ table[6 * 256 + ((lo >> 8) & 0xFF)] ^
        table[5 * 256 + ((lo >> 16) & 0xFF)] ^ table[4 * 256 + (lo >> 24)] ^
        table[3 * 256 + (hi & 0xFF)] ^ table[2 * 256 + ((hi >> 8) & 0xFF)] ^
        table[1 * 256 + ((hi >> 16) & 0xFF)] ^ table[hi >> 24];
    p += 8;
  }
  while (p < end) c = table[(c ^ *p++) & 0xFF] ^ (c >> 8);
  crc = c;
}
