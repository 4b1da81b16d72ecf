#include "tools/pack/stub.h"

#include "tools/pack/package_header.h"
#include "tools/pack/util.h"

extern "C" const unsigned char TolvaneStubData[];
extern "C" const unsigned long TolvaneStubLength;

namespace pack {

std::string EmbeddedStub() { return std::string((const char*)TolvaneStubData, TolvaneStubLength); }

bool LoadStub(const std::string& path, std::string& stub, std::string& error) {
  if (path.empty()) {
    stub = EmbeddedStub();
    if (stub.empty()) {
      error = "this build of tolvane-pack has no stub embedded; name one with --stub FILE";
      return false;
    }
  } else if (!ReadWholeFile(path, stub, error)) {
    return false;
  }
  std::string from = path.empty() ? "the embedded stub" : "the stub " + path;
  if (stub.size() != PackageStubSize) {
    error = from + " is " + std::to_string(stub.size()) + " bytes long; the stub must be exactly " +
            std::to_string(PackageStubSize) + " bytes";
    return false;
  }
  if (stub.compare(0, 2, "MZ") != 0) {
    error = from + " is not a Windows executable (no MZ signature)";
    return false;
  }
  return true;
}

}  // namespace pack
