// The seam on Win32: thin calls of kernel32 and user32; shell32 is loaded on
// first use from the system folder (see ShellFunction).
#include "platform/platform.h"
#include "platform/win32.h"
#include "platform/held.h"

#include <commctrl.h>

// Conversion areas: a call takes at most two texts at once; the third holds
// the progress text until it is shown; the last two hold full paths being
// compared. The longest text is a message with a path: a folder of 254
// characters, '\' and a name of at most 257 bytes.
const int WideSize = 1100;
const int ProgressSlot = 2;
const int FullPathSlot = 3;

// The seam's state in one object: a function takes it once, through Held,
// and reaches every field from one register.
struct SeamState {
  UINT TextCodePage;   // CP_ACP (0) or CP_UTF8
  // While the second thread runs (it writes too), writes leave the progress
  // field alone: drawing it from that thread would wait for the dialog's
  // thread, which may be waiting for the second.
  bool SecondThreadRuns;
  bool ProgressPending;   // the progress text has not been shown yet
  bool QuietRun;          // no box for the seam's own failures
  HWND ProgressDialog;
  DWORD ProgressShownAt;
  // The progress bar, and the bytes written: since it last moved (by both
  // threads), and in all (by the dialog's thread, which moves it).
  HWND Bar;
  uint32_t Written;
  uint64_t Done;
  HANDLE Log;   // null without a log
  DWORD OutputError;   // see SystemErrorText
  char ErrorText[3 * WideSize];
  WCHAR WideTexts[5][WideSize];
};
static SeamState Seam;

// ---- text encoding -------------------------------------------------------------

void SetUtf8Texts(bool on) { Seam.TextCodePage = on ? CP_UTF8 : CP_ACP; }

// The text in UTF-16 from code page 'page', in conversion area 'slot'; empty
// when it does not convert.
__attribute__((noinline)) static WCHAR* ToWide(UINT page, DWORD flags, const char* text, int slot) {
  WCHAR* out = Held(Seam).WideTexts[slot];
  if (!MultiByteToWideChar(page, flags, text, -1, out, WideSize)) out[0] = 0;
  return out;
}

// A shown text: invalid UTF-8 shows as replacement characters.
static const WCHAR* Wide(const char* text, int slot) { return ToWide(Seam.TextCodePage, 0, text, slot); }

// A path refuses invalid UTF-8: it names nothing.
const WCHAR* WidePath(const char* path, int slot) { return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, path, slot); }

uint32_t FromWide(UINT page, const WCHAR* wide, char* buffer, uint32_t size) {
  // Asked first: a conversion that does not fit may have written part of it.
  int n = WideCharToMultiByte(page, 0, wide, -1, 0, 0, 0, 0);
  if (n <= 0 || (uint32_t)n > size) return 0;
  WideCharToMultiByte(page, 0, wide, -1, buffer, n, 0, 0);
  return (uint32_t)n - 1;
}

uint32_t AnsiToUtf8(const char* text, char* buffer, uint32_t size) {
  return FromWide(CP_UTF8, ToWide(CP_ACP, 0, text, 1), buffer, size);
}

void Utf8ToAnsi(char* text) { FromWide(CP_ACP, ToWide(CP_UTF8, 0, text, 1), text, 0x7FFFFFFF); }

// ---- files -------------------------------------------------------------------

// Out of line: start-up asks in two places.
__attribute__((noinline)) uint32_t GetProgramPath(char* buffer, uint32_t size) {
  WCHAR* wide = Held(Seam).WideTexts[0];
  if (GetModuleFileNameW(0, wide, WideSize) >= WideSize) return 0;
  return FromWide(CP_UTF8, wide, buffer, size);
}

// Out of line: reading and creating share the conversion and the import call.
__attribute__((noinline)) static HANDLE OpenPath(const char* path, DWORD access, DWORD share,
                                                 DWORD disposition) {
  return CreateFileW(WidePath(path), access, share, 0, disposition, FILE_ATTRIBUTE_NORMAL, 0);
}

