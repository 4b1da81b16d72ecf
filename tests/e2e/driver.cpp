// Test driver for the stub under Wine: starts a package, then works through
// steps given on the command line, acting on its windows as a user would and
// printing one line for everything it reads. Returns the package's exit code.
//
//   driver.exe [--cwd DIR] [--env NAME=VALUE] [--lock] [--args TEXT] [--wait MS] PACKAGE STEP...
//
// --env sets a variable of the package's environment (TMP for the temporary
// folder, for example). --lock holds the package's file open, unshared, while the package starts.
// --args TEXT is put after the package's quoted name on its command line.
// --wait sets the bound of every wait (30000 ms by default; benchmarks need more).
//
// Steps (the "current dialog" is the one last waited for with main/files):
//   main | files | prompt   wait for the main / file-selection dialog / password
//                       prompt, make it current
//   get:ID              print "ID=<text>" of a control of the current dialog
//   set:ID=TEXT         put TEXT into a control
//   press:ID            post a command (a button press) to the current dialog
//   key:ID:VK           post a key press (virtual-key code VK) to a control of the current dialog
//   state:ID            print "ID absent" or "ID visible|hidden enabled|disabled checked|unchecked"
//   list:ID             print the items of a list box, "+name" selected, "-name" not
//   bar:ID              print "ID bar POS of HIGH": a progress bar's position and upper limit
//   layout              print "layout W x H" (the current dialog's client area in pixels) and
//                       "clipped ID" for each visible control not wholly inside it
//   toggle:ID:NAME      flip the selection of the item NAME
//   box                 wait for a message box, print "box: <text>", dismiss it
//   waitbox             wait for a message box and leave it open
//   nobox:MS            print "no box" if no message box appears within MS ms
//   password:TEXT       wait for the password prompt, type TEXT, press OK
//   escape-password     post Escape (command 2) to the prompt, then check it is still open
//   cancel-browse       wait for the folder browser and cancel it
//   open                print "main open" when the main dialog still exists
//   exit                wait for the package to end, print "exit N"
//   delete:PATH         delete a file (to see whether the next run writes it again)
//   sleep:MS
//   clock               print "clock MS": milliseconds since the previous clock step
// Windows that appear while waiting for something else are printed as
// "unexpected <kind>" so a test sees a dialog it did not ask for.
//
// Texts are UTF-8 both ways, whatever the ANSI code page: the arguments are
// taken from the wide command line, texts are read and written with the wide
// functions, and everything printed is UTF-8.
#include <windows.h>
#include <shellapi.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ui/resource.h"

static DWORD ProcessId;
static HANDLE Process;
static HWND Current;
static DWORD WaitLimit = 30000;  // every wait is bounded
static const int BoxTextId = 0xFFFF;   // the text of a system message box

// UTF-8 -> UTF-16 in one of a few rotating buffers (a call may need two).
static const WCHAR* Wide(const char* text) {
  static WCHAR buffers[4][2048];
  static int next;
  WCHAR* out = buffers[next++ % 4];
  if (!MultiByteToWideChar(CP_UTF8, 0, text, -1, out, 2048)) out[0] = 0;
  return out;
}

// Prints a UTF-16 text as UTF-8.
static void PrintWide(const WCHAR* text) {
  char utf8[4096] = "";
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, 0, 0);
  fputs(utf8, stdout);
}

enum Kind { None, MainDialog, FilesDialog, PasswordPrompt, BoxWindow, OtherDialog };
static const char* KindNames[] = {"none", "main", "files", "password", "box", "other"};

static void Fail(const char* what) {
  printf("FAIL: %s\n", what);
  fflush(stdout);
  TerminateProcess(Process, 1);
  exit(3);
}

static Kind Classify(HWND w) {
  char caption[128] = "";
  GetWindowTextA(w, caption, sizeof caption);
  if (strcmp(caption, "Tolvane SFX") == 0 && GetDlgItem(w, IDC_PASSWORD)) return PasswordPrompt;
  if (strcmp(caption, "Tolvane 4.0 SFX") != 0) return OtherDialog;
  if (GetDlgItem(w, IDC_FOLDER) && GetDlgItem(w, IDC_MESSAGE)) return MainDialog;
  if (GetDlgItem(w, IDC_ENTRY_LIST)) return FilesDialog;
  if (GetDlgItem(w, BoxTextId)) return BoxWindow;
  return OtherDialog;
}

