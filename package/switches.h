#pragma once
// The command-line switches a package obeys when its header sets FlagSwitches:
//   /S           unattended: no dialog, no message box, no password prompt
//   /D=FOLDER    the destination folder
//   /P=PASSWORD  the password for encrypted entries
//   /?           a message box listing the switches
// Letters in any case. Without FlagSwitches the command line is ignored.
#include <stdint.h>
#include "base/config.h"
#include "extract/paths.h"

const uint32_t SwitchPasswordLimit = 79;

struct CommandSwitches {
  bool Silent;
  bool Help;
  bool Bad;
  char Folder[PathTextSize];                 // UTF-8, empty when not given
  char Password[SwitchPasswordLimit + 1];    // empty when not given
  char Log[PathTextSize];                    // UTF-8, empty when not given
};

extern CommandSwitches Switches;

// Splits a command line as Windows programs do. Outside quotes, blanks and
// tabs separate arguments; a quote starts or ends a quoted part, and inside
// one two quotes stand for one literal quote. 2n backslashes before a quote
// give n backslashes and the quote acts; 2n+1 give n backslashes and a
// literal quote; other backslashes are literal.
//
// Skips the program's name, the first argument, which has its own rule: it
// ends at the first blank or tab outside quotes, and backslashes are literal.
const char* SkipProgramName(const char* line);
// Copies the next argument into 'out' (at most size - 1 characters, then a
// NUL) and sets '*length' to its full length, which may not have fitted.
// Returns the text after it, or null when no argument is left.
const char* NextArgument(const char* line, char* out, uint32_t size, uint32_t* length);

// Reads every switch of a whole command line into 'switches' (which starts
// cleared): anything but the four switches, and a folder or password that is
// empty or too long, sets Bad.
void ParseSwitches(const char* line, CommandSwitches& switches);

// After the header is read: without FlagSwitches the switches are dropped;
// with it /D= becomes the proposed folder and /P= the remembered password.
// Returns false when the run ends here: /? or bad switches show the switch
// list (and ExitCode says which).
bool ApplySwitches();