FileHandle OpenReadFile(const char* path) {
  return OpenPath(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
}

// The delete disposition: the system deletes the file at its last close, even
// when the process is killed, unless it is cleared first. Out of line: a new
// file sets it and a kept one clears it.
__attribute__((noinline)) static BOOL MarkForDeletion(HANDLE file, BOOLEAN on) {
  FILE_DISPOSITION_INFO disposition = {on};
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

FileHandle CreateNewFile(const char* path) {
  HANDLE file = OpenPath(path, GENERIC_WRITE | DELETE, FILE_SHARE_WRITE, CREATE_NEW);
  if (file != INVALID_HANDLE_VALUE) MarkForDeletion(file, TRUE);
  // A new output file starts its entry's failures afresh.
  Seam.OutputError = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  return file;
}

bool KeepNewFile(FileHandle file) { return MarkForDeletion(file, FALSE) != 0; }

uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!ReadFile(file, buffer, count, &done, 0)) return 0;
  return done;
}

static void ShowProgressWhenDue();

// Keeps why an output file could not be written or moved; answers 0.
__attribute__((noinline)) static uint32_t NoteOutputError() {
  Seam.OutputError = GetLastError();
  return 0;
}

uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t count) {
  if (!Seam.SecondThreadRuns) ShowProgressWhenDue();   // a long file's path appears while it is written
  DWORD done = 0;
  if (!WriteFile(file, buffer, count, &done, 0)) return NoteOutputError();
  __atomic_fetch_add(&Seam.Written, done, __ATOMIC_RELAXED);
  return done;
}

uint32_t SeekFile(FileHandle file, uint32_t offset) {
  // With the high part given, the low part counts as unsigned: offsets up to
  // 4 GiB - 1, where a lone LONG would turn those past 2 GiB negative.
  LONG high = 0;
  return SetFilePointer(file, (LONG)offset, &high, FILE_BEGIN);
}

// Out of line: the import is called from one place, with one relocation.
__attribute__((noinline)) bool CloseFileHandle(FileHandle file) { return CloseHandle(file) != 0; }

// A read-only file is not replaced: Windows refuses it, as it refused to
// truncate one, and the old file stays.
bool MoveOntoFile(const char* from, const char* to) {
  return MoveFileExW(WidePath(from), WidePath(to, 1), MOVEFILE_REPLACE_EXISTING) || NoteOutputError();
}

bool DeleteFileAt(const char* path) { return DeleteFileW(WidePath(path)) != 0; }

void SetFileTimes(FileHandle file, const FileStamp& stamp) {
  FILETIME time;
  if (stamp.Utc) {
    CopyMemory(&time, &stamp.Utc, sizeof time);
  } else {
    FILETIME local;
    if (!DosDateTimeToFileTime(stamp.DosDate, stamp.DosTime, &local)) return;
    LocalFileTimeToFileTime(&local, &time);
  }
  SetFileTime(file, 0, 0, &time);
}

const char* GetCommandLineText() {
  // Asked once, at start-up; kept for the run. Sized for the longest command
  // line the system passes (32767 characters, at most three bytes each in
  // UTF-8) rather than measured: no import to count its length.
  const uint32_t size = 3 * 32767 + 1;
  char* text = (char*)Allocate(size);
  FromWide(CP_UTF8, GetCommandLineW(), text, size);
  return text;
}

// The full form of a path, as the file system will take it, in conversion area 'slot'.
static WCHAR* FullPath(const char* path, int slot) {
  WCHAR* full = Seam.WideTexts[FullPathSlot + slot];
  if (!GetFullPathNameW(WidePath(path, slot), WideSize, full, 0)) full[0] = 0;
  return full;
}

PathKind FindPath(const char* path) {
  WIN32_FIND_DATAW found;
  // The name as the system takes it: "x.txt." and "x.txt " are "x.txt".
  const WCHAR* wide = FullPath(path, 0);
  HANDLE search = FindFirstFileW(wide, &found);
  if (search == INVALID_HANDLE_VALUE) return PathMissing;
  FindClose(search);
  if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return PathFolder;
  const WCHAR* name = wide;
  for (const WCHAR* p = wide; *p; p++)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  return CompareNoCase(name, found.cFileName) == 0 ? PathFile : PathOtherName;
}

// A pattern finds something whatever the name of what it finds.
bool FindAny(const char* pattern) { return FindPath(pattern) != PathMissing; }

bool SamePath(const char* a, const char* b) {
  return CompareStringOrdinal(FullPath(a, 0), -1, FullPath(b, 1), -1, TRUE) == CSTR_EQUAL;
}