struct Search {
  Kind wanted;
  HWND found;
  HWND seen[16];
  int seenCount;
};
static HWND Reported[64];
static int ReportedCount;

static BOOL CALLBACK Visit(HWND w, LPARAM data) {
  Search* s = (Search*)data;
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != ProcessId || !IsWindowVisible(w)) return TRUE;
  char cls[32] = "";
  GetClassNameA(w, cls, sizeof cls);
  if (strcmp(cls, "#32770") != 0) return TRUE;
  Kind k = Classify(w);
  if (k == s->wanted && !s->found) s->found = w;
  if (k != s->wanted && k != MainDialog && s->seenCount < 16) s->seen[s->seenCount++] = w;
  return TRUE;
}

static void ReportUnexpected(Search& s) {
  for (int i = 0; i < s.seenCount; i++) {
    bool known = false;
    for (int j = 0; j < ReportedCount; j++) known |= Reported[j] == s.seen[i];
    if (known || ReportedCount == 64) continue;
    Reported[ReportedCount++] = s.seen[i];
    // Files dialog while waiting for a box is normal when it is current.
    if (s.seen[i] == Current) continue;
    printf("unexpected %s\n", KindNames[Classify(s.seen[i])]);
  }
}

// Finds a window of the kind, waiting at most 'limit' ms; 0 when none came.
static HWND Find(Kind kind, DWORD limit) {
  DWORD start = GetTickCount();
  for (;;) {
    Search s = {kind, 0, {}, 0};
    EnumWindows(Visit, (LPARAM)&s);
    ReportUnexpected(s);
    if (s.found) return s.found;
    if (GetTickCount() - start >= limit) return 0;
    if (WaitForSingleObject(Process, 20) == WAIT_OBJECT_0 && kind != None) {
      Search last = {kind, 0, {}, 0};
      EnumWindows(Visit, (LPARAM)&last);
      return last.found;
    }
  }
}

static HWND Need(Kind kind) {
  HWND w = Find(kind, WaitLimit);
  if (!w) {
    char what[64];
    sprintf(what, "no %s window", KindNames[kind]);
    Fail(what);
  }
  return w;
}

static void WaitGone(HWND w) {
  DWORD start = GetTickCount();
  while (IsWindow(w) && IsWindowVisible(w)) {
    if (GetTickCount() - start > WaitLimit) Fail("window did not close");
    Sleep(10);
  }
}

static void PrintBox(HWND box) {
  WCHAR text[1024] = L"";
  GetDlgItemTextW(box, BoxTextId, text, 1024);
  printf("box: ");
  PrintWide(text);
  printf("\n");
  fflush(stdout);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  WaitGone(box);
}

static void PrintList(int id) {
  HWND list = GetDlgItem(Current, id);
  if (!list) Fail("no such list");
  int count = (int)SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (int i = 0; i < count; i++) {
    // The wide message: the ANSI one comes back unconverted across processes.
    wchar_t wide[300] = L"";
    SendMessageW(list, LB_GETTEXT, i, (LPARAM)wide);
    bool selected = SendMessageW(list, LB_GETSEL, i, 0) > 0;
    printf("%d %c", id, selected ? '+' : '-');
    PrintWide(wide);
    printf("\n");
  }
}

static void PrintState(int id) {
  HWND c = GetDlgItem(Current, id);
  if (!c) {
    printf("%d absent\n", id);
    return;
  }
  LRESULT check = SendMessageA(c, BM_GETCHECK, 0, 0);
  printf("%d %s %s %s\n", id, IsWindowVisible(c) ? "visible" : "hidden",
         IsWindowEnabled(c) ? "enabled" : "disabled", check == BST_CHECKED ? "checked" : "unchecked");
}

