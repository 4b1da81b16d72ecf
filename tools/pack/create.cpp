#include "tools/pack/create.h"

#include <errno.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <new>
#include <map>
#include <set>
#include <utility>

#include "archive/entry.h"
#include "platform/host.h"
#include "tools/pack/aes_zip.h"
#include "tools/pack/archive_check.h"
#include "tools/pack/codepage.h"
#include "tools/pack/inputs.h"
#include "tools/pack/names.h"
#include "tools/pack/package_header.h"
#include "tools/pack/progress.h"
#include "tools/pack/stub.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_writer.h"
#include "tools/pack/zipcrypto.h"

namespace pack {

namespace {

const uint64_t MaxEntrySize = 0xFFFFFFFFu;   // no ZIP64
const size_t MaxPasswordBytes = 79;          // the stub's password prompt reads at most 79

// The temporary output, removed if the run is interrupted.
char pendingOutput[4096];

void RemovePendingAndExit(int signal) {
  if (pendingOutput[0]) unlink(pendingOutput);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// A text option converted to the code page. LF becomes CR LF in the message,
// which the stub shows in a multi-line control.
bool ConvertText(const CodePage& page, const char* what, std::string text, bool crlf,
                 std::string& out, std::vector<std::string>& errors) {
  if (crlf) {
    std::string withCr;
    for (size_t i = 0; i < text.size(); i++) {
      if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) withCr += '\r';
      withCr += text[i];
    }
    text = withCr;
  }
  std::string bad;
  if (!ToCodePage(page, text, out, bad)) {
    errors.push_back(std::string("the ") + what + " " + bad);
    return false;
  }
  return true;
}

std::string CheckFolderText(const std::string& folder) {
  for (unsigned char c : folder) {
    if (c < 0x20) return "the folder contains a control character";
    if (strchr("<>\"|?*", c)) return std::string("the folder contains '") + (char)c + "', which Windows forbids";
  }
  return "";
}

// The output may replace a regular file; a link, a device, a pipe or a folder
// in its place is refused, so nothing but the package path itself changes.
std::string OutputProblem(const std::string& output) {
  struct stat st;
  if (lstat(output.c_str(), &st) != 0) return "";
  if (S_ISREG(st.st_mode)) return "";
  const char* kind = S_ISLNK(st.st_mode)                         ? "a symbolic link"
                     : S_ISDIR(st.st_mode)                       ? "a folder"
                     : S_ISFIFO(st.st_mode)                      ? "a named pipe"
                     : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                  : "not a regular file";
  return output + " is " + kind + "; the package replaces only a regular file or makes a new one";
}

// "##" stands for the destination with a trailing backslash; in quotes that
// backslash escapes the closing quote for most Windows programs.
void WarnAboutQuotedFolder(const std::string& command) {
  if (command.find("##\"") != std::string::npos)
    Warn("in the command, ## is followed by a quote: ## ends in a backslash, and most programs "
         "read a backslash before a quote as an escaped quote; write \"##.\" instead");
}

struct Plan {
  HeaderSettings header;
  std::string stub;
  std::string password;   // code page bytes
  std::vector<PlannedEntry> entries;
  uint64_t totalBytes = 0;
  bool useEpoch = false;   // SOURCE_DATE_EPOCH gives every entry its time
  int64_t epoch = 0;
};

// Names: stub rules, Windows path length, duplicates and clashes. Names are
// stored as UTF-8 (flag bit 11 when they are not ASCII), so they come out
// right whatever the code page of the system that extracts them.
void CheckNames(std::vector<PlannedEntry>& entries, std::vector<std::string>& errors) {
  std::map<std::string, size_t> seen;             // folded name -> index in kept
  std::set<std::string> folders;                  // folded folder prefixes, ending in '/'
  std::vector<PlannedEntry> kept;
  for (PlannedEntry& e : entries) {
    e.name = e.utf8Name;
    std::string problem = NameProblem(e.name);
    if (!problem.empty()) {
      errors.push_back(e.origin + ": the name \"" + e.utf8Name + "\" is refused: " + problem);
      continue;
    }
    if (NameTooLongForWindows(e.name))
      Warn(e.utf8Name + " is " + std::to_string(Utf16Length(e.name)) +
           " characters long: below a destination folder longer than " +
           std::to_string(MaxWindowsPath - 1 - Utf16Length(e.name)) +
           " characters its path exceeds the 259 characters Windows allows, and it will not extract");
    if (!e.IsFolder() && e.size > MaxEntrySize) {
      errors.push_back(e.origin + " is larger than 4 GB, which a zip without ZIP64 cannot hold");
      continue;
    }
    std::string folded = FoldCase(e.utf8Name);
    for (size_t slash = folded.find('/'); slash != std::string::npos; slash = folded.find('/', slash + 1))
      folders.insert(folded.substr(0, slash + 1));
    auto found = seen.find(folded);
    if (found != seen.end()) {
      // The same folder from two inputs is merged silently. Of two files the
      // later one is kept: that is what extracting both would leave, and the
      // stub's list, which matches equal names in turn, can miss the second
      // of two equal names that are not next to each other in the archive.
      if (e.IsFolder()) continue;
      PlannedEntry& earlier = kept[found->second];
      Warn("duplicate name " + e.utf8Name + ": " + e.origin + " replaces " + earlier.origin);
      earlier.utf8Name.clear();   // dropped below
      found->second = kept.size();
    } else {
      seen[folded] = kept.size();
    }
    kept.push_back(e);
  }
  kept.erase(std::remove_if(kept.begin(), kept.end(), [](const PlannedEntry& e) { return e.utf8Name.empty(); }),
             kept.end());
  // A file whose name another entry needs as a folder cannot be extracted.
  for (const PlannedEntry& e : kept)
    if (!e.IsFolder() && folders.count(FoldCase(e.utf8Name) + "/"))
      errors.push_back(e.origin + ": " + e.utf8Name + " is a file, but other entries need a folder of that name");
  // Folder entries are only needed for folders nothing else creates. Names
  // below a folder sort right after it, so one look suffices.
  std::set<std::string> all;
  for (const PlannedEntry& e : kept) all.insert(FoldCase(e.utf8Name));
  entries.clear();
  for (PlannedEntry& e : kept) {
    if (e.IsFolder()) {
      std::string folded = FoldCase(e.utf8Name);
      auto next = all.upper_bound(folded);
      if (next != all.end() && next->compare(0, folded.size(), folded) == 0) continue;
    }
    entries.push_back(e);
  }
}

// Entries go in the order in which the stub's list sorts their names (in the
// code page), from every input alike: the stub's search for each entry then
// starts right at its item. A folder entry sorts before everything below it,
// as a prefix does.
void SortAsTheList(std::vector<PlannedEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(), [](const PlannedEntry& a, const PlannedEntry& b) {
    return host::CompareListNames(a.name, b.name) < 0;
  });
}

bool MakePlan(const CreateOptions& o, Plan& plan, std::vector<std::string>& errors) {
  std::string error;
  if (!LoadStub(o.stubFile, plan.stub, error)) errors.push_back(error);
  if (!CheckCodePage(o.codePage, error)) {
    errors.push_back(error);
    return false;
  }
  CodePage page{o.codePage};
  HeaderSettings& h = plan.header;
  h.flags = DefaultFlags;
  if (o.noFileList) h.flags &= (uint8_t)~FlagFileList;
  if (o.hideOverwrite) h.flags |= FlagHideOverwrite;
  if (o.keepExisting) h.flags &= (uint8_t)~FlagOverwriteMask;
  if (o.noSwitches) h.flags &= (uint8_t)~FlagSwitches;
  if (o.noTimes) h.flags &= (uint8_t)~FlagKeepTimes;
  bool textsOk = ConvertText(page, "message", o.message, true, h.message, errors);
  textsOk &= ConvertText(page, "folder", o.folder, false, h.folder, errors);
  textsOk &= ConvertText(page, "command", o.command, false, h.command, errors);
  // The header's texts stay in the code page: other systems show them otherwise.
  const std::pair<const char*, const std::string*> texts[] = {
      {"message", &o.message}, {"folder", &o.folder}, {"command", &o.command}};
  for (const auto& text : texts)
    if (textsOk && !IsAscii(*text.second))
      Warn(std::string("the ") + text.first + " holds characters outside ASCII: they show as written only "
           "on Windows systems whose ANSI code page is " + std::to_string(o.codePage));
  if (textsOk) {
    std::string problem = HeaderProblem(h);
    if (problem.empty()) problem = CheckFolderText(h.folder);
    if (problem.empty())
      for (unsigned char c : h.command)
        if (c < 0x20) problem = "the command contains a control character";
    if (!problem.empty()) errors.push_back(problem);
    WarnAboutQuotedFolder(o.command);
  }
  if (o.hasPassword) {
    if (o.password.empty()) errors.push_back("the password is empty");
    else if (ConvertText(page, "password", o.password, false, plan.password, errors) &&
             plan.password.size() > MaxPasswordBytes)
      errors.push_back("the password is " + std::to_string(plan.password.size()) +
                       " bytes long; the stub's prompt takes at most 79");
  }
  if (o.encryptionGiven && !o.hasPassword) errors.push_back("--encryption needs --password");
  if (o.level < 0 || o.level > 12) errors.push_back("the level must be 0 to 12");

  std::string outputProblem = OutputProblem(o.output);
  if (!outputProblem.empty()) errors.push_back(outputProblem);
  InputRules rules{o.output, o.codePage, o.excludes, false};
  CollectInputs(o.inputs, rules, plan.entries, errors);
  std::vector<std::string> listed;
  for (const std::string& list : o.filesFrom)
    if (!ReadFileList(list, listed, error)) errors.push_back(error);
  rules.fromList = true;
  CollectInputs(listed, rules, plan.entries, errors);
  if (!o.hasPassword)
    for (const PlannedEntry& e : plan.entries)
      if (e.source == PlannedEntry::FromZip && e.zip.aes.version != 0)
        errors.push_back(e.origin + " is AES-encrypted; give its password with --password to copy it");
  CheckNames(plan.entries, errors);
  SortAsTheList(plan.entries);
  if (plan.entries.empty() && errors.empty()) errors.push_back("there is nothing to pack");
  if (plan.entries.size() > MaxEntries)
    errors.push_back(std::to_string(plan.entries.size()) +
                     " entries: a zip without ZIP64 holds at most 65535");
  for (const PlannedEntry& e : plan.entries) plan.totalBytes += e.size;
  plan.useEpoch = SourceDateEpoch(plan.epoch);
  if (plan.totalBytes > MaxEntrySize && errors.empty())
    Warn("the input is larger than 4 GB; the package must still come out below 2 GB");
  return errors.empty();
}

// A file's bytes, mapped rather than read so large files cost no copy.
struct MappedFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool Open(const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_RDONLY);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      error = "cannot read " + path + ": " + strerror(errno);
      if (fd >= 0) close(fd);
      return false;
    }
    size = (size_t)st.st_size;
    if (size > MaxEntrySize) {
      close(fd);
      error = path + " grew beyond 4 GB while packing";
      return false;
    }
    if (size > 0) {
      void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (p == MAP_FAILED) {
        error = "cannot read " + path + ": " + strerror(errno);
        close(fd);
        return false;
      }
      data = (const uint8_t*)p;
    }
    close(fd);
    return true;
  }
  ~MappedFile() {
    if (data) munmap((void*)data, size);
  }
};

