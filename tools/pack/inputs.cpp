#include "tools/pack/inputs.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <utility>

#include "base/entry.h"
#include "tools/os/os.h"
#include "tools/pack/glob.h"
#include "tools/pack/util.h"

namespace pack {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = path.find_first_of(os::PathSeparators, start);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(start, slash - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = slash + 1;
  }
  return parts;
}

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

struct Walker {
  const InputRules& rules;
  std::vector<PlannedEntry>& entries;
  std::vector<std::string>& errors;
  std::set<std::pair<uint64_t, uint64_t>> ancestors;   // guards against symbolic link loops
  std::pair<uint64_t, uint64_t> output{0, 0};
  std::set<size_t>& matched;

  bool Skip(const std::string& name) {
    int pattern = ExcludingPattern(name, rules.excludes);
    if (pattern >= 0) matched.insert((size_t)pattern);
    return pattern >= 0;
  }

  static std::pair<uint64_t, uint64_t> Identity(const os::FileStatus& st) { return {st.volume, st.id}; }

  void AddFile(const std::string& path, const std::string& name, const os::FileStatus& st) {
    if (Identity(st) == output) {
      Warn(path + " is the package being made; skipped");
      return;
    }
    PlannedEntry e;
    e.source = PlannedEntry::FromFile;
    e.utf8Name = name;
    e.origin = path;
    e.path = path;
    e.size = st.size;
    e.mtime = st.mtime;
    e.modified = st.modified;
    entries.push_back(e);
  }

  void AddFolderEntry(const std::string& path, const std::string& name, const os::FileStatus& st) {
    PlannedEntry e;
    e.source = PlannedEntry::FromFolder;
    e.utf8Name = name;
    e.origin = path;
    e.path = path;
    e.mtime = st.mtime;
    entries.push_back(e);
  }

  // Adds the folder's contents with names below 'prefix' ("" or ending in '/').
  void WalkFolder(const std::string& path, const std::string& prefix, const os::FileStatus& st) {
    auto key = Identity(st);
    if (ancestors.count(key)) {
      errors.push_back(path + " is a symbolic link loop");
      return;
    }
    std::vector<std::string> children;
    if (!os::ListFolder(path, children)) {
      errors.push_back("cannot read the folder " + path + ": " + os::LastError());
      return;
    }
    std::sort(children.begin(), children.end());
    ancestors.insert(key);
    size_t before = entries.size();
    for (const std::string& child : children)
      if (!Skip(prefix + child)) AddPath(path + "/" + child, prefix + child);
    ancestors.erase(key);
    // An empty folder, or one whose contents were all skipped (pipes,
    // sockets, exclusions), is still made.
    if (entries.size() == before && !prefix.empty()) AddFolderEntry(path, prefix, st);
  }

  // False when nothing is there to follow; a dangling link is only a warning.
  bool Stat(const std::string& path, os::FileStatus& st) {
    st = os::Status(path, true);
    if (st.kind != os::FileStatus::Missing) return true;
    std::string error = os::LastError();
    if (os::Status(path, false).kind == os::FileStatus::Link)
      Warn(path + " is a dangling symbolic link; skipped");
    else
      errors.push_back("cannot find " + path + ": " + error);
    return false;
  }

  void AddPath(const std::string& path, const std::string& name) {
    os::FileStatus st;
    if (!Stat(path, st)) return;
    if (st.kind == os::FileStatus::Folder) WalkFolder(path, name + "/", st);
    else if (st.kind == os::FileStatus::File) AddFile(path, name, st);
    else Warn(path + " is not a regular file or folder; skipped");
  }

