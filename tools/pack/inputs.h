#pragma once
// Turns the command line's inputs (folders, files, zip archives) into the
// ordered list of entries to pack.
#include <stdint.h>
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
  ZipInputEntry zip;      // FromZip only
  bool IsFolder() const { return !utf8Name.empty() && utf8Name.back() == '/'; }
};

// A folder input adds its contents (the folder's own name is not stored), a
// file is added under its own name, and a file ending in .zip adds the
// archive's entries. Folders are read in sorted
// order so the result does not depend on the file system.
// An existing package at 'output' is never packed into itself.
bool CollectInputs(const std::vector<std::string>& inputs, const std::string& output, int codePage,
                   std::vector<PlannedEntry>& entries, std::vector<std::string>& errors);

}  // namespace pack
