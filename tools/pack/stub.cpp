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
  if (stub.size() != StubSize) {
    error = from + " is " + std::to_string(stub.size()) + " bytes long; the stub must be exactly " +
            std::to_string(StubSize) + " bytes";
    return false;
  }
  if (stub.compare(0, 2, "MZ") != 0) {
    error = from + " is not a Windows executable (no MZ signature)";
    return false;
  }
  return true;
}

// The header fields signing changes, as offsets into a PE32 file: the
// checksum and the certificate table entry (address and size) of the optional
// header, which follows the 24-byte PE signature and file header.
static bool SigningFields(const std::string& file, size_t& checksum, size_t& certificates) {
  if (file.size() < 0x40) return false;
  size_t optional = (size_t)GetLe32(&file[0x3C]) + 24;
  checksum = optional + 64;
  certificates = optional + 128;
  return certificates + 8 <= file.size();
}

StubMatch CompareStubs(const std::string& stub, const std::string& reference) {
  if (stub == reference) return StubMatch::Same;
  size_t checksum, certificates;
  if (stub.size() != reference.size() || !SigningFields(stub, checksum, certificates)) return StubMatch::Other;
  if (GetLe32(&stub[certificates + 4]) == 0) return StubMatch::Other;   // no certificate table
  std::string a = stub, b = reference;
  for (std::string* s : {&a, &b}) {
    s->replace(checksum, 4, 4, '\0');
    s->replace(certificates, 8, 8, '\0');
  }
  return a == b ? StubMatch::SameSigned : StubMatch::Other;
}

}  // namespace pack
