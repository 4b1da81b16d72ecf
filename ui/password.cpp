// The password prompt: collects text only; the engine checks it.
#include "ui/ui.h"
#include "ui/resource.h"
#include "base/state.h"
#include "platform/platform.h"

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    CenterWindow(dialog);
    SetFocus(GetDlgItem(dialog, IDC_PASSWORD));
  } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    // Only OK ends the prompt: Escape (IDCANCEL) is ignored and there is no close box.
    PasswordLength = GetDlgItemTextA(dialog, IDC_PASSWORD, PasswordBuffer, sizeof(PasswordBuffer));
    PasswordBuffer[PasswordLength] = 0;
    EndDialog(dialog, IDOK);
  }
  return 0;
}

// The engine asks with PasswordBuffer, which the dialog fills.
uint32_t AskPasswordDialog(char*) {
  ShowProgress(0, 0);   // the path shown is brought up to date first
  PasswordLength = 0;
  PasswordBuffer[0] = 0;
  ShowDialog(IDD_PASSWORD, 0, PasswordProc);
  return (uint32_t)PasswordLength;
}
