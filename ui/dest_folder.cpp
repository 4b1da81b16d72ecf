// Filling DestFolder from the dialogs. Every way in keeps at most 254
// characters, so that the backslash the engine and the command expansion
// append always fits the 256-byte buffer; a longer folder is refused, never cut.
#include "ui/ui.h"
#include "ui/resource.h"
#include "extract/paths.h"
#include "base/state.h"
#include "base/config.h"

bool ReadFolderField(HWND mainDialog, bool dropBackslash) {
  // BrowsePath, as long as any folder the system names, holds the text first.
  char* text = BrowsePath;
  ItemMessage(mainDialog, IDC_FOLDER, WM_GETTEXT, ConfigTextSize, (LPARAM)text);
  if (dropBackslash) RemoveBackslash(text);
  if (StrLength(text) > FolderTextLimit) return false;
  CopyFolderText(DestFolder, text);
  return true;
}

void CurrentFolderToDest() {
  // A current directory too long for the buffer is named by "." instead,
  // which the system resolves to the same folder.
  DWORD got = GetCurrentDirectoryA(FolderTextLimit + 1, DestFolder);
  if (got == 0 || got > (DWORD)FolderTextLimit) CopyFolderText(DestFolder, ".");
}

bool TakeFolderField(HWND mainDialog) {
  if (!ReadFolderField(mainDialog, true)) {
    Tell("The destination folder's name is too long.", IconExclamation);
    return false;
  }
  if (DestFolder[0]) return true;
  CurrentFolderToDest();
  ItemMessage(mainDialog, IDC_FOLDER, WM_SETTEXT, 0, (LPARAM)DestFolder);
  return true;
}
