// The host (Linux) implementation of the seam: real files below a chosen root,
// in-memory files and an optional in-memory file system, recorded message
// boxes and launches, scripted password answers and a host entry list with
// the semantics of a sorted multiple-selection list box.
#include "platform/host.h"
#include "platform/sorted_find.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>

namespace {

// What a FileHandle points to on the host.
struct HostFile {
  enum Kind { Real, MemoryReader, MemorySink, MemoryFsReader, MemoryFsWriter } kind;
  explicit HostFile(Kind k) : kind(k) {}
  int fd = -1;
  const uint8_t* data = nullptr;  // MemoryReader
  size_t size = 0;
  size_t position = 0;            // MemoryReader, MemoryFsReader
  std::string* sink = nullptr;    // MemorySink
  std::string key;                // MemoryFs*: mapped host path
  size_t written = 0;             // bytes written, against the write limit
};

struct HostSettings {
  std::string root;
  std::string programPath;
  std::string commandLine;
  std::string tempFolder;
  std::string currentFolder;
  std::vector<HostMessage> messages;
  std::function<void(const HostMessage&)> messageHandler;
  std::deque<std::string> passwordAnswers;
  std::function<std::string()> passwordHandler;
  int passwordPrompts = 0;
  std::vector<HostLaunch> launches;
  std::function<void()> pumpHandler;
  int pumped = 0;
  bool memoryFileSystem = false;
  bool utf8Texts = false;
  std::map<std::string, std::string> memoryFiles;
  std::vector<std::string> memoryFolders;
  size_t writeLimit = SIZE_MAX;   // bytes a created file takes before writes fail
  std::string failMovesOnto;
};

HostSettings& Settings() {
  static HostSettings settings;
  return settings;
}

// Windows name matching: case-insensitive, and a pattern ending in ".*"
// also matches names without a dot ("*.*" matches everything).
bool MatchesPattern(const std::string& pattern, const std::string& name) {
  if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  size_t n = pattern.size();
  return n >= 2 && pattern.compare(n - 2, 2, ".*") == 0 &&
         fnmatch(pattern.substr(0, n - 2).c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

HostFile* AsFile(FileHandle handle) {
  if (handle == NoFile || handle == nullptr) return nullptr;
  return static_cast<HostFile*>(handle);
}

// Collapses repeated slashes and drops a trailing one (except for "/"), so
// the in-memory file system has one key per path.
std::string NormalKey(const std::string& path) {
  std::string key;
  for (char c : path) {
    if (c == '/' && !key.empty() && key.back() == '/') continue;
    key += c;
  }
  if (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

std::string ParentKey(const std::string& key) {
  size_t slash = key.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";
  return key.substr(0, slash);
}

bool MemoryFolderExists(const std::string& key) {
  HostSettings& s = Settings();
  if (key.empty() || key == "/" || key == NormalKey(s.root)) return true;
  return std::find(s.memoryFolders.begin(), s.memoryFolders.end(), key) != s.memoryFolders.end();
}

// Names of the entries directly inside a folder (without "." and "..").
// Returns false when the folder does not exist.
bool FolderEntries(const std::string& folder, std::vector<std::string>& names) {
  HostSettings& s = Settings();
  if (s.memoryFileSystem) {
    std::string key = NormalKey(folder);
    if (!MemoryFolderExists(key)) return false;
    auto consider = [&](const std::string& path) {
      if (path != key && ParentKey(path) == key) names.push_back(path.substr(path.rfind('/') + 1));
    };
    for (auto& file : s.memoryFiles) consider(file.first);
    for (auto& sub : s.memoryFolders) consider(sub);
    return true;
  }
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    names.push_back(entry->d_name);
  }
  closedir(dir);
  return true;
}

bool NameExists(const std::string& hostPath) {
  HostSettings& s = Settings();
  if (s.memoryFileSystem) {
    std::string key = NormalKey(hostPath);
    return s.memoryFiles.count(key) != 0 || MemoryFolderExists(key);
  }
  struct stat info;
  return stat(hostPath.c_str(), &info) == 0;
}

FileHandle NewFile(HostFile* file) { return static_cast<FileHandle>(file); }

uint32_t CopyAnswer(const std::string& text, char* buffer, uint32_t size) {
  // The Win32 rule for the folder queries: too small a buffer gets nothing
  // and the answer is the size needed, terminator included.
  if (text.empty()) return 0;
  if (text.size() + 1 > size) return static_cast<uint32_t>(text.size() + 1);
  memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<uint32_t>(text.size());
}

std::vector<HostListItem>* AsList(ListHandle list) {
  return list ? &static_cast<HostList*>(list)->Items() : nullptr;
}

// The folder of the last file created, kept open: an extraction creates each
// file in the folder of the one before it as a rule, and a name looked up in
// an open folder costs one step instead of a walk over the whole path.
// Only absolute folders are kept (a relative one would move with the current
// folder). A folder removed since fails the call, which then takes the path;
// one moved away since (by another program, during a run) would receive the file.
struct OpenFolder {
  std::string path;
  int fd = -1;
};
OpenFolder lastFolder;

void ForgetFolder() {
  if (lastFolder.fd >= 0) close(lastFolder.fd);
  lastFolder = OpenFolder();
}

// The folder to look 'hostPath' up in and the name to look up there:
// AT_FDCWD and the whole path when the folder is not kept.
int FolderOf(const std::string& hostPath, std::string* name) {
  size_t slash = hostPath.rfind('/');
  *name = hostPath;
  if (hostPath.empty() || hostPath[0] != '/' || slash == 0 || slash + 1 == hostPath.size()) return AT_FDCWD;
  std::string folder = hostPath.substr(0, slash);
  if (lastFolder.fd < 0 || lastFolder.path != folder) {
    ForgetFolder();
    int fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return AT_FDCWD;
    lastFolder.path = folder;
    lastFolder.fd = fd;
  }
  *name = hostPath.substr(slash + 1);
  return lastFolder.fd;
}

}  // namespace

// ---- host controls -----------------------------------------------------------

namespace host {

// Bytes compared with ASCII letters folded to lower case (tolower in the "C"
// locale, without a library call per byte).
static unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

int CompareListNames(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    int x = FoldAscii(static_cast<unsigned char>(a[i]));
    int y = FoldAscii(static_cast<unsigned char>(b[i]));
    if (x != y) return x - y;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string ListKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  return key;
}

void SetRoot(const std::string& directory) { Settings().root = directory; }

std::string ToHostPath(const char* windowsPath) {
  std::string path = windowsPath ? windowsPath : "";
  if (path.size() >= 2 && path[1] == ':' && isalpha(static_cast<unsigned char>(path[0])))
    path.erase(0, 2);
  std::replace(path.begin(), path.end(), '\\', '/');
  const std::string& root = Settings().root;
  if (!root.empty() && !path.empty() && path[0] == '/') {
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    path = base + path;
  }
  return path;
}

void SetProgramPath(const std::string& path) { Settings().programPath = path; }
void SetCommandLine(const std::string& line) { Settings().commandLine = line; }

bool StampToUnix(const FileStamp& stamp, struct timespec& time) {
  if (stamp.Utc) {
    // 100-ns units since 1601-01-01, moved to the Unix epoch.
    int64_t ticks = (int64_t)stamp.Utc - UnixEpochAsFileTime;
    time.tv_sec = (time_t)(ticks / 10000000);
    time.tv_nsec = (long)(ticks % 10000000) * 100;
    if (time.tv_nsec < 0) time.tv_sec--, time.tv_nsec += 1000000000;
    return true;
  }
  // The DOS fields are a local time, as Windows takes them.
  struct tm parts = {};
  parts.tm_year = (stamp.DosDate >> 9) + 80;
  parts.tm_mon = (stamp.DosDate >> 5 & 15) - 1;
  parts.tm_mday = stamp.DosDate & 31;
  parts.tm_hour = stamp.DosTime >> 11;
  parts.tm_min = stamp.DosTime >> 5 & 63;
  parts.tm_sec = (stamp.DosTime & 31) * 2;
  parts.tm_isdst = -1;
  if (parts.tm_mon < 0 || parts.tm_mon > 11 || parts.tm_mday == 0 || parts.tm_hour > 23 ||
      parts.tm_min > 59 || parts.tm_sec > 59)
    return false;  // what Windows refuses as a DOS date and time
  time.tv_sec = mktime(&parts);
  time.tv_nsec = 0;
  return true;
}
void SetTempFolder(const std::string& path) { Settings().tempFolder = path; }
void SetCurrentFolder(const std::string& path) { Settings().currentFolder = path; }

std::vector<HostMessage>& Messages() { return Settings().messages; }
void SetMessageHandler(std::function<void(const HostMessage&)> handler) {
  Settings().messageHandler = std::move(handler);
}

void SetPasswordAnswers(const std::vector<std::string>& answers) {
  Settings().passwordAnswers.assign(answers.begin(), answers.end());
}
void SetPasswordHandler(std::function<std::string()> handler) {
  Settings().passwordHandler = std::move(handler);
}
int PasswordPrompts() { return Settings().passwordPrompts; }

std::vector<HostLaunch>& Launches() { return Settings().launches; }

void SetPumpHandler(std::function<void()> handler) { Settings().pumpHandler = std::move(handler); }
int PumpedMessages() { return Settings().pumped; }

FileHandle OpenMemoryFile(const void* data, size_t size) {
  HostFile* file = new HostFile(HostFile::MemoryReader);
  file->data = static_cast<const uint8_t*>(data);
  file->size = size;
  return NewFile(file);
}

FileHandle CreateMemorySink(std::string* sink) {
  HostFile* file = new HostFile(HostFile::MemorySink);
  file->sink = sink;
  return NewFile(file);
}

void UseMemoryFileSystem(bool on) { Settings().memoryFileSystem = on; }
std::map<std::string, std::string>& MemoryFiles() { return Settings().memoryFiles; }
std::vector<std::string>& MemoryFolders() { return Settings().memoryFolders; }

void SetWriteLimit(size_t bytes) { Settings().writeLimit = bytes; }
void SetFailingMoves(const std::string& name) { Settings().failMovesOnto = name; }
bool Utf8Texts() { return Settings().utf8Texts; }

void Reset() {
  Settings() = HostSettings();
  ForgetFolder();
}

}  // namespace host

// ---- text encoding -------------------------------------------------------------

void SetUtf8Texts(bool on) { Settings().utf8Texts = on; }

uint32_t AnsiToUtf8(const char* text, char* buffer, uint32_t size) {
  size_t length = strlen(text);
  if (length + 1 > size) return 0;
  memcpy(buffer, text, length + 1);
  return static_cast<uint32_t>(length);
}

// ---- files -------------------------------------------------------------------

uint32_t GetProgramPath(char* buffer, uint32_t size) {
  const std::string& path = Settings().programPath;
  if (path.empty() || size == 0) return 0;
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(path.size(), size - 1));
  memcpy(buffer, path.data(), n);
  buffer[n] = 0;
  return n;
}

FileHandle OpenReadFile(const char* path) {
  std::string hostPath = host::ToHostPath(path);
  HostSettings& s = Settings();
  if (s.memoryFileSystem) {
    std::string key = NormalKey(hostPath);
    if (!s.memoryFiles.count(key)) return NoFile;
    HostFile* file = new HostFile(HostFile::MemoryFsReader);
    file->key = key;
    return NewFile(file);
  }
  int fd = open(hostPath.c_str(), O_RDONLY);
  if (fd < 0) return NoFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {  // a folder cannot be opened as a file
    close(fd);
    return NoFile;
  }
  HostFile* file = new HostFile(HostFile::Real);
  file->fd = fd;
  return NewFile(file);
}

FileHandle CreateNewFile(const char* path) {
  std::string hostPath = host::ToHostPath(path);
  HostSettings& s = Settings();
  if (s.memoryFileSystem) {
    std::string key = NormalKey(hostPath);
    if (key.empty() || MemoryFolderExists(key) || s.memoryFiles.count(key) ||
        !MemoryFolderExists(ParentKey(key)))
      return NoFile;
    s.memoryFiles[key].clear();
    HostFile* file = new HostFile(HostFile::MemoryFsWriter);
    file->key = key;
    return NewFile(file);
  }
  std::string name;
  int folder = FolderOf(hostPath, &name);
  int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ENOENT && folder != AT_FDCWD) {   // the kept folder is gone
    ForgetFolder();
    fd = open(hostPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  }
  if (fd < 0) return NoFile;
  HostFile* file = new HostFile(HostFile::Real);
  file->fd = fd;
  return NewFile(file);
}

namespace {

host::HostCounters counters;
// Each block is preceded by its size, in a prefix that keeps the alignment
// of what calloc returns.
const size_t SizePrefix = 16;

}  // namespace

host::HostCounters& host::Counters() { return counters; }

void host::ResetCounters() {
  host::HostCounters fresh;
  fresh.liveBytes = fresh.peakBytes = counters.liveBytes;
  fresh.liveBlocks = counters.liveBlocks;
  counters = fresh;
}

uint32_t ReadFileBytes(FileHandle handle, void* buffer, uint32_t count) {
  counters.reads++;
  HostFile* file = AsFile(handle);
  if (!file) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  switch (file->kind) {
    case HostFile::Real: {
      uint32_t done = 0;
      while (done < count) {
        ssize_t n = read(file->fd, out + done, count - done);
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
      }
      return done;
    }
    case HostFile::MemoryReader:
    case HostFile::MemoryFsReader: {
      const uint8_t* data = file->data;
      size_t size = file->size;
      if (file->kind == HostFile::MemoryFsReader) {
        auto it = Settings().memoryFiles.find(file->key);
        if (it == Settings().memoryFiles.end()) return 0;
        data = reinterpret_cast<const uint8_t*>(it->second.data());
        size = it->second.size();
      }
      if (file->position >= size) return 0;
      uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, size - file->position));
      memcpy(out, data + file->position, n);
      file->position += n;
      return n;
    }
    default:
      return 0;
  }
}

