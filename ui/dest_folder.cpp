// Filling DestFolder from the dialogs. Every way in keeps at most 254
// characters, so that the backslash the engine and the command expansion
// append always fits; a longer folder is refused, never cut. The field is
// read and written in UTF-16 and DestFolder holds UTF-8, so a folder named
// outside the ANSI code page is the folder the user typed or chose.
#include "ui/ui.h"
#include "ui/resource.h"
#include "extract/paths.h"
#include "base/state.h"
#include "base/config.h"
#include "platform/win32.h"

void SetFolderField(HWND dialog, const char* folder) {
  ControlMessage(DialogControl(dialog, IDC_FOLDER), WM_SETTEXT, 0, (LPARAM)WidePath(folder));
}

bool ReadFolderField(HWND mainDialog, bool dropBackslash) {
  // One unit more than a folder may have, so that a longer one shows.
  WCHAR field[FolderTextLimit + 2];
  ControlMessage(DialogControl(mainDialog, IDC_FOLDER), WM_GETTEXT, FolderTextLimit + 2, (LPARAM)field);
  char text[PathTextSize];
  FromWide(CP_UTF8, field, text, PathTextSize);
  if (dropBackslash) RemoveBackslash(text);
  if (TextCharacters(text) > FolderTextLimit) return false;
  CopyFolderText(DestFolder, text);
  return true;
}

void CurrentFolderToDest() {
  // A current directory too long for the buffer is named by "." instead,
  // which the system resolves to the same folder.
  uint32_t got = GetCurrentFolder(DestFolder, PathTextSize);
  if (got == 0 || got >= PathTextSize || TextCharacters(DestFolder) > FolderTextLimit)
    CopyFolderText(DestFolder, ".");
}

bool TakeFolderField(HWND mainDialog) {
  if (!ReadFolderField(mainDialog, true)) {
    Tell("The destination folder's name is too long.", IconExclamation);
    return false;
  }
  if (DestFolder[0]) return true;
  CurrentFolderToDest();
  SetFolderField(mainDialog, DestFolder);
  return true;
}
