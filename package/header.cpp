// The configuration header that follows the stub.
#include "package/header.h"

#include "base/config.h"
#include "platform/held.h"
#include "base/reader.h"
#include "base/state.h"
#include "extract/paths.h"

namespace {

// Characters the temporary folder may have: a path's 259.
const uint16_t TempFolderLimit = 259;

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
  config.WaitForCommand = (flags & FlagWaitForCommand) != 0;

  uint8_t messageLength = ReadHeaderByte();
  uint8_t folderLength = ReadHeaderByte();
  uint8_t commandLength = ReadHeaderByte();
  config.HasFolder = folderLength != 0;
  config.HasCommand = commandLength != 0;

  if (messageLength) ReadHeaderText(config.Message, messageLength);
  if (folderLength) {
    char* folder = config.DefaultFolder;
    uint32_t got = ReadHeaderText(folder, folderLength);
    if (got == 2 && folder[0] == '#' && folder[1] == '#') {
      // The temporary folder; a failed query, or a folder of more characters
      // than a path may have, leaves the folder empty rather than "##".
      uint32_t length = GetTempFolder(folder, PathTextSize);
      if (length == 0 || length >= PathTextSize || TextCharacters(folder) > TempFolderLimit) folder[0] = 0;
    } else {
      // Written in the package's code page; the folder is held in UTF-8.
      AnsiToUtf8(folder, folder, PathTextSize);
    }
  }
  if (commandLength) {
    // Expanded with the folder into a path: UTF-8 too.
    ReadHeaderText(config.Command, commandLength);
    AnsiToUtf8(config.Command, config.Command, PathTextSize);
  }
}
