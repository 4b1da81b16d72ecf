#pragma once
// The one seam between the portable core and the operating system.
//
// The core (package/, archive/, codec/, extract/, launch/) never includes
// <windows.h>; every service it needs from the system is one of the functions
// below. There are exactly two implementations:
//   platform/win32.cpp - the stub: thin calls of kernel32, user32 and shell32;
//   platform/host.cpp  - Linux: the tools. It maps the Windows paths the core
//                        builds (backslashes, an optional drive letter) onto
//                        the real file system, hands message boxes to the tool
//                        and records the shell launch instead of performing it.
// The tests, fuzzers and benchmarks link a test double instead of the Linux
// seam (tests/support/host_double.cpp), built on the Linux seam's files.
// Texts are 8-bit and NUL-terminated. Paths are UTF-8 (on Linux: bytes, as
// the file system takes them); shown texts are in the ANSI code page unless
// the core has switched to UTF-8 with SetUtf8Texts (see "text encoding" below).

#include <stddef.h>
#include <stdint.h>

typedef void* FileHandle;     // an open file; NoFile when an open failed
typedef void* WindowHandle;   // a dialog (a HWND on Win32)
typedef void* ListHandle;     // a dialog's entry list (a list box on Win32)

#define NoFile ((FileHandle)(intptr_t)-1)

// Message box styles the core uses: always MB_OK with one of these icons.
enum : uint32_t { IconHand = 0x10, IconExclamation = 0x30, IconInformation = 0x40 };

// ---- text encoding -------------------------------------------------------------
// Every path handed to or returned by the functions below is UTF-8, so that
// a folder named outside the ANSI code page (a user's name in another
// script) is reached as it is: on Win32 each is converted to UTF-16 for the
// wide system calls, never through the ANSI code page, whose best-fit
// mappings would turn look-alike characters into other letters, separators
// and dots. A path that is not valid UTF-8 names nothing.
// Shown texts (messages, list items, the progress field) are in the encoding
// last chosen here: the ANSI code page (the default) or UTF-8. The archive
// walk chooses per entry, from the entry's name, and goes back to ANSI at
// its end; the engine switches to UTF-8 once it has the name in UTF-8.
void SetUtf8Texts(bool on);
// Writes the ANSI text 'text' as UTF-8 into 'buffer' (terminated); returns
// its length, 0 when it does not fit. On Linux names are kept as the bytes
// the archive holds (the tools rename them afterwards): the answer is 0 there
// and the caller keeps the text as it is.
uint32_t AnsiToUtf8(const char* text, char* buffer, uint32_t size);
// Converts a UTF-8 text to the ANSI code page in place (on Linux: leaves it).
// The command line arrives in UTF-8; a password keeps its ANSI bytes, as the
// password prompt gives them.
void Utf8ToAnsi(char* text);

// ---- files -------------------------------------------------------------------
// Full path of the running program; returns its length (0 on failure or when
// it does not fit).
uint32_t GetProgramPath(char* buffer, uint32_t size);
// Opens an existing file for reading, sharing it for reading only.
FileHandle OpenReadFile(const char* path);
// Creates a new file for writing; fails when anything exists at the path.
// Where the system allows, the file is deleted when it is closed, or when the
// process ends however it ends, unless KeepNewFile was called for it.
FileHandle CreateNewFile(const char* path);
bool KeepNewFile(FileHandle file);
// Returns the number of bytes transferred (0 at the end of the file or on failure).
uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t count);
uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t count);
// Moves to an absolute offset; returns the new position or 0xFFFFFFFF on failure.
uint32_t SeekFile(FileHandle file, uint32_t offset);
// Returns false when the system reports a failure.
bool CloseFileHandle(FileHandle file);
// Moves a file onto 'to' in the same folder, replacing a file there; false
// when the system refuses (a read-only or open file on Windows, a folder).
bool MoveOntoFile(const char* from, const char* to);
bool DeleteFileAt(const char* path);

// A file's modification time: UTC in 100-ns units since 1601-01-01 (a
// FILETIME) when Utc is not 0, else a DOS date and time taken as local time.
struct FileStamp {
  uint64_t Utc;
  uint16_t DosDate;
  uint16_t DosTime;
};
// 1970-01-01 in those units.
const int64_t UnixEpochAsFileTime = 116444736000000000LL;
// Gives an output file its modification time. Call it after the last write:
// a later write sets the time to "now" again. An invalid time is ignored.
void SetFileTimes(FileHandle file, const FileStamp& stamp);

// ---- folders -----------------------------------------------------------------
// True when a search for the path (a name or a pattern such as C:\Dir\*.*) finds an entry.
bool FindAny(const char* pattern);
// Whether two paths name the same file as the file system decides it: made
// full (on Windows "." and ".." folded, trailing dots and blanks of each name
// dropped) and compared ignoring case, for every letter the system folds.
bool SamePath(const char* a, const char* b);
// What stands at a path (a plain path, no pattern): PathOtherName is a file
// the system found under another name, such as its short 8.3 alias. The name
// is the one the system makes of the path: "x.txt." and "x.txt " are "x.txt".
enum PathKind : uint32_t { PathMissing, PathFile, PathFolder, PathOtherName };
PathKind FindPath(const char* path);
// Creates one folder; returns false when the system refuses.
bool MakeFolder(const char* path);
// The user's temporary folder, ending with a backslash; returns its length.
// 0, or a length of 'size' or more, means it failed or did not fit.
uint32_t GetTempFolder(char* buffer, uint32_t size);
// The process's current folder; answers as GetTempFolder.
uint32_t GetCurrentFolder(char* buffer, uint32_t size);
// Converts an existing path to its short form in place; 'size' is the room the
// text has. Leaves the text unchanged when there is no shorter form or it does not fit.
void ShortenPath(char* text, uint32_t size);

