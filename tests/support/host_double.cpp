// The test double of the seam: the Linux seam's real files, or files and
// folders held in memory, with every call counted and faults on request.
#include "tests/support/host_double.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <deque>
#include <set>

#include "base/state.h"

namespace {

// A file of the double's own; the Linux seam's handles are passed on to it.
struct MemoryFile {
  enum Kind { Reader, Sink, FsReader, FsWriter } kind;
  explicit MemoryFile(Kind k) : kind(k) {}
  const uint8_t* data = nullptr;  // Reader
  size_t size = 0;
  size_t position = 0;            // Reader, FsReader
  std::string* sink = nullptr;    // Sink
  std::string key;                // Fs*: mapped host path
};

struct DoubleSettings {
  std::vector<HostMessage> messages;
  std::deque<std::string> passwordAnswers;
  int passwordPrompts = 0;
  std::function<void()> pumpHandler;
  int pumped = 0;
  bool memoryFileSystem = false;
  std::map<std::string, std::string> memoryFiles;
  std::vector<std::string> memoryFolders;
  std::string failMovesOnto;
  std::set<FileHandle> memoryHandles;
  size_t allocationLimit = SIZE_MAX;
  host::ThreadOrder threadOrder = host::ThreadOrder::Refused;
  ThreadWork pendingWork = nullptr;   // EndsWhenWaited: the work not run yet
  void* pendingArgument = nullptr;
  std::vector<std::string> movedOnto;
  bool latin1 = false;
};

DoubleSettings& Settings() {
  static DoubleSettings settings;
  return settings;
}

host::HostCounters counters;
// Each block is preceded by its size, in a prefix that keeps the alignment
// of what calloc returns.
const size_t SizePrefix = 16;

MemoryFile* AsMemory(FileHandle handle) {
  return Settings().memoryHandles.count(handle) ? static_cast<MemoryFile*>(handle) : nullptr;
}

FileHandle NewMemoryFile(MemoryFile* file) {
  Settings().memoryHandles.insert(file);
  return static_cast<FileHandle>(file);
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
  DoubleSettings& s = Settings();
  if (key.empty() || key == "/" || key == NormalKey(host::ToHostPath("\\"))) return true;
  return std::find(s.memoryFolders.begin(), s.memoryFolders.end(), key) != s.memoryFolders.end();
}

bool MemoryNameExists(const std::string& hostPath) {
  std::string key = NormalKey(hostPath);
  return Settings().memoryFiles.count(key) != 0 || MemoryFolderExists(key);
}

bool MemoryFolderEntries(const std::string& folder, std::vector<std::string>& names) {
  DoubleSettings& s = Settings();
  std::string key = NormalKey(folder);
  if (!MemoryFolderExists(key)) return false;
  auto consider = [&](const std::string& path) {
    if (path != key && ParentKey(path) == key) names.push_back(path.substr(path.rfind('/') + 1));
  };
  for (auto& file : s.memoryFiles) consider(file.first);
  for (auto& sub : s.memoryFolders) consider(sub);
  return true;
}

uint32_t AnswerPrompt(char* buffer) {
  DoubleSettings& s = Settings();
  s.passwordPrompts++;
  std::string answer;
  if (!s.passwordAnswers.empty()) {
    answer = s.passwordAnswers.front();
    s.passwordAnswers.pop_front();
  }
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(answer.size(), 79));
  memcpy(buffer, answer.data(), n);
  buffer[n] = 0;
  return n;
}

}  // namespace

// ---- test controls -------------------------------------------------------------

namespace host {

std::vector<HostMessage>& Messages() { return Settings().messages; }

void SetPasswordAnswers(const std::vector<std::string>& answers) {
  Settings().passwordAnswers.assign(answers.begin(), answers.end());
}
int PasswordPrompts() { return Settings().passwordPrompts; }

void SetPumpHandler(std::function<void()> handler) { Settings().pumpHandler = std::move(handler); }
int PumpedMessages() { return Settings().pumped; }

FileHandle OpenMemoryFile(const void* data, size_t size) {
  MemoryFile* file = new MemoryFile(MemoryFile::Reader);
  file->data = static_cast<const uint8_t*>(data);
  file->size = size;
  return NewMemoryFile(file);
}

FileHandle CreateMemorySink(std::string* sink) {
  MemoryFile* file = new MemoryFile(MemoryFile::Sink);
  file->sink = sink;
  return NewMemoryFile(file);
}

void UseMemoryFileSystem(bool on) { Settings().memoryFileSystem = on; }
std::map<std::string, std::string>& MemoryFiles() { return Settings().memoryFiles; }
std::vector<std::string>& MemoryFolders() { return Settings().memoryFolders; }

HostCounters& Counters() { return counters; }

void ResetCounters() {
  HostCounters fresh;
  fresh.liveBytes = fresh.peakBytes = counters.liveBytes;
  fresh.liveBlocks = counters.liveBlocks;
  counters = fresh;
}

void SetWriteLimit(size_t bytes) { SetOutputLimit(bytes); }
void SetFailingMoves(const std::string& name) { Settings().failMovesOnto = name; }
void SetAllocationLimit(size_t bytes) { Settings().allocationLimit = bytes; }

void SetThreadOrder(ThreadOrder order) { Settings().threadOrder = order; }
void SetLatin1CodePage(bool on) { Settings().latin1 = on; }
std::vector<std::string>& MovedOnto() { return Settings().movedOnto; }

void Reset() {
  ResetSeam();
  Settings() = DoubleSettings();
  AskPassword = AnswerPrompt;
}

}  // namespace host

