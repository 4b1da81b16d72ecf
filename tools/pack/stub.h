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
// A stub that differs from the reference only in its manifest's execution
// level, as SetExecutionLevel writes it, is the reference asking for that level.
enum class StubMatch { Same, SameSigned, Other };
StubMatch CompareStubs(const std::string& stub, const std::string& reference);

// The manifest's execution levels: the stub's default, and what --elevate asks for.
extern const char* const LevelAsInvoker;
extern const char* const LevelAdministrator;
extern const char* const LevelHighest;

// The value of the manifest's requestedExecutionLevel (resource type 24, id 1,
// found through the PE resource directory): where it starts in the file and
// the bytes it may take (the value, its closing quote and the blanks after it).
struct LevelField {
  size_t offset = 0;
  size_t room = 0;
  std::string level;
};
bool FindLevelField(const std::string& stub, LevelField& field, std::string& error);

// Writes one of the three levels in the field's place, blanks filling the
// rest, so no byte moves; the image's checksum is made anew when it has one.
bool SetExecutionLevel(std::string& stub, const std::string& level, std::string& error);

// The PE checksum of the image the linker wrote (its sections, not the
// padding or a package after them), the field itself counted as zero.
uint32_t ImageChecksum(const std::string& file);

}  // namespace pack
