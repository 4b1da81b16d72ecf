#pragma once
// The stub executable embedded at build time (empty when the build had none).
#include <string>

namespace pack {

std::string EmbeddedStub();

// Loads the stub from 'path', or the embedded one when 'path' is empty, and
// checks it is a Windows executable of exactly the length the stub expects.
bool LoadStub(const std::string& path, std::string& stub, std::string& error);

// How a package's stub relates to a reference stub: the same bytes, the same
// program signed afterwards (Authenticode signing changes only the PE checksum
// and the certificate table entry of the header), or another stub.
enum class StubMatch { Same, SameSigned, Other };
StubMatch CompareStubs(const std::string& stub, const std::string& reference);

}  // namespace pack
