// Stand-ins for the extraction engine, linked into the listing tests only
// while the engine is not part of the build. Weak, so a real engine wins.
#include "extract/engine.h"

__attribute__((weak)) bool EntryReady = false;

__attribute__((weak)) EntryResult ExtractEntry(WindowHandle, ListHandle, uint32_t, const char*) {
  return NextEntry;
}

__attribute__((weak)) void FinishExtraction(ListHandle) {}
