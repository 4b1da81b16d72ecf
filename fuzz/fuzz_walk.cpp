// A listing walk and two extraction walks over arbitrary package bytes (the
// bytes after the stub: an optional configuration header and the archive),
// into the host's in-memory file system, with scripted passwords. Besides
// the sanitizers' verdicts it checks that nothing is ever created outside
// the destination folder, that no temporary file remains, and that a run
// reporting success wrote every listed file. The password "secret" opens
// the seeds' encrypted entries, traditional and AES.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <set>
#include <string>

#include "extract/engine.h"
#include "codec/crc32.h"
#include "codec/sha1.h"
#include "base/state.h"
#include "fuzz/fuzz_support.h"
#include "base/config.h"
#include "package/header.h"
#include "base/reader.h"
#include "tests/support/host_double.h"
#include "ui/resource.h"

namespace {

const char* const Root = "/fuzz";
const char* const Destination = "/fuzz/dest";

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

// The key the in-memory file system gives the file an entry name is written to.
std::string OutputKey(const std::string& name) {
  std::string path = host::ToHostPath(("C:\\dest\\" + name).c_str()), key;
  for (char c : path)
    if (c != '/' || key.empty() || key.back() != '/') key += c;
  return key;
}

bool IsTemporaryName(const std::string& key) {
  std::string name = key.substr(key.rfind('/') + 1);
  return name.size() == 9 && name.compare(0, 3, "~tv") == 0 && name.compare(5, 4, ".tmp") == 0;
}

// No temporary file outlives a run (unless an entry has its name), and a run
// that reported success wrote a file for every listed file entry.
void CheckOutcome(const std::vector<HostListItem>& items) {
  std::set<std::string> entryKeys;
  for (const HostListItem& item : items) entryKeys.insert(OutputKey(item.name));
  for (const auto& file : host::MemoryFiles())
    Check(!IsTemporaryName(file.first) || entryKeys.count(file.first), "a temporary file remains");
  if (State.ExtractSucceeded != 1) return;
  for (const HostListItem& item : items) {
    char last = item.name.empty() ? 0 : item.name.back();
    if (last == '/' || last == '\\') continue;
    Check(host::MemoryFiles().count(OutputKey(item.name)) != 0, "success without every file");
  }
}

}  // namespace

// The AES key derivation (PBKDF2, 1000 iterations) would take most of the
// fuzzer's time; its results are kept per password and salt (the link wraps
// the function), so only a new salt runs the real derivation again.
extern "C" {
void __real__Z10Pbkdf2Sha1PKhjS0_jjPhj(const uint8_t*, uint32_t, const uint8_t*, uint32_t, uint32_t,
                                      uint8_t*, uint32_t);
void __wrap__Z10Pbkdf2Sha1PKhjS0_jjPhj(const uint8_t* password, uint32_t passwordLength,
                                      const uint8_t* salt, uint32_t saltLength, uint32_t iterations,
                                      uint8_t* out, uint32_t outLength) {
  static std::map<std::string, std::string> known;
  std::string key = std::string((const char*)password, passwordLength) + '\0' +
                    std::string((const char*)salt, saltLength) + std::to_string(iterations) + "/" +
                    std::to_string(outLength);
  auto found = known.find(key);
  if (found == known.end()) {
    if (known.size() > 100000) known.clear();
    std::string derived(outLength, '\0');
    __real__Z10Pbkdf2Sha1PKhjS0_jjPhj(password, passwordLength, salt, saltLength, iterations,
                                      (uint8_t*)&derived[0], outLength);
    found = known.emplace(key, derived).first;
  }
  memcpy(out, found->second.data(), outLength);
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnsureCore();

  // Everything but the tables built once per process starts afresh.
  ExtractState fresh = ExtractState();
  fresh.CrcTable = State.CrcTable;
  State = fresh;

  host::Reset();
  host::SetRoot(Root);
  host::UseMemoryFileSystem(true);
  host::MemoryFolders().push_back(Destination);
  // Prompts are answered in turn: nothing, the password of the seeds, another.
  static int asked;
  asked = 0;
  AskPassword = [](char* buffer) {
    static const char* const answers[] = {"", "secret", "pw"};
    const char* answer = answers[asked++ % 3];
    strcpy(buffer, answer);
    return (uint32_t)strlen(answer);
  };

  std::string package(StubSize, '\0');
  package.append(reinterpret_cast<const char*>(data), size);
  UseArchiveFile(host::OpenMemoryFile(package.data(), package.size()));
  ReadPackageHeader();

  HostDialog dialog;
  ListArchive(&dialog, IDC_ENTRY_LIST);
  ListHandle list = GetEntryList(&dialog, IDC_ENTRY_LIST);
  for (uint8_t skip = 0; skip < 2; skip++) {
    ListSelect(list, -1, true);
    strcpy(DestFolder, "C:\\dest\\");
    State.SkipExisting = skip;
    ExtractArchive(&dialog, IDC_ENTRY_LIST);
    CheckNothingOutside();
    CheckOutcome(dialog.lists[IDC_ENTRY_LIST].Items());
  }
  CloseFileHandle(State.ArchiveFile);
  return 0;
}
