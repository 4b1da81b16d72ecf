#pragma once
// The program's main sequence, from the first allocation to the last release:
// open the program's own file, build the CRC table, read the header, run the
// main dialog, close. The caller ends the process with exit code 0 afterwards.
// The user interface passes in what runs the main dialog (modally, until it
// ends), so that this sequence does not depend on it.
void RunProgram(void (*runMainDialog)());
