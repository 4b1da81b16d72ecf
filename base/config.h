#pragma once
// The package layout and the configuration read from its header.
#include <stdint.h>

// ---- the package file ----------------------------------------------------------
// The stub's exact file length: the header (or, without one, the archive)
// starts here. The stub build pads to this size and reads it from this line.
const uint32_t StubSize = 0x7C00;
const uint32_t HeaderSize = 0x100;
const char HeaderMagic[] = "@TV";       // the first 3 bytes of the header
const uint32_t HeaderMagicSize = 3;
// magic, flags, then the lengths of the message, folder and command texts
const uint32_t HeaderFixedSize = HeaderMagicSize + 4;
const uint32_t ConfigTextSize = 261;    // the configuration texts
// A folder or path in UTF-8, the form every path takes: up to 260 UTF-16
// units, each at most three bytes (a pair of surrogates becomes four).
const uint32_t PathTextSize = 1024;

// ---- the header's flag byte ------------------------------------------------------
const uint8_t FlagFileList = 0x02;       // the file-selection dialog is allowed
const uint8_t FlagHideOverwrite = 0x04;  // the overwrite option is not shown
const uint8_t FlagOverwriteMask = 0x18;
const uint8_t FlagOverwrite = 0x08;      // bits 3-4 exactly 01: overwrite is checked
const uint8_t FlagSwitches = 0x20;       // the package takes command-line switches
const uint8_t FlagKeepTimes = 0x40;      // files get their entries' modification times
// The command starts in the destination folder; an unattended run waits for
// it and ends with its exit code.
const uint8_t FlagWaitForCommand = 0x80;

// The process exit code of an unattended run; an interactive run ends with 0
// unless memory runs out or the command it waits for cannot start. A run
// that waits for its command ends with the command's own code.
enum ExitCodes : uint32_t {
  ExitDone = 0,         // every entry extracted
  ExitIncomplete = 1,   // some entry not extracted, or the walk ended early
  ExitUnusable = 2,     // the package's own file, or its archive, cannot be read
  ExitBadSwitches = 3,  // a switch not known, or a value that does not fit
  ExitCommandFailed = 4 // the command the run waits for could not be started
};

// The main dialog's overwrite check box. The header picks it (checked) or
// the id after it, which no control has (nothing checked, files kept).
const int32_t OverwriteBoxId = 501;

// What SeekFile answers when it cannot position the file.
const uint32_t SeekFailed = 0xFFFFFFFF;

struct SfxConfig {
  char* Message;          // ConfigTextSize bytes each, allocated at start-up
  char* DefaultFolder;    // PathTextSize bytes, UTF-8
  char* Command;          // PathTextSize bytes, UTF-8
  bool HasFolder;
  bool HasCommand;
  bool FileListAllowed;
  bool HideOverwrite;
  int32_t OverwriteControlId;   // OverwriteBoxId or the id after it
  bool OverwriteChecked;
  bool AcceptsSwitches;   // FlagSwitches
  bool KeepTimes;         // FlagKeepTimes
  bool WaitForCommand;    // FlagWaitForCommand
};

extern SfxConfig Config;

