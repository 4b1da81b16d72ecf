// Filling DestFolder from the dialogs. Every way in keeps at most 254
// characters, so that the backslash the engine and the command expansion
// append always fits the 256-byte buffer.
#include "ui/ui.h"
#include "extract/state.h"

const int FolderLimit = sizeof(DestFolder) - 2;

void SetDestFolder(const char* text) {
  int n = 0;
  while (n < FolderLimit && text[n]) {
    DestFolder[n] = text[n];
    n++;
  }
  DestFolder[n] = 0;
}

void ReadFolderField(HWND mainDialog, bool dropBackslash) {
  int n = GetDlgItemTextA(mainDialog, 101, DestFolder, FolderLimit + 1);
  DestFolder[n] = 0;
  if (dropBackslash && n > 0 && DestFolder[n - 1] == '\\') DestFolder[n - 1] = 0;
}

void CurrentFolderToDest() {
  // A current directory too long for the buffer is named by "." instead,
  // which the system resolves to the same folder.
  DWORD got = GetCurrentDirectoryA(FolderLimit + 1, DestFolder);
  if (got == 0 || got > (DWORD)FolderLimit) lstrcpyA(DestFolder, ".");
}

void TakeFolderField(HWND mainDialog) {
  ReadFolderField(mainDialog, true);
  if (DestFolder[0]) return;
  CurrentFolderToDest();
  SendDlgItemMessageA(mainDialog, 101, WM_SETTEXT, 0, (LPARAM)DestFolder);
}
