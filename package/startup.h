#pragma once
#include <stdint.h>

// The program's main sequence, from the first allocation to the last release:
// open the program's own file, build the CRC table, read the header, run the
// main dialog, close. The user interface passes in what runs the main dialog
// (modally, until it ends), so that this sequence does not depend on it.
// Returns the process exit code: 0, or for an unattended run
// (package/switches.h) its outcome.
uint32_t RunProgram(void (*runMainDialog)());
