#include "tools/pack/inputs.h"

#include <dirent.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

#include "archive/entry.h"
#include "tools/pack/util.h"

namespace pack {

namespace {

struct Walker {
  std::vector<PlannedEntry>& entries;
  std::vector<std::string>& errors;
  std::set<std::pair<dev_t, ino_t>> ancestors;   // guards against symbolic link loops
  std::pair<dev_t, ino_t> output{0, 0};
  int codePage;

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
    if (children.empty() && !prefix.empty()) {
      AddFolderEntry(path, prefix, st);
      return;
    }
    ancestors.insert(key);
    size_t before = entries.size();
    for (const std::string& child : children) AddPath(path + "/" + child, prefix + child);
    ancestors.erase(key);
    // A folder whose contents were all skipped (pipes, sockets) is still made.
    if (entries.size() == before && !prefix.empty()) AddFolderEntry(path, prefix, st);
  }

  void AddPath(const std::string& path, const std::string& name) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
      errors.push_back("cannot find " + path + ": " + strerror(errno));
      return;
    }
    if (S_ISDIR(st.st_mode)) WalkFolder(path, name + "/", st);
    else if (S_ISREG(st.st_mode)) AddFile(path, name, st);
    else Warn(path + " is not a regular file or folder; skipped");
  }

  void AddZip(const std::string& path) {
    ZipInput zip;
    std::string error;
    if (!ReadZipDirectory(path, zip, error, codePage)) {
      errors.push_back(error);
      return;
    }
    for (const ZipInputEntry& z : zip.entries) {
      PlannedEntry e;
      e.source = PlannedEntry::FromZip;
      e.utf8Name = z.name;
      e.origin = path + ":" + z.name;
      e.path = path;
      e.size = z.size;
      e.zip = z;
      // AES entries are copied as they are when create has their password.
      bool aes = z.aes.version != 0;
      if ((z.flags & FlagEncrypted) && !aes) {
        errors.push_back(e.origin + " is encrypted; extract that archive first and pack its files");
        continue;
      }
      uint16_t method = aes ? z.aes.method : z.method;
      if (!e.IsFolder() && (!CanDecodeMethod(method) || (aes && method != 0 && method != 8)))
        errors.push_back(e.origin + " is compressed with " + MethodName(method) +
                         ", which tolvane-pack cannot read; re-create that archive with deflate");
      entries.push_back(e);
    }
  }
};

bool EndsWithZip(const std::string& path) {
  return path.size() > 4 && strcasecmp(path.c_str() + path.size() - 4, ".zip") == 0;
}

}  // namespace

bool CollectInputs(const std::vector<std::string>& inputs, const std::string& output, int codePage,
                   std::vector<PlannedEntry>& entries, std::vector<std::string>& errors) {
  Walker walker{entries, errors, {}, {0, 0}, codePage};
  struct stat existing;
  if (stat(output.c_str(), &existing) == 0) walker.output = std::make_pair(existing.st_dev, existing.st_ino);
  for (const std::string& input : inputs) {
    struct stat st;
    if (stat(input.c_str(), &st) != 0) {
      errors.push_back("cannot find " + input + ": " + strerror(errno));
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      std::string trimmed = input;
      while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
      walker.WalkFolder(trimmed, "", st);
    } else if (S_ISREG(st.st_mode) && EndsWithZip(input)) {
      walker.AddZip(input);
    } else if (S_ISREG(st.st_mode)) {
      walker.AddFile(input, BaseName(input), st);
    } else {
      errors.push_back(input + " is not a regular file or folder");
    }
  }
  return errors.empty();
}

}  // namespace pack
