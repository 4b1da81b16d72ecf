#include "tools/pack/engine_commands.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <time.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "archive/walk.h"
#include "base/config.h"
#include "base/entry.h"
#include "base/reader.h"
#include "base/state.h"
#include "codec/inflate.h"
#include "codec/lzma.h"
#include "extract/engine.h"
#include "extract/names.h"
#include "extract/paths.h"
#include "launch/command.h"
#include "package/core.h"
#include "platform/host.h"
#include "tools/os/os.h"
#include "tools/pack/local_headers.h"
#include "tools/pack/codepage.h"
#include "tools/pack/package_header.h"
#include "tools/pack/progress.h"
#include "tools/pack/stub.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_reader.h"
#include "ui/resource.h"

namespace pack {

namespace {

const unsigned Utf8CodePage = 65001;   // Windows' number for UTF-8

// Reads a password from the terminal without echo; empty when there is none.
std::string AskOnTerminal(const std::string& prompt) {
  std::string answer;
  os::ReadSecret(prompt, answer);
  return answer;
}

// Empty when 'path' can be a package: a Windows program of at least the
// stub's length in front of the archive; else why not.
std::string NotAPackage(const std::string& path) {
  os::FileStatus status = os::Status(path, true);
  if (status.kind != os::FileStatus::File && status.kind != os::FileStatus::Missing)
    return path + " is not a regular file";
  os::File file(path);
  if (!file.IsOpen()) return "cannot open " + path + ": " + os::LastError();
  char magic[2] = {0, 0};
  size_t got = file.ReadAt(0, magic, 2);
  if (got == 2 && magic[0] == 'P' && magic[1] == 'K')
    return path + " is not a package: it is a plain zip archive without the stub";
  if (got < 2 || magic[0] != 'M' || magic[1] != 'Z')
    return path + " is not a package: it does not start with a Windows program";
  if (file.Size() < StubSize)
    return path + " is not a package: it is shorter than the stub";
  return "";
}

// Ctrl+C or a signal stops the package's reads (os::CatchInterrupt).
bool Interrupted() { return host::ReadingStopped(); }

// One engine session over one package: the state the stub's start-up sets.
class Session {
 public:
  explicit Session(const EngineOptions& o) : o_(o), page_{o.codePage} { current_ = this; }
  // Open() only after the file was found to be a package.
  static bool IsPackage(const std::string& path) {
    std::string problem = NotAPackage(path);
    if (!problem.empty()) Error(problem);
    return problem.empty();
  }
  ~Session() {
    if (started_) EndCore();
    AskPassword = nullptr;
    current_ = nullptr;
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
    host::ResetSeam();
    host::SetTempFolder(os::TempFolder() + os::Separator);
    host::SetMessageHandler([this](const HostMessage& m) { Print(m); });
    AskPassword = [](char* buffer) { return current_->Password(buffer); };
    // The package's path is the tool's own, in UTF-8; the texts from then on
    // (names, the destination) are in the package's code page.
    host::SetAnsiCodePage(Utf8CodePage);
    FileHandle package = OpenReadFile(o_.package.c_str());
    host::SetAnsiCodePage((unsigned)o_.codePage);
    if (package == NoFile) {
      Error("cannot open " + o_.package);
      return false;
    }
    StartCore(package);
    ForgetSolidBlock();   // nothing carries over from another package
    started_ = true;
    return true;
  }

  // The engine ends a walk silently where the local headers stop; a complete
  // archive ends at its central directory, anything else is a failure.
  bool EndedEarly() const {
    std::string why = EarlyEnd(walk_);
    if (why.empty()) return false;
    Error(why + "; entries after it are missing");
    return true;
  }

  // The listing walk the dialogs run when they open.
  bool List() {
    walk_ = ListArchive(&dialog_, IDC_ENTRY_LIST);
    return !Items().empty() && !failed_;
  }

