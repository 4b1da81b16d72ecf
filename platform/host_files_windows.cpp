// The Windows tools' files and folders: the real file system through the
// wide calls, under the seam's names. The Windows twin of host_files.cpp,
// and it behaves as the stub's own seam (win32.cpp) does on Windows.
//
// Paths are Windows paths ("C:\dir\file", "dir\file", '/' or '\') in UTF-8;
// the core's ANSI texts are in the code page SetAnsiCodePage gave. Each is converted to UTF-16 and made an absolute \\?\ path, so that
// no 260-character limit applies; the system normalizes it first as it would
// a path without the prefix (".." folded, trailing dots and spaces of the
// last name dropped), so names mean what they mean to the stub.
#include "platform/host.h"
#include "platform/wide.h"

#include <stdint.h>
#include <string.h>
#include <windows.h>

namespace {

// What a FileHandle points to.
struct HostFile {
  HANDLE handle = INVALID_HANDLE_VALUE;
  size_t written = 0;   // bytes written, against the output limit
};

UINT NameCodePage = 1252;   // of names when the texts are not UTF-8

HostFile* AsFile(FileHandle handle) {
  if (handle == NoFile || handle == nullptr) return nullptr;
  return static_cast<HostFile*>(handle);
}

FileHandle NewFile(HANDLE handle) {
  HostFile* file = new HostFile;
  file->handle = handle;
  return static_cast<FileHandle>(file);
}

// The path as the core gave it, in UTF-16; empty when it does not convert
// (a UTF-8 path that is not valid UTF-8 names nothing, as in the stub).
std::wstring WideName(const char* path) {
  if (!path || !path[0]) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (n <= 1) return std::wstring();
  std::wstring text(static_cast<size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &text[0], n) != n) return std::wstring();
  text.resize(static_cast<size_t>(n) - 1);   // the terminator
  return text;
}

// The path for the system's calls: absolute, with the \\?\ prefix.
std::wstring SystemPath(const char* path) { return wide::LongPath(WideName(path)); }

// The name after the last separator, as the stub takes it.
std::wstring LastName(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/:");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// The first entry a search for 'path' (a name or a pattern) finds.
bool FindFirst(const std::wstring& path, WIN32_FIND_DATAW& found) {
  if (path.empty()) return false;
  HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

}  // namespace

namespace host {

void SetAnsiCodePage(unsigned codePage) { NameCodePage = codePage; }

// Nothing is kept open between calls: the system's own caches serve a
// folder looked up again.
void ForgetOpenFolder() {}

FileHandle OpenReadFile(const char* path) {
  std::wstring name = SystemPath(path);
  if (name.empty()) return NoFile;
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return NoFile;
  // A folder cannot be opened as a file (the system refuses one already
  // without backup semantics; this makes sure).
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    return NoFile;
  }
  return NewFile(handle);
}

FileHandle CreateNewFile(const char* path) {
  std::wstring name = SystemPath(path);
  if (name.empty()) return NoFile;
  HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return NoFile;
  // As the stub does: the system deletes it when the process ends, however
  // it ends, unless KeepNewFile clears this first.
  FILE_DISPOSITION_INFO disposition = {TRUE};
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
  StartOutputFile();
  return NewFile(handle);
}

bool KeepNewFile(FileHandle handle) {
  HostFile* file = AsFile(handle);
  FILE_DISPOSITION_INFO disposition = {FALSE};
  return file && SetFileInformationByHandle(file->handle, FileDispositionInfo, &disposition, sizeof disposition);
}

uint32_t ReadFileBytes(FileHandle handle, void* buffer, uint32_t count) {
  HostFile* file = AsFile(handle);
  if (!file || ReadingStopped()) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    DWORD n = 0;
    if (!ReadFile(file->handle, out + done, count - done, &n, nullptr) || n == 0) break;
    done += n;
  }
  return done;
}

