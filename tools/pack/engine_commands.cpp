#include "tools/pack/engine_commands.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <map>
#include <set>

#include "archive/entry.h"
#include "archive/walk.h"
#include "extract/engine.h"
#include "extract/state.h"
#include "launch/command.h"
#include "package/config.h"
#include "package/core.h"
#include "platform/host.h"
#include "tools/pack/codepage.h"
#include "tools/pack/package_header.h"
#include "tools/pack/stub.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_reader.h"
#include "ui/resource.h"

namespace pack {

namespace {


// Reads a password from the terminal without echo; empty when there is none.
std::string AskOnTerminal(const std::string& prompt) {
  int tty = open("/dev/tty", O_RDWR | O_NOCTTY);
  if (tty < 0) return "";
  struct termios saved, quiet;
  bool canHide = tcgetattr(tty, &saved) == 0;
  if (canHide) {
    quiet = saved;
    quiet.c_lflag &= (tcflag_t)~ECHO;
    tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  if (write(tty, prompt.data(), prompt.size()) < 0) {}
  std::string answer;
  char c;
  while (read(tty, &c, 1) == 1 && c != '\n' && c != '\r') answer += c;
  if (canHide) tcsetattr(tty, TCSAFLUSH, &saved);
  if (write(tty, "\n", 1) < 0) {}
  close(tty);
  return answer;
}

// One engine session over one package: the state the stub's start-up sets.
class Session {
 public:
  explicit Session(const EngineOptions& o) : o_(o), page_{o.codePage} {}
  ~Session() {
    if (started_) EndCore();
  }

  bool Open() {
    std::string error;
    if (!CheckCodePage(o_.codePage, error)) {
      Error(error);
      return false;
    }
    if (!IsRegularFile(o_.package)) {
      Error("cannot open " + o_.package);
      return false;
    }
    host::Reset();
    host::SetTempFolder("/tmp/");
    host::SetMessageHandler([this](const HostMessage& m) { Print(m); });
    host::SetPasswordHandler([this]() { return Password(); });
    FileHandle package = OpenReadFile(o_.package.c_str());
    if (package == NoFile) {
      Error("cannot open " + o_.package);
      return false;
    }
    StartCore(package);
    started_ = true;
    return true;
  }

  // The listing walk the dialogs run when they open.
  bool List() {
    ProcessArchive(&dialog_, IDC_ENTRY_LIST, true);
    return !Items().empty() && !failed_;
  }

  // The extraction walk over every listed entry, below 'folder'.
  bool Extract(const std::string& folder, int skipExisting) {
    if (folder.size() > 254) {
      Error("the destination folder path is longer than the stub's 254 characters");
      return false;
    }
    strcpy(DestFolder, folder.c_str());
    State.SkipExisting = (uint8_t)skipExisting;
    ListSelect(GetEntryList(&dialog_, IDC_ENTRY_LIST), -1, true);
    if (!o_.rawNames) RenameAll(folder, false);
    ProcessArchive(&dialog_, IDC_ENTRY_LIST, false);
    if (!o_.rawNames) RenameAll(folder, true);
    for (const HostListItem& item : Items())
      if (item.selected) Error("not extracted: " + Shown(item.name, item.utf8));
    if (prompts_ > 0 && !State.ExtractSucceeded && !ended_)
      Error(o_.hasPassword ? "the password given does not open an entry" : "no password opened an entry");
    return State.ExtractSucceeded == 1;
  }

  std::vector<HostListItem>& Items() { return dialog_.lists[IDC_ENTRY_LIST]; }
  const CodePage& Page() const { return page_; }

  // A name or message in UTF-8 for the terminal: UTF-8 names (flag bit 11 or
  // a Unicode Path field) as they are, the others from the code page.
  std::string Shown(const std::string& text, bool utf8) const {
    return utf8 ? text : FromCodePage(page_, text);
  }

 private:
  void Print(const HostMessage& m) {
    // The stub's final message is the verdict; it ends the run either way.
    if (m.text == AllExtractedText || m.text == NotExtractedText) ended_ = true;
    if (m.icon != IconInformation) failed_ = true;
    if (o_.quiet && m.icon == IconInformation) return;
    const char* kind = m.icon == IconHand ? "error: " : m.icon == IconExclamation ? "warning: " : "";
    fprintf(stderr, "tolvane-pack: %s%s\n", kind, Shown(m.text, m.utf8).c_str());
  }

  std::string Password() {
    ++prompts_;
    std::string typed;
    if (o_.hasPassword) {
      typed = o_.password;
      if (prompts_ == 2) Error("the password given was not accepted for an entry");
    } else {
      typed = AskOnTerminal("Password for " + o_.package + ": ");
      if (typed.empty() && prompts_ == 1 && !isatty(0))
        Error("the package is encrypted; give the password with --password");
    }
    std::string converted, bad;
    if (!ToCodePage(page_, typed, converted, bad)) return typed;
    return converted;
  }

  // Code page names are written as their bytes; on Linux they are shown in
  // UTF-8. Before the walk, existing UTF-8 names are turned back into the code
  // page form (outermost first) so the overwrite rule sees them; afterwards
  // every name goes to UTF-8 (innermost first, while its parents still have
  // their old names). Names that are UTF-8 already are written as they are.
  void RenameAll(const std::string& folder, bool toUtf8) {
    std::vector<std::string> prefixes;   // code page paths whose last component has 8-bit bytes
    std::set<std::string> seen;
    for (const HostListItem& item : Items()) {
      if (item.utf8) continue;
      const std::string& name = item.name;
      for (size_t end = 0; end < name.size();) {
        size_t slash = name.find_first_of("/\\", end);
        if (slash == std::string::npos) slash = name.size();
        std::string component = name.substr(end, slash - end);
        std::string prefix = name.substr(0, slash);
        bool high = std::any_of(component.begin(), component.end(), [](char c) { return (unsigned char)c >= 0x80; });
        if (high && seen.insert(prefix).second) prefixes.push_back(prefix);
        end = slash + 1;
      }
    }
    auto depth = [](const std::string& p) { return std::count_if(p.begin(), p.end(), [](char c) { return c == '/' || c == '\\'; }); };
    std::stable_sort(prefixes.begin(), prefixes.end(), [&](const std::string& a, const std::string& b) {
      return toUtf8 ? depth(a) > depth(b) : depth(a) < depth(b);
    });
    for (const std::string& prefix : prefixes) {
      size_t slash = prefix.find_last_of("/\\");
      std::string parent = slash == std::string::npos ? "" : prefix.substr(0, slash + 1);
      std::string last = prefix.substr(parent.size());
      // Either way round the parent has its code page name at this moment.
      std::string parentPath = parent;
      std::replace(parentPath.begin(), parentPath.end(), '\\', '/');
      std::string raw = folder + "/" + parentPath + last;
      std::string utf8 = folder + "/" + parentPath + FromCodePage(page_, last);
      const std::string& from = toUtf8 ? raw : utf8;
      const std::string& to = toUtf8 ? utf8 : raw;
      struct stat st;
      if (lstat(from.c_str(), &st) == 0 && lstat(to.c_str(), &st) != 0) rename(from.c_str(), to.c_str());
    }
  }

  const EngineOptions& o_;
  CodePage page_;
  HostDialog dialog_;
  int prompts_ = 0;
  bool failed_ = false;
  bool ended_ = false;
  bool started_ = false;
};

std::string MakeTempFolder() {
  const char* base = getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/tolvane-test.XXXXXX";
  if (!mkdtemp(&pattern[0])) return "";
  return pattern;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

}  // namespace

// Each entry's time as the stub gives it to the file, in local time, by
// its name as stored; names the central directory does not hold are absent.
std::map<std::string, std::string> EntryTimes(const EngineOptions& o) {
  std::map<std::string, std::string> times;
  ZipInput zip;
  std::string error;
  if (!ReadZipDirectory(o.package, zip, error, o.codePage)) return times;
  for (const ZipInputEntry& e : zip.entries) {
    struct timespec time;
    struct tm parts;
    char text[32] = "                   ";
    if (EntryModifiedTime(e, time) && localtime_r(&time.tv_sec, &parts))
      strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    times.emplace(e.rawName, text);
  }
  return times;
}

int ListPackage(const EngineOptions& o) {
  Session session(o);
  if (!session.Open()) return 1;
  bool ok = session.List();
  std::map<std::string, std::string> times;
  if (o.verbose) times = EntryTimes(o);
  for (const HostListItem& item : session.Items()) {
    if (o.verbose) {
      auto time = times.find(item.name);
      printf("%-19s  ", time == times.end() ? "" : time->second.c_str());
    }
    printf("%s\n", session.Shown(item.name, item.utf8).c_str());
  }
  return ok ? 0 : 1;
}

int TestPackage(const EngineOptions& o) {
  Session session(o);
  if (!session.Open()) return 1;
  if (!session.List()) return 1;
  std::string folder = MakeTempFolder();
  if (folder.empty()) {
    Error("cannot create a temporary folder to test in");
    return 1;
  }
  bool ok = session.Extract(folder, 0);
  RemoveTree(folder);
  if (!o.quiet)
    fprintf(stderr, "tolvane-pack: %s: %zu entries, %s\n", o.package.c_str(), session.Items().size(),
            ok ? "all extracted and checked" : "FAILED");
  return ok ? 0 : 1;
}

int ExtractPackage(const EngineOptions& o) {
  std::string folder = AbsolutePath(o.destination);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    Error("cannot create " + folder + ": " + strerror(errno));
    return 1;
  }
  Session session(o);
  if (!session.Open()) return 1;
  if (!session.List()) return 1;
  Config.KeepTimes = true;   // the files get their entries' times, whatever the package says
  int skip = o.overwrite >= 0 ? !o.overwrite : Config.OverwriteControlId - 501;
  bool ok = session.Extract(folder, skip);
  if (ok && Config.HasCommand && !o.quiet) {
    RunCommand();   // recorded by the host, never performed
    for (const HostLaunch& launch : host::Launches())
      fprintf(stderr, "tolvane-pack: the stub would now open: %s %s\n",
              FromCodePage(session.Page(), launch.program).c_str(),
              FromCodePage(session.Page(), launch.parameters).c_str());
  }
  return ok ? 0 : 1;
}

int ShowPackageInfo(const EngineOptions& o) {
  // The stub and the most a header can claim (three texts of 255 bytes).
  std::string data, error;
  struct stat st;
  FILE* file = fopen(o.package.c_str(), "rb");
  if (!file || fstat(fileno(file), &st) != 0) {
    Error("cannot open " + o.package);
    if (file) fclose(file);
    return 1;
  }
  data.resize(StubSize + HeaderFixedSize + 3 * 255);
  data.resize(fread(&data[0], 1, data.size(), file));
  fclose(file);
  CodePage page{o.codePage};
  if (!CheckCodePage(o.codePage, error)) {
    Error(error);
    return 1;
  }
  printf("package:       %s (%llu bytes)\n", o.package.c_str(), (unsigned long long)st.st_size);
  if (data.size() < StubSize) {
    Error(o.package + " is shorter than the stub; it is not a package");
    return 1;
  }
  std::string embedded = EmbeddedStub();
  const char* which = "";
  if (!embedded.empty()) {
    StubMatch match = CompareStubs(data.substr(0, StubSize), embedded);
    which = match == StubMatch::Same         ? ", the stub of this tolvane-pack"
            : match == StubMatch::SameSigned ? ", the stub of this tolvane-pack, signed"
                                             : ", another stub";
  }
  printf("stub:          %u bytes%s\n", StubSize, which);
  HeaderSettings h;
  if (!ParseHeader(data.substr(StubSize, HeaderFixedSize + 3 * 255), h)) {
    printf("header:        none (the stub uses its defaults; the archive starts at %u)\n", StubSize);
    return 0;
  }
  bool overwrite = (h.flags & FlagOverwriteMask) == FlagOverwrite;
  printf("header:        present, flags 0x%02X; the archive starts at %u\n", h.flags,
         StubSize + HeaderSize);
  printf("file list:     %s\n", h.flags & FlagFileList ? "offered" : "not offered");
  printf("overwrite:     %s, %s\n", h.flags & FlagHideOverwrite ? "option hidden" : "option shown",
         overwrite ? "existing files are overwritten" : "existing files are kept");
  printf("switches:      %s\n", h.flags & FlagSwitches ? "obeyed (/S /D= /P= /?)" : "ignored");
  printf("file times:    %s\n", h.flags & FlagKeepTimes ? "the entries' times" : "the time of extraction");
  printf("message:       %s\n", FromCodePage(page, h.message).c_str());
  printf("folder:        %s\n", h.folder.empty() ? "(none: the current directory)"
                                : h.folder == "##" ? "## (the user's temporary folder)"
                                                   : FromCodePage(page, h.folder).c_str());
  printf("command:       %s\n", h.command.empty() ? "(none)" : FromCodePage(page, h.command).c_str());
  if (h.message.size() + h.folder.size() + h.command.size() > MaxTextsTogether)
    Warn("the texts overrun the 256-byte header");
  ZipInput zip;
  if (ReadZipDirectory(o.package, zip, error)) {
    uint64_t size = 0, packed = 0;
    std::set<std::string> ciphers;
    for (const ZipInputEntry& e : zip.entries) {
      size += e.size;
      packed += e.compressedSize;
      if (e.flags & FlagEncrypted) ciphers.insert(e.aes.version ? AesName(e.aes.strength) : "traditional zip encryption");
    }
    std::string encryption;
    for (const std::string& cipher : ciphers) encryption += (encryption.empty() ? "" : " and ") + cipher;
    printf("entries:       %zu, %llu bytes packed into %llu\n", zip.entries.size(), (unsigned long long)size,
           (unsigned long long)packed);
    printf("encryption:    %s\n", encryption.empty() ? "none" : (encryption + " (names are not encrypted)").c_str());
  } else {
    printf("entries:       the central directory cannot be read (%s)\n", error.c_str());
  }
  return 0;
}

}  // namespace pack
