#include "launch/command.h"

#include <stddef.h>
#include <stdint.h>

#include "extract/paths.h"
#include "base/state.h"
#include "base/config.h"
#include "platform/platform.h"

char* ExpandCommandPart(int which) {
  // DestFolder keeps its backslash afterwards. A folder text with no room for
  // it (only possible when something bypassed CopyFolderText) gets the
  // backslash in the expansion only. Either way the folder is not empty.
  size_t folderLength = StrLength(DestFolder);
  if (folderLength <= FolderTextLimit) folderLength = StrLength(AddBackslash(DestFolder));

  const char* command = Config.Command ? Config.Command : "";
  size_t commandLength = StrLength(command);
  size_t bar = 0;
  while (bar < commandLength && command[bar] != '|') bar++;

  const char* part = command;
  size_t partLength = bar;
  if (which != CommandProgram) {
    part = command + bar + (bar < commandLength ? 1 : 0);
    partLength = commandLength - (size_t)(part - command);
  }

  // One pass, into room for the worst case: every "##", taken left to right
  // without overlap, becomes the folder and perhaps a backslash, so no
  // character of the part grows by more than that many times.
  char* result = (char*)Allocate(partLength * (folderLength + 1) + 1);

  // The inserted folder text is copied, never scanned, so a "##" inside the
  // folder name stays as it is.
  size_t out = 0;
  for (size_t i = 0; i < partLength; i++) {
    if (i + 1 < partLength && part[i] == '#' && part[i + 1] == '#') {
      for (size_t k = 0; k < folderLength; k++) result[out++] = DestFolder[k];
      if (result[out - 1] != '\\') result[out++] = '\\';
      i++;
    } else {
      result[out++] = part[i];
    }
  }
  result[out] = 0;

  // The text's own length is its room: a short form only replaces it when it
  // fits, terminator included.
  ShortenPath(result, (uint32_t)out);
  return result;
}

void RunCommand() {
  if (!Config.HasCommand) return;
  char* program = ExpandCommandPart(CommandProgram);
  char* parameters = ExpandCommandPart(CommandParameters);
  ShellOpen(program, parameters);
  Release(program);
  Release(parameters);
}
