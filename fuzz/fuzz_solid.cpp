// Solid entries on arbitrary data, decoded in turn as the walk gives them.
// The input is a run of entries, each: its declared size (3 bytes, below
// 16 MiB, little-endian), the length of its data (2 bytes), then the data (a
// property byte and LZMA2 chunks). Bit 7 of the size's last byte skips a
// number, as when the walk passed an entry by.
// Checks: no crash, leak or overrun (sanitizers); never more output than an
// entry's size; the result counts what was written and the CRC covers it; and
// when every entry decodes, liblzma reads their chunks as one LZMA2 stream to
// the same bytes.
#include <lzma.h>
#include <stdint.h>
#include <stdlib.h>
#include <zlib.h>

#include <string>

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/lzma.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/host_double.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnsureCore();
  long long before = host::Counters().liveBytes;
  std::string all, stream;
  bool whole = true, skipped = false;
  uint32_t number = 1, first = 0;
  host::SetAllocationLimit(4 << 20);   // larger dictionaries fail as out of memory, quickly
  while (size >= 5) {
    uint32_t declared = data[0] | data[1] << 8 | (data[2] & 0x7F) << 16;
    if (data[2] & 0x80) number++, skipped = true;
    size_t length = data[3] | data[4] << 8;
    data += 5, size -= 5;
    if (length > size) length = size;
    std::string out;
    UseArchiveFile(host::OpenMemoryFile(data, length));
    State.OutputFile = host::CreateMemorySink(&out);
    State.CompressedLeft = (int32_t)length;
    State.CurrentEntry.Method = MethodSolid;
    State.CurrentEntry.EntryFlags = 0;
    State.CurrentEntry.UncompressedSize = declared;
    State.EntryNumber = number++;
    State.Crc = 0xFFFFFFFF;
    DecodeResult result = LzmaEntry(State);
    CloseFileHandle(State.ArchiveFile);
    CloseFileHandle(State.OutputFile);
    Check(out.size() <= declared, "no more output than the entry's size");
    Check(result.written == out.size(), "the result counts what was written");
    Check((State.Crc ^ 0xFFFFFFFF) == (uint32_t)crc32(0, (const Bytef*)out.data(), (uInt)out.size()),
          "CRC covers the output");
    whole = whole && result.end == DecodeDone && length > 0;
    if (length > 0 && stream.empty()) first = data[0];
    if (length > 0) stream.append((const char*)data + 1, length - 1);
    all += out;
    data += length, size -= length;
  }
  ForgetSolidBlock();
  host::SetAllocationLimit(SIZE_MAX);
  Check(host::Counters().liveBytes == before, "buffers released");

  // liblzma as the oracle, given the first entry's dictionary.
  if (!whole || skipped || stream.empty() || first >= 40 || all.size() > (16 << 20)) return 0;
  uint8_t property = (uint8_t)first;
  lzma_filter filter = {LZMA_FILTER_LZMA2, nullptr};
  if (lzma_properties_decode(&filter, nullptr, &property, 1) != LZMA_OK) return 0;
  ((lzma_options_lzma*)filter.options)->dict_size = 4 << 20 < ((lzma_options_lzma*)filter.options)->dict_size
                                                        ? 4 << 20 : ((lzma_options_lzma*)filter.options)->dict_size;
  lzma_filter filters[] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
  stream += '\0';
  std::string expected(all.size() + 1, '\0');
  size_t inPos = 0, outPos = 0;
  lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, (const uint8_t*)stream.data(), &inPos, stream.size(),
                                        (uint8_t*)&expected[0], &outPos, expected.size());
  free(filter.options);
  Check(ret == LZMA_OK && inPos == stream.size() && outPos == all.size() && expected.substr(0, outPos) == all,
        "what decodes entry by entry, liblzma decodes the same");
  return 0;
}