  // The extraction walk below 'folder' over every listed entry, or only those
  // named in 'only'; each entry that failed goes to 'failed' with why (none
  // after an interrupt, which ends the walk at once).
  bool Extract(const std::string& folder, int skipExisting, const std::set<std::string>* only,
               std::vector<EntryFailure>& failed) {
    // The engine's paths are UTF-8, as the folder is given; where names are
    // bytes, an ANSI name is joined as it is (see RenameAll).
    if (TextCharacters(folder.c_str()) > FolderTextLimit || folder.size() + 2 > sizeof DestFolder) {
      Error("the destination folder path is longer than the stub's 254 characters");
      return false;
    }
    strcpy(DestFolder, folder.c_str());
    State.SkipExisting = (uint8_t)skipExisting;
    ListHandle list = GetEntryList(&dialog_, IDC_ENTRY_LIST);
    ListSelect(list, -1, only == nullptr);
    for (size_t i = 0; only && i < Items().size(); i++)
      if (only->count(Items()[i].name)) ListSelect(list, (int)i, true);
    std::vector<std::string> safe;
    for (const HostListItem& item : Items())   // UTF-8 names are written as they are
      if (!item.utf8 && IsSafeEntryName(item.name.c_str(), false)) safe.push_back(item.name);
    std::vector<std::string> renamed;
    bool renameNames = !o_.rawNames && !os::UnicodeNames;
    if (renameNames) RenameAll(folder, false, safe, renamed);
    // The bar counts the package's bytes, which the walk reads in order.
    uint64_t packageSize = FileSize(o_.package);
    progress_.reset(new Progress(packageSize > State.ArchiveStart ? packageSize - State.ArchiveStart : 0, !o_.quiet));
    ForgetKnownFolder();
    static const EntryHandler handler = {ExtractOne, FinishExtraction};
    walk_ = ProcessArchive(&dialog_, IDC_ENTRY_LIST, &handler);
    progress_->Done();
    host::SetOutputLimit(SIZE_MAX);
    if (renameNames) {
      // Back to UTF-8: what the engine wrote or found, and what was renamed before.
      std::vector<std::string> done = renamed, unused;
      for (const HostListItem& item : Items())
        if (!item.selected && !item.utf8 && IsSafeEntryName(item.name.c_str(), false)) done.push_back(item.name);
      RenameAll(folder, true, done, unused);
    }
    bool ok = State.ExtractSucceeded == 1;
    if (Interrupted()) return false;
    size_t unreached = 0;
    for (const HostListItem& item : Items()) {
      if (!item.selected) continue;
      auto reason = reasons_.find(item.name);
      if (reason != reasons_.end()) failed.push_back({Shown(item.name, item.utf8), reason->second});
      else if (host::DiskWasFull()) unreached++;
      else failed.push_back({Shown(item.name, item.utf8), "not reached: the run ended before this entry"});
    }
    if (unreached) failed.push_back({Count(unreached, "more entry", "more entries"), "not reached: the disk is full"});
    return !(host::DiskWasFull() || EndedEarly()) && ok && failed.empty();
  }

  // The stub's walk in extraction mode that extracts nothing: each listed
  // entry's local header, by its place in the list.
  std::map<size_t, uint32_t> HeaderPositions() {
    ListSelect(GetEntryList(&dialog_, IDC_ENTRY_LIST), -1, true);
    static const EntryHandler handler = {RecordPosition, [](ListHandle, bool) {}};
    ProcessArchive(&dialog_, IDC_ENTRY_LIST, &handler);
    return positions_;
  }

  std::vector<HostListItem>& Items() { return dialog_.lists[IDC_ENTRY_LIST].Items(); }
  const CodePage& Page() const { return page_; }

  // A name or message in UTF-8 for the terminal: UTF-8 names (flag bit 11 or
  // a Unicode Path field) as they are, the others from the code page.
  std::string Shown(const std::string& text, bool utf8) const {
    return utf8 ? text : FromCodePage(page_, text);
  }

 private:
  void Print(const HostMessage& m) {
    if (Interrupted()) return;
    if (m.icon != IconInformation) failed_ = true;
    if (o_.quiet && m.icon == IconInformation) return;
    if (progress_) progress_->Clear();
    const char* kind = m.icon == IconHand ? "error: " : m.icon == IconExclamation ? "warning: " : "";
    fprintf(stderr, "tolvane-pack: %s%s\n", kind, Printable(Shown(m.text, m.utf8)).c_str());
  }

