#pragma once
// Controls of the host implementation of the seam, for tests, fuzzers,
// benchmarks and the Linux tools. The core never includes this header.
#include <stdint.h>
#include <time.h>
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
  friend void ListAdd(ListHandle, const char*);
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

void SetProgramPath(const std::string& path);    // what GetProgramPath answers
void SetCommandLine(const std::string& line);    // what GetCommandLineText answers

// A seam time stamp as a Unix time; false for a DOS date or time Windows refuses.
bool StampToUnix(const FileStamp& stamp, struct timespec& time);
void SetTempFolder(const std::string& path);     // empty: the query fails
void SetCurrentFolder(const std::string& path);  // empty: the query fails

// Message boxes are recorded; a handler, when set, is also called (the tools print).
std::vector<HostMessage>& Messages();
void SetMessageHandler(std::function<void(const HostMessage&)> handler);

// Password prompts are answered from this queue (an empty answer when it runs
// dry), or by the handler when one is set. Prompts are counted.
void SetPasswordAnswers(const std::vector<std::string>& answers);
void SetPasswordHandler(std::function<std::string()> handler);
int PasswordPrompts();

// Shell launches are recorded, never performed.
std::vector<HostLaunch>& Launches();

// Called at every PumpOneMessage, so a test can act "during" a run.
void SetPumpHandler(std::function<void()> handler);
int PumpedMessages();

// In-memory files (decoder tests, fuzzers, benchmarks): reads come from 'data',
// which the caller keeps alive; writes append to *sink.
FileHandle OpenMemoryFile(const void* data, size_t size);
FileHandle CreateMemorySink(std::string* sink);

// A file system held in memory instead of the real one (for the walk fuzzer):
// files and folders are keyed by their mapped host path.
void UseMemoryFileSystem(bool on);
std::map<std::string, std::string>& MemoryFiles();
std::vector<std::string>& MemoryFolders();

// Seam calls counted since the last ResetCounters, for the decoder tests and
// the benchmarks. Reset() leaves them alone.
struct HostCounters {
  int reads = 0;
  int writes = 0;
  std::vector<uint32_t> writeSizes;
  long long liveBytes = 0;     // Allocate minus Release
  long long peakBytes = 0;     // highest liveBytes since the last reset
  int liveBlocks = 0;
};
HostCounters& Counters();
// Clears the call counts; the live blocks stay counted, and the peak starts from them.
void ResetCounters();

// Fault injection: every file created for writing takes at most 'bytes'
// bytes (a full disk; SIZE_MAX: no limit), and MoveOntoFile fails onto
// paths that end with 'name' (empty: none).
void SetWriteLimit(size_t bytes);
void SetFailingMoves(const std::string& name);

// The encoding the core last chose with SetUtf8Texts. Texts are kept as the
// bytes given: the host's own texts (the tools' Linux paths) are UTF-8 already,
// so AnsiToUtf8 copies.
bool Utf8Texts();

// Forgets every setting and record above.
void Reset();

}  // namespace host
