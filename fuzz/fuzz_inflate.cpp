// Inflate on arbitrary bytes, through the host seam with in-memory input and
// output. The first byte chooses the variant:
//   bit 0  the byte reader only (no word-at-a-time loop)
//   bit 1  the entry is encrypted (keys from a fixed password)
//   bit 2  the 32-bit word loop (what the stub uses) instead of the 64-bit one
//   bit 3  a stored block of 32760 bytes comes first, so the fuzzed blocks
//          start with a full window of history and cross the first 32768-byte
//          input chunk after a few bytes
// Checks: no crash, leak or overrun (sanitizers); output bounded by what the
// input could legally produce; the CRC covers exactly the output; the
// stub's loops end the same way (done, failed, write failed) with the same
// output, whichever variant ran;
// and when zlib decodes the same stream completely, the output is identical.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <string>

#include "codec/crc32.h"
#include "codec/crypt.h"
#include "codec/inflate.h"
#include "codec/entry_io.h"
#include "base/state.h"
#include "fuzz/fuzz_support.h"
#include "base/reader.h"
#include "tests/support/host_double.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  EnsureCore();
  uint8_t options = data[0];
  const uint8_t* stream = data + 1;
  size_t length = size - 1;
  bool encrypted = (options & 2) != 0;
  std::string prefixed;
  if (options & 8) {
    const uint16_t n = 32760;
    prefixed.assign("\x00", 1);   // not last, stored
    prefixed += (char)(n & 0xFF);
    prefixed += (char)(n >> 8);
    prefixed += (char)(~n & 0xFF);
    prefixed += (char)((~n >> 8) & 0xFF);
    for (uint32_t i = 0; i < n; i++) prefixed += (char)(i * 7 + (i >> 9));
    prefixed.append((const char*)stream, length);
    stream = (const uint8_t*)prefixed.data();
    length = prefixed.size();
  }

  // The fixed tables are kept for the run: freed here, whatever else a
  // decode allocates must be released by its end.
  FreeFixedTables();
  const long long before = host::Counters().liveBytes;
  auto decode = [&](CodeLoops loops, std::string& out) {
    InflateUses = loops;
    UseArchiveFile(host::OpenMemoryFile(stream, length));
    State.OutputFile = host::CreateMemorySink(&out);
    State.CompressedLeft = (int32_t)length;
    State.CurrentEntry.EntryFlags = encrypted ? 1 : 0;
    State.Crc = 0xFFFFFFFF;
    if (encrypted) InitKeys("fuzz");
    DecodeResult result = InflateEntry(State);
    CloseFileHandle(State.ArchiveFile);
    CloseFileHandle(State.OutputFile);
    InflateUses = FastestLoops;
    return result;
  };
  std::string out, stubOut;
  DecodeResult stub = decode(StubLoops, stubOut);
  DecodeResult result = decode((options & 1) ? ByteLoops : (options & 4) ? StubLoops : FastestLoops, out);
  // Whether a stream that stops was damaged or ran out of input is judged
  // by what was read, and the loops read ahead by different amounts at the end.
  bool failed = result.end == DecodeDamaged || result.end == DecodeInputEnds;
  bool stubFailed = stub.end == DecodeDamaged || stub.end == DecodeInputEnds;
  Check((failed ? stubFailed : result.end == stub.end) && result.written == stub.written && out == stubOut,
        "every variant ends as the stub's loops do, with the same output");
  Check(result.written == out.size(), "the result counts what was written");

  // Every code consumes at least one bit and yields at most 258 bytes; a
  // stored block yields one byte per byte read.
  Check(out.size() <= 258 * 8 * length, "output bounded by the input");
  Check((State.Crc ^ 0xFFFFFFFF) == (uint32_t)crc32(0, (const Bytef*)out.data(), (uInt)out.size()),
        "CRC covers the output");
  FreeFixedTables();
  Check(host::Counters().liveBytes == before, "buffers and tables released");

  if (!encrypted) {
    // zlib as the oracle: where it decodes the stream to its end, so must we.
    std::string expected(out.size() + 1, '\0');
    z_stream z = {};
    inflateInit2(&z, -15);
    z.next_in = (Bytef*)stream;
    z.avail_in = (uInt)length;
    z.next_out = (Bytef*)&expected[0];
    z.avail_out = (uInt)expected.size();
    int rc = inflate(&z, Z_FINISH);
    size_t produced = expected.size() - z.avail_out;
    inflateEnd(&z);
    if (rc == Z_STREAM_END) {
      Check(produced == out.size() && memcmp(expected.data(), out.data(), produced) == 0,
            "same output as zlib");
    } else if (rc == Z_BUF_ERROR && produced == expected.size()) {
      Check(false, "zlib produced more output than we did");
    }
  }
  return 0;
}
