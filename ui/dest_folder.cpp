// Filling DestFolder from the dialogs. Every way in keeps at most 254
// characters, so that the backslash the engine and the command expansion
// append always fits the 256-byte buffer.
#include "ui/ui.h"
#include "ui/resource.h"
#include "extract/paths.h"
#include "extract/state.h"

void ReadFolderField(HWND mainDialog, bool dropBackslash) {
  int n = GetDlgItemTextA(mainDialog, IDC_FOLDER, DestFolder, FolderTextLimit + 1);
  DestFolder[n] = 0;
  if (dropBackslash) RemoveBackslash(DestFolder);
}

void CurrentFolderToDest() {
  // A current directory too long for the buffer is named by "." instead,
  // which the system resolves to the same folder.
  DWORD got = GetCurrentDirectoryA(FolderTextLimit + 1, DestFolder);
  if (got == 0 || got > (DWORD)FolderTextLimit) lstrcpyA(DestFolder, ".");
}

void TakeFolderField(HWND mainDialog) {
  ReadFolderField(mainDialog, true);
  if (DestFolder[0]) return;
  CurrentFolderToDest();
  SendDlgItemMessageA(mainDialog, IDC_FOLDER, WM_SETTEXT, 0, (LPARAM)DestFolder);
}
