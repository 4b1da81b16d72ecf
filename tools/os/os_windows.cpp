// The packaging tool's operating-system layer on Windows: wide (UTF-16) calls
// under UTF-8 names, and long paths through the \\?\ prefix.
#include "tools/os/os.h"

#include <windows.h>
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdlib.h>

#include "platform/wide.h"

namespace os {

const char* const PathSeparators = "/\\";
const char Separator = '\\';
const bool UnicodeNames = true;

namespace {

// 100 ns steps since 1601 -> seconds since 1970.
int64_t UnixSeconds(const FILETIME& time) {
  uint64_t ticks = (uint64_t)time.dwHighDateTime << 32 | time.dwLowDateTime;
  return (int64_t)(ticks / 10000000) - 11644473600LL;
}

// The folder part of a path, for messages and for files made beside it.
std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of(PathSeparators);
  if (cut == std::string::npos) return ".";
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
  size_t cut = path.find_last_of(PathSeparators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Twelve random hex digits, for names nobody else picks.
std::string RandomTag() {
  uint8_t bytes[6];
  if (!RandomBytes(bytes, sizeof bytes)) {
    uint64_t ticks = GetTickCount64() ^ GetCurrentProcessId();
    memcpy(bytes, &ticks, sizeof bytes);
  }
  static const char digits[] = "0123456789abcdef";
  std::string tag;
  for (uint8_t b : bytes) {
    tag += digits[b >> 4];
    tag += digits[b & 15];
  }
  return tag;
}

// Whether a Unix system would run the file, from its first bytes, as Unix
// packers give it an execute bit: a script ("#!"), or an ELF program (fixed
// address, or with a program interpreter), not a shared library.
bool LooksRunnable(HANDLE file) {
  uint8_t head[4096];
  DWORD got = 0;
  OVERLAPPED at = {};
  if (!ReadFile(file, head, sizeof head, &got, &at)) return false;
  if (got >= 2 && head[0] == '#' && head[1] == '!') return true;
  if (got < 52 || memcmp(head, "\x7f" "ELF", 4) != 0 || head[5] != 1) return false;   // little-endian only
  auto le = [&](size_t at, int bytes) {
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; i--) value = value << 8 | head[at + i];
    return value;
  };
  bool wide = head[4] == 2;
  uint64_t type = le(16, 2);
  if (type == 2) return true;   // ET_EXEC
  uint64_t table = wide ? le(32, 8) : le(28, 4);
  uint64_t entrySize = le(wide ? 54 : 42, 2), count = le(wide ? 56 : 44, 2);
  for (uint64_t i = 0; type == 3 && entrySize >= 4 && i < count; i++) {   // ET_DYN: look for PT_INTERP
    uint64_t entry = table + i * entrySize;
    if (entry + 4 > got) break;
    if (le((size_t)entry, 4) == 3) return true;
  }
  return false;
}

// A symbolic link or a junction: a reparse point that names another path.
bool IsLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

UINT consoleCodePage;   // the console's own, given back at the end

void RestoreConsole() { SetConsoleOutputCP(consoleCodePage); }

}  // namespace

std::vector<std::string> Arguments(int, char**) {
  // What the tool prints is UTF-8; the console is left as it was found.
  consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage && consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) atexit(RestoreConsole);
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wideArguments = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 0; i < count; i++) arguments.push_back(wide::ToUtf8(std::wstring(wideArguments[i])));
  LocalFree(wideArguments);
  return arguments;
}

std::string LastError() {
  DWORD code = GetLastError();
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, (wchar_t*)&text, 0, nullptr);
  std::string reason = n ? wide::ToUtf8(text, n) : "error " + std::to_string(code);
  LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == '.' ||
                             reason.back() == ' '))
    reason.pop_back();
  return reason;
}

FileStatus Status(const std::string& path, bool follow) {
  FileStatus status;
  std::wstring wide = wide::LongPath(path);
  if (wide.empty()) return status;
  WIN32_FILE_ATTRIBUTE_DATA own;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &own)) return status;
  if (!follow && (own.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(wide.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      FindClose(search);
      if (IsLinkTag(found.dwReserved0)) {
        status.kind = FileStatus::Link;
        return status;
      }
    }
  }
  // Opened, so that links lead to what they name and the file's identity is known.
  bool folder = own.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE file = CreateFileW(wide.c_str(), folder ? FILE_READ_ATTRIBUTES : GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE && !folder)
    file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) return status;   // a dangling link, when following
  BY_HANDLE_FILE_INFORMATION info;
  DWORD type = GetFileType(file);
  if (type == FILE_TYPE_CHAR) status.kind = FileStatus::Device;
  else if (type == FILE_TYPE_PIPE) status.kind = FileStatus::Pipe;
  else if (GetFileInformationByHandle(file, &info)) {
    status.kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? FileStatus::Folder : FileStatus::File;
    status.size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    status.mtime = UnixSeconds(info.ftLastWriteTime);
    status.modified = (int64_t)((uint64_t)info.ftLastWriteTime.dwHighDateTime << 32 | info.ftLastWriteTime.dwLowDateTime);
    status.volume = info.dwVolumeSerialNumber;
    status.id = (uint64_t)info.nFileIndexHigh << 32 | info.nFileIndexLow;
    status.runnable = status.kind == FileStatus::File && LooksRunnable(file);
  }
  CloseHandle(file);
  return status;
}

