// tolvane-pack: makes self-extracting packages for Windows, on Linux or on
// Windows, and checks them with the stub's own engine.
#include <ctype.h>
#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "tools/os/os.h"
#include "tools/pack/create.h"
#include "tools/pack/engine_commands.h"
#include "tools/pack/stub.h"
#include "tools/pack/util.h"

namespace {

struct Command {
  const char* name;
  const char* synopsis;
  const char* details;
};

const Command Commands[] = {
    {"create", "create OUT.exe INPUT... [options]",
     "Packs folders, files and .zip archives into one Windows program that\n"
     "extracts itself. A folder adds its contents (not its own name); a file given\n"
     "by a relative path keeps that path, an absolute one or one with '..' its name\n"
     "only; a .zip adds its entries (stored and deflated data are copied as they are;\n"
     "AES-encrypted entries too, given their password with --password"
#ifdef TOLVANE_PACK_BZIP2
     "; bzip2 entries are recompressed"
#endif
     ").\nSymbolic links are followed; dangling ones are skipped with a warning.\n"
     "\n"
     "  --message TEXT        text shown in the dialog (LF becomes CR LF)\n"
     "  --message-file FILE   the message from a UTF-8 file\n"
     "  --folder PATH         proposed destination folder (default: the current one)\n"
     "  --folder-temp         propose the user's temporary folder (\"##\")\n"
     "  --command CMD         run after extraction; \"##\" is the destination folder,\n"
     "                        \"|\" separates program and parameters\n"
     "  --no-file-list        do not offer the file-selection dialog\n"
     "  --hide-overwrite      hide the \"overwrite existing files\" option\n"
     "  --keep-existing       existing files are kept unless the user changes it\n"
     "  --no-switches         the package ignores /S, /D=, /P= and /? on its command line\n"
     "  --no-times            extracted files get the time of extraction, not the entries'\n"
     "  --no-wait             the command starts in the caller's current folder and /S\n"
     "                        does not wait for it (default: it starts in the destination,\n"
     "                        and /S waits and exits with the command's exit code)\n"
     "  --elevate LEVEL       admin: Windows asks for administrator rights before the\n"
     "                        package starts; highest: for the highest rights the user\n"
     "                        has (default: the rights of whoever starts it)\n"
     "  --exclude PATTERN     leave out matching paths (repeatable); without '/' the\n"
     "                        pattern matches any path component (.git, *.pyc), with\n"
     "                        '/' the whole relative path (build/*.o); on Windows\n"
     "                        '\\' separates folders too (obj\\*.o)\n"
     "  --files-from FILE     more inputs, one path per line ('-': standard input);\n"
     "                        a folder named there adds only its folder entry\n"
     "  --method M            deflate (default: every zip tool reads it) or lzma\n"
     "                        (smaller; 7-Zip, bsdtar and Python read it, unzip 6 and\n"
     "                        Explorer do not); an entry LZMA does not shrink is deflated\n"
     "  --solid[=SIZE]        solid blocks: files compressed together, a block per\n"
     "                        SIZE bytes of input (default 64M; K, M, G suffixes),\n"
     "                        ordered by extension; much smaller packages that only\n"
     "                        the stub and tolvane-pack extract (docs/solid.md)\n"
     "  --level N             level 0 (store) to 12 (default 12, smallest)\n"
     "  --threads N           compress on N threads (default: every processor)\n"
     "  --password P          encrypt every file's contents (names stay readable)\n"
     "  --encryption E        aes256 (default), aes128 or zipcrypto (traditional, weak)\n"
     "  --password-file FILE  the password from the first line of a file\n"
     "  --codepage N          Windows code page of names and texts (default 1252)\n"
     "  --stub FILE           use another stub executable (of the same fixed length)\n"
     "  -q, --quiet           no summary and no progress bar\n"
     "  -v, --verbose         name every entry as it is added\n"
     "SOURCE_DATE_EPOCH, when set, gives every entry its time.\n"},
    {"list", "list PKG [-v] [--json] [--codepage N]",
     "Prints the entry names as the stub's engine lists them. -v adds size, packed\n"
     "size, method, encryption, time (as the stub gives it to the file) and CRC-32;\n"
     "--json prints the same as JSON.\n"},
    {"test", "test PKG [--password P | --password-file FILE] [--codepage N] [-q]",
     "Extracts into a temporary folder with the stub's engine and checks every\n"
     "CRC-32; names each entry that fails and why.\n"},
    {"extract", "extract PKG -d DIR [--password P | --password-file FILE]\n"
                "                     [--overwrite | --skip-existing] [--raw-names] [--codepage N] [-q]",
     "Extracts below DIR with the stub's engine. Names are converted to UTF-8\n"
     "unless --raw-names; the command the stub would run is printed, never run.\n"},
    {"info", "info PKG [--json] [--codepage N]",
     "Prints the header's settings and a summary of the entries.\n"},
};

const char* const Footer =
    "\n"
    "list, test and extract run the stub's own engine and print its messages.\n"
    "Exit status: 0 success, 1 refused or failed, 2 wrong usage.\n";

const Command* FindCommand(const std::string& name) {
  for (const Command& c : Commands)
    if (name == c.name) return &c;
  return nullptr;
}

void PrintHelp(const Command* only) {
  if (only) {
    printf("usage: tolvane-pack %s\n\n%s", only->synopsis, only->details);
    return;
  }
  const char* lead = "usage:";
  for (const Command& c : Commands) {
    printf("%-6s tolvane-pack %s\n", lead, c.synopsis);
    lead = "";
  }
  printf("       tolvane-pack --version | --help | /? | COMMAND --help\n");
  for (const Command& c : Commands) printf("\n%s: %s", c.name, c.details);
  fputs(Footer, stdout);
}

// Every mistake on the command line is reported in this one form, exit 2.
int UsageError(const std::string& command, const std::string& text) {
  fprintf(stderr, "tolvane-pack: %s\nTry 'tolvane-pack %s--help'.\n", text.c_str(),
          command.empty() ? "" : (command + " ").c_str());
  return 2;
}

// Windows programs answer "/?" with their help; no file is named that.
const char* const HelpSwitch = "/?";

struct Args {
  std::vector<std::string> items;
  size_t next = 0;
  bool Done() const { return next >= items.size(); }
};

// Splits "--name=value"; a value-taking option may also take the next argument.
bool TakeValue(Args& args, const std::string& arg, const std::string& name, std::string& value, bool& missing) {
  if (arg == name) {
    if (args.Done()) {
      missing = true;
      return true;
    }
    value = args.items[args.next++];
    return true;
  }
  if (arg.compare(0, name.size() + 1, name + "=") == 0) {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

bool ParseInt(const std::string& text, int& out, int low, int high) {
  char* end = nullptr;
  errno = 0;
  long value = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || errno || value < low || value > high) return false;
  out = (int)value;
  return true;
}

// A size with an optional K, M or G suffix (powers of 1024).
bool ParseSize(const std::string& text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  unsigned long long value = strtoull(text.c_str(), &end, 10);
  if (text.empty() || !isdigit((unsigned char)text[0]) || errno) return false;
  std::string suffix = end;
  int shift = suffix.empty() ? 0 : suffix == "K" || suffix == "k" ? 10 : suffix == "M" || suffix == "m" ? 20
              : suffix == "G" || suffix == "g" ? 30 : -1;
  if (shift < 0 || value == 0 || value > (4ull << 30) >> shift) return false;
  out = value << shift;
  return true;
}

bool ParseEncryption(const std::string& text, pack::Encryption& out) {
  if (text == "aes256") out = pack::Encryption::Aes256;
  else if (text == "aes128") out = pack::Encryption::Aes128;
  else if (text == "zipcrypto") out = pack::Encryption::ZipCrypto;
  else return false;
  return true;
}

bool ReadFirstLine(const std::string& path, std::string& line, std::string& error) {
  if (!pack::ReadWholeFile(path, line, error)) return false;
  size_t end = line.find_first_of("\r\n");
  if (end != std::string::npos) line.resize(end);
  return true;
}

// Options that exclude each other: the first one seen, to name in the error.
struct Exclusive {
  std::string seen;
  bool Take(const std::string& option, std::string& conflict) {
    if (!seen.empty() && seen != option) conflict = seen + " and " + option + " exclude each other";
    seen = option;
    return conflict.empty();
  }
};

std::string OptionName(const std::string& arg) { return arg.substr(0, arg.find('=')); }

int RunCreate(Args& args) {
  const std::string cmd = "create";
  pack::CreateOptions o;
  std::vector<std::string> positional;
  Exclusive message, folder, password, method;
  while (!args.Done()) {
    std::string arg = args.items[args.next++], value, error, conflict;
    bool missing = false;
    if (arg == "--") {
      while (!args.Done()) positional.push_back(args.items[args.next++]);
    } else if (arg == "-h" || arg == "--help" || arg == HelpSwitch) {
      PrintHelp(FindCommand(cmd));
      return 0;
    } else if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
    } else if (TakeValue(args, arg, "--message", value, missing)) {
      message.Take("--message", conflict);
      o.message = value;
    } else if (TakeValue(args, arg, "--message-file", value, missing)) {
      if (!missing && message.Take("--message-file", conflict)) {
        if (!pack::ReadWholeFile(value, o.message, error)) return pack::Error(error), 1;
        while (!o.message.empty() && (o.message.back() == '\n' || o.message.back() == '\r')) o.message.pop_back();
      }
    } else if (TakeValue(args, arg, "--folder", value, missing)) {
      folder.Take("--folder", conflict);
      o.folder = value;
    } else if (arg == "--folder-temp") {
      folder.Take(arg, conflict);
      o.folder = "##";
    } else if (TakeValue(args, arg, "--command", value, missing)) {
      o.command = value;
    } else if (arg == "--no-file-list") {
      o.noFileList = true;
    } else if (arg == "--hide-overwrite") {
      o.hideOverwrite = true;
    } else if (arg == "--keep-existing") {
      o.keepExisting = true;
    } else if (arg == "--no-switches") {
      o.noSwitches = true;
    } else if (arg == "--no-times") {
      o.noTimes = true;
    } else if (arg == "--no-wait") {
      o.noWait = true;
    } else if (TakeValue(args, arg, "--elevate", value, missing)) {
      if (!missing && value != "admin" && value != "highest") return UsageError(cmd, "--elevate takes admin or highest");
      o.elevation = value == "admin" ? pack::LevelAdministrator : pack::LevelHighest;
    } else if (TakeValue(args, arg, "--exclude", value, missing)) {
      o.excludes.push_back(value);
    } else if (TakeValue(args, arg, "--files-from", value, missing)) {
      o.filesFrom.push_back(value);
    } else if (TakeValue(args, arg, "--method", value, missing)) {
      if (!missing && value != "deflate" && value != "lzma")
        return UsageError(cmd, "--method takes deflate or lzma");
      o.method = value == "lzma" ? pack::Method::Lzma : pack::Method::Deflate;
      method.Take("--method", conflict);
    } else if (arg == "--solid" || arg.compare(0, 8, "--solid=") == 0) {
      if (arg != "--solid" && !ParseSize(arg.substr(8), o.solidSize))
        return UsageError(cmd, "--solid takes a block size such as 64M (1 byte to 4G)");
      o.solid = true;
      method.Take("--solid", conflict);
    } else if (TakeValue(args, arg, "--level", value, missing)) {
      if (!missing && !ParseInt(value, o.level, 0, 12)) return UsageError(cmd, "--level takes a number from 0 to 12");
    } else if (TakeValue(args, arg, "--threads", value, missing)) {
      if (!missing && !ParseInt(value, o.threads, 1, 256)) return UsageError(cmd, "--threads takes a number from 1 to 256");
    } else if (TakeValue(args, arg, "--password", value, missing)) {
      password.Take("--password", conflict);
      o.password = value;
      o.hasPassword = true;
    } else if (TakeValue(args, arg, "--password-file", value, missing)) {
      if (!missing && password.Take("--password-file", conflict)) {
        if (!ReadFirstLine(value, o.password, error)) return pack::Error(error), 1;
        o.hasPassword = true;
      }
    } else if (TakeValue(args, arg, "--encryption", value, missing)) {
      if (!missing && !ParseEncryption(value, o.encryption))
        return UsageError(cmd, "--encryption takes aes256, aes128 or zipcrypto");
      o.encryptionGiven = true;
    } else if (TakeValue(args, arg, "--codepage", value, missing)) {
      if (!missing && !ParseInt(value, o.codePage, 0, 0x7FFFFFFF)) return UsageError(cmd, "--codepage takes a number such as 1252");
    } else if (TakeValue(args, arg, "--stub", value, missing)) {
      o.stubFile = value;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else {
      return UsageError(cmd, "unknown option " + arg + " for create");
    }
    if (missing) return UsageError(cmd, arg + " needs a value");
    if (!conflict.empty()) return UsageError(cmd, conflict);
  }
  if (positional.empty() || (positional.size() < 2 && o.filesFrom.empty()))
    return UsageError(cmd, "create needs an output file and at least one input");
  if (o.encryptionGiven && !o.hasPassword) return UsageError(cmd, "--encryption needs --password");
  o.output = positional[0];
  o.inputs.assign(positional.begin() + 1, positional.end());
  return pack::CreatePackage(o);
}

int RunEngineCommand(const std::string& cmd, Args& args) {
  pack::EngineOptions o;
  std::vector<std::string> positional;
  Exclusive overwrite, password;
  bool reads = cmd == "test" || cmd == "extract";   // commands that decrypt
  while (!args.Done()) {
    std::string arg = args.items[args.next++], value, error, conflict;
    bool missing = false;
    if (arg == "--") {
      while (!args.Done()) positional.push_back(args.items[args.next++]);
    } else if (arg == "-h" || arg == "--help" || arg == HelpSwitch) {
      PrintHelp(FindCommand(cmd));
      return 0;
    } else if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
    } else if (cmd == "extract" && (TakeValue(args, arg, "-d", value, missing) ||
                                    TakeValue(args, arg, "--directory", value, missing))) {
      o.destination = value;
    } else if (reads && TakeValue(args, arg, "--password", value, missing)) {
      password.Take("--password", conflict);
      o.password = value;
      o.hasPassword = true;
    } else if (reads && TakeValue(args, arg, "--password-file", value, missing)) {
      if (!missing && password.Take("--password-file", conflict)) {
        if (!ReadFirstLine(value, o.password, error)) return pack::Error(error), 1;
        o.hasPassword = true;
      }
    } else if (TakeValue(args, arg, "--codepage", value, missing)) {
      if (!missing && !ParseInt(value, o.codePage, 0, 0x7FFFFFFF)) return UsageError(cmd, "--codepage takes a number such as 1252");
    } else if (cmd == "extract" && (arg == "--overwrite" || arg == "--skip-existing")) {
      overwrite.Take(arg, conflict);
      o.overwrite = arg == "--overwrite";
    } else if (cmd == "extract" && arg == "--raw-names") {
      o.rawNames = true;
    } else if (cmd == "list" && (arg == "-v" || arg == "--verbose")) {
      o.verbose = true;
    } else if ((cmd == "list" || cmd == "info") && arg == "--json") {
      o.json = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else {
      return UsageError(cmd, "unknown option " + arg + " for " + cmd);
    }
    if (missing) return UsageError(cmd, OptionName(arg) + " needs a value");
    if (!conflict.empty()) return UsageError(cmd, conflict);
  }
  if (positional.size() != 1) return UsageError(cmd, cmd + " takes exactly one package");
  o.package = positional[0];
  if (cmd == "list") return pack::ListPackage(o);
  if (cmd == "test") return pack::TestPackage(o);
  if (cmd == "info") return pack::ShowPackageInfo(o);
  if (o.destination.empty()) return UsageError(cmd, "extract needs a destination: -d DIR");
  return pack::ExtractPackage(o);
}

int Run(Args& args) {
  if (args.Done()) return UsageError("", "a command is needed");
  std::string command = args.items[args.next++];
  if (command == "-h" || command == "--help" || command == "help" || command == HelpSwitch) {
    const Command* only = nullptr;
    if (!args.Done() && !(only = FindCommand(args.items[args.next])))
      return UsageError("", "unknown command " + args.items[args.next]);
    PrintHelp(only);
    return 0;
  }
  if (command == "-V" || command == "--version") {
    printf("tolvane-pack %s\n", TOLVANE_PACK_VERSION);
    return 0;
  }
  if (command == "create") return RunCreate(args);
  if (FindCommand(command)) return RunEngineCommand(command, args);
  return UsageError("", "unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_CTYPE, "C.UTF-8");   // case folding of non-ASCII names
  Args args;
  std::vector<std::string> arguments = os::Arguments(argc, argv);
  args.items.assign(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
  int status;
  try {
    status = Run(args);
  } catch (const std::bad_alloc&) {
    pack::Error("out of memory");
    status = 1;
  }
  // Output that did not reach its file (a full disk, a closed pipe) is a failure.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    pack::Error(std::string("cannot write the output: ") + strerror(errno));
    return 1;
  }
  return status;
}
