// The stub's entry point: there is no C runtime, so the process starts here.
#include "ui/ui.h"
#include "base/state.h"
#include "package/startup.h"
#include "platform/win32.h"

// Only the system folder may supply DLLs: a package is often run from a
// downloads folder, where a planted DLL would otherwise be found first.
static void RestrictDllSearch() {
  typedef BOOL(WINAPI * SetDirectories)(DWORD);
  // kernel32, a known DLL, is loaded in every process: loading it by name
  // only finds that module, through the import shell32 needs anyway.
  SetDirectories set = (SetDirectories)ModuleFunction(LoadLibraryExA("kernel32.dll", 0, 0),
                                                      "SetDefaultDllDirectories");
  if (set)
    set(LOAD_LIBRARY_SEARCH_SYSTEM32);
  else
    SetDllDirectoryA("");  // older systems: at least drop the current directory
}

extern "C" void Start() {
  RestrictDllSearch();
  // The dialogs are laid out in dialog units, which follow the system's
  // font size: drawn at the screen's own resolution, never stretched.
  SetProcessDPIAware();
  AskPassword = AskPasswordDialog;
  EndProcess(RunProgram(ShowMainDialog));
}
