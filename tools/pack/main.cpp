// tolvane-pack: makes self-extracting packages for Windows on Linux, and
// checks them with the stub's own engine.
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/pack/create.h"
#include "tools/pack/engine_commands.h"
#include "tools/pack/util.h"

namespace {

const char* const Usage =
    "usage: tolvane-pack create OUT.exe INPUT... [options]\n"
    "       tolvane-pack list PKG [-v] [--codepage N]\n"
    "       tolvane-pack test PKG [--password P] [--codepage N]\n"
    "       tolvane-pack extract PKG -d DIR [--password P] [--overwrite | --skip-existing]\n"
    "                                        [--raw-names] [--codepage N]\n"
    "       tolvane-pack info PKG [--codepage N]\n"
    "\n"
    "create packs folders, files and .zip archives into one Windows program that\n"
    "extracts itself. A folder adds its contents (not its own name), a file is\n"
    "added under its name, a .zip adds its entries (stored and deflated data are\n"
    "copied as they are; AES-encrypted entries too, given their password with --password"
#ifdef TOLVANE_PACK_BZIP2
    "; bzip2 entries are recompressed"
#endif
    ").\n"
    "\n"
    "create options:\n"
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
    "  --level N             deflate level 0 (store) to 12 (default 12, smallest)\n"
    "  --password P          encrypt every file's contents (names stay readable)\n"
    "  --encryption E        aes256 (default), aes128 or zipcrypto (traditional, weak)\n"
    "  --password-file FILE  the password from the first line of a file\n"
    "  --codepage N          Windows code page of names and texts (default 1252)\n"
    "  --stub FILE           use another stub executable (of the same fixed length)\n"
    "  -q, --quiet           no summary and no progress bar\n"
    "  -v, --verbose         name every entry as it is added\n"
    "\n"
    "list, test and extract run the stub's own engine and print its messages;\n"
    "test extracts into a temporary folder and checks every CRC-32.\n"
    "Exit status: 0 success, 1 refused or failed, 2 wrong usage.\n"
    "SOURCE_DATE_EPOCH, when set, gives every entry its time.\n";

int UsageError(const std::string& text) {
  fprintf(stderr, "tolvane-pack: %s\n(see tolvane-pack --help)\n", text.c_str());
  return 2;
}

struct Args {
  std::vector<std::string> items;
  size_t next = 0;
  bool Done() const { return next >= items.size(); }
  const std::string& Peek() const { return items[next]; }
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

bool ParseInt(const std::string& text, int& out) {
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, 10);
  if (text.empty() || *end) return false;
  out = (int)value;
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

int RunCreate(Args& args) {
  pack::CreateOptions o;
  std::vector<std::string> positional;
  bool messageGiven = false;
  while (!args.Done()) {
    std::string arg = args.items[args.next++], value, error;
    bool missing = false;
    if (arg == "--") {
      while (!args.Done()) positional.push_back(args.items[args.next++]);
    } else if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
    } else if (TakeValue(args, arg, "--message", value, missing)) {
      o.message = value;
      messageGiven = true;
    } else if (TakeValue(args, arg, "--message-file", value, missing)) {
      if (missing) break;
      if (!pack::ReadWholeFile(value, o.message, error)) return pack::Error(error), 1;
      while (!o.message.empty() && (o.message.back() == '\n' || o.message.back() == '\r')) o.message.pop_back();
      messageGiven = true;
    } else if (TakeValue(args, arg, "--folder", value, missing)) {
      o.folder = value;
    } else if (arg == "--folder-temp") {
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
    } else if (TakeValue(args, arg, "--level", value, missing)) {
      if (!missing && !ParseInt(value, o.level)) return UsageError("--level takes a number from 0 to 12");
    } else if (TakeValue(args, arg, "--password", value, missing)) {
      o.password = value;
      o.hasPassword = true;
    } else if (TakeValue(args, arg, "--password-file", value, missing)) {
      if (missing) break;
      if (!ReadFirstLine(value, o.password, error)) return pack::Error(error), 1;
      o.hasPassword = true;
    } else if (TakeValue(args, arg, "--encryption", value, missing)) {
      if (!missing && !ParseEncryption(value, o.encryption))
        return UsageError("--encryption takes aes256, aes128 or zipcrypto");
      o.encryptionGiven = true;
    } else if (TakeValue(args, arg, "--codepage", value, missing)) {
      if (!missing && !ParseInt(value, o.codePage)) return UsageError("--codepage takes a number such as 1252");
    } else if (TakeValue(args, arg, "--stub", value, missing)) {
      o.stubFile = value;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "-v" || arg == "--verbose") {
      o.verbose = true;
    } else {
      return UsageError("unknown option " + arg + " for create");
    }
    if (missing) return UsageError(arg + " needs a value");
  }
  (void)messageGiven;
  if (positional.size() < 2) return UsageError("create needs an output file and at least one input");
  o.output = positional[0];
  o.inputs.assign(positional.begin() + 1, positional.end());
  return pack::CreatePackage(o);
}

int RunEngineCommand(const std::string& command, Args& args) {
  pack::EngineOptions o;
  std::vector<std::string> positional;
  while (!args.Done()) {
    std::string arg = args.items[args.next++], value, error;
    bool missing = false;
    if (arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
    } else if (command == "extract" && (TakeValue(args, arg, "-d", value, missing) ||
                                        TakeValue(args, arg, "--directory", value, missing))) {
      o.destination = value;
    } else if (command != "list" && command != "info" && TakeValue(args, arg, "--password", value, missing)) {
      o.password = value;
      o.hasPassword = true;
    } else if (command != "list" && command != "info" && TakeValue(args, arg, "--password-file", value, missing)) {
      if (missing) break;
      if (!ReadFirstLine(value, o.password, error)) return pack::Error(error), 1;
      o.hasPassword = true;
    } else if (TakeValue(args, arg, "--codepage", value, missing)) {
      if (!missing && !ParseInt(value, o.codePage)) return UsageError("--codepage takes a number such as 1252");
    } else if (command == "extract" && arg == "--overwrite") {
      o.overwrite = 1;
    } else if (command == "extract" && arg == "--skip-existing") {
      o.overwrite = 0;
    } else if (command == "extract" && arg == "--raw-names") {
      o.rawNames = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (command == "list" && (arg == "-v" || arg == "--verbose")) {
      o.verbose = true;
    } else {
      return UsageError("unknown option " + arg + " for " + command);
    }
    if (missing) return UsageError(arg + " needs a value");
  }
  if (positional.size() != 1) return UsageError(command + " takes exactly one package");
  o.package = positional[0];
  if (command == "list") return pack::ListPackage(o);
  if (command == "test") return pack::TestPackage(o);
  if (command == "info") return pack::ShowPackageInfo(o);
  if (o.destination.empty()) return UsageError("extract needs a destination: -d DIR");
  return pack::ExtractPackage(o);
}

}  // namespace

int main(int argc, char** argv) {
  setlocale(LC_CTYPE, "C.UTF-8");   // case folding of non-ASCII names
  Args args;
  for (int i = 1; i < argc; i++) args.items.push_back(argv[i]);
  if (args.Done()) {
    fputs(Usage, stderr);
    return 2;
  }
  std::string command = args.items[args.next++];
  if (command == "-h" || command == "--help" || command == "help") {
    fputs(Usage, stdout);
    return 0;
  }
  if (command == "create") return RunCreate(args);
  if (command == "list" || command == "test" || command == "extract" || command == "info")
    return RunEngineCommand(command, args);
  return UsageError("unknown command " + command);
}
