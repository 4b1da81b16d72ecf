// The stored and encrypted path on arbitrary bytes, through the host seam with
// in-memory input and output. Layout of an input:
//   byte 0        bit 0: encrypted; bit 1: claim more bytes than the file holds;
//                 bit 2: claim fewer; bit 3: check-byte from the time (flag bit 3)
//   bytes 1..2    entry time;  bytes 3..6  entry CRC
//   then a password of up to 15 characters, its length in the low bits of byte 7
//   then 12 encryption-header bytes (when encrypted) and the entry's data.
// Checks: no crash, leak or overrun; the bytes written are exactly the data
// (decrypted byte by byte with UpdateKeys when encrypted) up to what was
// available; the CRC matches; the password check leaves the header intact.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <zlib.h>

#include <string>

#include "codec/crc32.h"
#include "codec/crypt.h"
#include "codec/stored.h"
#include "base/state.h"
#include "fuzz/fuzz_support.h"
#include "base/reader.h"
#include "tests/support/host_double.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  EnsureCore();
  uint8_t options = data[0];
  bool encrypted = options & 1;
  uint16_t time = (uint16_t)(data[1] | data[2] << 8);
  uint32_t crc = data[3] | data[4] << 8 | data[5] << 16 | (uint32_t)data[6] << 24;
  size_t passwordLength = data[7] & 15;
  size_t at = 8;
  if (size < at + passwordLength) return 0;
  char password[16] = {0};
  memcpy(password, data + at, passwordLength);
  password[passwordLength] = 0;
  at += passwordLength;
  uint16_t flags = (uint16_t)((encrypted ? 1 : 0) | (options & 8));

  bool passed = true;
  if (encrypted) {
    if (size < at + 12) return 0;
    uint8_t header[24];
    memcpy(header + 12, data + at, 12);
    passed = CheckPassword(header, 12, flags, password, time, crc);
    Check(memcmp(header + 12, data + at, 12) == 0, "encrypted header kept");
    if (password[0] == 0) Check(!passed, "empty password fails");
    if (!passed) InitKeys(password[0] ? password : "x");
    at += 12;
  }
  const uint8_t* payload = data + at;
  size_t length = size - at;
  uint32_t keys[3] = {State.Key0, State.Key1, State.Key2};

  int32_t claimed = (int32_t)length;
  if (options & 2) claimed += 1 + (options >> 4) * 1000;
  if ((options & 4) && claimed > 0) claimed -= 1 + (options >> 4) % 3;

  std::string out;
  UseArchiveFile(host::OpenMemoryFile(payload, length));
  State.OutputFile = host::CreateMemorySink(&out);
  State.CompressedLeft = claimed;
  State.CurrentEntry.EntryFlags = flags;
  State.Crc = 0xFFFFFFFF;
  CopyStoredEntry(State);
  CloseFileHandle(State.ArchiveFile);
  CloseFileHandle(State.OutputFile);

  size_t expectedSize = claimed <= 0 ? 0 : (size_t)claimed < length ? (size_t)claimed : length;
  Check(out.size() == expectedSize, "writes exactly the available bytes");
  std::string expected((const char*)payload, expectedSize);
  if (encrypted) {
    State.Key0 = keys[0];
    State.Key1 = keys[1];
    State.Key2 = keys[2];
    for (auto& c : expected) {
      c = (char)((uint8_t)c ^ DecryptByte());
      UpdateKeys((uint8_t)c);
    }
  }
  Check(out == expected, "bytes decrypted in order");
  Check((State.Crc ^ 0xFFFFFFFF) == (uint32_t)crc32(0, (const Bytef*)out.data(), (uInt)out.size()),
        "CRC covers the output");
  return 0;
}
