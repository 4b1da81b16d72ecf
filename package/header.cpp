// The configuration header that follows the stub.
#include "package/header.h"

#include "base/config.h"
#include "platform/held.h"
#include "base/reader.h"
#include "base/state.h"

namespace {

// Room GetTempFolder may use in DefaultFolder (ConfigTextSize bytes).
const uint32_t TempFolderRoom = 260;

// One byte of the header; a byte missing at the end of the file reads as 0.
uint8_t ReadHeaderByte() {
  uint8_t value = 0;
  ReadArchive(&value, 1);
  return value;
}

// 'length' bytes of text into 'text', cut where the file ends.
uint32_t ReadHeaderText(char* text, uint8_t length) {
  uint32_t got = ReadArchive(text, length);
  text[got] = 0;
  return got;
}

}  // namespace

void ReadPackageHeader() {
  SfxConfig& config = Held(Config);
  ExtractState& state = Held(State);
  state.ArchiveStart = StubSize;
  config.OverwriteChecked = true;
  config.HasCommand = false;
  config.HasFolder = false;
  config.FileListAllowed = true;
  config.HideOverwrite = false;
  config.OverwriteControlId = OverwriteBoxId;
  config.AcceptsSwitches = config.KeepTimes = false;

  SeekArchive(StubSize, 0);
  char magic[HeaderMagicSize];
  if (ReadArchive(magic, HeaderMagicSize) < HeaderMagicSize) return;
  for (uint32_t i = 0; i < HeaderMagicSize; i++)
    if (magic[i] != HeaderMagic[i]) return;
  state.ArchiveStart = StubSize + HeaderSize;

  uint8_t flags = ReadHeaderByte();
  if (!(flags & FlagFileList)) config.FileListAllowed = false;
  if (flags & FlagHideOverwrite) config.HideOverwrite = true;
  if ((flags & FlagOverwriteMask) == FlagOverwrite) {
    config.OverwriteControlId = OverwriteBoxId;
  } else {
    config.OverwriteControlId = OverwriteBoxId + 1;
    config.OverwriteChecked = false;
  }
  config.AcceptsSwitches = (flags & FlagSwitches) != 0;
  config.KeepTimes = (flags & FlagKeepTimes) != 0;

  uint8_t messageLength = ReadHeaderByte();
  uint8_t folderLength = ReadHeaderByte();
  uint8_t commandLength = ReadHeaderByte();
  config.HasFolder = folderLength != 0;
  config.HasCommand = commandLength != 0;

  if (messageLength) ReadHeaderText(config.Message, messageLength);
  if (folderLength) {
    uint32_t got = ReadHeaderText(config.DefaultFolder, folderLength);
    if (got == 2 && config.DefaultFolder[0] == '#' && config.DefaultFolder[1] == '#') {
      // The temporary folder; a failed query (0, or the size it would need)
      // leaves the folder empty rather than "##".
      uint32_t length = GetTempFolder(config.DefaultFolder, TempFolderRoom);
      if (length == 0 || length >= TempFolderRoom) config.DefaultFolder[0] = 0;
    }
  }
  if (commandLength) ReadHeaderText(config.Command, commandLength);
}
