// Filling the entry lists of a dialog: both the main dialog and the
// file-selection dialog carry the same pair of lists.
#include "ui/ui.h"
#include "ui/resource.h"
#include "archive/walk.h"
#include "base/config.h"

void FillEntryLists(HWND dialog) {
  ListArchive(dialog, IDC_ENTRY_LIST);
  bool allowed = Config.FileListAllowed;
  HideControl(dialog, allowed ? IDC_SECOND_LIST : IDC_ENTRY_LIST);
  if (!allowed) ListArchive(dialog, IDC_SECOND_LIST);
}
