// The main dialog: the message, the destination folder, the overwrite option,
// and the commands that start an extraction.
#include "ui/ui.h"
#include "ui/resource.h"
#include "extract/engine.h"
#include "extract/paths.h"
#include "base/state.h"
#include "launch/command.h"
#include "base/config.h"
#include "platform/held.h"
#include "package/switches.h"
#include "platform/win32.h"

// The engine dispatches queued messages while it runs, so a second press of a
// command could reach a dialog procedure mid-run. These controls are disabled
// for the run, and the procedures also refuse them while WalkRunning().
static const int RunControls[] = {IDOK, IDC_FILE_LIST_BUTTON, IDC_BROWSE, IDC_OVERWRITE};

static void EnableRunControls(HWND dialog, BOOL on) {
  for (int id : RunControls) {
    HWND control = DialogControl(dialog, id);
    if (control) EnableWindow(control, on);
  }
}

void ExtractSelectedEntries(HWND dialog, HWND mainDialog) {
  if (!TakeFolderField(mainDialog)) return;
  HWND focus = GetFocus();
  EnableRunControls(dialog, FALSE);
  StartProgressBar(mainDialog, DialogControl(dialog, IDC_ENTRY_LIST));
  ExtractArchive(dialog, IDC_ENTRY_LIST);
  EnableRunControls(dialog, TRUE);
  if (focus) SetFocus(focus);
  if (State.ExtractSucceeded == 1) {
    RunCommand();
    EndDialogWith(dialog, DialogExtracted);
  }
}

static_assert(IDC_OVERWRITE == OverwriteBoxId, "the header names the overwrite box by its id");
static_assert(IDC_PROGRESS == ProgressFieldId && IDC_PROGRESS_BAR == ProgressBarId,
              "the seam shows the path and the bytes written in these controls");

static void Initialise(HWND dialog, ExtractState& state) {
  const SfxConfig& config = Held(Config);
  SetClassLongA(dialog, GCL_HICON, (LONG)(LONG_PTR)LoadIconA(ProgramModule(), IDI_PROGRAM));
  FocusControl(dialog, IDC_FOLDER);
  if (!config.FileListAllowed) {
    HideControl(dialog, IDC_FILE_LIST_BUTTON);
    HideControl(dialog, IDC_FILE_LIST_HINT);
  }
  if (!config.HasFolder) CurrentFolderToDest();
  // The field shows the whole folder; one too long is refused at Extract.
  SetFolderField(dialog, config.HasFolder ? config.DefaultFolder : DestFolder);
  ItemMessage(dialog, IDC_FOLDER, EM_SETSEL, 0, 0x7FFF);
  // There is no control 502: for it no box is checked and existing files are kept.
  ItemMessage(dialog, config.OverwriteControlId, BM_SETCHECK, BST_CHECKED, 0);
  state.SkipExisting = (uint8_t)(config.OverwriteControlId - IDC_OVERWRITE);
  if (config.HideOverwrite) DestroyWindow(DialogControl(dialog, IDC_OVERWRITE));
  ItemMessage(dialog, IDC_MESSAGE, WM_SETTEXT, 0, (LPARAM)config.Message);
  CenterWindow(dialog);
  ReadFolderField(dialog, true);
  FillEntryLists(dialog);
}

static void ExtractAll(HWND dialog) {
  ItemMessage(dialog, IDC_ENTRY_LIST, LB_SETSEL, TRUE, -1);
  ExtractSelectedEntries(dialog, dialog);
  // When it fails the dialog stays open; the next Extract selects every entry again.
}

// An unattended run (/S) extracts everything before the dialog is ever shown
// and ends it; the exit code tells the outcome.
static void RunUnattended(HWND dialog, const ExtractState& state) {
  uint32_t code = ExitUnusable;
  if (ItemMessage(dialog, IDC_ENTRY_LIST, LB_GETCOUNT, 0, 0) > 0) {
    ExitCode = ExitDone;   // the command the run waits for may set its own
    ExtractAll(dialog);
    code = state.ExtractSucceeded ? ExitCode : ExitIncomplete;
  }
  ExitCode = code;
  EndDialogWith(dialog, DialogCancelled);
}

static void ToggleOverwrite(HWND dialog, ExtractState& state) {
  SfxConfig& config = Held(Config);
  bool checked = !config.OverwriteChecked;
  config.OverwriteChecked = checked;
  ItemMessage(dialog, IDC_OVERWRITE, BM_SETCHECK, checked, 0);
  state.SkipExisting = !checked;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  // Held once for the helpers below: each would otherwise reach it by address.
  ExtractState& state = Held(State);
  if (message == WM_INITDIALOG) {
    Initialise(dialog, state);
    if (Switches.Silent) RunUnattended(dialog, state);
    return 0;  // keeps the focus in the folder field
  }
  if (message != WM_COMMAND) return 0;
  int id = LOWORD(wParam);
  if (id == IDCANCEL) {
    EndDialogWith(dialog, DialogCancelled);
    return 1;
  }
  if (WalkRunning(state)) return 0;
  switch (id) {
    case IDOK:
      ExtractAll(dialog);
      break;
    case IDC_FILE_LIST_BUTTON:
      if (ShowDialog(L"" IDD_FILE_LIST, dialog, FileListProc) == DialogExtracted)
        EndDialogWith(dialog, DialogExtractedFromList);
      break;
    case IDC_OVERWRITE:
      ToggleOverwrite(dialog, state);
      break;
    case IDC_BROWSE:
      ReadFolderField(dialog, false);
      BrowseForFolder(dialog);
      break;
  }
  return 0;
}

void ShowMainDialog() { ShowDialog(L"" IDD_MAIN, 0, MainDialogProc); }
