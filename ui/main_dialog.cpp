// The main dialog: the message, the destination folder, the overwrite option,
// and the commands that start an extraction.
#include "ui/main_dialog.h"
#include "ui/ui.h"
#include "archive/walk.h"
#include "extract/paths.h"
#include "extract/state.h"
#include "launch/command.h"
#include "package/config.h"
#include "package/switches.h"

enum {
  FileListButton = 3,
  FolderField = 101,
  EntryList = 301,
  SecondList = 302,
  OverwriteBox = 501,
  FileListHint = 702,
  BrowseButton = 775,
  MessageField = 901
};

// The engine dispatches queued messages while it runs, so a second press of a
// command could reach a dialog procedure mid-run. These controls are disabled
// for the run, and the procedures also refuse them while WalkRunning().
static const int RunControls[] = {IDOK, FileListButton, BrowseButton, OverwriteBox};

static void EnableRunControls(HWND dialog, BOOL on) {
  for (int id : RunControls) {
    HWND control = GetDlgItem(dialog, id);
    if (control) EnableWindow(control, on);
  }
}

void RunExtraction(HWND dialog) {
  HWND focus = GetFocus();
  EnableRunControls(dialog, FALSE);
  ProcessArchive(dialog, EntryList, false);
  EnableRunControls(dialog, TRUE);
  if (focus) SetFocus(focus);
}

static void Hide(HWND dialog, int id) { ShowWindow(GetDlgItem(dialog, id), SW_HIDE); }

static void Initialise(HWND dialog) {
  SetClassLongA(dialog, GCL_HICON, (LONG)(LONG_PTR)LoadIconA(Instance, "TOLVAN"));
  SetFocus(GetDlgItem(dialog, FolderField));
  if (!Config.FileListAllowed) {
    Hide(dialog, FileListButton);
    Hide(dialog, FileListHint);
  }
  if (Config.HasFolder)
    CopyFolderText(DestFolder, Config.DefaultFolder);
  else
    CurrentFolderToDest();
  SendDlgItemMessageA(dialog, FolderField, WM_SETTEXT, 0, (LPARAM)DestFolder);
  SendDlgItemMessageA(dialog, FolderField, EM_SETSEL, 0, 0x7FFF);
  // There is no control 502: for it no box is checked and existing files are kept.
  SendDlgItemMessageA(dialog, Config.OverwriteControlId, BM_SETCHECK, BST_CHECKED, 0);
  State.SkipExisting = (uint8_t)(Config.OverwriteControlId - OverwriteBox);
  if (Config.HideOverwrite) DestroyWindow(GetDlgItem(dialog, OverwriteBox));
  SendDlgItemMessageA(dialog, MessageField, WM_SETTEXT, 0, (LPARAM)Config.Message);
  CenterWindow(dialog);
  ReadFolderField(dialog, true);
  ProcessArchive(dialog, EntryList, true);
  if (Config.FileListAllowed) {
    Hide(dialog, SecondList);
  } else {
    Hide(dialog, EntryList);
    ProcessArchive(dialog, SecondList, true);
  }
}

static void ExtractAll(HWND dialog) {
  SendDlgItemMessageA(dialog, EntryList, LB_SETSEL, TRUE, -1);
  TakeFolderField(dialog);
  RunExtraction(dialog);
  if (State.ExtractSucceeded == 1) {
    RunCommand();
    EndDialog(dialog, 1);
  }
  // Otherwise the dialog stays open; the next Extract selects every entry again.
}

// An unattended run (/S) extracts everything before the dialog is ever shown
// and ends it; the exit code tells the outcome.
static void RunUnattended(HWND dialog) {
  ExitCode = ExitUnusable;
  if (SendDlgItemMessageA(dialog, EntryList, LB_GETCOUNT, 0, 0) > 0) {
    ExtractAll(dialog);
    ExitCode = State.ExtractSucceeded ? ExitDone : ExitIncomplete;
  }
  EndDialog(dialog, 2);
}

static void ToggleOverwrite(HWND dialog) {
  Config.OverwriteChecked = !Config.OverwriteChecked;
  SendDlgItemMessageA(dialog, OverwriteBox, BM_SETCHECK, Config.OverwriteChecked, 0);
  State.SkipExisting = !Config.OverwriteChecked;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    Initialise(dialog);
    if (Switches.Silent) RunUnattended(dialog);
    return 0;  // keeps the focus in the folder field
  }
  if (message != WM_COMMAND) return 0;
  int id = LOWORD(wParam);
  if (id == IDCANCEL) {
    EndDialog(dialog, 2);
    return 1;
  }
  if (WalkRunning()) return 0;
  switch (id) {
    case IDOK:
      ExtractAll(dialog);
      break;
    case FileListButton:
      if (ShowDialog(Instance, "FILELIST", dialog, FileListProc) == 1) EndDialog(dialog, 3);
      break;
    case OverwriteBox:
      ToggleOverwrite(dialog);
      break;
    case BrowseButton:
      ReadFolderField(dialog, false);
      BrowseForFolder(dialog);
      break;
  }
  return 0;
}

void ShowMainDialog() { ShowDialog(Instance, "MAINDIALOG", 0, MainDialogProc); }
