// The main sequence of the stub, portable through the platform seam.
#include "package/startup.h"
#include "extract/state.h"
#include "package/core.h"
#include "package/config.h"
#include "platform/platform.h"

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

void RunProgram(void (*runMainDialog)()) {
  char path[ConfigTextSize];
  uint32_t length = GetProgramPath(path, ConfigTextSize);
  path[length < ConfigTextSize ? length : ConfigTextSize - 1] = 0;
  FileHandle package = OpenReadFile(path);
  StartCore(package);
  if (package == NoFile)
    ReportProgramFile("Cannot open file ");
  else
    runMainDialog();
  if (!EndCore()) ReportProgramFile("Cannot close file ");
}
