// A listing walk and two extraction walks over arbitrary package bytes (the
// bytes after the stub: an optional configuration header and the archive),
// into the host's in-memory file system, with scripted passwords. Besides
// the sanitizers' verdicts it checks that nothing is ever created outside
// the destination folder.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "archive/walk.h"
#include "codec/crc32.h"
#include "extract/state.h"
#include "package/config.h"
#include "fuzz/fuzz_support.h"
#include "platform/host.h"

namespace {

const char* const Root = "/fuzz";
const char* const Destination = "/fuzz/dest";
const int EntryListId = 301;

// Resolves "." and ".." the way Windows would, trailing dots and spaces
// stripped first (the in-memory file system keeps them as written), and
// answers whether the path stays at or below the destination.
bool Inside(const std::string& key) {
  std::string resolved;
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    std::string part = key.substr(start, end - start);
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    bool parent = part.empty() && key.compare(start, 2, "..") == 0;
    if (parent) {
      size_t slash = resolved.rfind('/');
      resolved.erase(slash == std::string::npos ? 0 : slash);
    } else if (!part.empty()) {
      resolved += "/" + part;
    }
    start = end + 1;
  }
  std::string prefix = std::string(Destination) + "/";
  return resolved == Destination || resolved.compare(0, prefix.size(), prefix) == 0;
}

void CheckNothingOutside() {
  for (const auto& file : host::MemoryFiles()) {
    if (!Inside(file.first)) {
      fprintf(stderr, "file written outside the destination: %s\n", file.first.c_str());
      abort();
    }
  }
  for (const std::string& folder : host::MemoryFolders()) {
    if (!Inside(folder)) {
      fprintf(stderr, "folder created outside the destination: %s\n", folder.c_str());
      abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnsureCore();

  // Everything but the tables built once per process starts afresh.
  ExtractState fresh = ExtractState();
  fresh.CrcTable = State.CrcTable;
  fresh.FixedLitTable = State.FixedLitTable;
  fresh.FixedDistTable = State.FixedDistTable;
  State = fresh;

  host::Reset();
  host::SetRoot(Root);
  host::UseMemoryFileSystem(true);
  host::MemoryFolders().push_back(Destination);
  static const char* const answers[] = {"", "secret", "pw"};
  int asked = 0;
  host::SetPasswordHandler([&asked] { return std::string(answers[asked++ % 3]); });

  std::string package(StubSize, '\0');
  package.append(reinterpret_cast<const char*>(data), size);
  State.ArchiveFile = host::OpenMemoryFile(package.data(), package.size());
  ReadPackageHeader();

  HostDialog dialog;
  ProcessArchive(&dialog, EntryListId, true);
  ListHandle list = GetEntryList(&dialog, EntryListId);
  for (uint8_t skip = 0; skip < 2; skip++) {
    ListSelect(list, -1, true);
    strcpy(DestFolder, "C:\\dest\\");
    State.SkipExisting = skip;
    ProcessArchive(&dialog, EntryListId, false);
    CheckNothingOutside();
  }
  CloseFileHandle(State.ArchiveFile);
  return 0;
}
