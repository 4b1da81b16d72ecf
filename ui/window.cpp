// Window helpers shared by the dialogs: running a template, centring, the folder browser.
#include <shlobj.h>
#include "ui/ui.h"
#include "ui/resource.h"
#include "platform/win32.h"
#include "extract/paths.h"
#include "base/state.h"
#include "base/config.h"

// Out of line: each caller would otherwise reach the module and the import itself.
// Unicode windows: their fields keep what the user types or the shell names
// in UTF-16, whatever the ANSI code page lacks.
__attribute__((noinline)) INT_PTR ShowDialog(const WCHAR* name, HWND owner, DLGPROC proc) {
  return DialogBoxParamW(ProgramModule(), name, owner, proc, 0);
}

// Out of line: three places hide a control, each would repeat both imports.
__attribute__((noinline)) void HideControl(HWND dialog, int id) {
  ShowWindow(DialogControl(dialog, id), SW_HIDE);
}

// Out of line, as HideControl: five places end a dialog.
__attribute__((noinline)) void EndDialogWith(HWND dialog, INT_PTR result) { EndDialog(dialog, result); }

__attribute__((noinline)) void FocusControl(HWND dialog, int id) { SetFocus(DialogControl(dialog, id)); }

// Out of line: the dialogs' messages to their controls share one import call.
__attribute__((noinline)) LRESULT ItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

void CenterWindow(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  int x = (GetSystemMetrics(SM_CXSCREEN) - r.right + r.left) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - r.bottom + r.top) / 2;
  SetWindowPos(window, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

typedef LPITEMIDLIST(WINAPI* BrowseFunction)(LPBROWSEINFOW);
typedef BOOL(WINAPI* PathFunction)(LPCITEMIDLIST, LPWSTR);
typedef void(WINAPI* FreeFunction)(LPITEMIDLIST);

void BrowseForFolder(HWND owner) {
  BrowseFunction browse = (BrowseFunction)ShellFunction("SHBrowseForFolderW");
  PathFunction toPath = (PathFunction)ShellFunction("SHGetPathFromIDListW");
  if (!browse || !toPath) return;
  // On the stack: a static record costs a relocation at every field it sets.
  BROWSEINFOW record = {};
  record.hwndOwner = owner;
  record.lpszTitle = L"Tolvane SFX";
  record.ulFlags = BIF_RETURNONLYFSDIRS;
  LPITEMIDLIST chosen = browse(&record);
  if (!chosen) return;  // cancelled: DestFolder and the field keep their text
  // In UTF-16 from the shell to the field: any folder the user can pick.
  WCHAR path[MAX_PATH];
  path[0] = 0;
  toPath(chosen, path);
  FreeFunction release = (FreeFunction)ShellFunction("ILFree");
  if (release) release(chosen);
  ControlMessage(DialogControl(owner, IDC_FOLDER), WM_SETTEXT, 0, (LPARAM)path);
}
