#pragma once
// The one way into and out of the core: everything that runs the walk (the
// stub, the tools, the tests, the fuzzers and the benchmarks) starts with
// StartCore and ends with EndCore.
#include "platform/platform.h"

// Allocates the configuration texts and the CRC table and builds the table;
// then, when 'package' is open, takes it as the archive file and reads its
// configuration header.
void StartCore(FileHandle package);
// Closes the archive file, if one is open, and releases what StartCore and
// the decoders allocated. False when the system reports a failure closing the file.
bool EndCore();
