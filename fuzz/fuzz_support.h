#pragma once
// What every harness needs: the core started once per process, and a check
// that stops the run loudly so libFuzzer keeps the input.
#include <stdio.h>
#include <stdlib.h>

#include "base/state.h"
#include "package/core.h"
#include "tests/support/host_double.h"

inline void Check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "check failed: %s\n", what);
    abort();
  }
}

// Starts the core on the first call; later calls only clear the host seam's
// call counts, which would otherwise grow with every run.
inline void EnsureCore() {
  host::ResetCounters();
  if (State.CrcTable) return;
  StartCore(NoFile);
}
