#pragma once
// The package layout and the configuration read from its header.
#include <stdint.h>

const uint32_t StubSize = 0x7C00;     // the stub's exact file length; header or archive follows
const uint32_t HeaderSize = 256;
const uint32_t ConfigTextSize = 261;  // the configuration texts and BrowsePath

struct SfxConfig {
  char* Message;          // ConfigTextSize bytes each, allocated at start-up
  char* DefaultFolder;
  char* Command;
  bool HasFolder;
  bool HasCommand;
  bool FileListAllowed;
  bool HideOverwrite;
  int32_t OverwriteControlId;   // 501 or 502
  bool OverwriteChecked;
};

extern SfxConfig Config;
extern char* BrowsePath;

void ReadPackageHeader();
// The only positioning of the program's own file; the result goes to State.LastSeek.
void SeekArchive(uint32_t offset, uint16_t origin);
