#include "launch/command.h"

#include <stddef.h>
#include <stdint.h>

#include "extract/entry_output.h"
#include "extract/paths.h"
#include "base/state.h"
#include "base/config.h"
#include "platform/held.h"
#include "platform/platform.h"

char* ExpandCommandPart(int which) {
  // DestFolder keeps its backslash afterwards. A folder text with no room for
  // it (only possible when something bypassed CopyFolderText) gets the
  // backslash in the expansion only. Either way the folder is not empty.
  char* folder = Held(DestFolder);
  size_t folderLength = StrLength(folder);
  if (folderLength <= FolderTextLimit) folderLength = StrLength(AddBackslash(folder));

  const char* command = Config.Command ? Config.Command : "";
  const char* bar = command;
  while (*bar && *bar != '|') bar++;

  const char* part = command;
  const char* end = bar;
  if (which != CommandProgram) {
    part = bar + (*bar ? 1 : 0);
    end = part + StrLength(part);
  }

  // One pass, into room for the worst case: every "##", taken left to right
  // without overlap, becomes the folder and perhaps a backslash, so no
  // character of the part grows by more than that many times.
  char* result = (char*)Allocate((size_t)(end - part) * (folderLength + 1) + 1);

  // The inserted folder text is copied, never scanned, so a "##" inside the
  // folder name stays as it is.
  char* out = result;
  for (const char* p = part; p < end; p++) {
    if (p + 1 < end && p[0] == '#' && p[1] == '#') {
      for (size_t k = 0; k < folderLength; k++) *out++ = folder[k];
      if (out[-1] != '\\') *out++ = '\\';
      p++;
    } else {
      *out++ = *p;
    }
  }
  *out = 0;

  // The text's own length is its room: a short form only replaces it when it
  // fits, terminator included.
  ShortenPath(result, (uint32_t)(out - result));
  return result;
}

void RunCommand() {
  const SfxConfig& config = Held(Config);
  if (!config.HasCommand) return;
  char* program = ExpandCommandPart(CommandProgram);
  char* parameters = ExpandCommandPart(CommandParameters);
  bool wait = config.WaitForCommand;
  SetUtf8Texts(true);   // the program's path
  WriteLogLine("command", program, parameters);
  // An unattended run that waits ends with the command's own exit code.
  if (!ShellOpen(program, parameters, wait ? DestFolder : nullptr, wait && State.Unattended ? &ExitCode : nullptr) &&
      wait) {
    ShowMessageWith("Cannot run ", program, StrLength(program), IconHand);
    ExitCode = ExitCommandFailed;
  }
  SetUtf8Texts(false);
  Release(program);
  Release(parameters);
}
