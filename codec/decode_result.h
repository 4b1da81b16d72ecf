#pragma once
// What a decoder reports when it has done with an entry's data.
#include <stdint.h>

// The first six outcomes of an entry (archive/walk.h) have these values.
enum DecodeEnd : uint8_t {
  DecodeDone,          // the data were decoded to the end of their stream
  DecodeDamaged,       // an invalid block, code, table or distance
  DecodeInputEnds,     // the entry's data (or the file) ended before the stream did:
                       // a stop with every byte taken (what is read ahead counts)
  DecodeWriteFailed,   // a write was refused or cut short
  DecodeUnsupported,   // settings the decoder does not take (LZMA properties)
  DecodeOutOfMemory    // the buffers the settings ask for cannot be allocated
};

struct DecodeResult {
  DecodeEnd end;
  uint32_t written;   // bytes the output file took
};
