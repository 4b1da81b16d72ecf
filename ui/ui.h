#pragma once
// Win32 pieces shared by the dialogs of the stub and its platform layer.
#include <stdint.h>
#include <windows.h>

// The program's own module: the dialog templates and the icon live there. Its
// handle is the address it is loaded at, which the linker names.
extern "C" IMAGE_DOS_HEADER __ImageBase;
inline HINSTANCE ProgramModule() { return (HINSTANCE)&__ImageBase; }

// Runs a dialog template of the program's module modally, as a Unicode
// window; returns its result, -1 when it cannot be created. 'name' is one of
// resource.h's, made wide: ShowDialog(L"" IDD_MAIN, ...).
INT_PTR ShowDialog(const WCHAR* name, HWND owner, DLGPROC proc);
// Ends the modal dialog; ShowDialog answers 'result'.
void EndDialogWith(HWND dialog, INT_PTR result);
// Gives the dialog's control 'id' the keyboard focus.
void FocusControl(HWND dialog, int id);
// Sends a message to the dialog's control 'id' (SendDlgItemMessageA).
LRESULT ItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
// Hides the dialog's control 'id'.
void HideControl(HWND dialog, int id);
// Centres a window on the primary screen (its full size, not the work area).
void CenterWindow(HWND window);
// Lets the user pick a folder; a choice replaces DestFolder and the owner's folder field.
void BrowseForFolder(HWND owner);

// Results of the main and file-selection dialogs (the value given to EndDialog).
enum : INT_PTR { DialogExtracted = 1, DialogCancelled = 2, DialogExtractedFromList = 3 };

// Runs the main dialog (IDD_MAIN) modally until it ends: the start-up sequence's dialog.
void ShowMainDialog();

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FileListProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows a folder (UTF-8) in the main dialog's folder field.
void SetFolderField(HWND dialog, const char* folder);
// Reads the main dialog's folder field into DestFolder, removing one trailing
// backslash when asked. A folder longer than 254 characters is not cut (that
// would name another folder): DestFolder keeps its text and the answer is false.
bool ReadFolderField(HWND mainDialog, bool dropBackslash);
// Puts the current directory into DestFolder ("." when it does not fit).
void CurrentFolderToDest();
// Reads the main dialog's folder field into DestFolder for a run: one
// trailing backslash removed, and an empty text replaced by the current
// directory, which is then shown in the field. A folder too long for
// DestFolder is refused with a message: false, and no run may start.
bool TakeFolderField(HWND mainDialog);
// Takes the folder from the main dialog's field (TakeFolderField), then runs
// the engine in extraction mode over the dialog's entry list, with the
// commands that could start a second run disabled meanwhile. When every
// entry succeeded it runs the package's command and ends the dialog.
void ExtractSelectedEntries(HWND dialog, HWND mainDialog);
// Lists the archive's entries into the dialog's entry list. When the package
// does not offer the file list, that list is hidden and the second list is
// filled as well; otherwise the second list is hidden.
void FillEntryLists(HWND dialog);

// The password prompt "PASSWD": the stub's way to ask for a password. It
// fills PasswordBuffer, the buffer the engine asks with.
uint32_t AskPasswordDialog(char* buffer);