  uint32_t Password(char* buffer) {
    ++prompts_;
    if (progress_) progress_->Clear();
    std::string typed;
    if (o_.hasPassword) {
      typed = o_.password;
      if (prompts_ == 2) Error("the password given was not accepted for an entry");
    } else {
      typed = AskOnTerminal("Password for " + o_.package + ": ");
      typed_ = typed_ || !typed.empty();
      if (typed.empty() && prompts_ == 1 && !os::IsTerminal(stdin))
        Error("the package is encrypted; give the password with --password");
    }
    std::string converted, bad;
    if (ToCodePage(page_, typed, converted, bad)) typed = converted;
    uint32_t n = (uint32_t)std::min<size_t>(typed.size(), 79);
    memcpy(buffer, typed.data(), n);
    buffer[n] = 0;
    return n;
  }

  // The engine's handler with the tool around it: each entry's file stops at
  // its declared size (a damaged or hostile entry cannot fill the disk, and
  // bytes past it never count towards its CRC), the bar follows the walk, and
  // a failed entry's outcome becomes its reason.
  static EntryReport ExtractOne(WindowHandle dialog, ListHandle list, uint32_t headerPosition,
                                const char* name) {
    Session& s = *current_;
    const ArchiveEntry header = State.CurrentEntry;   // the engine puts an AES entry's own method in place
    uint32_t dataStart = headerPosition + LocalHeaderSize + header.NameLength + header.ExtraLength;
    uint32_t size = header.UncompressedSize, expectedCrc = header.EntryCrc;
    uint8_t descriptor[DataDescriptorSize];
    SeekArchive(dataStart + header.CompressedSize, 0);
    if ((header.EntryFlags & FlagDescriptor) && State.LastSeek != SeekFailed &&
        ReadArchive(descriptor, DataDescriptorSize) == DataDescriptorSize &&
        Read32(descriptor) == DataDescriptorSignature) {
      expectedCrc = Read32(descriptor + 4);
      size = Read32(descriptor + 12);
    }
    host::SetOutputLimit(size);
    s.progress_->Advance(s.inProgress_);
    s.inProgress_ = header.CompressedSize;
    s.progress_->Entry(s.Shown(name, State.Utf8Name));
    EntryReport report = ExtractEntry(dialog, list, headerPosition, name);
    bool solid = State.CurrentEntry.Method == MethodSolid;   // the AES entry's own method is in place
    if (report.outcome != EntryExtracted && report.outcome != EntryKept && !Interrupted())
      s.reasons_[name] = s.Reason(report.outcome, header, dataStart, size, expectedCrc);
    // The entry of a solid block that failed first, for the entries after it.
    if (solid && !SolidEntryOrphaned() && report.outcome != EntryExtracted && report.outcome != EntryKept)
      s.blockFailure_ = s.Shown(name, State.Utf8Name);
    // Every entry after it would meet the same full disk.
    if (report.outcome == EntryWriteFailed && host::DiskWasFull()) report.next = EndWalk;
    return report;
  }

  static EntryReport RecordPosition(WindowHandle, ListHandle list, uint32_t headerPosition, const char*) {
    current_->positions_[(size_t)State.LastIndex] = headerPosition;
    ListSelect(list, State.LastIndex, false);   // a later entry of an equal name finds the next item
    return {NextEntry, EntryExtracted};
  }