// One entry made ready for the package: its record and its data as stored.
struct PreparedEntry {
  ZipRecord record;
  std::string data;
  std::string error;   // empty when ready
};

// Reads, compresses and encrypts entries; one per thread, each with its own
// compressor. An entry's bytes depend on nothing but the entry and the
// options, so the package is the same whatever the number of threads.
class EntryPreparer {
 public:
  EntryPreparer(const CreateOptions& o, const Plan& plan)
      : level_(o.level), hasPassword_(o.hasPassword), encryption_(o.encryption), password_(plan.password),
        useEpoch_(plan.useEpoch), epoch_(plan.epoch) {
    if (level_ > 0) compressor_ = libdeflate_alloc_compressor(level_);
  }
  ~EntryPreparer() {
    if (compressor_) libdeflate_free_compressor(compressor_);
  }
  EntryPreparer(const EntryPreparer&) = delete;
  EntryPreparer& operator=(const EntryPreparer&) = delete;

  PreparedEntry Prepare(const PlannedEntry& e) {
    PreparedEntry out;
    try {
      if (!Build(e, out)) out.data.clear();
    } catch (const std::bad_alloc&) {
      out.data.clear();
      out.error = "out of memory while packing " + e.origin;
    }
    return out;
  }

 private:
  bool Build(const PlannedEntry& e, PreparedEntry& out) {
    ZipRecord& r = out.record;
    r.name = e.name;
    if (!IsAscii(r.name)) r.flags |= FlagUtf8;
    r.dosDateTime = useEpoch_ ? DosDateTime(epoch_, true)
                    : e.source == PlannedEntry::FromZip ? e.zip.dosDateTime
                                                        : DosDateTime(e.mtime, false);
    if (e.IsFolder()) {
      r.folder = true;
      return true;
    }
    if (e.source == PlannedEntry::FromZip) return FromZip(e, out);
    MappedFile file;
    if (!file.Open(e.path, out.error)) return false;
    return FromBytes(file.data, file.size, out);
  }

