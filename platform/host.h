#pragma once
// The host seam, what the tools link on Linux and on Windows: its controls,
// for the tools, and its file and folder calls (host_files.cpp on Linux,
// host_files_windows.cpp on Windows), on which the tests' double
// (tests/support/host_double.h) builds. The core never includes this header.
#include <stdint.h>
#include <time.h>
#include <stddef.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

// 'utf8': the text was given in UTF-8 (SetUtf8Texts), else in the ANSI code page.
struct HostMessage {
  std::string text;
  std::string caption;
  uint32_t icon;
  bool utf8 = false;
};

struct HostListItem {
  std::string name;
  bool selected;
  bool utf8 = false;
  std::string key;   // the name as CompareListNames sees it: items are in the order of their keys
};

// An entry list. Items are appended as they are added and put in list-box
// order when the list is next read, so that filling a list of n names costs
// one sort, not n insertions.
struct HostList {
  // The items in list-box order: equal names (ignoring case) in the order added.
  std::vector<HostListItem>& Items();

 private:
  friend void ListAdd(ListHandle, const char*, uint32_t);
  friend void ListClear(ListHandle);
  std::vector<HostListItem> items_;   // the first sorted_ in order, the rest as added
  size_t sorted_ = 0;
};

// What a dialog is on the host: its entry lists by control id and its progress field.
struct HostDialog {
  std::map<int, HostList> lists;
  bool hasProgressField = true;     // the file-selection dialog has no field 55
  std::string progress;             // last text put into field 55
  std::vector<std::string> progressLog;
};

struct HostLaunch {
  std::string program;
  std::string parameters;
  std::string folder;   // empty: the current folder
  bool waited = false;
};

namespace host {

// The order and equality of the host's entry list, which stands for the
// list box: less than, equal to or more than 0. Names equal but for ASCII
// case are equal. (The list box also folds other letters and orders
// punctuation before digits; the host list does not.)
int CompareListNames(const std::string& a, const std::string& b);
// The name with ASCII letters folded: two names compare as their keys do, byte by byte.
std::string ListKey(const std::string& name);

// Windows paths ("C:\dir\file", "\dir", "dir/file") are mapped onto the host
// file system: the drive letter is dropped, backslashes become slashes, and
// rooted paths are placed below the root directory. An empty root (the
// default) uses rooted paths as they are, which is what the tools want.
void SetRoot(const std::string& directory);
std::string ToHostPath(const char* windowsPath);
void SetAnsiCodePage(unsigned codePage);  // Windows tools: the code page of names when texts are not UTF-8 (default 1252)

void SetProgramPath(const std::string& path);    // what GetProgramPath answers
void SetCommandLine(const std::string& line);    // what GetCommandLineText answers

// A seam time stamp as a Unix time; false for a DOS date or time Windows refuses.
bool StampToUnix(const FileStamp& stamp, struct timespec& time);
void SetTempFolder(const std::string& path);     // empty: the query fails
void SetCurrentFolder(const std::string& path);  // empty: the query fails

// Message boxes go to this handler (the tools print them).
void SetMessageHandler(std::function<void(const HostMessage&)> handler);
void TellHandler(const HostMessage& message);

// The run's log is kept here, a line each (CloseLog: none is open).
std::vector<std::string>& LogLines();
void CloseLog();

// Shell launches are recorded, never performed.
std::vector<HostLaunch>& Launches();
// What a launch does from now on: whether it starts, and the exit code a
// launch that is waited for gives (it starts, with 0, until told otherwise).
void SetLaunchOutcome(bool starts, uint32_t exitCode);

// Every output file the engine creates takes at most this many bytes; the
// write that would pass it is cut short (SIZE_MAX, the default: no bound).
// A tool bounds each entry's file by its declared size.
void SetOutputLimit(size_t bytes);
// True when a write to the last output file created was cut short by the limit.
bool OutputWasCut();

// Once called, reads of the package fail, so that the walk in progress ends
// at once: an interrupt. Safe in a signal handler and from another thread.
void StopReading();
bool ReadingStopped();
// True when a write failed because the disk was full, since ResetSeam.
bool DiskWasFull();

// The encoding the core last chose with SetUtf8Texts. On Linux texts are kept
// as the bytes given: the host's own texts (the tools' paths) are UTF-8
// already, so AnsiToUtf8 copies; on Windows the other texts are in the code
// page SetAnsiCodePage names.
bool Utf8Texts();

// Forgets every setting and record above.
void ResetSeam();

// ---- the real file system, under the seam's names ----
// The seam's file and folder calls on the real file system; the host seam
// is these, and the test double falls back on them.
FileHandle OpenReadFile(const char* path);
FileHandle CreateNewFile(const char* path);
uint32_t ReadFileBytes(FileHandle file, void* buffer, uint32_t count);
uint32_t WriteFileBytes(FileHandle file, const void* buffer, uint32_t count);
uint32_t SeekFile(FileHandle file, uint32_t offset);
bool CloseFileHandle(FileHandle file);
bool MoveOntoFile(const char* from, const char* to);
bool DeleteFileAt(const char* path);
void SetFileTimes(FileHandle file, const FileStamp& stamp);
PathKind FindPath(const char* path);
bool FindAny(const char* pattern);
bool MakeFolder(const char* path);
// The output limit's rule, for the files parts: a new file starts uncut; of
// 'count' bytes for a file that has written 'written', how many it may write
// ('written' grows by them).
void StartOutputFile();
uint32_t OutputRoom(size_t& written, uint32_t count);
// A write the system refused, for DiskWasFull.
void NoteWriteFailure(bool deviceFull);
// An output file is created nameless where the system allows, so that it goes
// however the process ends; KeepNewFile gives it its name (false: it cannot).
bool KeepNewFile(FileHandle file);
// Created files are looked up in the folder of the last one, kept open; this
// closes it.
void ForgetOpenFolder();
// FindAny's rules over any file system: 'nameExists' answers for a plain
// name, 'folderEntries' lists a folder (false: there is none). Linux only:
// the test double searches its memory files with it.
bool FindMatching(const char* pattern, const std::function<bool(const std::string&)>& nameExists,
                  const std::function<bool(const std::string&, std::vector<std::string>&)>& folderEntries);

}  // namespace host