  // What an entry's outcome means, in words. Causes the stub cannot read
  // past (ZIP64 sizes, sizes only after the data, strong encryption, a full
  // disk) come before what they lead the decoder to meet.
  std::string Reason(EntryOutcome outcome, const ArchiveEntry& header, uint64_t dataStart, uint32_t size,
                     uint32_t expectedCrc) const {
    uint32_t packed = header.CompressedSize;
    if (packed == 0xFFFFFFFF || header.UncompressedSize == 0xFFFFFFFF)
      return "its sizes are in a ZIP64 field, which the stub does not read (it reads entries below 4 GB)";
    if ((header.EntryFlags & FlagDescriptor) && packed == 0)
      return "its sizes come only in the data descriptor after its data, where the stub cannot find them";
    if (header.EntryFlags & FlagStrongEncryption)
      return "it uses strong encryption (flag bit 6), which the stub does not read";
    if (outcome == EntryWriteFailed && host::DiskWasFull()) return "no space left on the device";
    uint64_t present = FileSize(o_.package);
    present = present > dataStart ? present - dataStart : 0;
    // A package cut inside the entry explains any failure of its data.
    bool dataFailed = outcome == EntryDamaged || outcome == EntryEndsEarly || outcome == EntryCrcMismatch ||
                      outcome == EntryCodeMismatch || outcome == EntrySizeMismatch;
    if (dataFailed && present < packed)
      return "data ends early: the package holds " + std::to_string(present) + " of its " +
             std::to_string(packed) + " bytes";
    bool solid = State.CurrentEntry.Method == MethodSolid;
    if (dataFailed && solid && SolidEntryOrphaned())
      return "an earlier entry of its solid block failed" +
             (blockFailure_.empty() ? std::string(" or was not decoded") : " (" + blockFailure_ + ")") +
             ", and its data depend on it";
    switch (outcome) {
      case EntryRefusedName:
        return "its name would leave the destination folder";
      case EntryWrongPassword:
        return o_.hasPassword || typed_ ? "the password does not open it (a wrong password)"
                                        : "encrypted, and no password was given";
      case EntryUnknownMethod:
        if (State.CurrentEntry.Method == MethodAes) return "its AES extra field is missing or not one the stub reads";
        return UnknownMethod(State.CurrentEntry.Method);
      case EntryUnsupported:
        return solid ? "its solid block's property byte names a dictionary or filter the stub does not take"
                     : "its LZMA properties lie beyond the format's limits";
      case EntryOutOfMemory:
        return solid ? "its solid block's dictionary needs more memory than can be allocated"
                     : "its LZMA dictionary needs more memory than can be allocated";
      case EntryDamaged:
        return "the compressed data are damaged";
      case EntryEndsEarly:
        return "data ends early: the compressed data stop before their stream ends";
      case EntryCrcMismatch:
        return "CRC mismatch: the header says " + Hex8(expectedCrc) + ", the data give " + Hex8(~State.Crc);
      case EntryCodeMismatch:
        return "its authentication code does not match (damaged, or not the right password)";
      case EntrySizeMismatch:
        return "its data do not decode to the declared " + std::to_string(size) + " bytes";
      case EntryWriteFailed:
        if (host::OutputWasCut()) return "its data decode to more than the declared " + std::to_string(size) + " bytes";
        return "its file could not be written";
      default:
        return "";
    }
  }

  // Why a walk ended before the archive's end, or "" when it did not.
  std::string EarlyEnd(const WalkResult& walk) const {
    std::string at = "at offset " + std::to_string(walk.position);
    switch (walk.end) {
      case WalkFileEnds:
        if (walk.position > FileSize(o_.package)) return "the package ends inside the data of the last entry";
        return "the package ends " + at + " without a central directory: it is cut short";
      case WalkNoHeader:
        return "no local header " + at + ": the archive is damaged";
      case WalkCutHeader:
        return "the package ends inside a local header " + at;
      case WalkCutName:
        return "the package ends inside the name of the entry " + at;
      case WalkRefusedName:
        return "the entry " + at + " has no name the stub accepts";
      default:
        return "";
    }
  }

  // Where names are bytes (POSIX), code page names are written as their bytes;
  // they are shown in UTF-8. Before the walk, existing UTF-8 names are turned
  // back into the code page form (outermost first) so the overwrite rule sees
  // them; afterwards the names go to UTF-8 (innermost first, while its parents
  // still have their old names). Names that are UTF-8 already are written as they are.
  // Only names the engine accepts are touched, and only below real folders of
  // the destination: a link on the way could lead outside it.
  void RenameAll(const std::string& folder, bool toUtf8, const std::vector<std::string>& names,
                 std::vector<std::string>& renamed) {
    std::vector<std::string> prefixes;   // code page paths whose last component has 8-bit bytes
    std::set<std::string> seen;
    for (const std::string& name : names) {
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
      if (!RealFolders(folder, parentPath)) continue;
      std::string raw = folder + "/" + parentPath + last;
      std::string utf8 = folder + "/" + parentPath + FromCodePage(page_, last);
      const std::string& from = toUtf8 ? raw : utf8;
      const std::string& to = toUtf8 ? utf8 : raw;
      if (os::Status(from, false).kind != os::FileStatus::Missing && os::RenameNew(from, to))
        renamed.push_back(prefix);
    }
  }