bool MakeFolder(const char* path) { return CreateDirectoryW(WidePath(path), 0) != 0; }

// A folder the system writes in UTF-16: none when it needs more room than a path has.
static uint32_t FolderFromWide(DWORD length, char* buffer, uint32_t size) {
  return length && length < WideSize ? FromWide(CP_UTF8, Seam.WideTexts[0], buffer, size) : 0;
}

uint32_t GetTempFolder(char* buffer, uint32_t size) {
  return FolderFromWide(GetTempPathW(WideSize, Seam.WideTexts[0]), buffer, size);
}

uint32_t GetCurrentFolder(char* buffer, uint32_t size) {
  return FolderFromWide(GetCurrentDirectoryW(WideSize, Seam.WideTexts[0]), buffer, size);
}

void ShortenPath(char* text, uint32_t size) {
  WCHAR* shortForm = Seam.WideTexts[1];
  if (GetShortPathNameW(WidePath(text, 0), shortForm, WideSize) - 1u < WideSize - 1u)
    FromWide(CP_UTF8, shortForm, text, size);
}

// Field 55 shows the path of each file, but drawing it costs more under a
// display server than writing a small file: the field is updated at most
// every 100 ms (checked again at each write, so a long file's path appears
// while it is written), and always before a box or the password prompt
// appears and when the walk ends, so what the user can read is never stale
// for long.
// The progress bar moves with it, in units of 256 bytes.
// Shows the bytes written and a pending progress text: always, or only when
// 'whenDue' and 100 ms have passed since the last time.
static void FlushProgress(bool whenDue = false) {
  SeamState& seam = Held(Seam);
  DWORD now = GetTickCount();
  if (whenDue && now - seam.ProgressShownAt < 100) return;
  seam.ProgressShownAt = now;
  seam.Done += __atomic_exchange_n(&seam.Written, 0, __ATOMIC_RELAXED);
  ControlMessage(seam.Bar, PBM_SETPOS, (WPARAM)((seam.Done + 255) >> 8), 0);
  if (!seam.ProgressPending) return;
  seam.ProgressPending = false;
  // Nothing without a field: the message then goes to no window.
  ControlMessage(DialogControl(seam.ProgressDialog, ProgressFieldId), WM_SETTEXT, 0,
                 (LPARAM)seam.WideTexts[ProgressSlot]);
}

static void ShowProgressWhenDue() { FlushProgress(true); }

void StartProgressBar(HWND dialog, HWND list) {
  SeamState& seam = Held(Seam);
  uint64_t total = 0;
  for (int i = ListCount(list); i-- > 0;)
    if (ListIsSelected(list, i)) total += (uint32_t)ControlMessage(list, LB_GETITEMDATA, i, 0);
  seam.Bar = DialogControl(dialog, ProgressBarId);
  seam.Done = seam.Written = 0;
  ControlMessage(seam.Bar, PBM_SETRANGE32, 0, (LPARAM)((total + 255) >> 8));
  FlushProgress();
}

void ShowProgress(WindowHandle dialog, const char* text) {
  if (!text) return FlushProgress();
  SeamState& seam = Held(Seam);
  seam.ProgressDialog = (HWND)dialog;
  Wide(text, ProgressSlot);
  seam.ProgressPending = true;
  ShowProgressWhenDue();
}

bool OpenLog(const char* path) {
  HANDLE log = OpenPath(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
  if (log == INVALID_HANDLE_VALUE) return false;
  Seam.Log = log;
  return true;
}

// The line is put together in UTF-8, then written with one call.
const char* SystemErrorText() {
  SeamState& seam = Held(Seam);
  DWORD error = seam.OutputError;
  seam.OutputError = 0;
  seam.ErrorText[0] = 0;
  // One line: the width mask turns the message's line breaks into blanks,
  // and the one at its end goes.
  if (error && FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                              0, error, 0, seam.WideTexts[0], WideSize, 0)) {
    uint32_t n = FromWide(seam.TextCodePage, seam.WideTexts[0], seam.ErrorText, sizeof seam.ErrorText);
    while (n && seam.ErrorText[n - 1] == ' ') seam.ErrorText[--n] = 0;
  }
  return seam.ErrorText;
}

