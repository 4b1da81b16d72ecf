#include "package/switches.h"

#include "base/state.h"
#include "base/config.h"
#include "platform/held.h"
#include "platform/platform.h"

CommandSwitches Switches;

namespace {

// "/D=" and the longest folder in UTF-8, and its NUL.
const uint32_t ArgumentRoom = 3 + PathTextSize;

const char SwitchList[] =
    "/S\tunattended\n/D=FOLDER\n/P=PASSWORD\n/L=FILE\tlog\n/?\tthis list\n\n"
    "Exit codes with /S: 0 done, 1 not all extracted, 2 no archive, 3 bad switches, "
    "4 command not started";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char* SkipProgramName(const char* line) {
  bool quoted = false;
  for (; *line && (quoted || !IsBlank(*line)); line++)
    if (*line == '"') quoted = !quoted;
  return line;
}

const char* NextArgument(const char* line, char* out, uint32_t size, uint32_t* length) {
  while (IsBlank(*line)) line++;
  if (!*line) return 0;
  uint32_t n = 0, slashes = 0;
  auto put = [&](char c) {
    if (n + 1 < size) out[n] = c;
    n++;
  };
  bool quoted = false;
  for (;; line++) {
    char c = *line;
    if (c == '\\') {
      slashes++;
      continue;
    }
    bool literal = true;
    if (c == '"') {
      bool escaped = slashes & 1;
      slashes >>= 1;
      if (escaped) {
      } else if (quoted && line[1] == '"') {
        line++;  // two quotes inside a quoted part: one literal quote
      } else {
        quoted = !quoted;
        literal = false;
      }
    }
    for (; slashes; slashes--) put('\\');
    if (!c || (!quoted && IsBlank(c))) break;
    if (literal) put(c);
  }
  out[n < size ? n : size - 1] = 0;
  *length = n;
  return line;
}

void ParseSwitches(const char* line, CommandSwitches& s) {
  char argument[ArgumentRoom];
  uint32_t length;
  line = SkipProgramName(line);
  while ((line = NextArgument(line, argument, ArgumentRoom, &length))) {
    char letter = argument[0] == '/' ? argument[1] | 0x20 : 0;  // lower case; '?' stays '?'
    if (length == 2 && letter == 's') {
      s.Silent = true;
    } else if (length == 2 && letter == '?') {
      s.Help = true;
    } else {
      // "/X=VALUE" with 1 to 'limit' characters: length - 4 (wrapping
      // around for an empty value) is below the limit.
      char* value = letter == 'd' ? s.Folder : letter == 'l' ? s.Log : s.Password;
      uint32_t limit = letter == 'd' || letter == 'l' ? PathTextSize - 2 : letter == 'p' ? SwitchPasswordLimit : 0;
      if (argument[2] == '=' && length - 4 < limit &&
          (letter != 'd' || TextCharacters(argument + 3) <= FolderTextLimit))
        CopyFolderText(value, argument + 3);
      else
        s.Bad = true;
    }
  }
}

bool ApplySwitches() {
  SfxConfig& config = Held(Config);
  CommandSwitches& switches = Held(Switches);
  ExtractState& state = Held(State);
  if (!config.AcceptsSwitches) {
    switches.Silent = false;
    state.Unattended = false;
    SetQuietRun(false);
    return true;
  }
  if (switches.Log[0] && !OpenLog(switches.Log)) switches.Bad = true;
  if (switches.Bad || switches.Help) {
    Tell(SwitchList, IconInformation);
    ExitCode = switches.Bad ? ExitBadSwitches : ExitDone;
    return false;
  }
  if (switches.Folder[0]) {
    CopyFolderText(config.DefaultFolder, switches.Folder);
    config.HasFolder = true;
  }
  // At most SwitchPasswordLimit bytes: they fit the password's 80 bytes, and
  // in the ANSI code page the prompt's bytes, they take no more.
  Utf8ToAnsi(switches.Password);
  CopyFolderText(state.Password, switches.Password);
  ClearSecret(switches.Password, sizeof switches.Password);
  return true;
}
