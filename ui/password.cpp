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
    // The text read is always terminated; the dialog's result is always IDOK.
    PasswordLength = (int32_t)ItemMessage(dialog, IDC_PASSWORD, WM_GETTEXT, sizeof(PasswordBuffer),
                                          (LPARAM)PasswordBuffer);
    EndDialogWith(dialog, IDOK);
  }
  return 0;
}

// The engine asks with PasswordBuffer, which the dialog fills with PasswordLength.
uint32_t AskPasswordDialog(char* buffer) {
  ShowProgress(0, 0);   // the path shown is brought up to date first
  buffer[0] = 0;
  PasswordLength = 0;   // and so it stays when the prompt cannot be shown
  ShowDialog(L"" IDD_PASSWORD, 0, PasswordProc);
  return (uint32_t)PasswordLength;
}
