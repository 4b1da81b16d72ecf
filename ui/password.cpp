// The password prompt: collects text only; the engine checks it.
#include "ui/ui.h"
#include "ui/resource.h"
#include "base/state.h"
#include "platform/platform.h"

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    CenterWindow(dialog);
    FocusControl(dialog, IDC_PASSWORD);
  } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    // Only OK ends the prompt: Escape (IDCANCEL) is ignored and there is no close box.
    // The dialog's result is the length read; the text is always terminated.
    EndDialogWith(dialog, ItemMessage(dialog, IDC_PASSWORD, WM_GETTEXT, sizeof(PasswordBuffer),
                                      (LPARAM)PasswordBuffer));
  }
  return 0;
}

// The engine asks with PasswordBuffer, which the dialog fills, and keeps the
// length answered.
uint32_t AskPasswordDialog(char* buffer) {
  ShowProgress(0, 0);   // the path shown is brought up to date first
  buffer[0] = 0;
  INT_PTR length = ShowDialog(IDD_PASSWORD, 0, PasswordProc);
  return length > 0 ? (uint32_t)length : 0;   // -1: the prompt could not be shown
}