  // True when every folder of 'relative' ("" or ending in '/') below 'folder' is a folder, not a link.
  static bool RealFolders(const std::string& folder, const std::string& relative) {
    std::string path = folder;
    for (size_t start = 0, slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
      path += "/" + relative.substr(start, slash - start);
      if (os::Status(path, false).kind != os::FileStatus::Folder) return false;
    }
    return true;
  }

  const EngineOptions& o_;
  CodePage page_;
  HostDialog dialog_;
  int prompts_ = 0;
  bool typed_ = false;     // a password was typed at the terminal
  bool failed_ = false;
  bool started_ = false;
  WalkResult walk_ = {WalkComplete, 0};
  uint64_t inProgress_ = 0;                       // package bytes of the entry being written
  std::map<std::string, std::string> reasons_;    // why an entry the engine was given failed
  std::string blockFailure_;                      // the last entry of a solid block that failed itself
  std::map<size_t, uint32_t> positions_;          // list index -> local header, for HeaderPositions
  std::unique_ptr<Progress> progress_;
  static Session* current_;                       // the engine's callbacks reach the session here
};

Session* Session::current_ = nullptr;

// "YYYY-MM-DD hh:mm:ss" of an MS-DOS date and time (date in the high 16 bits).
std::string DosTimeText(uint32_t dosDateTime) {
  char text[32];
  uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), date >> 5 & 15, date & 31,
           time >> 11, time >> 5 & 63, (time & 31) * 2);
  return text;
}

std::string MakeTempFolder() {
  return os::MakeTempFolder("tolvane-test");
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
    if (EntryModifiedTime(e, time) && os::LocalTime(time.tv_sec, parts))
      strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    times.emplace(e.rawName, text);
  }
  return times;
}

int ListPackage(const EngineOptions& o) {
  if (!Session::IsPackage(o.package)) return 1;
  Session session(o);
  if (!session.Open()) return 1;
  bool ok = session.List();
  // The engine's list in its order; the fields from the local header the
  // engine's own walk finds for each item (by the name it lists, which a
  // Unicode Path field may have given).
  std::map<std::string, std::string> times;
  LocalWalk details;
  std::map<size_t, uint32_t> positions;
  if (o.verbose || o.json) {
    times = EntryTimes(o);
    std::string error;
    if (!WalkLocalHeaders(o.package, State.ArchiveStart, details, error)) Error(error);
    positions = session.HeaderPositions();
  }
  std::map<uint64_t, const LocalEntry*> byOffset;
  for (const LocalEntry& e : details.entries) byOffset.emplace(e.offset, &e);
  if (o.verbose && !o.json) printf("%10s %10s  %-8s %-3s  %-19s  %-8s  %s\n", "size", "packed", "method", "enc", "time", "crc-32", "name");
  if (o.json) printf("{\"package\": %s, \"entries\": [", JsonString(o.package).c_str());
  const char* separator = "";
  for (size_t i = 0; i < session.Items().size(); i++) {
    const HostListItem& item = session.Items()[i];
    std::string name = session.Shown(item.name, item.utf8);
    auto position = positions.find(i);
    auto found = position == positions.end() ? byOffset.end() : byOffset.find(position->second);
    const LocalEntry* e = found == byOffset.end() ? nullptr : found->second;
    if (!o.verbose && !o.json) {
      printf("%s\n", Printable(name).c_str());
      continue;
    }
    LocalEntry none;
    const LocalEntry& f = e ? *e : none;
    auto stamp = times.find(e ? e->name : item.name);   // as the stub gives it to the file
    std::string time = stamp != times.end() ? stamp->second : DosTimeText(f.dosDateTime), crc = Hex8(f.crc);
    if (o.json)
      printf("%s\n  {\"name\": %s, \"size\": %u, \"packed\": %u, \"method\": %s, \"encrypted\": %s, "
             "\"time\": %s, \"crc32\": \"%s\"}",
             separator, JsonString(name).c_str(), f.size, f.compressedSize, JsonString(MethodLabel(f.dataMethod)).c_str(),
             f.Encrypted() ? "true" : "false", JsonString(time).c_str(), crc.c_str());
    else
      printf("%10u %10u  %-8s %-3s  %-19s  %-8s  %s\n", f.size, f.compressedSize, MethodLabel(f.dataMethod).c_str(),
             f.Encrypted() ? "yes" : "no", time.c_str(), crc.c_str(), Printable(name).c_str());
    separator = ",";
  }
  if (o.json) printf("\n]}\n");
  if (session.EndedEarly()) ok = false;
  return ok ? 0 : 1;
}

