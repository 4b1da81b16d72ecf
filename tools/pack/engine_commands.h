#pragma once
// `list`, `test`, `extract` and `info`: the stub's own engine (the archive
// walk, the decoders, the extraction engine) run natively through the host
// seam, so a package is checked exactly as the stub will read it.
#include <set>
#include <string>
#include <vector>

namespace pack {

struct EngineOptions {
  std::string package;
  std::string destination;      // extract only
  bool hasPassword = false;
  std::string password;         // UTF-8
  int codePage = 1252;
  int overwrite = -1;           // -1: as the package says; 0: keep existing; 1: overwrite
  bool rawNames = false;        // keep the code page bytes in extracted names
  bool quiet = false;
  bool verbose = false;         // list: every field of each entry, its time included
  bool json = false;            // list, info: JSON on stdout
};

struct EntryFailure {
  std::string name;     // UTF-8, for the terminal
  std::string reason;
};

int ListPackage(const EngineOptions& options);
int TestPackage(const EngineOptions& options);
int ExtractPackage(const EngineOptions& options);
int ShowPackageInfo(const EngineOptions& options);

// What `test` does, for the entries of 'names' (as stored) only: true when
// the stub extracts each of them; else 'failed' says which did not and why.
bool CheckEntries(const EngineOptions& options, const std::set<std::string>& names,
                  std::vector<EntryFailure>& failed);

}  // namespace pack