bool ListFolder(const std::string& path, std::vector<std::string>& names) {
  std::wstring pattern = wide::LongPath(path);
  if (pattern.empty()) return false;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;   // an empty drive
  do {
    if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0) continue;
    names.push_back(wide::ToUtf8(std::wstring(found.cFileName)));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryW(wide::LongPath(path).c_str(), nullptr) ||
         (GetLastError() == ERROR_ALREADY_EXISTS && Status(path, true).kind == FileStatus::Folder);
}

bool RemoveFile(const std::string& path) { return DeleteFileW(wide::LongPath(path).c_str()); }
bool RemoveFolder(const std::string& path) { return RemoveDirectoryW(wide::LongPath(path).c_str()); }

bool Replace(const std::string& from, const std::string& to) {
  return MoveFileExW(wide::LongPath(from).c_str(), wide::LongPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool RenameNew(const std::string& from, const std::string& to) {
  return MoveFileExW(wide::LongPath(from).c_str(), wide::LongPath(to).c_str(), MOVEFILE_WRITE_THROUGH);
}

std::string AbsolutePath(const std::string& path) {
  std::wstring full = wide::LongPath(path);
  if (full.compare(0, 8, L"\\\\?\\UNC\\") == 0) return "\\\\" + wide::ToUtf8(full.substr(8));
  if (full.compare(0, 4, L"\\\\?\\") == 0) return wide::ToUtf8(full.substr(4));
  return path;
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) || (path.size() >= 2 && path[1] == ':');
}

std::string ShortPath(const std::string& path) {
  std::wstring full = wide::LongPath(path);
  DWORD n = GetShortPathNameW(full.c_str(), nullptr, 0);
  std::wstring shortPath(n, L'\0');
  n = n ? GetShortPathNameW(full.c_str(), &shortPath[0], n) : 0;
  if (n == 0 || n >= shortPath.size()) return path;
  shortPath.resize(n);
  return AbsolutePath(wide::ToUtf8(shortPath));
}

std::string TempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
  std::string folder = n ? wide::ToUtf8(buffer, n) : "C:\\Windows\\Temp";
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

std::string MakeTempFolder(const std::string& prefix) {
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string folder = TempFolder() + "\\" + prefix + "." + RandomTag();
    if (CreateDirectoryW(wide::LongPath(folder).c_str(), nullptr)) return folder;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  return "";
}

bool File::Open(const std::string& path) {
  Close();
  HANDLE file = CreateFileW(wide::LongPath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = (intptr_t)file;
  return IsOpen();
}

void File::Close() {
  if (handle_ != Invalid) CloseHandle((HANDLE)handle_);
  handle_ = Invalid;
}

uint64_t File::Size() const {
  LARGE_INTEGER size;
  return handle_ != Invalid && GetFileSizeEx((HANDLE)handle_, &size) ? (uint64_t)size.QuadPart : 0;
}

int64_t File::Modified() const {
  FILETIME written;
  if (handle_ == Invalid || !GetFileTime((HANDLE)handle_, nullptr, nullptr, &written)) return 0;
  return (int64_t)((uint64_t)written.dwHighDateTime << 32 | written.dwLowDateTime);
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  size_t done = 0;
  while (handle_ != Invalid && done < size) {
    OVERLAPPED at = {};
    uint64_t position = offset + done;
    at.Offset = (DWORD)position;
    at.OffsetHigh = (DWORD)(position >> 32);
    DWORD want = size - done > (1u << 30) ? (1u << 30) : (DWORD)(size - done), got = 0;
    if (!ReadFile((HANDLE)handle_, (char*)buffer + done, want, &got, &at) || got == 0) break;
    done += got;
  }
  return done;
}

// ---- the package being written ----

namespace {

wchar_t pendingPath[33000];   // fixed room: the control handler runs on its own thread at any moment
void (*volatile onInterrupt)() = nullptr;
volatile LONG interrupted = 0;

void EndInterrupted() {
  // The file is open with FILE_SHARE_DELETE: it goes when the process ends.
  if (pendingPath[0]) DeleteFileW(pendingPath);
  if (consoleCodePage) SetConsoleOutputCP(consoleCodePage);
  ExitProcess(STATUS_CONTROL_C_EXIT);   // as the default handler would, with the code a script can test
}

BOOL WINAPI OnBreak(DWORD) {
  if (onInterrupt) {   // the work stops by itself and cleans up
    interrupted = 1;
    onInterrupt();
    return TRUE;
  }
  EndInterrupted();
  return TRUE;
}

}  // namespace

void CatchInterrupt(void (*handler)()) {
  interrupted = 0;
  onInterrupt = handler;
  SetConsoleCtrlHandler(OnBreak, TRUE);
}

void EndCatchingInterrupt() {
  onInterrupt = nullptr;
  if (interrupted) EndInterrupted();
}

FILE* CreatePending(const std::string& target, std::string& path, std::string& error) {
  std::string folder = FolderOf(target);
  std::wstring temp;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; attempt++) {
    path = folder + "\\." + NameOf(target) + "." + RandomTag();
    temp = wide::LongPath(path);
    if (temp.size() >= sizeof pendingPath / sizeof pendingPath[0]) {
      error = "the output path is too long";
      return nullptr;
    }
    file = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create a file in " + folder + ": " + LastError();
    return nullptr;
  }
  wcscpy(pendingPath, temp.c_str());
  SetConsoleCtrlHandler(OnBreak, TRUE);
  int fd = _open_osfhandle((intptr_t)file, _O_WRONLY | _O_BINARY);
  FILE* stream = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (!stream) {
    error = "cannot create a file in " + folder;
    if (fd >= 0) _close(fd);
    else CloseHandle(file);
    DiscardPending();
  }
  return stream;
}

bool ClosePending(FILE* file, std::string& error) {
  bool ok = fflush(file) == 0 && FlushFileBuffers((HANDLE)_get_osfhandle(_fileno(file)));
  if (!ok) error = "cannot write the package: " + LastError();
  if (fclose(file) != 0 && ok) {
    ok = false;
    error = "cannot write the package: " + LastError();
  }
  return ok;
}

bool PublishPending(const std::string& target, std::string& error) {
  std::wstring to = wide::LongPath(target);
  // A virus scanner or an indexer may hold the old package open for a moment.
  bool moved = false;
  for (int attempt = 0; attempt < 20 && !moved; attempt++) {
    moved = MoveFileExW(pendingPath, to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    DWORD why = moved ? 0 : GetLastError();
    if (why != ERROR_ACCESS_DENIED && why != ERROR_SHARING_VIOLATION) break;
    Sleep(100);
  }
  if (!moved) {
    error = "cannot create " + target + ": " + LastError();
    DiscardPending();
    return false;
  }
  pendingPath[0] = 0;
  return true;
}

void DiscardPending() {
  if (pendingPath[0]) DeleteFileW(pendingPath);
  pendingPath[0] = 0;
}

// ---- memory ----

uint8_t* MapScratch(size_t size, const std::string& folder, std::string& error) {
  std::string path = folder + "\\.tolvane-pack." + RandomTag();
  // Deleted when the last handle goes, which the view holds: however the run ends.
  HANDLE file = CreateFileW(wide::LongPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create a temporary file in " + folder + ": " + LastError();
    return nullptr;
  }
  // The room is taken now, so that a full disk fails here and not in a write to the view.
  LARGE_INTEGER end;
  end.QuadPart = (LONGLONG)size;
  HANDLE mapping = nullptr;
  void* view = nullptr;
  if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file)) {
    mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mapping) view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size);
  }
  if (!view)
    error = "no room for a temporary file of " + std::to_string(size) + " bytes in " + folder + ": " + LastError();
  if (mapping) CloseHandle(mapping);
  CloseHandle(file);
  return (uint8_t*)view;
}

