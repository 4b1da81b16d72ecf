// The password prompt: collects text only; the engine checks it.
#include "ui/ui.h"
#include "extract/state.h"

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    CenterWindow(dialog);
    SetFocus(GetDlgItem(dialog, 101));
  } else if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    // Only OK ends the prompt: Escape (IDCANCEL) is ignored and there is no close box.
    PasswordLength = GetDlgItemTextA(dialog, 101, PasswordBuffer, sizeof(PasswordBuffer));
    PasswordBuffer[PasswordLength] = 0;
    EndDialog(dialog, 1);
  }
  return 0;
}