// ---- files -------------------------------------------------------------------

FileHandle OpenReadFile(const char* path) {
  DoubleSettings& s = Settings();
  if (!s.memoryFileSystem) return host::OpenReadFile(path);
  std::string key = NormalKey(host::ToHostPath(path));
  if (!s.memoryFiles.count(key)) return NoFile;
  MemoryFile* file = new MemoryFile(MemoryFile::FsReader);
  file->key = key;
  return NewMemoryFile(file);
}

FileHandle CreateNewFile(const char* path) {
  DoubleSettings& s = Settings();
  if (!s.memoryFileSystem) return host::CreateNewFile(path);
  std::string key = NormalKey(host::ToHostPath(path));
  if (key.empty() || MemoryFolderExists(key) || s.memoryFiles.count(key) ||
      !MemoryFolderExists(ParentKey(key)))
    return NoFile;
  s.memoryFiles[key].clear();
  MemoryFile* file = new MemoryFile(MemoryFile::FsWriter);
  file->key = key;
  return NewMemoryFile(file);
}

bool KeepNewFile(FileHandle handle) { return AsMemory(handle) ? true : host::KeepNewFile(handle); }

uint32_t ReadFileBytes(FileHandle handle, void* buffer, uint32_t count) {
  counters.reads++;
  MemoryFile* file = AsMemory(handle);
  if (!file) return host::ReadFileBytes(handle, buffer, count);
  const uint8_t* data = file->data;
  size_t size = file->size;
  if (file->kind == MemoryFile::FsReader) {
    auto it = Settings().memoryFiles.find(file->key);
    if (it == Settings().memoryFiles.end()) return 0;
    data = reinterpret_cast<const uint8_t*>(it->second.data());
    size = it->second.size();
  } else if (file->kind != MemoryFile::Reader) {
    return 0;
  }
  if (file->position >= size) return 0;
  uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, size - file->position));
  memcpy(buffer, data + file->position, n);
  file->position += n;
  return n;
}

uint32_t WriteFileBytes(FileHandle handle, const void* buffer, uint32_t count) {
  counters.writes++;
  counters.writeSizes.push_back(count);
  MemoryFile* file = AsMemory(handle);
  if (!file) return host::WriteFileBytes(handle, buffer, count);
  const char* in = static_cast<const char*>(buffer);
  if (file->kind == MemoryFile::Sink) {
    file->sink->append(in, count);
    return count;
  }
  if (file->kind != MemoryFile::FsWriter) return 0;
  Settings().memoryFiles[file->key].append(in, count);
  return count;
}

uint32_t SeekFile(FileHandle handle, uint32_t offset) {
  MemoryFile* file = AsMemory(handle);
  if (!file) return host::SeekFile(handle, offset);
  if (file->kind == MemoryFile::Sink || file->kind == MemoryFile::FsWriter) return 0xFFFFFFFF;  // sinks only append
  // Like SetFilePointer: a position beyond the end is allowed; reads there return nothing.
  file->position = offset;
  return offset;
}

bool CloseFileHandle(FileHandle handle) {
  MemoryFile* file = AsMemory(handle);
  if (!file) return host::CloseFileHandle(handle);
  Settings().memoryHandles.erase(handle);
  delete file;
  return true;
}

