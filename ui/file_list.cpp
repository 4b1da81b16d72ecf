// The file-selection dialog: the user deselects entries and extracts the rest.
#include "ui/ui.h"
#include "ui/resource.h"
#include "archive/walk.h"
#include "base/state.h"
#include "launch/command.h"

static void Initialise(HWND dialog) {
  CenterWindow(dialog);
  FillEntryLists(dialog);
  SendDlgItemMessageA(dialog, IDC_ENTRY_LIST, LB_SETSEL, TRUE, -1);
}

static void ExtractSelected(HWND dialog) {
  // The folder comes from the main dialog's field, as for its own Extract.
  if (!TakeFolderField(GetParent(dialog))) return;
  RunExtraction(dialog);
  if (State.ExtractSucceeded == 1) {
    RunCommand();
    EndDialog(dialog, DialogExtracted);
  }
  // Otherwise only the entries that failed are still selected.
}

INT_PTR CALLBACK FileListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    Initialise(dialog);
  } else if (message == WM_COMMAND) {
    int id = LOWORD(wParam);
    if (id == IDCANCEL) EndDialog(dialog, DialogCancelled);
    if (id == IDOK && !WalkRunning()) ExtractSelected(dialog);
  }
  return 0;
}
