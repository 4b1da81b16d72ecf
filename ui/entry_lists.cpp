// Filling the entry lists of a dialog: both the main dialog and the
// file-selection dialog carry the same pair of lists.
#include "ui/ui.h"
#include "ui/resource.h"
#include "archive/walk.h"
#include "package/config.h"

void FillEntryLists(HWND dialog) {
  ProcessArchive(dialog, IDC_ENTRY_LIST, true);
  if (Config.FileListAllowed) {
    ShowWindow(GetDlgItem(dialog, IDC_SECOND_LIST), SW_HIDE);
  } else {
    ShowWindow(GetDlgItem(dialog, IDC_ENTRY_LIST), SW_HIDE);
    ProcessArchive(dialog, IDC_SECOND_LIST, true);
  }
}
