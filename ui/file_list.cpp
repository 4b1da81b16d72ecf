// The file-selection dialog: the user deselects entries and extracts the rest.
#include "ui/ui.h"
#include "ui/resource.h"
#include "archive/walk.h"

static void Initialise(HWND dialog) {
  CenterWindow(dialog);
  FillEntryLists(dialog);
  ItemMessage(dialog, IDC_ENTRY_LIST, LB_SETSEL, TRUE, -1);
}

INT_PTR CALLBACK FileListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    Initialise(dialog);
  } else if (message == WM_COMMAND) {
    int id = LOWORD(wParam);
    if (id == IDCANCEL) EndDialogWith(dialog, DialogCancelled);
    // The folder comes from the main dialog's field, as for its own Extract.
    // When the run fails only the entries that failed are still selected.
    if (id == IDOK && !WalkRunning()) ExtractSelectedEntries(dialog, GetParent(dialog));
  }
  return 0;
}
