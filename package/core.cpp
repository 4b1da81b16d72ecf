#include "package/core.h"

#include "codec/crc32.h"
#include "codec/inflate.h"
#include "base/state.h"
#include "base/config.h"
#include "base/reader.h"
#include "package/header.h"

namespace {

char* NewText() { return (char*)Allocate(ConfigTextSize); }

}  // namespace

void StartCore(FileHandle package) {
  // Allocate zero-fills, so every text starts empty.
  BrowsePath = NewText();
  Config.DefaultFolder = NewText();
  Config.Command = NewText();
  Config.Message = NewText();
  State.CrcTable = (uint32_t*)Allocate(CrcTableSize);
  BuildCrcTable();
  UseArchiveFile(package);
  if (package != NoFile) ReadPackageHeader();
}

bool EndCore() {
  bool closed = true;
  if (State.ArchiveFile != NoFile) closed = CloseFileHandle(State.ArchiveFile);
  UseArchiveFile(NoFile);
  FreeFixedTables();
  Release(State.CrcTable);
  State.CrcTable = nullptr;
  Release(BrowsePath);
  Release(Config.DefaultFolder);
  Release(Config.Command);
  Release(Config.Message);
  BrowsePath = Config.DefaultFolder = Config.Command = Config.Message = nullptr;
  return closed;
}
