// The packaging tool's operating-system layer on Linux and other POSIX systems.
#include "tools/os/os.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace os {

const char* const PathSeparators = "/";
const char Separator = '/';
const bool UnicodeNames = false;

std::vector<std::string> Arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

std::string LastError() { return strerror(errno); }

FileStatus Status(const std::string& path, bool follow) {
  FileStatus status;
  struct stat st;
  if ((follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return status;
  status.kind = S_ISREG(st.st_mode)                          ? FileStatus::File
                : S_ISDIR(st.st_mode)                        ? FileStatus::Folder
                : S_ISLNK(st.st_mode)                        ? FileStatus::Link
                : S_ISFIFO(st.st_mode)                       ? FileStatus::Pipe
                : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? FileStatus::Device
                                                             : FileStatus::Other;
  status.size = (uint64_t)st.st_size;
  status.mtime = (int64_t)st.st_mtime;
  status.modified = (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
  status.volume = (uint64_t)st.st_dev;
  status.id = (uint64_t)st.st_ino;
  status.runnable = (st.st_mode & S_IXUSR) != 0;
  return status;
}

bool ListFolder(const std::string& path, std::vector<std::string>& names) {
  DIR* dir = opendir(path.c_str());
  if (!dir) return false;
  while (struct dirent* item = readdir(dir)) {
    if (strcmp(item->d_name, ".") == 0 || strcmp(item->d_name, "..") == 0) continue;
    names.push_back(item->d_name);
  }
  closedir(dir);
  return true;
}

bool MakeFolder(const std::string& path) {
  return mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && Status(path, true).kind == FileStatus::Folder);
}
bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }
bool RemoveFolder(const std::string& path) { return rmdir(path.c_str()) == 0; }
bool Replace(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

bool RenameNew(const std::string& from, const std::string& to) {
  return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ||
         (errno == EINVAL && Status(to, false).kind == FileStatus::Missing && Replace(from, to));
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

bool IsAbsolute(const std::string& path) { return !path.empty() && path[0] == '/'; }

std::string ShortPath(const std::string& path) { return path; }

std::string TempFolder() {
  std::string base = Environment("TMPDIR");
  return base.empty() ? "/tmp" : base;
}

std::string MakeTempFolder(const std::string& prefix) {
  std::string pattern = TempFolder() + "/" + prefix + ".XXXXXX";
  return mkdtemp(&pattern[0]) ? pattern : "";
}

bool File::Open(const std::string& path) {
  Close();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
    close(fd);
    errno = EISDIR;
    fd = -1;
  }
  handle_ = fd;
  return fd >= 0;
}

void File::Close() {
  if (handle_ != Invalid) close((int)handle_);
  handle_ = Invalid;
}

uint64_t File::Size() const {
  struct stat st;
  return handle_ != Invalid && fstat((int)handle_, &st) == 0 ? (uint64_t)st.st_size : 0;
}

int64_t File::Modified() const {
  struct stat st;
  if (handle_ == Invalid || fstat((int)handle_, &st) != 0) return 0;
  return (int64_t)st.st_mtim.tv_sec * 1000000000 + st.st_mtim.tv_nsec;
}

size_t File::ReadAt(uint64_t offset, void* buffer, size_t size) const {
  size_t done = 0;
  while (handle_ != Invalid && done < size) {
    ssize_t got = pread((int)handle_, (char*)buffer + done, size - done, (off_t)(offset + done));
    if (got <= 0) break;
    done += (size_t)got;
  }
  return done;
}

// ---- the package being written, and interruption ----

namespace {

char pendingPath[4096];   // a named package to remove (fixed room: the signal handler must not allocate)
int namelessPackage = -1;     // else the package without a name, kept open until published
std::string namelessTemplate;   // the name it takes in its folder on the way to the target
void (*volatile onInterrupt)() = nullptr;
volatile sig_atomic_t caughtSignal = 0;

void OnSignal(int signal) {
  if (onInterrupt) {   // the work stops by itself and cleans up
    caughtSignal = signal;
    onInterrupt();
    return;
  }
  if (pendingPath[0]) unlink(pendingPath);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// Without SA_RESTART: a password prompt waiting at the terminal gives up.
void HandleSignals() {
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

void CatchInterrupt(void (*handler)()) {
  caughtSignal = 0;
  onInterrupt = handler;
  HandleSignals();
}

void EndCatchingInterrupt() {
  onInterrupt = nullptr;
  int signal = caughtSignal;
  if (!signal) return;
  DiscardPending();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// The package has no name until it is published, where the file system
// allows: a run that ends in any way, killed too, leaves nothing behind. It
// is read back under its descriptor's name in /proc.
FILE* CreatePending(const std::string& target, std::string& path, std::string& error) {
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  std::string temp = folder + "/." + target.substr(slash + 1) + ".XXXXXX";
  if (temp.size() >= sizeof pendingPath) {
    error = "the output path is too long";
    return nullptr;
  }
  HandleSignals();
  int fd = access("/proc/self/fd", X_OK) == 0 ? open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
  if (fd >= 0) {
    namelessPackage = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    namelessTemplate = temp;
    path = "/proc/self/fd/" + std::to_string(namelessPackage);
  } else if ((fd = mkstemp(&temp[0])) >= 0) {
    strcpy(pendingPath, temp.c_str());
    path = temp;
  }
  FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
  if (!file) {
    error = "cannot create a file in " + folder + ": " + LastError();
    if (fd >= 0) close(fd);
    DiscardPending();
  }
  return file;
}

bool ClosePending(FILE* file, std::string& error) {
  bool ok = fflush(file) == 0 && fsync(fileno(file)) == 0;
  if (!ok) error = "cannot write the package: " + LastError();
  if (fclose(file) != 0 && ok) {
    ok = false;
    error = "cannot write the package: " + LastError();
  }
  return ok;
}

// A nameless package gets a name of its own in the target's folder first
// (a link never replaces a file), then moves onto the target.
static bool NamePending(std::string& error) {
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string temp = namelessTemplate;
    uint8_t random[6];
    if (!RandomBytes(random, sizeof random)) break;
    for (size_t i = 0; i < sizeof random; i++) temp[temp.size() - 6 + i] = "0123456789abcdefghijklmnopqrstuv"[random[i] & 31];
    std::string self = "/proc/self/fd/" + std::to_string(namelessPackage);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      strcpy(pendingPath, temp.c_str());
      close(namelessPackage);
      namelessPackage = -1;
      return true;
    }
    if (errno != EEXIST) break;
  }
  error = "cannot create a file beside the package: " + LastError();
  return false;
}

bool PublishPending(const std::string& target, std::string& error) {
  if (namelessPackage >= 0 && !NamePending(error)) {
    DiscardPending();
    return false;
  }
  mode_t mask = umask(0);
  umask(mask);
  chmod(pendingPath, 0777 & ~mask);   // the package is a program
  if (rename(pendingPath, target.c_str()) != 0) {
    error = "cannot create " + target + ": " + LastError();
    DiscardPending();
    return false;
  }
  pendingPath[0] = 0;
  return true;
}

void DiscardPending() {
  if (namelessPackage >= 0) close(namelessPackage);
  namelessPackage = -1;
  if (pendingPath[0]) unlink(pendingPath);
  pendingPath[0] = 0;
}

// ---- memory ----

uint8_t* MapScratch(size_t size, const std::string& folder, std::string& error) {
  std::string path = folder + "/.tolvane-pack.XXXXXX";
  int fd = mkstemp(&path[0]);
  if (fd < 0) {
    error = "cannot create a temporary file in " + folder + ": " + LastError();
    return nullptr;
  }
  unlink(path.c_str());   // gone with the mapping, however the run ends
  // Blocks reserved first: a write to a mapping that finds the disk full
  // would kill the process rather than fail.
  int failed = posix_fallocate(fd, 0, (off_t)size);
  void* p = failed ? MAP_FAILED : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (!failed && p == MAP_FAILED) failed = errno;
  close(fd);
  if (failed) {
    error = "no room for a temporary file of " + std::to_string(size) + " bytes in " + folder + ": " +
            strerror(failed);
    return nullptr;
  }
  return (uint8_t*)p;
}

void UnmapScratch(uint8_t* data, size_t size) {
  if (data) munmap(data, size);
}

// ---- the console ----

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)); }

bool ReadSecret(const std::string& prompt, std::string& answer) {
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return false;
  struct termios saved, quiet;
  bool canHide = tcgetattr(tty, &saved) == 0;
  if (canHide) {
    quiet = saved;
    quiet.c_lflag &= ~(tcflag_t)ECHO;
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  if (write(tty, prompt.data(), prompt.size()) < 0) {}
  answer.clear();
  char c;
  while (read(tty, &c, 1) == 1 && c != '\n' && c != '\r') answer += c;
  if (canHide) tcsetattr(tty, TCSAFLUSH, &saved);
  if (write(tty, "\n", 1) < 0) {}
  close(tty);
  return true;
}

// ---- time and chance ----

bool LocalTime(int64_t seconds, struct tm& parts) {
  time_t t = (time_t)seconds;
  return localtime_r(&t, &parts) != nullptr;
}

bool UtcTime(int64_t seconds, struct tm& parts) {
  time_t t = (time_t)seconds;
  return gmtime_r(&t, &parts) != nullptr;
}

bool RandomBytes(void* out, size_t size) {
  uint8_t* bytes = (uint8_t*)out;
  for (size_t done = 0; done < size;) {
    ssize_t got = getrandom(bytes + done, size - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += (size_t)got;
  }
  return true;
}

std::string Environment(const char* name) {
  const char* value = getenv(name);
  return value ? value : "";
}

}  // namespace os
