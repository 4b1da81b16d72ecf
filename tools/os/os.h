#pragma once
// The packaging tool's operating-system layer: everything the commands need
// from the system, with a POSIX side (os_posix.cpp) and a Windows side
// (os_windows.cpp). Paths and names are UTF-8 on both; on Windows they may
// use either separator and may be longer than 260 characters.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>
#include <string>
#include <vector>

namespace os {

// The process's arguments in UTF-8, and its console set up to print UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

// ---- files and folders ----

// The characters that separate a path's parts: "/", and on Windows "\\" too.
extern const char* const PathSeparators;
extern const char Separator;   // the one the system writes
// Whether file names are Unicode (Windows), so that the system itself turns a
// code page name into the right characters, or bytes (POSIX), so that the
// tool must.
extern const bool UnicodeNames;

struct FileStatus {
  enum Kind { Missing, File, Folder, Link, Pipe, Device, Other } kind = Missing;
  uint64_t size = 0;
  int64_t mtime = 0;        // seconds since 1970
  int64_t modified = 0;     // the same, in File::Modified's unit
  uint64_t volume = 0;      // volume and file id together tell one file from another
  uint64_t id = 0;
  bool runnable = false;    // POSIX: the owner may run it; Windows: none is
};
// 'follow': a link reports what it points to (Missing when that is gone).
// Missing when the path does not exist or cannot be examined.
FileStatus Status(const std::string& path, bool follow);

// The names in a folder, without "." and ".."; false when it cannot be read.
bool ListFolder(const std::string& path, std::vector<std::string>& names);

bool MakeFolder(const std::string& path);   // true when created or already a folder
bool RemoveFile(const std::string& path);
bool RemoveFolder(const std::string& path);  // an empty one
// Moves 'from' onto 'to', replacing a file there, in one step.
bool Replace(const std::string& from, const std::string& to);
// Renames only when nothing stands at 'to'.
bool RenameNew(const std::string& from, const std::string& to);

std::string AbsolutePath(const std::string& path);
// "/x"; on Windows also "C:\x", "C:x", "\x" and "\\server\share".
bool IsAbsolute(const std::string& path);
// The path in the system's short (8.3) names where it has them, which are
// ASCII: for a program that takes paths in a code page. POSIX: the path.
std::string ShortPath(const std::string& path);
std::string TempFolder();   // TMPDIR / TEMP, else the system's default
// A new empty folder below TempFolder(); empty on failure.
std::string MakeTempFolder(const std::string& prefix);

// A file opened for reading.
class File {
 public:
  File() = default;
  explicit File(const std::string& path) { Open(path); }
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool Open(const std::string& path);   // false for a folder too
  bool IsOpen() const { return handle_ != Invalid; }
  void Close();
  uint64_t Size() const;
  // The last modification, in the system's finest unit: compared, never shown.
  int64_t Modified() const;
  // Up to 'size' bytes from 'offset'; fewer at the end of the file or on an error.
  size_t ReadAt(uint64_t offset, void* buffer, size_t size) const;

 private:
  static constexpr intptr_t Invalid = -1;
  intptr_t handle_ = Invalid;
};

// ---- the package being written ----

// A new file for the package, open for writing, readable under 'path': on
// Linux without a name until it is published, where the file system allows,
// else ".<name>.XXXXXX" beside 'target'. Null, with the reason in 'error',
// when it cannot be made. Until it is published or discarded, Ctrl+C or a
// terminating signal removes it before the process ends. One at a time.
FILE* CreatePending(const std::string& target, std::string& path, std::string& error);
// Flushes the file, writes it to the disk and closes it.
bool ClosePending(FILE* file, std::string& error);
// Moves the closed file onto 'target' in one step, as a program its user may run.
bool PublishPending(const std::string& target, std::string& error);
void DiscardPending();   // removes it (closed)

// The reason the last call failed, in words.
std::string LastError();

// ---- interruption ----

// From now until EndCatchingInterrupt(), Ctrl+C or a terminating signal
// calls 'onInterrupt' (from a signal handler, or on Windows from another
// thread: it may only set a flag) and the process goes on, so that the work
// can stop and clean up after itself.
void CatchInterrupt(void (*onInterrupt)());
// Back to the usual: when an interrupt came meanwhile, the pending package
// is removed and the process ends as the interrupt would have ended it.
void EndCatchingInterrupt();

// ---- memory ----
// 'size' bytes of zeroed, writable memory backed by a temporary file in
// 'folder' that is gone with the mapping, however the process ends.
uint8_t* MapScratch(size_t size, const std::string& folder, std::string& error);
void UnmapScratch(uint8_t* data, size_t size);

// ---- the console ----

bool IsTerminal(FILE* stream);
// Asks for a secret on the console without echo; false when there is no console.
bool ReadSecret(const std::string& prompt, std::string& answer);

// ---- time and chance ----

bool LocalTime(int64_t seconds, struct tm& parts);
bool UtcTime(int64_t seconds, struct tm& parts);
bool RandomBytes(void* out, size_t size);
std::string Environment(const char* name);   // empty when unset

}  // namespace os
