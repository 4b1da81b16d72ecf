#pragma once
// `list`, `test`, `extract` and `info`: the stub's own engine (the archive
// walk, the decoders, the extraction engine) run natively through the host
// seam, so a package is checked exactly as the stub will read it.
#include <string>

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

int ListPackage(const EngineOptions& options);
int TestPackage(const EngineOptions& options);
int ExtractPackage(const EngineOptions& options);
int ShowPackageInfo(const EngineOptions& options);

}  // namespace pack
