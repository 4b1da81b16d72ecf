#pragma once
// What every harness needs: the CRC table built once per process, and a check
// that stops the run loudly so libFuzzer keeps the input.
#include <stdio.h>
#include <stdlib.h>

#include "codec/crc32.h"
#include "extract/state.h"

inline void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

inline void EnsureCrcTable() {
  if (State.CrcTable) return;
  State.CrcTable = static_cast<uint32_t*>(Allocate(1028));
  BuildCrcTable();
}