void WriteLogLine(const char* first, const char* second, const char* third, const char* fourth) {
  SeamState& seam = Held(Seam);
  if (!seam.Log) return;
  char line[3 * WideSize];
  uint32_t length = 0;
  const char* parts[] = {first, second, third, fourth};
  for (const char* part : parts) {
    if (!part || !*part) continue;
    length += FromWide(CP_UTF8, Wide(part, 0), line + length, sizeof line - 2 - length);
    line[length++] = '\t';
  }
  // The last tab becomes the line's end (the first part is never empty).
  line[length - 1] = '\r';
  line[length++] = '\n';
  DWORD done;
  WriteFile(seam.Log, line, length, &done, 0);
}

void ShowMessage(const char* text, const char* caption, uint32_t icon) {
  FlushProgress();
  MessageBoxW(0, Wide(text, 0), Wide(caption, 1), MB_OK | icon);
}

// Out of line: each import is then called from one place, with one relocation.
__attribute__((noinline)) void EndProcess(UINT code) { ExitProcess(code); }
__attribute__((noinline)) void* ModuleFunction(HMODULE module, const char* name) {
  return (void*)GetProcAddress(module, name);
}

// No handle is kept: once loaded, the module stays, and loading it again
// only finds it.
void* ShellFunction(const char* name) {
  // A full path into the system folder: a shell32.dll lying next to the
  // package (a downloads folder) must never be the one that loads.
  char path[MAX_PATH + 16];
  UINT n = GetSystemDirectoryA(path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 0;
  const char* file = "\\shell32.dll";
  while ((path[n++] = *file++)) {
  }
  HMODULE shell = LoadLibraryExA(path, 0, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!shell) return 0;
  return ModuleFunction(shell, name);
}

void PumpOneMessage() {
  MSG message;
  if (PeekMessageA(&message, 0, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

typedef BOOL(WINAPI* ExecuteFunction)(SHELLEXECUTEINFOW*);

bool ShellOpen(const char* program, const char* parameters, const char* folder, uint32_t* exitCode) {
  ExecuteFunction execute = (ExecuteFunction)ShellFunction("ShellExecuteExW");
  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof run;
  // The caller reports a failure itself.
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  run.lpVerb = L"open";
  run.lpFile = WidePath(program, 0);
  run.lpParameters = WidePath(parameters, 1);
  if (folder) run.lpDirectory = WidePath(folder, FullPathSlot);
  run.nShow = SW_SHOW;
  if (!execute || !execute(&run)) return false;
  // No process when a running program took the document over.
  if (run.hProcess) {
    if (exitCode) {
      WaitForSingleObject(run.hProcess, INFINITE);
      GetExitCodeProcess(run.hProcess, (DWORD*)exitCode);
    }
    CloseFileHandle(run.hProcess);
  }
  return true;
}

ThreadHandle StartThread(ThreadWork work, void* argument) {
  SeamState& seam = Held(Seam);
  seam.SecondThreadRuns = true;   // before its first write
  HANDLE thread = CreateThread(nullptr, 0, (LPTHREAD_START_ROUTINE)work, argument, 0, nullptr);
  seam.SecondThreadRuns = thread != 0;
  return thread;
}

bool ThreadEnded(ThreadHandle thread, bool wait) {
  // While it is waited for, the bar and the dialog stay alive.
  while (WaitForSingleObject(thread, wait ? 100 : 0) == WAIT_TIMEOUT) {
    if (!wait) return false;
    FlushProgress(true);
    PumpOneMessage();
  }
  CloseFileHandle(thread);
  Seam.SecondThreadRuns = false;
  return true;
}

// Out of line: both ways to allocate share the two imports.
__attribute__((noinline)) static void* HeapBlock(size_t size, DWORD flags) {
  return HeapAlloc(GetProcessHeap(), flags, size);
}

void* Allocate(size_t size) {
  void* block = HeapBlock(size, HEAP_ZERO_MEMORY);
  if (!block) {
    // The program never goes on with a missing buffer; the run failed.
    if (!Seam.QuietRun) ShowMessage("Not enough memory", "Error", IconHand);
    EndProcess(1);
  }
  return block;
}

void* TryAllocate(size_t size) { return HeapBlock(size, 0); }

void SetQuietRun(bool on) { Seam.QuietRun = on; }

void Release(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

// The entry list (win32_list.cpp) takes its texts in the core's encoding too.
const WCHAR* ListText(const char* text) { return Wide(text, 0); }