namespace {

void ReportFailures(const std::vector<EntryFailure>& failed) {
  for (const EntryFailure& f : failed) Error("not extracted: " + f.name + ": " + f.reason);
}

// Extracts into a temporary folder that is gone afterwards, whatever happens:
// an interrupt ends the walk, the folder is removed, then the process ends.
bool ExtractToTemporaryFolder(Session& session, const std::set<std::string>* only, std::vector<EntryFailure>& failed) {
  std::string folder = MakeTempFolder();
  if (folder.empty()) {
    Error("cannot create a temporary folder to test in");
    return false;
  }
  InflateUses = StubLoops;   // the package is read as the stub reads it
  os::CatchInterrupt(host::StopReading);
  bool ok = session.Extract(folder, 0, only, failed);
  RemoveTree(folder);
  os::EndCatchingInterrupt();
  InflateUses = FastestLoops;
  return ok;
}

}  // namespace

int TestPackage(const EngineOptions& o) {
  if (!Session::IsPackage(o.package)) return 1;
  Session session(o);
  if (!session.Open()) return 1;
  if (!session.List()) return 1;
  std::vector<EntryFailure> failed;
  bool ok = ExtractToTemporaryFolder(session, nullptr, failed);
  ReportFailures(failed);
  if (!o.quiet)
    fprintf(stderr, "tolvane-pack: %s: %s, %s\n", o.package.c_str(),
            Count(session.Items().size(), "entry", "entries").c_str(),
            ok ? "all extracted and checked" : "FAILED");
  return ok ? 0 : 1;
}

bool CheckEntries(const EngineOptions& o, const std::set<std::string>& names, std::vector<EntryFailure>& failed) {
  Session session(o);
  if (!session.Open()) return false;
  host::SetMessageHandler([](const HostMessage&) {});   // the stub's boxes say less than the reasons
  if (!session.List()) {
    failed.push_back({o.package, "the stub cannot list it"});
    return false;
  }
  return ExtractToTemporaryFolder(session, &names, failed) && failed.empty();
}

int ExtractPackage(const EngineOptions& o) {
  if (!Session::IsPackage(o.package)) return 1;
  std::string folder = os::AbsolutePath(o.destination);
  while (folder.size() > 1 && strchr(os::PathSeparators, folder.back()) && folder[folder.size() - 2] != ':')
    folder.pop_back();
  if (!os::MakeFolder(folder)) {
    Error("cannot create " + folder + ": " + os::LastError());
    return 1;
  }
  Session session(o);
  if (!session.Open()) return 1;
  if (!session.List()) return 1;
  Config.KeepTimes = true;   // the files get their entries' times, whatever the package says
  int skip = o.overwrite >= 0 ? !o.overwrite : Config.OverwriteControlId - 501;
  std::vector<EntryFailure> failed;
  os::CatchInterrupt(host::StopReading);
  bool ok = session.Extract(folder, skip, nullptr, failed);
  os::EndCatchingInterrupt();
  ReportFailures(failed);
  if (ok && Config.HasCommand && !o.quiet) {
    RunCommand();   // recorded by the host, never performed
    for (const HostLaunch& launch : host::Launches())
      fprintf(stderr, "tolvane-pack: the stub would now open: %s %s\n",
              FromCodePage(session.Page(), launch.program).c_str(),
              FromCodePage(session.Page(), launch.parameters).c_str());
  }
  return ok ? 0 : 1;
}

