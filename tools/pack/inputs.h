#pragma once
// Turns the command line's inputs (folders, files, zip archives, file lists)
// into the ordered list of entries to pack.
#include <stdint.h>
#include <set>
#include <string>
#include <vector>

#include "tools/pack/zip_reader.h"

namespace pack {

struct PlannedEntry {
  enum Source { FromFile, FromFolder, FromZip } source = FromFile;
  std::string utf8Name;   // '/' separators; a folder ends in '/'
  std::string name;       // the name as stored (filled by the planner)
  std::string origin;     // where it came from, for messages
  std::string path;       // the file, or the zip archive it is in
  uint64_t size = 0;
  int64_t mtime = 0;      // seconds (files and folders)
  int64_t modified = 0;   // files: when listed, to tell a change (os::FileStatus::modified)
  ZipInputEntry zip;      // FromZip only
  bool IsFolder() const { return !utf8Name.empty() && utf8Name.back() == '/'; }
};

struct InputRules {
  std::string output;                  // an existing package there is never packed into itself
  int codePage = 1252;                 // of names in our own packages given as input
  std::vector<std::string> excludes;   // see Excluded
  bool fromList = false;               // inputs from --files-from: a folder adds only itself
};

// A folder input adds its contents (the folder's own name is not stored); a
// file is stored under its relative path, or under its last component when
// the path is absolute or climbs with '..'; a file ending in .zip adds the
// archive's entries. Folders are read in sorted order so the result does not
// depend on the file system. Symbolic links are followed; dangling ones are
// skipped with a warning.
// 'matched' gains the index of each exclude pattern that left something out.
bool CollectInputs(const std::vector<std::string>& inputs, const InputRules& rules,
                   std::vector<PlannedEntry>& entries, std::vector<std::string>& errors,
                   std::set<size_t>& matched);

// The name a file input is stored under (see above); empty for "." and the like.
std::string StoredPath(const std::string& path);

// The index of the first pattern that leaves an entry name (without a
// folder's trailing '/') out, or -1: a pattern without '/' matches any one
// component, a pattern with '/' the path from the start, or a folder above
// it. On Windows a '\' in a pattern separates folders as '/' does.
int ExcludingPattern(const std::string& name, const std::vector<std::string>& patterns);
inline bool Excluded(const std::string& name, const std::vector<std::string>& patterns) {
  return ExcludingPattern(name, patterns) >= 0;
}

// The lines of a --files-from file ("-" reads standard input); empty lines are skipped.
bool ReadFileList(const std::string& path, std::vector<std::string>& lines, std::string& error);

}  // namespace pack
