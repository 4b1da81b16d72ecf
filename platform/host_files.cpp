// The Linux seam's files and folders: the real file system, for the tools
// and below the test double.
#include "platform/host.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

// What a FileHandle points to.
struct HostFile {
  int fd = -1;
  size_t written = 0;   // bytes written, against the output limit
  std::string name;     // a nameless file's path-to-be, until KeepNewFile
  bool lost = false;    // it could not take that name: its close fails
};

HostFile* AsFile(FileHandle handle) {
  if (handle == NoFile || handle == nullptr) return nullptr;
  return static_cast<HostFile*>(handle);
}

FileHandle NewFile(int fd, const std::string& name = std::string()) {
  HostFile* file = new HostFile;
  file->fd = fd;
  file->name = name;
  return static_cast<FileHandle>(file);
}

// Windows name matching: case-insensitive, and a pattern ending in ".*"
// also matches names without a dot ("*.*" matches everything).
bool MatchesPattern(const std::string& pattern, const std::string& name) {
  if (fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0) return true;
  size_t n = pattern.size();
  return n >= 2 && pattern.compare(n - 2, 2, ".*") == 0 &&
         fnmatch(pattern.substr(0, n - 2).c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}

// Names of the entries directly inside a folder (without "." and "..").
// Returns false when the folder does not exist.
bool FolderEntries(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
    names.push_back(entry->d_name);
  }
  closedir(dir);
  return true;
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

namespace host {

bool FindMatching(const char* pattern, const std::function<bool(const std::string&)>& nameExists,
                  const std::function<bool(const std::string&, std::vector<std::string>&)>& folderEntries) {
  std::string hostPath = ToHostPath(pattern);
  if (hostPath.empty()) return false;
  size_t slash = hostPath.rfind('/');
  std::string last = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
  if (last.find_first_of("*?") == std::string::npos) {
    // A plain name: a search with a trailing separator finds nothing, as on Windows.
    if (last.empty()) return false;
    return nameExists(hostPath);
  }
  std::string folder = slash == std::string::npos ? "" : hostPath.substr(0, slash);
  if (slash == 0) folder = "/";
  std::vector<std::string> names;
  if (!folderEntries(folder, names)) return false;
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

void SetAnsiCodePage(unsigned) {}   // names are kept as the bytes given

void ForgetOpenFolder() { ForgetFolder(); }

FileHandle OpenReadFile(const char* path) {
  int fd = open(ToHostPath(path).c_str(), O_RDONLY);
  if (fd < 0) return NoFile;
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {  // a folder cannot be opened as a file
    close(fd);
    return NoFile;
  }
  return NewFile(fd);
}

// A file in the folder where 'name' would stand (looked up from 'folder')
// that has no name, so that the system removes it however the process ends;
// -1 where the file system cannot make one.
static int OpenNameless(int folder, const std::string& name) {
  static const bool canLink = access("/proc/self/fd", X_OK) == 0;   // how KeepNewFile names it
  if (!canLink) {
    errno = EOPNOTSUPP;
    return -1;
  }
  size_t slash = name.rfind('/');
  std::string where = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  return openat(folder, where.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
}

// The file 'name' names, looked up from 'folder', created when nothing stands
// there: nameless where the file system allows, else under its name.
static int CreateIn(int folder, const std::string& name, bool& nameless) {
  struct stat info;
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    errno = EEXIST;
    return -1;
  }
  if (errno != ENOENT) return -1;
  int fd = OpenNameless(folder, name);
  nameless = fd >= 0;
  if (fd < 0 && errno == ENOENT) return -1;   // no such folder
  return nameless ? fd : openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

FileHandle CreateNewFile(const char* path) {
  std::string hostPath = ToHostPath(path);
  std::string name;
  int folder = FolderOf(hostPath, &name);
  bool nameless = false;
  int fd = CreateIn(folder, name, nameless);
  if (fd < 0 && errno == ENOENT && folder != AT_FDCWD) {   // the kept folder is gone
    ForgetFolder();
    fd = CreateIn(AT_FDCWD, hostPath, nameless);
  }
  if (fd < 0) return NoFile;
  StartOutputFile();
  return NewFile(fd, nameless ? hostPath : std::string());
}

bool KeepNewFile(FileHandle handle) {
  HostFile* file = AsFile(handle);
  if (!file || file->name.empty()) return file != nullptr;
  char self[64];
  snprintf(self, sizeof self, "/proc/self/fd/%d", file->fd);
  file->lost = linkat(AT_FDCWD, self, AT_FDCWD, file->name.c_str(), AT_SYMLINK_FOLLOW) != 0;
  file->name.clear();
  return !file->lost;
}

uint32_t ReadFileBytes(FileHandle handle, void* buffer, uint32_t count) {
  HostFile* file = AsFile(handle);
  if (!file || ReadingStopped()) return 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = read(file->fd, out + done, count - done);
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

uint32_t WriteFileBytes(FileHandle handle, const void* buffer, uint32_t count) {
  HostFile* file = AsFile(handle);
  if (!file) return 0;
  count = OutputRoom(file->written, count);
  const char* in = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    ssize_t n = write(file->fd, in + done, count - done);
    if (n < 0) NoteWriteFailure(errno == ENOSPC || errno == EDQUOT);
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

uint32_t SeekFile(FileHandle handle, uint32_t offset) {
  HostFile* file = AsFile(handle);
  if (!file || lseek(file->fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(-1))
    return 0xFFFFFFFF;
  return offset;
}

bool CloseFileHandle(FileHandle handle) {
  HostFile* file = AsFile(handle);
  if (!file) return false;
  bool ok = close(file->fd) == 0 && !file->lost;
  delete file;
  return ok;
}

bool MoveOntoFile(const char* from, const char* to) {
  std::string source = ToHostPath(from), target = ToHostPath(to);
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

bool DeleteFileAt(const char* path) { return unlink(ToHostPath(path).c_str()) == 0; }

void SetFileTimes(FileHandle handle, const FileStamp& stamp) {
  HostFile* file = AsFile(handle);
  struct timespec times[2] = {{0, UTIME_OMIT}, {0, 0}};
  if (!file || !StampToUnix(stamp, times[1])) return;
  futimens(file->fd, times);
}

PathKind FindPath(const char* path) {
  std::string hostPath = ToHostPath(path);
  struct stat info;
  if (hostPath.empty()) return PathMissing;
  // A dangling link stands there all the same, as a search on Windows finds one.
  if (stat(hostPath.c_str(), &info) != 0) return lstat(hostPath.c_str(), &info) == 0 ? PathFile : PathMissing;
  return S_ISDIR(info.st_mode) ? PathFolder : PathFile;
}

bool FindAny(const char* pattern) {
  return FindMatching(pattern, [](const std::string& hostPath) {
    struct stat info;
    return stat(hostPath.c_str(), &info) == 0;
  }, FolderEntries);
}

bool MakeFolder(const char* path) { return mkdir(ToHostPath(path).c_str(), 0755) == 0; }

}  // namespace host

// AnsiToUtf8 and Utf8ToAnsi belong to the tools' seam (host_seam.cpp) and
// to the test double.