  // Raw zip data is kept as it is when the method is one the stub reads.
  bool FromZip(const PlannedEntry& e, PreparedEntry& out) {
    std::string raw, plain;
    if (e.zip.method == MethodStored || e.zip.method == MethodDeflated) {
      // Checked by decoding in bounded chunks; the data are kept as they are.
      LocalEntry check;
      check.dataOffset = e.zip.dataOffset;
      check.method = e.zip.method;
      check.crc = e.zip.crc;
      check.compressedSize = (uint32_t)e.zip.compressedSize;
      check.size = (uint32_t)e.zip.size;
      std::string problem = EntryProblem(e.path, check, nullptr);
      if (!problem.empty()) {
        out.error = e.path + ": " + e.zip.name + " is damaged: " + problem;
        return false;
      }
    }
    if (!ReadRawData(e.path, e.zip, raw, out.error)) return false;
    if (e.zip.aes.version != 0) return CopyAesEntry(e, std::move(raw), out);
    if (e.zip.method == MethodStored || e.zip.method == MethodDeflated) {
      out.record.method = e.zip.method;
      out.record.crc = e.zip.crc;
      out.record.size = (uint32_t)e.zip.size;
      return Store(std::move(raw), out);
    }
    if (!DecodeInputEntry(e.zip, raw, plain, out.error)) {
      out.error = e.path + ": " + out.error;
      return false;
    }
    return FromBytes((const uint8_t*)plain.data(), plain.size(), out);
  }

