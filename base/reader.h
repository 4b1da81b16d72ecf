#pragma once
// Reading the program's own file, State.ArchiveFile. Reads go through one
// block of ArchiveBlockSize bytes: a walk's many small reads (a header with
// its name, its extra field, a small entry's data, the next header) take one
// system call per block, and a seek that stays inside the block takes none.
// Reads of a whole block or more go straight to the file.
#include <stdint.h>

#include "platform/platform.h"

const uint32_t ArchiveBlockSize = 32768;

// Makes 'file' the archive file and forgets the block. Until the first
// SeekArchive, reads go to the file as they are, from wherever it stands.
void UseArchiveFile(FileHandle file);
// The only positioning of the archive file; the result goes to State.LastSeek
// (SeekFailed when the system refused, the read position then unchanged).
void SeekArchive(uint32_t offset, uint16_t origin);
// Reads up to 'count' bytes at the read position; returns how many were read
// (fewer only at the end of the file or on a failure).
uint32_t ReadArchive(void* buffer, uint32_t count);
