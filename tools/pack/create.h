#pragma once
// `tolvane-pack create`: checks everything first, then writes the package to
// a temporary file next to the output and renames it into place.
#include <string>
#include <vector>

#include "tools/pack/aes_zip.h"

namespace pack {

// How file data are compressed: deflate is read by every zip tool; LZMA
// (method 14) makes smaller packages that fewer tools open.
enum class Method { Deflate, Lzma };

struct CreateOptions {
  std::string output;
  std::vector<std::string> inputs;
  std::string message;          // UTF-8
  std::string folder;           // UTF-8; "##" is the temporary folder
  std::string command;          // UTF-8
  bool noFileList = false;
  bool hideOverwrite = false;
  bool keepExisting = false;
  bool noSwitches = false;      // the stub ignores its command line
  bool noTimes = false;         // extracted files get the time of extraction
  bool noWait = false;          // the command starts where the stub was started, unwaited
  std::string elevation;        // the manifest's new execution level; empty: the stub's own
  std::vector<std::string> excludes;    // patterns, see inputs.h
  std::vector<std::string> filesFrom;   // files listing more inputs; "-" is stdin
  int level = 12;
  Method method = Method::Deflate;
  int threads = 0;                      // 0: one per processor
  bool solid = false;                   // solid blocks (docs/solid.md)
  uint64_t solidSize = 64u << 20;       // input bytes per solid block
  bool hasPassword = false;
  std::string password;         // UTF-8
  Encryption encryption = Encryption::Aes256;
  bool encryptionGiven = false;
  int codePage = 1252;
  std::string stubFile;         // empty: the embedded stub
  bool quiet = false;
  bool verbose = false;
};

// Returns the process exit code.
int CreatePackage(const CreateOptions& options);

}  // namespace pack
