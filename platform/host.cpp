// The Linux seam, the part the tools and the test double share: settings,
// path mapping, texts, the entry list, progress and the recorded launches.
#include "platform/host.h"
#include "platform/sorted_find.h"

#include <ctype.h>
#include <locale.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <wctype.h>

#include <algorithm>

namespace {

struct HostSettings {
  std::string root;
  std::string programPath;
  std::string commandLine;
  std::string tempFolder;
  std::string currentFolder;
  std::function<void(const HostMessage&)> messageHandler;
  std::vector<HostLaunch> launches;
  bool utf8Texts = false;
  bool launchStarts = true;
  uint32_t launchExitCode = 0;
  bool logOpen = false;
  std::vector<std::string> logLines;
};

HostSettings& Settings() {
  static HostSettings settings;
  return settings;
}

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

void SetMessageHandler(std::function<void(const HostMessage&)> handler) {
  Settings().messageHandler = std::move(handler);
}

void TellHandler(const HostMessage& message) {
  if (Settings().messageHandler) Settings().messageHandler(message);
}

std::vector<HostLaunch>& Launches() { return Settings().launches; }

std::vector<std::string>& LogLines() { return Settings().logLines; }

void CloseLog() { Settings().logOpen = false; }
void SetLaunchOutcome(bool starts, uint32_t exitCode) {
  Settings().launchStarts = starts;
  Settings().launchExitCode = exitCode;
}

bool Utf8Texts() { return Settings().utf8Texts; }

namespace {
size_t OutputLimit = SIZE_MAX;
bool OutputCut;   // of the last file created
bool DeviceFull;
volatile sig_atomic_t ReadsStopped;   // set from a signal handler or a console handler's thread
}  // namespace

void StopReading() { ReadsStopped = 1; }
bool ReadingStopped() { return ReadsStopped != 0; }
void NoteWriteFailure(bool deviceFull) { DeviceFull = DeviceFull || deviceFull; }
bool DiskWasFull() { return DeviceFull; }

void SetOutputLimit(size_t bytes) { OutputLimit = bytes; }
bool OutputWasCut() { return OutputCut; }
void StartOutputFile() { OutputCut = false; }

// The write that crosses the output limit is cut short, as on a full disk.
uint32_t OutputRoom(size_t& written, uint32_t count) {
  size_t room = written >= OutputLimit ? 0 : OutputLimit - written;
  if (count > room) {
    count = static_cast<uint32_t>(room);
    OutputCut = true;
  }
  written += count;
  return count;
}

void ResetSeam() {
  Settings() = HostSettings();
  ForgetOpenFolder();
  SetOutputLimit(SIZE_MAX);
  DeviceFull = false;
  ReadsStopped = 0;
}

}  // namespace host

// ---- text encoding -------------------------------------------------------------

void SetUtf8Texts(bool on) { Settings().utf8Texts = on; }

// AnsiToUtf8 belongs to the files part: the "ANSI" code page is the file system's.

// ---- process -----------------------------------------------------------------

uint32_t GetProgramPath(char* buffer, uint32_t size) {
  const std::string& path = Settings().programPath;
  if (path.empty() || path.size() >= size) return 0;
  memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<uint32_t>(path.size());
}

uint32_t GetTempFolder(char* buffer, uint32_t size) {
  return CopyAnswer(Settings().tempFolder, buffer, size);
}

uint32_t GetCurrentFolder(char* buffer, uint32_t size) {
  return CopyAnswer(Settings().currentFolder, buffer, size);
}

void ShortenPath(char*, uint32_t) {}  // no short names on the host

const char* GetCommandLineText() { return Settings().commandLine.c_str(); }

void SetQuietRun(bool) {}   // the tools report a failed allocation themselves

// ---- paths -------------------------------------------------------------------

namespace {

// A character in upper case, as the file system compares names.
char32_t Folded(char32_t c) {
#ifdef _WIN32
  // The Windows tools decode in turn and never compare; ASCII will do there.
  return c < 0x80 ? (char32_t)toupper((int)c) : c;
#else
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  return utf8 ? (char32_t)towupper_l((wint_t)c, utf8) : c < 0x80 ? (char32_t)toupper((int)c) : c;
#endif
}

// The names of a path as Windows resolves it: '\\' or '/' between them, each
// without its trailing dots and blanks, "." dropped and ".." climbing, each
// character Folded. Bytes that are not UTF-8 stand for themselves.
std::vector<std::u32string> ResolvedNames(const char* path) {
  std::vector<std::u32string> names;
  std::u32string name;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(path);; p++) {
    if (*p == 0 || *p == '\\' || *p == '/') {
      if (name == U"..") {
        if (!names.empty()) names.pop_back();
      } else {
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
        if (!name.empty()) names.push_back(name);
      }
      name.clear();
      if (*p == 0) return names;
      continue;
    }
    char32_t c = *p;
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    bool whole = true;
    for (int i = 1; i <= more && whole; i++) whole = (p[i] & 0xC0) == 0x80;
    if (more && whole) {
      c &= 0x3Fu >> more;
      for (int i = 0; i < more; i++) c = (c << 6) | (*++p & 0x3F);
    }
    name.push_back(Folded(c));
  }
}

}  // namespace

bool SamePath(const char* a, const char* b) { return ResolvedNames(a) == ResolvedNames(b); }

// ---- user interface ----------------------------------------------------------

void ShowProgress(WindowHandle dialog, const char* text) {
  HostDialog* d = static_cast<HostDialog*>(dialog);
  if (!d || !d->hasProgressField || !text) return;   // the host shows every text at once
  d->progress = text;
  d->progressLog.push_back(d->progress);
}

bool OpenLog(const char*) {
  Settings().logOpen = true;
  Settings().logLines.clear();
  return true;
}

// The host's files say nothing more than that a write failed.
const char* SystemErrorText() { return ""; }

void WriteLogLine(const char* first, const char* second, const char* third, const char* fourth) {
  HostSettings& s = Settings();
  if (!s.logOpen) return;
  std::string line;
  for (const char* part : {first, second, third, fourth})
    if (part && *part) line += (line.empty() ? "" : "\t") + std::string(part);
  s.logLines.push_back(line);
}

bool ShellOpen(const char* program, const char* parameters, const char* folder, uint32_t* exitCode) {
  HostSettings& s = Settings();
  s.launches.push_back(HostLaunch{program ? program : "", parameters ? parameters : "", folder ? folder : "",
                                  exitCode != nullptr});
  if (exitCode) *exitCode = s.launchExitCode;
  return s.launchStarts;
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

void ListAdd(ListHandle list, const char* name, uint32_t) {
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