uint32_t WriteFileBytes(FileHandle handle, const void* buffer, uint32_t count) {
  counters.writes++;
  counters.writeSizes.push_back(count);
  HostFile* file = AsFile(handle);
  if (!file) return 0;
  const char* in = static_cast<const char*>(buffer);
  if (file->kind != HostFile::MemorySink) {
    // A full disk: the write that crosses the limit is cut short.
    size_t limit = Settings().writeLimit;
    size_t room = file->written >= limit ? 0 : limit - file->written;
    if (count > room) count = static_cast<uint32_t>(room);
    file->written += count;
    if (count == 0) return 0;
  }
  switch (file->kind) {
    case HostFile::Real: {
      uint32_t done = 0;
      while (done < count) {
        ssize_t n = write(file->fd, in + done, count - done);
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
      }
      return done;
    }
    case HostFile::MemorySink:
      file->sink->append(in, count);
      return count;
    case HostFile::MemoryFsWriter:
      Settings().memoryFiles[file->key].append(in, count);
      return count;
    default:
      return 0;
  }
}

uint32_t SeekFile(FileHandle handle, uint32_t offset) {
  HostFile* file = AsFile(handle);
  if (!file) return 0xFFFFFFFF;
  switch (file->kind) {
    case HostFile::Real:
      if (lseek(file->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(-1)) return 0xFFFFFFFF;
      return offset;
    case HostFile::MemoryReader:
    case HostFile::MemoryFsReader:
      // Like SetFilePointer: a position beyond the end is allowed; reads there return nothing.
      file->position = offset;
      return offset;
    default:
      return 0xFFFFFFFF;  // sinks only append
  }
}

bool CloseFileHandle(FileHandle handle) {
  HostFile* file = AsFile(handle);
  if (!file) return false;
  bool ok = true;
  if (file->kind == HostFile::Real) ok = close(file->fd) == 0;
  delete file;
  return ok;
}

bool MoveOntoFile(const char* from, const char* to) {
  HostSettings& s = Settings();
  std::string source = host::ToHostPath(from), target = host::ToHostPath(to);
  const std::string& failing = s.failMovesOnto;
  if (!failing.empty() && target.size() >= failing.size() &&
      target.compare(target.size() - failing.size(), failing.size(), failing) == 0)
    return false;
  if (s.memoryFileSystem) {
    std::string sourceKey = NormalKey(source), targetKey = NormalKey(target);
    auto it = s.memoryFiles.find(sourceKey);
    if (it == s.memoryFiles.end() || MemoryFolderExists(targetKey)) return false;
    std::string data = std::move(it->second);
    s.memoryFiles.erase(it);
    s.memoryFiles[targetKey] = std::move(data);
    return true;
  }
  // Where nothing stands yet (the usual case) one call does it, in the
  // folder kept open since the file was created there.
  // (The folders are compared by name: a descriptor number, once closed, may
  // come back for another folder.)
  size_t cut = source.rfind('/');
  bool sameFolder = cut != std::string::npos && target.size() > cut + 1 &&
                    target.compare(0, cut + 1, source, 0, cut + 1) == 0 &&
                    target.find('/', cut + 1) == std::string::npos;
  std::string sourceName = source, targetName = target;
  int folder = sameFolder ? FolderOf(target, &targetName) : AT_FDCWD;
  if (folder != AT_FDCWD) sourceName = source.substr(cut + 1);
  if (renameat2(folder, sourceName.c_str(), folder, targetName.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EEXIST && errno != EINVAL && errno != ENOENT) return false;   // EINVAL: no such rename here
  // Only a writable regular file is replaced: like Windows, which refuses to
  // replace a read-only file, and never a folder, a device or a pipe.
  struct stat info;
  if (lstat(target.c_str(), &info) == 0 && (!S_ISREG(info.st_mode) || !(info.st_mode & S_IWUSR)))
    return false;
  return rename(source.c_str(), target.c_str()) == 0;
}

bool DeleteFileAt(const char* path) {
  HostSettings& s = Settings();
  std::string hostPath = host::ToHostPath(path);
  if (s.memoryFileSystem) return s.memoryFiles.erase(NormalKey(hostPath)) != 0;
  return unlink(hostPath.c_str()) == 0;
}

void SetFileTimes(FileHandle handle, const FileStamp& stamp) {
  HostFile* file = AsFile(handle);
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
  if (!file || file->kind != HostFile::Real || !host::StampToUnix(stamp, times[1])) return;
  futimens(file->fd, times);
}

// ---- folders -----------------------------------------------------------------

PathKind FindPath(const char* path) {
  HostSettings& s = Settings();
  std::string hostPath = host::ToHostPath(path);
  if (hostPath.empty()) return PathMissing;
  if (s.memoryFileSystem) {
    std::string key = NormalKey(hostPath);
    if (s.memoryFiles.count(key)) return PathFile;
    return MemoryFolderExists(key) ? PathFolder : PathMissing;
  }
  struct stat info;
  if (stat(hostPath.c_str(), &info) != 0) return PathMissing;
  return S_ISDIR(info.st_mode) ? PathFolder : PathFile;
}

bool FindAny(const char* pattern) {
  std::string hostPath = host::ToHostPath(pattern);
  if (hostPath.empty()) return false;
  size_t slash = hostPath.rfind('/');
  std::string last = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
  if (last.find_first_of("*?") == std::string::npos) {
    // A plain name: a search with a trailing separator finds nothing, as on Windows.
    if (last.empty()) return false;
    return NameExists(hostPath);
  }
  std::string folder = slash == std::string::npos ? "" : hostPath.substr(0, slash);
  if (slash == 0) folder = "/";
  std::vector<std::string> names;
  if (!FolderEntries(folder, names)) return false;
  for (const std::string& name : names)
    if (MatchesPattern(last, name)) return true;
  // Every folder except a drive root also lists its own "." entry.
  std::string windows = pattern;
  if (windows.size() >= 2 && windows[1] == ':') windows.erase(0, 2);
  size_t windowsSlash = windows.find_last_of("\\/");
  bool driveRoot = windowsSlash == 0;
  if (driveRoot) return false;
  return MatchesPattern(last, ".");
}

bool MakeFolder(const char* path) {
  std::string hostPath = host::ToHostPath(path);
  HostSettings& s = Settings();
  if (s.memoryFileSystem) {
    std::string key = NormalKey(hostPath);
    if (key.empty() || NameExists(key) || !MemoryFolderExists(ParentKey(key))) return false;
    s.memoryFolders.push_back(key);
    return true;
  }
  return mkdir(hostPath.c_str(), 0755) == 0;
}

uint32_t GetTempFolder(char* buffer, uint32_t size) {
  return CopyAnswer(Settings().tempFolder, buffer, size);
}

uint32_t GetCurrentFolder(char* buffer, uint32_t size) {
  return CopyAnswer(Settings().currentFolder, buffer, size);
}

void ShortenPath(char*, uint32_t) {}  // no short names on the host

// ---- process -----------------------------------------------------------------

const char* GetCommandLineText() { return Settings().commandLine.c_str(); }

// ---- user interface ----------------------------------------------------------

void ShowMessage(const char* text, const char* caption, uint32_t icon) {
  HostSettings& s = Settings();
  s.messages.push_back(HostMessage{text ? text : "", caption ? caption : "", icon, s.utf8Texts});
  if (s.messageHandler) s.messageHandler(s.messages.back());
}

uint32_t AskPassword(char* buffer) {
  HostSettings& s = Settings();
  s.passwordPrompts++;
  std::string answer;
  if (s.passwordHandler) {
    answer = s.passwordHandler();
  } else if (!s.passwordAnswers.empty()) {
    answer = s.passwordAnswers.front();
    s.passwordAnswers.pop_front();
  }
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(answer.size(), 79));
  memcpy(buffer, answer.data(), n);
  buffer[n] = 0;
  return n;
}

void ShowProgress(WindowHandle dialog, const char* text) {
  HostDialog* d = static_cast<HostDialog*>(dialog);
  if (!d || !d->hasProgressField || !text) return;   // the host shows every text at once
  d->progress = text;
  d->progressLog.push_back(d->progress);
}

void PumpOneMessage() {
  HostSettings& s = Settings();
  s.pumped++;
  if (s.pumpHandler) s.pumpHandler();
}

void ShellOpen(const char* program, const char* parameters) {
  Settings().launches.push_back(HostLaunch{program ? program : "", parameters ? parameters : ""});
}

// ---- memory ------------------------------------------------------------------

void* Allocate(size_t size) {
  char* raw = static_cast<char*>(calloc(SizePrefix + (size ? size : 1), 1));
  if (!raw) {
    fputs("Error: out of memory\n", stderr);
    abort();
  }
  memcpy(raw, &size, sizeof size);
  counters.liveBytes += (long long)size;
  counters.liveBlocks++;
  if (counters.liveBytes > counters.peakBytes) counters.peakBytes = counters.liveBytes;
  return raw + SizePrefix;
}

void Release(void* block) {
  if (!block) return;
  char* raw = static_cast<char*>(block) - SizePrefix;
  size_t size;
  memcpy(&size, raw, sizeof size);
  counters.liveBytes -= (long long)size;
  counters.liveBlocks--;
  free(raw);
}

// ---- entry list ----------------------------------------------------------------

std::vector<HostListItem>& HostList::Items() {
  if (sorted_ < items_.size()) {
    // Stable throughout: equal names keep the order in which they were added,
    // as a list box puts a new item after the equal ones.
    auto before = [](const HostListItem& a, const HostListItem& b) { return a.key < b.key; };
    auto middle = items_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    std::stable_sort(middle, items_.end(), before);
    std::inplace_merge(items_.begin(), middle, items_.end(), before);
    sorted_ = items_.size();
  }
  return items_;
}

ListHandle GetEntryList(WindowHandle dialog, int id) {
  HostDialog* d = static_cast<HostDialog*>(dialog);
  if (!d) return nullptr;
  return static_cast<ListHandle>(&d->lists[id]);
}

void ListClear(ListHandle list) {
  if (!list) return;
  HostList* l = static_cast<HostList*>(list);
  l->items_.clear();
  l->sorted_ = 0;
}

void ListAdd(ListHandle list, const char* name) {
  if (!list) return;
  std::string text = name ? name : "";
  std::string key = host::ListKey(text);
  static_cast<HostList*>(list)->items_.push_back(
      HostListItem{std::move(text), false, Settings().utf8Texts, std::move(key)});
}

int ListFind(ListHandle list, int after, const char* name) {
  auto* items = AsList(list);
  if (!items || !name || !name[0]) return -1;  // a list box finds no empty name
  std::string key = host::ListKey(name);
  return FindInSortedList(static_cast<int>(items->size()), after,
                          [&](int index) { return (*items)[index].key.compare(key); });
}

bool ListIsSelected(ListHandle list, int index) {
  auto* items = AsList(list);
  if (!items || index < 0 || index >= static_cast<int>(items->size())) return false;
  return (*items)[index].selected;
}

void ListSelect(ListHandle list, int index, bool selected) {
  auto* items = AsList(list);
  if (!items) return;
  if (index == -1) {
    for (auto& item : *items) item.selected = selected;
  } else if (index >= 0 && index < static_cast<int>(items->size())) {
    (*items)[index].selected = selected;
  }
}

int ListCount(ListHandle list) {
  auto* items = AsList(list);
  return items ? static_cast<int>(items->size()) : 0;
}

int ListSelectedCount(ListHandle list) {
  auto* items = AsList(list);
  if (!items) return 0;
  return static_cast<int>(std::count_if(items->begin(), items->end(),
                                        [](const HostListItem& item) { return item.selected; }));
}
