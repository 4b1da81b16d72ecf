// The floor of the stub benchmark: a plain Win32 program that creates the
// files and folders of a package with the same names and sizes, in the same
// order, with nothing else (no decoding, no checks, no dialog). What the stub
// takes beyond this is its own cost.
//
//   floor.exe MANIFEST DEST
//
// MANIFEST has one line per entry, in archive order: "D name/" for a folder,
// "F size name" for a file; names are in the ANSI code page, with '/'.
// A missing parent folder is created when a file cannot be created without
// it. Prints "floor MS".
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static char Path[1024];
static size_t DestLength;
static char Zeros[65536];

static void MakeParents(size_t length) {
  for (size_t i = DestLength + 1; i < length; i++) {
    if (Path[i] != '\\') continue;
    Path[i] = 0;
    CreateDirectoryA(Path, 0);
    Path[i] = '\\';
  }
}

static bool CreateSizedFile(unsigned size) {
  HANDLE file = CreateFileA(Path, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) return false;
  while (size > 0) {
    DWORD chunk = size < sizeof Zeros ? size : sizeof Zeros, done = 0;
    if (!WriteFile(file, Zeros, chunk, &done, 0) || done != chunk) break;
    size -= chunk;
  }
  CloseHandle(file);
  return true;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    printf("usage: floor.exe MANIFEST DEST\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (!in) return 2;
  fseek(in, 0, SEEK_END);
  long length = ftell(in);
  fseek(in, 0, SEEK_SET);
  char* manifest = (char*)malloc(length + 1);
  if (fread(manifest, 1, length, in) != (size_t)length) return 2;
  manifest[length] = 0;
  fclose(in);

  strcpy(Path, argv[2]);
  DestLength = strlen(Path);
  CreateDirectoryA(Path, 0);
  Path[DestLength] = '\\';

  LARGE_INTEGER start, end, frequency;
  QueryPerformanceCounter(&start);
  int failures = 0;
  for (char* line = strtok(manifest, "\n"); line; line = strtok(0, "\n")) {
    char kind = line[0];
    unsigned size = 0;
    char* name = line + 2;
    if (kind == 'F') {
      size = strtoul(name, &name, 10);
      name++;
    }
    size_t n = strlen(name);
    memcpy(Path + DestLength + 1, name, n + 1);
    for (char* p = Path + DestLength + 1; *p; p++)
      if (*p == '/') *p = '\\';
    size_t total = DestLength + 1 + n;
    if (kind == 'D') {
      if (Path[total - 1] == '\\') Path[--total] = 0;
      if (!CreateDirectoryA(Path, 0)) {
        MakeParents(total);
        CreateDirectoryA(Path, 0);
      }
      continue;
    }
    if (!CreateSizedFile(size)) {
      MakeParents(total);
      if (!CreateSizedFile(size)) failures++;
    }
  }
  QueryPerformanceCounter(&end);
  QueryPerformanceFrequency(&frequency);
  printf("floor %.0f\n", (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
  if (failures) printf("failed files %d\n", failures);
  return failures ? 1 : 0;
}
