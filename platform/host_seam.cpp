// The host seam as the tools link it, on Linux and on Windows: the real file
// system, message boxes handed to the tool, no message loop.
#include <stdio.h>
#include <stdlib.h>

#include "platform/host.h"

FileHandle OpenReadFile(const char* path) { return host::OpenReadFile(path); }
FileHandle CreateNewFile(const char* path) { return host::CreateNewFile(path); }
bool KeepNewFile(FileHandle file) { return host::KeepNewFile(file); }
uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t count) {
  return host::ReadFileBytes(file, buffer, count);
}
uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t count) {
  return host::WriteFileBytes(file, buffer, count);
}
uint32_t SeekFile(FileHandle file, uint32_t offset) { return host::SeekFile(file, offset); }
bool CloseFileHandle(FileHandle file) { return host::CloseFileHandle(file); }
bool MoveOntoFile(const char* from, const char* to) { return host::MoveOntoFile(from, to); }
bool DeleteFileAt(const char* path) { return host::DeleteFileAt(path); }
void SetFileTimes(FileHandle file, const FileStamp& stamp) { host::SetFileTimes(file, stamp); }
PathKind FindPath(const char* path) { return host::FindPath(path); }
bool FindAny(const char* pattern) { return host::FindAny(pattern); }
bool MakeFolder(const char* path) { return host::MakeFolder(path); }

void ShowMessage(const char* text, const char* caption, uint32_t icon) {
  host::TellHandler(HostMessage{text ? text : "", caption ? caption : "", icon, host::Utf8Texts()});
}

void PumpOneMessage() {}   // a tool has no window messages

#ifndef _WIN32
// Names are bytes on Linux: an "ANSI" text is taken as it is, and the tools
// rename what they extracted afterwards. (On Windows: host_files_windows.cpp.)
uint32_t AnsiToUtf8(const char*, char*, uint32_t) { return 0; }
void Utf8ToAnsi(char*) {}
#endif

// The tools decode every entry in turn, to report each as it ends.
ThreadHandle StartThread(ThreadWork, void*) { return nullptr; }
bool ThreadEnded(ThreadHandle, bool) { return true; }

void* Allocate(size_t size) {
  void* block = calloc(size ? size : 1, 1);
  if (!block) {
    fputs("Error: out of memory\n", stderr);
    abort();
  }
  return block;
}

void* TryAllocate(size_t size) { return malloc(size ? size : 1); }

void Release(void* block) { free(block); }