  bool FromBytes(const uint8_t* data, size_t size, PreparedEntry& out) {
    ZipRecord& r = out.record;
    r.crc = libdeflate_crc32(0, data, size);
    r.size = (uint32_t)size;
    r.method = 0;
    if (compressor_ && size > 0) {
      std::string packed(libdeflate_deflate_compress_bound(compressor_, size), '\0');
      size_t length = libdeflate_deflate_compress(compressor_, data, size, &packed[0], packed.size());
      if (length > 0 && length < size) {
        packed.resize(length);
        r.method = 8;
        return Store(std::move(packed), out);
      }
    }
    return Store(std::string((const char*)data, size), out);
  }

  // An AES entry of an input zip is opened with the package's password,
  // decoded and checked, then copied as it is.
  bool CopyAesEntry(const PlannedEntry& e, std::string raw, PreparedEntry& out) {
    const AesInfo& aes = e.zip.aes;
    std::string compressed, plain;
    ZipInputEntry inner = e.zip;
    inner.method = aes.method;
    if (!AesOpen(password_, aes.strength, raw, compressed, out.error) ||
        !DecodeInputEntry(inner, compressed, plain, out.error, aes.version != 2)) {
      out.error = e.origin + ": " + out.error + "; an AES entry is copied only with its own password";
      return false;
    }
    ZipRecord& r = out.record;
    r.method = MethodAes;
    r.flags = FlagEncrypted | (r.flags & FlagUtf8);
    r.crc = e.zip.crc;
    r.size = (uint32_t)e.zip.size;
    r.extra = AesExtraField(aes);
    r.compressedSize = (uint32_t)raw.size();
    out.data = std::move(raw);
    return true;
  }

