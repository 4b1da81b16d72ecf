#pragma once
// The stub executable embedded at build time (empty when the build had none).
#include <string>

namespace pack {

std::string EmbeddedStub();

// Loads the stub from 'path', or the embedded one when 'path' is empty, and
// checks it is a Windows executable of exactly the length the stub expects.
bool LoadStub(const std::string& path, std::string& stub, std::string& error);

}  // namespace pack
