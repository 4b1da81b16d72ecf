// The LZMA decoder on arbitrary entries, through the host seam with in-memory
// input and output. The first four bytes are the entry's uncompressed size
// (kept below 1 MiB); bit 7 of the fourth sets the end-marker flag. The rest
// is the entry's data: the 9-byte header, then the stream.
// Checks: no crash, leak or overrun (sanitizers); never more output than the
// size; the result counts what was written and the CRC covers it; the same
// data decoded from memory (as on the stub's second thread) come out the same;
// and where liblzma decodes the stream to the size using every byte, the same output.
#include <lzma.h>
#include <stdint.h>
#include <string.h>
#include <zlib.h>

#include <string>

#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/lzma.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/host_double.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  EnsureCore();
  uint32_t declared = (data[0] | data[1] << 8 | (data[2] & 0x0F) << 16);
  bool marker = (data[3] & 0x80) != 0;
  const uint8_t* entry = data + 4;
  size_t length = size - 4;

  std::string out;
  long long before = host::Counters().liveBytes;
  UseArchiveFile(host::OpenMemoryFile(entry, length));
  State.OutputFile = host::CreateMemorySink(&out);
  State.CompressedLeft = (int32_t)length;
  State.CurrentEntry.EntryFlags = marker ? FlagLzmaEndMarker : 0;
  State.CurrentEntry.UncompressedSize = declared;
  State.Crc = 0xFFFFFFFF;
  DecodeResult result = LzmaEntry(State);
  CloseFileHandle(State.ArchiveFile);
  CloseFileHandle(State.OutputFile);

  Check(out.size() <= declared, "no more output than the entry's size");
  Check(result.written == out.size(), "the result counts what was written");
  Check((State.Crc ^ 0xFFFFFFFF) == (uint32_t)crc32(0, (const Bytef*)out.data(), (uInt)out.size()),
        "CRC covers the output");
  Check(host::Counters().liveBytes == before, "buffers released");

  std::string fromMemory;
  uint32_t crc = 0xFFFFFFFF;
  FileHandle sink = host::CreateMemorySink(&fromMemory);
  DecodeResult memoryResult = LzmaFromMemory(entry, (uint32_t)length, declared, marker, sink, crc);
  CloseFileHandle(sink);
  Check(fromMemory == out && crc == State.Crc && memoryResult.end == result.end &&
            memoryResult.written == result.written,
        "decoded from memory, the same");

  // liblzma as the oracle, told the size and allowing the end marker there.
  if (length < LzmaHeaderSize || entry[2] != 5 || entry[3] != 0) return 0;
  lzma_filter filter = {LZMA_FILTER_LZMA1EXT, nullptr};
  if (lzma_properties_decode(&filter, nullptr, entry + 4, 5) != LZMA_OK) return 0;
  lzma_options_lzma* options = (lzma_options_lzma*)filter.options;
  // liblzma allocates the whole dictionary; no stream here reaches further back than its size.
  if (options->dict_size > declared) options->dict_size = declared < 4096 ? 4096 : declared;
  options->ext_flags = marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_set_ext_size(*options, declared);
  lzma_filter filters[] = {filter, {LZMA_VLI_UNKNOWN, nullptr}};
  std::string expected(declared, '\0');
  size_t inPos = LzmaHeaderSize, outPos = 0;
  lzma_ret ret = lzma_raw_buffer_decode(filters, nullptr, entry, &inPos, length, (uint8_t*)&expected[0], &outPos,
                                        expected.size());
  free(options);
  if (ret == LZMA_OK && inPos == length && outPos == declared)
    Check(result.end == DecodeDone && out == expected, "what liblzma decodes, decodes the same");
  return 0;
}
