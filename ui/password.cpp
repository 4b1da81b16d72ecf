// The password prompt: collects text only; the engine checks it.
#include "ui/ui.h"
#include "ui/resource.h"
#include "extract/state.h"

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
