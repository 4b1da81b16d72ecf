// The main sequence of the stub, portable through the platform seam.
#include "package/startup.h"
#include "base/config.h"
#include "platform/held.h"
#include "base/state.h"
#include "base/text.h"
#include "package/core.h"
#include "package/switches.h"
#include "platform/platform.h"

// "Cannot open file " / "Cannot close file " followed directly by the program's path.
static void ReportProgramFile(const char* prefix) {
  char text[24 + PathTextSize];
  uint32_t n = 0;
  while (prefix[n]) {
    text[n] = prefix[n];
    n++;
  }
  uint32_t length = GetProgramPath(text + n, PathTextSize);
  text[n + length] = 0;
  // The path is UTF-8.
  SetUtf8Texts(true);
  Tell(text, IconHand);
  SetUtf8Texts(false);
}

uint32_t RunProgram(void (*runMainDialog)()) {
  CommandSwitches& switches = Held(Switches);
  // Read before the package is: an unattended run whose file cannot be opened
  // shows no message box either.
  ParseSwitches(GetCommandLineText(), switches);
  State.Unattended = switches.Silent;
  SetQuietRun(switches.Silent);
  char path[PathTextSize];
  path[GetProgramPath(path, PathTextSize)] = 0;
  FileHandle package = OpenReadFile(path);
  StartCore(package);
  if (package == NoFile) {
    ReportProgramFile("Cannot open file ");
    if (switches.Silent) ExitCode = ExitUnusable;
  } else if (ApplySwitches()) {
    runMainDialog();
  }
  if (!EndCore()) ReportProgramFile("Cannot close file ");
  char digits[11];
  WriteLogLine("exit code", DecimalText(ExitCode, digits));
  return ExitCode;
}