namespace {

// One line of `info`: its label in the text form, its key and value in JSON.
struct InfoField {
  std::string key, text, json;
};

void PrintInfo(const std::vector<InfoField>& fields, bool json) {
  if (json) {
    printf("{");
    for (size_t i = 0; i < fields.size(); i++)
    {
      std::string key = fields[i].key;
      std::replace(key.begin(), key.end(), ' ', '_');
      printf("%s\n  %s: %s", i ? "," : "", JsonString(key).c_str(), fields[i].json.c_str());
    }
    printf("\n}\n");
    return;
  }
  for (const InfoField& f : fields) printf("%-14s %s\n", (f.key + ":").c_str(), Printable(f.text, true).c_str());
}

std::string Number(uint64_t n) { return std::to_string(n); }
std::string Bool(bool b) { return b ? "true" : "false"; }

}  // namespace

int ShowPackageInfo(const EngineOptions& o) {
  // The stub and the most a header can claim (three texts of 255 bytes).
  std::string data, error = NotAPackage(o.package);
  if (error.empty()) CheckCodePage(o.codePage, error);
  os::File file;
  if (!error.empty() || !file.Open(o.package)) {
    Error(error.empty() ? "cannot open " + o.package : error);
    return 1;
  }
  data.resize(StubSize + HeaderFixedSize + 3 * 255);
  data.resize(file.ReadAt(0, &data[0], data.size()));
  CodePage page{o.codePage};
  std::vector<InfoField> f;
  uint64_t size = file.Size();
  f.push_back({"package", o.package + " (" + Number(size) + " bytes)", JsonString(o.package)});
  f.push_back({"size", Number(size) + " bytes", Number(size)});
  // Which stub: its word in JSON and its words in the text.
  std::string embedded = EmbeddedStub(), which = "unknown", stubText;
  // The level is read back from the package's own resource section.
  LevelField level;
  std::string levelError, asking;
  bool hasLevel = FindLevelField(data.substr(0, StubSize), level, levelError);
  if (hasLevel && level.level == LevelAdministrator) asking = ", asking for administrator rights";
  if (hasLevel && level.level == LevelHighest) asking = ", asking for the highest rights its user has";
  if (!embedded.empty()) {
    switch (CompareStubs(data.substr(0, StubSize), embedded)) {
      case StubMatch::Same:
        which = "this", stubText = ", the stub of this tolvane-pack" + asking;
        break;
      case StubMatch::SameSigned:
        which = "this, signed", stubText = ", the stub of this tolvane-pack, signed" + asking;
        break;
      case StubMatch::Other:
        which = "another", stubText = ", another stub";
        break;
    }
  }
  f.push_back({"stub", Number(StubSize) + " bytes" + stubText, JsonString(which)});
  std::string levelText = !hasLevel ? "unknown: " + levelError
                          : level.level == LevelAsInvoker ? level.level + " (the rights of whoever starts it)"
                          : level.level == LevelAdministrator ? level.level + " (Windows asks for administrator rights)"
                          : level.level == LevelHighest ? level.level + " (the highest rights its user has)"
                                                        : level.level;
  f.push_back({"elevation", levelText, hasLevel ? JsonString(level.level) : "null"});
  HeaderSettings h;
  bool header = ParseHeader(data.substr(StubSize, HeaderFixedSize + 3 * 255), h);
  uint32_t archiveStart = StubSize + (header ? HeaderSize : 0);
  if (!header) {
    f.push_back({"header", "none (the stub uses its defaults; the archive starts at " + Number(archiveStart) + ")", "false"});
  } else {
    bool overwrite = (h.flags & FlagOverwriteMask) == FlagOverwrite;
    char flags[8];
    snprintf(flags, sizeof flags, "0x%02X", h.flags);
    f.push_back({"header", std::string("present, flags ") + flags + "; the archive starts at " + Number(archiveStart), "true"});
    f.push_back({"flags", flags, Number(h.flags)});
    f.push_back({"file list", h.flags & FlagFileList ? "offered" : "not offered", Bool(h.flags & FlagFileList)});
    f.push_back({"overwrite", std::string(h.flags & FlagHideOverwrite ? "option hidden" : "option shown") +
                                  (overwrite ? ", existing files are overwritten" : ", existing files are kept"),
                 Bool(overwrite)});
    f.push_back({"overwrite shown", h.flags & FlagHideOverwrite ? "hidden" : "shown", Bool(!(h.flags & FlagHideOverwrite))});
    f.push_back({"switches", h.flags & FlagSwitches ? "obeyed (/S /D= /P= /?)" : "ignored", Bool(h.flags & FlagSwitches)});
    f.push_back({"file times", h.flags & FlagKeepTimes ? "the entries' times" : "the time of extraction",
                 Bool(h.flags & FlagKeepTimes)});
    f.push_back({"command waits", h.flags & FlagWaitForCommand
                     ? "started in the destination; /S waits and exits with its code"
                     : "started in the caller's folder; not waited for",
                 Bool(h.flags & FlagWaitForCommand)});
    std::string message = FromCodePage(page, h.message), folder = FromCodePage(page, h.folder);
    std::string command = FromCodePage(page, h.command), shown;
    for (size_t i = 0; i < message.size(); i++)   // CR LF lines, shown below one another
      shown += message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n' ? std::string("") :
               message[i] == '\n' ? std::string("\n") + std::string(15, ' ') : std::string(1, message[i]);
    f.push_back({"message", shown, JsonString(message)});
    f.push_back({"folder", h.folder.empty() ? "(none: the current directory)"
                           : h.folder == "##" ? "## (the user's temporary folder)" : folder, JsonString(folder)});
    f.push_back({"command", h.command.empty() ? "(none)" : command, JsonString(command)});
    if (h.message.size() + h.folder.size() + h.command.size() > MaxTextsTogether)
      Warn("the texts overrun the 256-byte header");
  }
  f.push_back({"archive start", Number(archiveStart), Number(archiveStart)});
  bool readable = true;
  ZipInput zip;
  if (ReadZipDirectory(o.package, zip, error)) {
    uint64_t size = 0, packed = 0, solid = 0;
    std::set<std::string> ciphers;
    for (const ZipInputEntry& e : zip.entries) {
      size += e.size;
      packed += e.compressedSize;
      if ((e.aes.version ? e.aes.method : e.method) == MethodSolid) solid++;
      if (e.flags & FlagEncrypted) ciphers.insert(e.aes.version ? AesName(e.aes.strength) : "traditional zip encryption");
    }
    std::string encryption;
    for (const std::string& cipher : ciphers) encryption += (encryption.empty() ? "" : " and ") + cipher;
    f.push_back({"entries", Count(zip.entries.size(), "entry", "entries") + ", " + Number(size) + " bytes packed into " + Number(packed),
                 Number(zip.entries.size())});
    f.push_back({"unpacked", Number(size), Number(size)});
    f.push_back({"packed", Number(packed), Number(packed)});
    f.push_back({"solid", solid == 0 ? "no" : Count(solid, "entry", "entries") +
                                                   " in solid blocks: only the stub and tolvane-pack extract them, "
                                                   "other zip tools cannot",
                 Number(solid)});
    f.push_back({"encryption", encryption.empty() ? "none" : encryption + " (names are not encrypted)",
                 JsonString(encryption.empty() ? "none" : encryption)});
  } else {
    f.push_back({"entries", "the central directory cannot be read (" + error + ")", "null"});
    readable = false;
  }
  // The text form keeps its summary lines; the JSON form every field.
  if (!o.json) {
    static const std::set<std::string> detailOnly = {"size", "flags", "overwrite shown", "archive start",
                                                     "unpacked", "packed"};
    f.erase(std::remove_if(f.begin(), f.end(), [](const InfoField& x) { return detailOnly.count(x.key); }), f.end());
  }
  PrintInfo(f, o.json);
  return readable ? 0 : 1;   // a damaged or cut package is a failure, as for list and test
}

}  // namespace pack
