// The after-extraction command used by the end-to-end tests: writes its
// arguments to args.txt next to itself. An argument that names an existing
// path is written in its long form, so the tests need not predict short names.
// raw.txt next to it holds the program name and the arguments as received, so
// the tests can tell which parts were shortened. An argument "cwd" has it
// write the folder it was started in to cwd.txt, "sleep=MS" makes it wait
// that long before it ends, and "exit=N" makes N its exit code.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(0, path, MAX_PATH);
  while (n > 0 && path[n - 1] != '\\') n--;
  strcpy(path + n, "raw.txt");
  FILE* raw = fopen(path, "w");
  if (!raw) return 1;
  fprintf(raw, "program %s\n", argv[0]);
  for (int i = 1; i < argc; i++) fprintf(raw, "arg %s\n", argv[i]);
  fclose(raw);
  strcpy(path + n, "args.txt");
  FILE* out = fopen(path, "w");
  if (!out) return 1;
  for (int i = 1; i < argc; i++) {
    char long_form[MAX_PATH];
    DWORD got = GetLongPathNameA(argv[i], long_form, MAX_PATH);
    fprintf(out, "arg %s\n", got > 0 && got < MAX_PATH ? long_form : argv[i]);
  }
  fprintf(out, "count %d\n", argc - 1);
  fclose(out);
  int code = 0;
  for (int i = 1; i < argc; i++) {
    if (!strcmp(argv[i], "cwd")) {
      char cwd[MAX_PATH], long_cwd[MAX_PATH];
      GetCurrentDirectoryA(MAX_PATH, cwd);
      strcpy(path + n, "cwd.txt");
      FILE* folder = fopen(path, "w");
      if (!folder) return 1;
      fprintf(folder, "%s\n", GetLongPathNameA(cwd, long_cwd, MAX_PATH) ? long_cwd : cwd);
      fclose(folder);
    }
    if (!strncmp(argv[i], "sleep=", 6)) Sleep(atoi(argv[i] + 6));
    if (!strncmp(argv[i], "exit=", 5)) code = atoi(argv[i] + 5);
  }
  return code;
}