static void Step(const char* step) {
  char verb[32] = "";
  const char* arg = strchr(step, ':');
  size_t n = arg ? (size_t)(arg - step) : strlen(step);
  if (n >= sizeof verb) Fail(step);
  memcpy(verb, step, n);
  verb[n] = 0;
  if (arg) arg++;

  if (!strcmp(verb, "main")) {
    Current = Need(MainDialog);
    printf("main dialog\n");
  } else if (!strcmp(verb, "files")) {
    Current = Need(FilesDialog);
    printf("files dialog\n");
  } else if (!strcmp(verb, "prompt")) {
    Current = Need(PasswordPrompt);
    printf("password prompt\n");
  } else if (!strcmp(verb, "get")) {
    WCHAR text[1024] = L"";
    GetDlgItemTextW(Current, atoi(arg), text, 1024);
    printf("%d=", atoi(arg));
    PrintWide(text);
    printf("\n");
  } else if (!strcmp(verb, "set")) {
    const char* eq = strchr(arg, '=');
    if (!eq) Fail(step);
    SetDlgItemTextW(Current, atoi(arg), Wide(eq + 1));
  } else if (!strcmp(verb, "press")) {
    PostMessageA(Current, WM_COMMAND, atoi(arg), 0);
  } else if (!strcmp(verb, "key")) {
    const char* code = strchr(arg, ':');
    if (!code) Fail(step);
    HWND control = GetDlgItem(Current, atoi(arg));
    PostMessageA(control, WM_KEYDOWN, atoi(code + 1), 1);
    PostMessageA(control, WM_KEYUP, atoi(code + 1), 0xC0000001);
  } else if (!strcmp(verb, "state")) {
    PrintState(atoi(arg));
  } else if (!strcmp(verb, "list")) {
    PrintList(atoi(arg));
  } else if (!strcmp(verb, "bar")) {
    HWND bar = GetDlgItem(Current, atoi(arg));
    printf("%d bar %ld of %ld\n", atoi(arg), (long)SendMessageW(bar, PBM_GETPOS, 0, 0),
           (long)SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
  } else if (!strcmp(verb, "layout")) {
    RECT client;
    GetClientRect(Current, &client);
    printf("layout %ld x %ld\n", client.right, client.bottom);
    for (HWND child = GetWindow(Current, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      RECT r;
      GetWindowRect(child, &r);
      MapWindowPoints(0, Current, (POINT*)&r, 2);
      if (IsWindowVisible(child) && (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom))
        printf("clipped %d\n", GetDlgCtrlID(child));
    }
  } else if (!strcmp(verb, "toggle")) {
    const char* name = strchr(arg, ':');
    if (!name) Fail(step);
    HWND list = GetDlgItem(Current, atoi(arg));
    int i = (int)SendMessageW(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)Wide(name + 1));
    if (i < 0) Fail(step);
    bool selected = SendMessageA(list, LB_GETSEL, i, 0) > 0;
    SendMessageA(list, LB_SETSEL, !selected, i);
  } else if (!strcmp(verb, "box")) {
    PrintBox(Need(BoxWindow));
  } else if (!strcmp(verb, "waitbox")) {
    Need(BoxWindow);
  } else if (!strcmp(verb, "delete")) {
    if (!DeleteFileW(Wide(arg))) Fail(step);
  } else if (!strcmp(verb, "nobox")) {
    HWND box = Find(BoxWindow, atoi(arg));
    if (box)
      PrintBox(box);
    else
      printf("no box\n");
  } else if (!strcmp(verb, "password")) {
    HWND prompt = Need(PasswordPrompt);
    SetDlgItemTextW(prompt, IDC_PASSWORD, Wide(arg));
    PostMessageA(prompt, WM_COMMAND, IDOK, 0);
    WaitGone(prompt);
    printf("password %s\n", arg);
  } else if (!strcmp(verb, "escape-password")) {
    HWND prompt = Need(PasswordPrompt);
    PostMessageA(prompt, WM_COMMAND, IDCANCEL, 0);
    Sleep(300);
    printf("prompt %s\n", IsWindow(prompt) && IsWindowVisible(prompt) ? "open" : "closed");
  } else if (!strcmp(verb, "cancel-browse")) {
    HWND browser = Need(OtherDialog);
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    WaitGone(browser);
    printf("browse cancelled\n");
  } else if (!strcmp(verb, "open")) {
    printf("main %s\n", Find(MainDialog, 0) ? "open" : "closed");
  } else if (!strcmp(verb, "exit")) {
    if (WaitForSingleObject(Process, WaitLimit) != WAIT_OBJECT_0) Fail("package did not end");
    DWORD code = 0;
    GetExitCodeProcess(Process, &code);
    Find(None, 0);
    printf("exit %lu\n", code);
  } else if (!strcmp(verb, "sleep")) {
    Sleep(atoi(arg));
  } else if (!strcmp(verb, "clock")) {
    static LARGE_INTEGER last;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    printf("clock %.0f\n", last.QuadPart ? (now.QuadPart - last.QuadPart) * 1000.0 / frequency.QuadPart : 0.0);
    last = now;
  } else {
    Fail(step);
  }
  fflush(stdout);
}

int main() {
  int argc = 0;
  WCHAR** wideArgs = CommandLineToArgvW(GetCommandLineW(), &argc);
  char** argv = (char**)calloc(argc + 1, sizeof(char*));
  for (int k = 0; k < argc; k++) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wideArgs[k], -1, 0, 0, 0, 0);
    argv[k] = (char*)malloc(size);
    WideCharToMultiByte(CP_UTF8, 0, wideArgs[k], -1, argv[k], size, 0, 0);
  }
  const char* cwd = 0;
  bool lock = false;
  const char* arguments = "";
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
    if (!strcmp(argv[i], "--cwd") && i + 1 < argc)
      cwd = argv[++i];
    else if (!strcmp(argv[i], "--env") && i + 1 < argc) {
      char* pair = argv[++i];
      char* eq = strchr(pair, '=');
      if (!eq) Fail("--env needs NAME=VALUE");
      *eq = 0;
      SetEnvironmentVariableW(Wide(pair), Wide(eq + 1));
    } else if (!strcmp(argv[i], "--wait") && i + 1 < argc) {
      WaitLimit = (DWORD)atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--lock")) {
      lock = true;
    } else if (!strcmp(argv[i], "--args") && i + 1 < argc) {
      arguments = argv[++i];
    }
  }
  if (i >= argc) {
    printf("usage: driver.exe [--cwd DIR] [--env NAME=VALUE] [--lock] [--args TEXT] [--wait MS] PACKAGE STEP...\n");
    return 2;
  }
  const char* package = argv[i++];
  WCHAR command[2 * MAX_PATH + 1024];
  _snwprintf(command, MAX_PATH + 4, L"\"%ls\"", Wide(package));
  if (*arguments) {
    wcscat(command, L" ");
    wcsncat(command, Wide(arguments), 1000);
  }
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  // The package starts suspended so that, for --lock, another process (this
  // one) can hold its file open without sharing before its first instruction
  // runs: the package's own read-only open must then fail.
  if (!CreateProcessW(Wide(package), command, 0, 0, FALSE, CREATE_SUSPENDED, 0, cwd ? Wide(cwd) : 0, &si,
                      &pi)) {
    printf("FAIL: cannot start the package (error %lu)\n", GetLastError());
    return 3;
  }
  Process = pi.hProcess;
  ProcessId = pi.dwProcessId;
  HANDLE locker = INVALID_HANDLE_VALUE;
  if (lock) {
    locker = CreateFileW(Wide(package), GENERIC_READ, 0, 0,
                         OPEN_EXISTING, 0, 0);
    if (locker == INVALID_HANDLE_VALUE) Fail("cannot lock the package");
  }
  ResumeThread(pi.hThread);
  for (; i < argc; i++) Step(argv[i]);
  DWORD code = 0;
  if (WaitForSingleObject(Process, WaitLimit) != WAIT_OBJECT_0) Fail("package did not end");
  GetExitCodeProcess(Process, &code);
  if (locker != INVALID_HANDLE_VALUE) CloseHandle(locker);
  return (int)code;
}