uint32_t WriteFileBytes(FileHandle handle, const void* buffer, uint32_t count) {
  HostFile* file = AsFile(handle);
  if (!file) return 0;
  count = OutputRoom(file->written, count);
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    DWORD n = 0;
    if (!WriteFile(file->handle, in + done, count - done, &n, nullptr)) {
      DWORD why = GetLastError();
      NoteWriteFailure(why == ERROR_DISK_FULL || why == ERROR_HANDLE_DISK_FULL);
      break;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

uint32_t SeekFile(FileHandle handle, uint32_t offset) {
  HostFile* file = AsFile(handle);
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);   // up to 4 GiB - 1, never negative
  if (!file || !SetFilePointerEx(file->handle, position, nullptr, FILE_BEGIN)) return 0xFFFFFFFF;
  return offset;
}

bool CloseFileHandle(FileHandle handle) {
  HostFile* file = AsFile(handle);
  if (!file) return false;
  bool ok = CloseHandle(file->handle) != 0;
  delete file;
  return ok;
}

bool MoveOntoFile(const char* from, const char* to) {
  std::wstring source = SystemPath(from), target = SystemPath(to);
  if (source.empty() || target.empty()) return false;
  // Where nothing stands yet (the usual case) one call does it.
  if (MoveFileExW(source.c_str(), target.c_str(), 0)) return true;
  DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return false;
  // Only a writable regular file is replaced, as in host_files.cpp: never a
  // folder, a device or a link (a name surrogate: a symbolic link or a
  // junction). A reparse point that holds data (a compressed or cloud file)
  // is a regular file. Windows itself refuses a read-only file and a folder.
  DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) return false;
    WIN32_FIND_DATAW found;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        (!FindFirst(target, found) || IsReparseTagNameSurrogate(found.dwReserved0)))
      return false;
  }
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool DeleteFileAt(const char* path) {
  std::wstring name = SystemPath(path);
  return !name.empty() && DeleteFileW(name.c_str()) != 0;
}

void SetFileTimes(FileHandle handle, const FileStamp& stamp) {
  HostFile* file = AsFile(handle);
  if (!file) return;
  // As the stub converts a stamp: DOS fields are the local time of now's bias.
  FILETIME time;
  if (stamp.Utc) {
    time.dwLowDateTime = static_cast<DWORD>(stamp.Utc);
    time.dwHighDateTime = static_cast<DWORD>(stamp.Utc >> 32);
  } else {
    FILETIME local;
    if (!DosDateTimeToFileTime(stamp.DosDate, stamp.DosTime, &local)) return;   // what Windows refuses
    if (!LocalFileTimeToFileTime(&local, &time)) return;
  }
  SetFileTime(file->handle, nullptr, nullptr, &time);
}

PathKind FindPath(const char* path) {
  std::wstring name = WideName(path);
  std::wstring system = wide::LongPath(name);
  if (system.empty()) return PathMissing;
  // The entry itself, not what a link leads to: a dangling link stands there all the same.
  WIN32_FIND_DATAW found;
  bool searched = false;
  DWORD attributes = GetFileAttributesW(system.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    // A file in use by the system (a page file) answers only a search.
    DWORD error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return PathMissing;
    if (!FindFirst(system, found)) return PathMissing;
    attributes = found.dwFileAttributes;
    searched = true;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathFolder;
  // A file the system finds under another name (its short 8.3 alias, or the
  // name without its trailing dots and spaces) is not this name's file, as
  // the stub tells: a search answers with the entry's own name.
  if (!searched && !FindFirst(system, found)) return PathFile;
  return CompareStringOrdinal(LastName(name).c_str(), -1, found.cFileName, -1, TRUE) == CSTR_EQUAL
             ? PathFile
             : PathOtherName;
}

bool FindAny(const char* pattern) {
  WIN32_FIND_DATAW found;
  return FindFirst(SystemPath(pattern), found);
}

bool MakeFolder(const char* path) {
  std::wstring name = SystemPath(path);
  return !name.empty() && CreateDirectoryW(name.c_str(), nullptr) != 0;
}

}  // namespace host

// An "ANSI" text is in the names' code page, as the stub's is in the system's.
uint32_t AnsiToUtf8(const char* text, char* buffer, uint32_t size) {
  int n = MultiByteToWideChar(NameCodePage, 0, text, -1, nullptr, 0);
  std::wstring wideText(n > 0 ? static_cast<size_t>(n) : 1, L'\0');
  if (n <= 0 || !MultiByteToWideChar(NameCodePage, 0, text, -1, &wideText[0], n)) return 0;
  int length = WideCharToMultiByte(CP_UTF8, 0, wideText.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0 || static_cast<uint32_t>(length) > size) return 0;
  WideCharToMultiByte(CP_UTF8, 0, wideText.c_str(), -1, buffer, length, nullptr, nullptr);
  return static_cast<uint32_t>(length - 1);
}

void Utf8ToAnsi(char* text) {
  std::wstring wideText = WideName(text);
  if (!wideText.empty())
    WideCharToMultiByte(NameCodePage, 0, wideText.c_str(), -1, text, static_cast<int>(strlen(text) + 1), nullptr, nullptr);
}
