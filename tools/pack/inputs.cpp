#include "tools/pack/inputs.h"

#include <dirent.h>
#include <errno.h>
#include <fnmatch.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

#include "base/entry.h"
#include "tools/pack/util.h"

namespace pack {

namespace {

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = path.find('/', start);
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
  std::set<std::pair<dev_t, ino_t>> ancestors;   // guards against symbolic link loops
  std::pair<dev_t, ino_t> output{0, 0};

  bool Skip(const std::string& name) const { return Excluded(name, rules.excludes); }

  void AddFile(const std::string& path, const std::string& name, const struct stat& st) {
    if (std::make_pair(st.st_dev, st.st_ino) == output) {
      Warn(path + " is the package being made; skipped");
      return;
    }
    PlannedEntry e;
    e.source = PlannedEntry::FromFile;
    e.utf8Name = name;
    e.origin = path;
    e.path = path;
    e.size = (uint64_t)st.st_size;
    e.mtime = st.st_mtime;
    entries.push_back(e);
  }

  void AddFolderEntry(const std::string& path, const std::string& name, const struct stat& st) {
    PlannedEntry e;
    e.source = PlannedEntry::FromFolder;
    e.utf8Name = name;
    e.origin = path;
    e.path = path;
    e.mtime = st.st_mtime;
    entries.push_back(e);
  }

  // Adds the folder's contents with names below 'prefix' ("" or ending in '/').
  void WalkFolder(const std::string& path, const std::string& prefix, const struct stat& st) {
    auto key = std::make_pair(st.st_dev, st.st_ino);
    if (ancestors.count(key)) {
      errors.push_back(path + " is a symbolic link loop");
      return;
    }
    DIR* dir = opendir(path.c_str());
    if (!dir) {
      errors.push_back("cannot read the folder " + path + ": " + strerror(errno));
      return;
    }
    std::vector<std::string> children;
    while (struct dirent* item = readdir(dir))
      if (strcmp(item->d_name, ".") != 0 && strcmp(item->d_name, "..") != 0)
        children.push_back(item->d_name);
    closedir(dir);
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
  bool Stat(const std::string& path, struct stat& st) {
    if (stat(path.c_str(), &st) == 0) return true;
    int error = errno;
    struct stat link;
    if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      Warn(path + " is a dangling symbolic link; skipped");
    else
      errors.push_back("cannot find " + path + ": " + strerror(error));
    return false;
  }

  void AddPath(const std::string& path, const std::string& name) {
    struct stat st;
    if (!Stat(path, st)) return;
    if (S_ISDIR(st.st_mode)) WalkFolder(path, name + "/", st);
    else if (S_ISREG(st.st_mode)) AddFile(path, name, st);
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
    struct stat st;
    if (!Stat(input, st)) return;
    std::string name = StoredPath(input);
    if (S_ISDIR(st.st_mode) && rules.fromList) {
      if (!name.empty() && !Skip(name)) AddFolderEntry(input, name + "/", st);
    } else if (S_ISDIR(st.st_mode)) {
      std::string trimmed = input;
      while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
      WalkFolder(trimmed, "", st);
    } else if (S_ISREG(st.st_mode) && EndsWithZip(input) && !rules.fromList) {
      AddZip(input);
    } else if (S_ISREG(st.st_mode)) {
      if (!Skip(name)) AddFile(input, name, st);
    } else {
      errors.push_back(input + " is not a regular file or folder");
    }
  }

  static bool EndsWithZip(const std::string& path) {
    return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".zip") == 0;
  }
};

}  // namespace

std::string StoredPath(const std::string& path) {
  std::vector<std::string> parts = Components(path);
  bool climbs = std::find(parts.begin(), parts.end(), "..") != parts.end();
  if ((!path.empty() && path[0] == '/') || climbs) {
    std::string last = parts.empty() ? "" : parts.back();
    return last == ".." ? "" : last;
  }
  return Join(parts);
}

bool Excluded(const std::string& name, const std::vector<std::string>& patterns) {
  for (std::string pattern : patterns) {
    while (pattern.compare(0, 2, "./") == 0) pattern.erase(0, 2);
    while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
    if (pattern.find('/') == std::string::npos) {
      for (const std::string& part : Components(name))
        if (fnmatch(pattern.c_str(), part.c_str(), 0) == 0) return true;
    } else {
      for (size_t end = name.find('/'); ; end = name.find('/', end + 1)) {
        if (fnmatch(pattern.c_str(), name.substr(0, end).c_str(), FNM_PATHNAME) == 0) return true;
        if (end == std::string::npos) break;
      }
    }
  }
  return false;
}

bool ReadFileList(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  std::string data;
  if (path == "-") {
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stdin)) > 0) data.append(buffer, got);
    if (ferror(stdin)) {
      error = std::string("cannot read the file list from standard input: ") + strerror(errno);
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
                   std::vector<PlannedEntry>& entries, std::vector<std::string>& errors) {
  Walker walker{rules, entries, errors, {}, {0, 0}};
  struct stat existing;
  if (stat(rules.output.c_str(), &existing) == 0) walker.output = std::make_pair(existing.st_dev, existing.st_ino);
  for (const std::string& input : inputs) walker.AddInput(input);
  return errors.empty();
}

}  // namespace pack
