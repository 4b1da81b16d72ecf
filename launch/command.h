#pragma once
// The after-extraction command: the package's command text with "##" standing
// for the destination folder and "|" separating program from parameters.

enum CommandPart { CommandProgram = 1, CommandParameters = 2 };

// The program (1) or parameter (2) text of Config.Command in UTF-8, every "##"
// replaced by DestFolder with its trailing backslash (which DestFolder keeps),
// then shortened in place where the platform has a shorter form. The result
// is allocated; the caller releases it.
char* ExpandCommandPart(int which);

// Launches the package's command with the shell's "open" verb, if it has one.
// With FlagWaitForCommand it starts in the destination folder; an unattended
// run waits for it and takes its exit code, and a command that cannot start
// gives the run ExitCommandFailed (with a message naming it, unless unattended).
void RunCommand();