// ---- process -----------------------------------------------------------------
// The whole command line the program was started with, its own name first,
// in UTF-8.
const char* GetCommandLineText();

// ---- a second thread ---------------------------------------------------------
// What a thread runs: called the way the system calls it (stdcall on 32-bit x86).
#ifdef __i386__
#define TV_THREAD_CALL __attribute__((stdcall))
#else
#define TV_THREAD_CALL
#endif
typedef uint32_t(TV_THREAD_CALL* ThreadWork)(void* argument);
typedef void* ThreadHandle;
// Runs work(argument) on a new thread. Null when no thread was started: the
// caller then does the work itself. The tools never start one: they report
// each entry's outcome as it ends. The work may only write files and use
// memory: nothing of the user interface. While it runs, writes do not redraw
// the progress field.
ThreadHandle StartThread(ThreadWork work, void* argument);
// Whether the thread has ended; with 'wait', waits until it has. The handle of
// an ended thread is closed.
bool ThreadEnded(ThreadHandle thread, bool wait);

// ---- AES, for WinZip AES entries ---------------------------------------------
// The stub takes the cipher from the system's cryptographic provider (in
// advapi32, which every Windows program loads); the host seam has its own.
// Only the walk's own thread uses it.
const uint32_t AesBlockSize = 16;
typedef void* AesHandle;
// Whether the system gives AES; without it AES entries cannot be read.
bool AesAvailable();
// A key of 16, 24 or 32 bytes. Null when the system fails.
AesHandle StartAes(const uint8_t* key, uint32_t keySize);
// Encrypts 'count' blocks in place, each on its own.
void EncryptAesBlocks(AesHandle key, uint8_t* blocks, uint32_t count);
void EndAes(AesHandle key);

// ---- the run's log -------------------------------------------------------------
// The log a run writes when asked (/L=FILE): created anew, UTF-8, a line
// written at once, so that a run that is killed leaves the lines so far.
// False when the file cannot be created.
bool OpenLog(const char* path);
// Writes the parts given (in the texts' encoding, see SetUtf8Texts; a null or
// empty part is left out, but the first is never empty), separated by tabs, as
// one line of the log, if one is open.
void WriteLogLine(const char* first, const char* second = nullptr, const char* third = nullptr,
                  const char* fourth = nullptr);
// The system's words for why the current output file could not be created,
// written or moved (in the texts' encoding), given once; empty when there are
// none.
const char* SystemErrorText();

// ---- user interface ----------------------------------------------------------
// A modal message box with no owner window, MB_OK and the given icon.
void ShowMessage(const char* text, const char* caption, uint32_t icon);
// The dialogs' field that shows the file being extracted.
const int ProgressFieldId = 55;
const int ProgressBarId = 56;     // the bar of the bytes written
// Shows the path of the file being extracted in the dialog's field
// ProgressFieldId (if it has one). The display may lag behind by a moment (Win32 redraws at most ten
// times a second); a null text brings it up to date, as the walk does at its end.
void ShowProgress(WindowHandle dialog, const char* text);
// Takes one queued window message, if any, and dispatches it.
void PumpOneMessage();
// Opens a program, document or folder with the shell's "open" verb, in
// 'folder' (null: the process's current folder). With 'exitCode' it waits
// until the program ends and gives its exit code there; otherwise it returns
// at once. False when nothing could be started.
bool ShellOpen(const char* program, const char* parameters, const char* folder, uint32_t* exitCode);

// ---- memory ------------------------------------------------------------------
// The block is zero-filled. Never returns null: an allocation that cannot be
// met ends the process with exit code 1 (a failure), after a message box
// unless the run is quiet.
void* Allocate(size_t size);
// An unattended run: the seam's own failures show no box either.
void SetQuietRun(bool on);
// For blocks whose size the data decide (a decoder's window): null when the
// allocation cannot be met, and not cleared. Released with Release.
void* TryAllocate(size_t size);
void Release(void* block);

// ---- entry list ----------------------------------------------------------------
// A sorted (case-insensitive), multiple-selection list of entry names, each
// of at most ListTextLimit bytes.
const uint16_t ListTextLimit = 258;
ListHandle GetEntryList(WindowHandle dialog, int id);
void ListClear(ListHandle list);
void ListAdd(ListHandle list, const char* name, uint32_t size = 0);   // size: the entry's, for the progress bar
// Searches for an item equal to 'name' (case-insensitive) starting after index
// 'after' and wrapping around; -1 searches from the top. Returns the index or -1.
int ListFind(ListHandle list, int after, const char* name);
bool ListIsSelected(ListHandle list, int index);        // index -1: false
void ListSelect(ListHandle list, int index, bool selected);  // index -1: every item
int ListCount(ListHandle list);
int ListSelectedCount(ListHandle list);