namespace {

bool MoveInDouble(const char* from, const char* to) {
  DoubleSettings& s = Settings();
  std::string target = host::ToHostPath(to);
  const std::string& failing = s.failMovesOnto;
  if (!failing.empty() && target.size() >= failing.size() &&
      target.compare(target.size() - failing.size(), failing.size(), failing) == 0)
    return false;
  if (!s.memoryFileSystem) return host::MoveOntoFile(from, to);
  std::string sourceKey = NormalKey(host::ToHostPath(from)), targetKey = NormalKey(target);
  auto it = s.memoryFiles.find(sourceKey);
  if (it == s.memoryFiles.end() || MemoryFolderExists(targetKey)) return false;
  std::string data = std::move(it->second);
  s.memoryFiles.erase(it);
  s.memoryFiles[targetKey] = std::move(data);
  return true;
}

}  // namespace

bool MoveOntoFile(const char* from, const char* to) {
  bool moved = MoveInDouble(from, to);
  if (moved) Settings().movedOnto.push_back(to);
  return moved;
}

bool DeleteFileAt(const char* path) {
  DoubleSettings& s = Settings();
  if (!s.memoryFileSystem) return host::DeleteFileAt(path);
  return s.memoryFiles.erase(NormalKey(host::ToHostPath(path))) != 0;
}

void SetFileTimes(FileHandle handle, const FileStamp& stamp) {
  if (!AsMemory(handle)) host::SetFileTimes(handle, stamp);
}

// ---- folders -----------------------------------------------------------------

PathKind FindPath(const char* path) {
  DoubleSettings& s = Settings();
  if (!s.memoryFileSystem) return host::FindPath(path);
  std::string hostPath = host::ToHostPath(path);
  if (hostPath.empty()) return PathMissing;
  std::string key = NormalKey(hostPath);
  if (s.memoryFiles.count(key)) return PathFile;
  return MemoryFolderExists(key) ? PathFolder : PathMissing;
}

bool FindAny(const char* pattern) {
  if (!Settings().memoryFileSystem) return host::FindAny(pattern);
  return host::FindMatching(pattern, MemoryNameExists, MemoryFolderEntries);
}

bool MakeFolder(const char* path) {
  DoubleSettings& s = Settings();
  if (!s.memoryFileSystem) return host::MakeFolder(path);
  std::string key = NormalKey(host::ToHostPath(path));
  if (key.empty() || MemoryNameExists(key) || !MemoryFolderExists(ParentKey(key))) return false;
  s.memoryFolders.push_back(key);
  return true;
}

// ---- user interface ----------------------------------------------------------

void ShowMessage(const char* text, const char* caption, uint32_t icon) {
  DoubleSettings& s = Settings();
  s.messages.push_back(HostMessage{text ? text : "", caption ? caption : "", icon, host::Utf8Texts()});
  host::TellHandler(s.messages.back());
}

void PumpOneMessage() {
  DoubleSettings& s = Settings();
  s.pumped++;
  if (s.pumpHandler) s.pumpHandler();
}

// ---- text encoding -------------------------------------------------------------

uint32_t AnsiToUtf8(const char* text, char* buffer, uint32_t size) {
  if (!Settings().latin1) return 0;
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    if (*p < 0x80) out += static_cast<char>(*p);
    else out += {static_cast<char>(0xC0 | *p >> 6), static_cast<char>(0x80 | (*p & 0x3F))};
  }
  if (out.size() + 1 > size) return 0;
  memcpy(buffer, out.c_str(), out.size() + 1);
  return static_cast<uint32_t>(out.size());
}

void Utf8ToAnsi(char* text) {
  if (!Settings().latin1) return;
  char* out = text;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) {
    unsigned char c = *p;
    if (c >= 0xC0 && p[1]) c = static_cast<unsigned char>((c & 0x03) << 6 | (p[1] & 0x3F)), p++;
    *out++ = static_cast<char>(c);
  }
  *out = 0;
}

// ---- a second thread ---------------------------------------------------------

ThreadHandle StartThread(ThreadWork work, void* argument) {
  DoubleSettings& s = Settings();
  if (s.threadOrder == host::ThreadOrder::Refused) return nullptr;
  if (s.threadOrder == host::ThreadOrder::EndsAtOnce) {
    work(argument);
  } else {
    s.pendingWork = work;
    s.pendingArgument = argument;
  }
  return &s.pendingWork;   // any handle will do: one thread at a time
}

bool ThreadEnded(ThreadHandle, bool wait) {
  DoubleSettings& s = Settings();
  if (s.pendingWork) {
    if (!wait) return false;
    ThreadWork work = s.pendingWork;
    s.pendingWork = nullptr;
    work(s.pendingArgument);
  }
  return true;
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

void* TryAllocate(size_t size) {
  if (size > Settings().allocationLimit) return nullptr;
  return Allocate(size);
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