void UnmapScratch(uint8_t* data, size_t) {
  if (data) UnmapViewOfFile(data);
}

// ---- the console ----

bool IsTerminal(FILE* stream) {
  DWORD mode;
  return GetConsoleMode((HANDLE)_get_osfhandle(_fileno(stream)), &mode);
}

bool ReadSecret(const std::string& prompt, std::string& answer) {
  HANDLE in = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
  HANDLE out = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  DWORD mode;
  if (in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) {
    if (in != INVALID_HANDLE_VALUE) CloseHandle(in);
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    return false;
  }
  // Echo goes off before the prompt shows, so nothing typed after it is seen.
  SetConsoleMode(in, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
  std::wstring text = wide::FromUtf8(prompt);
  DWORD count;
  if (out != INVALID_HANDLE_VALUE) WriteConsoleW(out, text.c_str(), (DWORD)text.size(), &count, nullptr);
  std::wstring typed;
  wchar_t c;
  while (ReadConsoleW(in, &c, 1, &count, nullptr) && count == 1 && c != L'\r' && c != L'\n') typed += c;
  SetConsoleMode(in, mode);
  if (out != INVALID_HANDLE_VALUE) {
    WriteConsoleW(out, L"\r\n", 2, &count, nullptr);
    CloseHandle(out);
  }
  CloseHandle(in);
  answer = wide::ToUtf8(typed);
  SecureZeroMemory(&typed[0], typed.size() * sizeof(wchar_t));
  return true;
}

// ---- time and chance ----

bool LocalTime(int64_t seconds, struct tm& parts) {
  __time64_t t = seconds;
  return _localtime64_s(&parts, &t) == 0;
}

bool UtcTime(int64_t seconds, struct tm& parts) {
  __time64_t t = seconds;
  return _gmtime64_s(&parts, &t) == 0;
}

bool RandomBytes(void* out, size_t size) {
  return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, (PUCHAR)out, (ULONG)size, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

std::string Environment(const char* name) {
  const wchar_t* value = _wgetenv(wide::FromUtf8(name).c_str());
  return value ? wide::ToUtf8(std::wstring(value)) : "";
}

}  // namespace os