  void AddZip(const std::string& path) {
    ZipInput zip;
    std::string error;
    if (!ReadZipDirectory(path, zip, error, rules.codePage)) {
      errors.push_back(error);
      return;
    }
    for (const ZipInputEntry& z : zip.entries) {
      PlannedEntry e;
      e.source = PlannedEntry::FromZip;
      e.utf8Name = z.name;
      // Archives made from "." name their entries "./x"; the prefix means nothing.
      while (e.utf8Name.compare(0, 2, "./") == 0) e.utf8Name.erase(0, 2);
      e.origin = path + ":" + z.name;
      if (e.utf8Name.empty()) continue;
      if (Skip(e.IsFolder() ? e.utf8Name.substr(0, e.utf8Name.size() - 1) : e.utf8Name)) continue;
      e.path = path;
      e.size = z.size;
      e.zip = z;
      if (z.symlink) {
        Warn(e.origin + " is a symbolic link, which the stub cannot make; skipped");
        continue;
      }
      // AES entries are copied as they are when create has their password.
      bool aes = z.aes.version != 0;
      if ((z.flags & FlagEncrypted) && !aes) {
        errors.push_back(e.origin + " is encrypted; extract that archive first and pack its files");
        continue;
      }
      uint16_t method = aes ? z.aes.method : z.method;
      if (!e.IsFolder() && (!CanDecodeMethod(method) || (aes && method != MethodStored && method != MethodDeflated && method != MethodLzma)))
        errors.push_back(e.origin + " is compressed with " + MethodName(method) +
                         ", which tolvane-pack cannot read; re-create that archive with deflate");
      entries.push_back(e);
    }
  }

  void AddInput(const std::string& input) {
    os::FileStatus st;
    if (!Stat(input, st)) return;
    std::string name = StoredPath(input);
    bool folder = st.kind == os::FileStatus::Folder, file = st.kind == os::FileStatus::File;
    if (folder && rules.fromList) {
      if (!name.empty() && !Skip(name)) AddFolderEntry(input, name + "/", st);
    } else if (folder) {
      std::string trimmed = input;
      while (trimmed.size() > 1 && strchr(os::PathSeparators, trimmed.back())) trimmed.pop_back();
      WalkFolder(trimmed, "", st);
    } else if (file && EndsWithZip(input) && !rules.fromList) {
      AddZip(input);
    } else if (file) {
      if (!Skip(name)) AddFile(input, name, st);
    } else {
      errors.push_back(input + " is not a regular file or folder");
    }
  }

  static bool EndsWithZip(const std::string& path) {
    std::string end = path.size() > 4 ? path.substr(path.size() - 4) : "";
    for (char& c : end) c = (char)(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return end == ".zip";
  }
};

}  // namespace

std::string StoredPath(const std::string& path) {
  std::vector<std::string> parts = Components(path);
  bool climbs = std::find(parts.begin(), parts.end(), "..") != parts.end();
  if (os::IsAbsolute(path) || climbs) {
    std::string last = parts.empty() ? "" : parts.back();
    return last == ".." ? "" : last;
  }
  return Join(parts);
}

int ExcludingPattern(const std::string& name, const std::vector<std::string>& patterns) {
  for (size_t i = 0; i < patterns.size(); i++) {
    std::string pattern = patterns[i];
    if (os::Separator == '\\') std::replace(pattern.begin(), pattern.end(), '\\', '/');
    while (pattern.compare(0, 2, "./") == 0) pattern.erase(0, 2);
    while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
    if (pattern.find('/') == std::string::npos) {
      for (const std::string& part : Components(name))
        if (GlobMatch(pattern, part, false)) return (int)i;
    } else {
      for (size_t end = name.find('/'); ; end = name.find('/', end + 1)) {
        if (GlobMatch(pattern, name.substr(0, end), true)) return (int)i;
        if (end == std::string::npos) break;
      }
    }
  }
  return -1;
}

bool ReadFileList(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  std::string data;
  if (path == "-") {
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stdin)) > 0) data.append(buffer, got);
    if (ferror(stdin)) {
      error = "cannot read the file list from standard input";
      return false;
    }
  } else if (!ReadWholeFile(path, data, error)) {
    return false;
  }
  for (size_t start = 0; start < data.size();) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string line = data.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return true;
}

bool CollectInputs(const std::vector<std::string>& inputs, const InputRules& rules,
                   std::vector<PlannedEntry>& entries, std::vector<std::string>& errors,
                   std::set<size_t>& matched) {
  Walker walker{rules, entries, errors, {}, {0, 0}, matched};
  os::FileStatus existing = os::Status(rules.output, true);
  if (existing.kind == os::FileStatus::File) walker.output = Walker::Identity(existing);
  for (const std::string& input : inputs) walker.AddInput(input);
  return errors.empty();
}

}  // namespace pack