  // Encrypts when asked; the data are then as the package stores them.
  bool Store(std::string data, PreparedEntry& out) {
    ZipRecord& r = out.record;
    if (hasPassword_ && encryption_ != Encryption::ZipCrypto) {
      AesInfo aes;
      aes.version = AesVersionFor(r.size);
      aes.strength = encryption_ == Encryption::Aes128 ? 1 : 3;
      aes.method = r.method;
      if (!AesSeal(password_, aes.strength, data, out.error)) return false;
      if (aes.version == 2) r.crc = 0;
      r.method = MethodAes;
      r.extra = AesExtraField(aes);
      r.flags |= FlagEncrypted;
    } else if (hasPassword_) {
      uint8_t random[11];
      if (!SecureRandom(random, sizeof random)) {
        out.error = "the system's random source failed";
        return false;
      }
      ZipCipher cipher(password_);
      std::string header = EncryptionHeader(cipher, r.crc, random);
      if (!data.empty()) cipher.Encrypt((uint8_t*)&data[0], data.size());
      data = header + data;
      r.flags |= 1;
    }
    if (data.size() > MaxEntrySize) {
      out.error = r.name + " does not fit in 4 GB once compressed";
      return false;
    }
    r.compressedSize = (uint32_t)data.size();
    out.data = std::move(data);
    return true;
  }

  int level_;
  bool hasPassword_;
  Encryption encryption_;
  std::string password_;
  libdeflate_compressor* compressor_ = nullptr;
  bool useEpoch_;
  int64_t epoch_;
};

int ThreadCount(const CreateOptions& o, size_t entries) {
  unsigned available = std::thread::hardware_concurrency();
  size_t wanted = o.threads > 0 ? (size_t)o.threads : available > 0 ? available : 1;
  return (int)std::max<size_t>(1, std::min(wanted, entries));
}

// Entries are prepared on several threads and written strictly in order by
// this thread. Workers may run well ahead of the writer, so that one large
// entry does not stall the others, but hold at most MaxPendingBytes of
// prepared data the writer has not taken yet (the entry it waits for is
// always prepared).
class ParallelEntries {
 public:
  ParallelEntries(const CreateOptions& o, const Plan& plan, int threads)
      : o_(o), plan_(plan), slots_(plan.entries.size()), ready_(plan.entries.size(), 0),
        window_((size_t)threads * 64) {
    for (int i = 0; i < threads; i++) workers_.emplace_back([this]() { Work(); });
  }
  ~ParallelEntries() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : workers_) t.join();
  }

  // Waits for entry i, hands it over and lets the workers move on.
  PreparedEntry Take(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&]() { return ready_[i] != 0; });
    PreparedEntry entry = std::move(slots_[i]);
    pendingBytes_ -= entry.data.size();
    taken_ = i + 1;
    lock.unlock();
    changed_.notify_all();
    return entry;
  }

 private:
  void Work() {
    EntryPreparer preparer(o_, plan_);
    for (;;) {
      size_t i;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&]() {
          return stop_ || next_ >= slots_.size() ||
                 (next_ < taken_ + window_ && (pendingBytes_ < MaxPendingBytes || next_ == taken_));
        });
        if (stop_ || next_ >= slots_.size()) return;
        i = next_++;
      }
      PreparedEntry entry = preparer.Prepare(plan_.entries[i]);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingBytes_ += entry.data.size();
        slots_[i] = std::move(entry);
        ready_[i] = 1;
      }
      changed_.notify_all();
    }
  }

  const CreateOptions& o_;
  const Plan& plan_;
  std::vector<PreparedEntry> slots_;
  std::vector<char> ready_;
  static const size_t MaxPendingBytes = 256u << 20;
  size_t window_, next_ = 0, taken_ = 0, pendingBytes_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> workers_;
};

