// The main sequence of the stub, portable through the platform seam.
#include "package/startup.h"
#include "codec/crc32.h"
#include "extract/state.h"
#include "package/config.h"
#include "platform/platform.h"
#include "ui/main_dialog.h"

// "Cannot open file " / "Cannot close file " followed directly by the program's path.
static void ReportProgramFile(const char* prefix) {
  char text[24 + ConfigTextSize];
  uint32_t n = 0;
  while (prefix[n]) {
    text[n] = prefix[n];
    n++;
  }
  uint32_t length = GetProgramPath(text + n, ConfigTextSize);
  if (length >= ConfigTextSize) length = ConfigTextSize - 1;
  text[n + length] = 0;
  ShowMessage(text, SfxCaption, IconHand);
}

void RunProgram() {
  // Allocate zero-fills, so every text starts empty.
  BrowsePath = (char*)Allocate(ConfigTextSize);
  Config.DefaultFolder = (char*)Allocate(ConfigTextSize);
  Config.Command = (char*)Allocate(ConfigTextSize);
  Config.Message = (char*)Allocate(ConfigTextSize);

  char path[ConfigTextSize];
  uint32_t length = GetProgramPath(path, ConfigTextSize);
  path[length < ConfigTextSize ? length : ConfigTextSize - 1] = 0;
  State.ArchiveFile = OpenReadFile(path);
  if (State.ArchiveFile == NoFile) {
    ReportProgramFile("Cannot open file ");
  } else {
    State.CrcTable = (uint32_t*)Allocate(1028);
    BuildCrcTable();
    ReadPackageHeader();
    ShowMainDialog();
    if (!CloseFileHandle(State.ArchiveFile)) ReportProgramFile("Cannot close file ");
    Release(State.CrcTable);
    State.CrcTable = 0;
  }

  Release(BrowsePath);
  Release(Config.DefaultFolder);
  Release(Config.Command);
  Release(Config.Message);
}