bool WritePackage(const CreateOptions& o, const Plan& plan, FILE* file, uint64_t& written,
                  std::string& error) {
  PackageWriter writer(file);
  if (!writer.Begin(plan.stub, BuildHeader(plan.header), error)) return false;
  ParallelEntries entries(o, plan, ThreadCount(o, plan.entries.size()));
  Progress progress(plan.totalBytes, !o.quiet);
  for (size_t i = 0; i < plan.entries.size(); i++) {
    const PlannedEntry& e = plan.entries[i];
    progress.Entry(e.utf8Name);
    if (o.verbose) {
      progress.Clear();
      fprintf(stderr, "  adding %s\n", Printable(e.utf8Name).c_str());
    }
    PreparedEntry ready = entries.Take(i);
    if (!ready.error.empty()) {
      error = ready.error;
      return false;
    }
    if (!writer.Add(ready.record, ready.data, error)) return false;
    progress.Advance(e.size);
  }
  progress.Done();
  if (!writer.Finish(error)) return false;
  written = writer.Position();
  return true;
}

}  // namespace

int CreatePackage(const CreateOptions& o) {
  Plan plan;
  std::vector<std::string> errors;
  if (!MakePlan(o, plan, errors)) {
    for (const std::string& e : errors) Error(e);
    Error("nothing was written");
    return 1;
  }
  if (o.hasPassword && o.encryption == Encryption::ZipCrypto)
    Warn("traditional zip encryption is weak: it keeps out casual readers, not a determined attacker; "
         "the default, AES-256, is not");

  std::string dir = DirName(o.output);
  std::string temp = dir + "/." + BaseName(o.output) + ".XXXXXX";
  if (temp.size() >= sizeof pendingOutput) {
    Error("the output path is too long");
    return 1;
  }
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    Error("cannot create a file in " + dir + ": " + strerror(errno));
    return 1;
  }
  strcpy(pendingOutput, temp.c_str());
  signal(SIGINT, RemovePendingAndExit);
  signal(SIGTERM, RemovePendingAndExit);
  signal(SIGHUP, RemovePendingAndExit);

  FILE* file = fdopen(fd, "wb");
  std::string error;
  uint64_t written = 0;
  bool ok = false;
  try {
    ok = file && WritePackage(o, plan, file, written, error);
  } catch (const std::bad_alloc&) {
    error = "out of memory while packing";   // the temporary file is removed below
  }
  if (ok && (fflush(file) != 0 || fsync(fileno(file)) != 0)) {
    ok = false;
    error = std::string("cannot write the package: ") + strerror(errno);
  }
  if (file && fclose(file) != 0 && ok) {
    ok = false;
    error = std::string("cannot write the package: ") + strerror(errno);
  }
  if (ok) {
    mode_t mask = umask(0);
    umask(mask);
    chmod(temp.c_str(), 0777 & ~mask);   // the package is a program
    if (rename(temp.c_str(), o.output.c_str()) != 0) {
      ok = false;
      error = "cannot create " + o.output + ": " + strerror(errno);
    }
  }
  if (!ok) unlink(temp.c_str());
  pendingOutput[0] = 0;
  if (!ok) {
    Error(error);
    Error("nothing was written");
    return 1;
  }
  if (!o.quiet)
    fprintf(stderr, "tolvane-pack: %s: %zu entries, %llu bytes packed into %llu bytes\n",
            o.output.c_str(), plan.entries.size(), (unsigned long long)plan.totalBytes,
            (unsigned long long)written);
  return 0;
}

}  // namespace pack
