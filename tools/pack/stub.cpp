#include "tools/pack/stub.h"

#include <ctype.h>

#include <algorithm>

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

namespace {

const uint32_t PeMagic32 = 0x10B;
const uint32_t ResourceDirectory = 2;   // its index among the data directories
const uint32_t ManifestType = 24, ManifestId = 1;
const uint32_t Subdirectory = 0x80000000;   // in a resource entry: a name, or a table below

bool Within(const std::string& file, size_t at, size_t size) {
  return at <= file.size() && size <= file.size() - at;
}

// The parts of a PE32 image its resources and checksum are reached through.
struct PeLayout {
  size_t optional = 0;
  size_t sectionTable = 0;
  unsigned sectionCount = 0;

  bool Read(const std::string& file) {
    if (!Within(file, 0x3C, 4)) return false;
    size_t pe = GetLe32(&file[0x3C]);
    if (!Within(file, pe, 24) || file.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return false;
    sectionCount = GetLe16(&file[pe + 6]);
    optional = pe + 24;
    sectionTable = optional + GetLe16(&file[pe + 20]);
    return Within(file, optional, 128) && GetLe16(&file[optional]) == PeMagic32 &&
           GetLe32(&file[optional + 92]) > ResourceDirectory && Within(file, sectionTable, 40 * sectionCount);
  }
  size_t ChecksumAt() const { return optional + 64; }

  // Where the 'size' bytes at address 'rva' lie in the file; false when no
  // section's data hold them.
  bool Offset(const std::string& file, uint32_t rva, uint32_t size, size_t& at) const {
    for (unsigned i = 0; i < sectionCount; i++) {
      const char* s = &file[sectionTable + 40 * i];
      uint32_t address = GetLe32(s + 12), rawSize = GetLe32(s + 16), rawAt = GetLe32(s + 20);
      if (rva >= address && rva - address <= rawSize && size <= rawSize - (rva - address)) {
        at = (size_t)rawAt + (rva - address);
        return Within(file, at, size);
      }
    }
    return false;
  }

  // The end of the last section's data: what follows is padding or a package.
  size_t ImageEnd(const std::string& file) const {
    size_t end = 0;
    for (unsigned i = 0; i < sectionCount; i++) {
      const char* s = &file[sectionTable + 40 * i];
      end = std::max(end, (size_t)GetLe32(s + 20) + GetLe32(s + 16));
    }
    return std::min(end, file.size());
  }
};

// The entry for 'id' (or the first one, for id 0) in the resource table at
// 'table' (relative to the resource tree's start, 'tree', of 'treeSize' bytes).
bool ResourceEntry(const std::string& file, size_t tree, uint32_t treeSize, uint32_t table, uint32_t id,
                   uint32_t& target) {
  if (table > treeSize || treeSize - table < 16) return false;
  size_t at = tree + table;
  uint32_t count = GetLe16(&file[at + 12]) + GetLe16(&file[at + 14]);
  if ((treeSize - table - 16) / 8 < count) return false;
  for (uint32_t k = 0; k < count; k++) {
    const char* entry = &file[at + 16 + 8 * k];
    uint32_t name = GetLe32(entry);
    if (name & Subdirectory) continue;   // named entries: ours are numbered
    if (id == 0 || name == id) {
      target = GetLe32(entry + 4);
      return true;
    }
  }
  return false;
}

// The manifest's bytes in the file: type 24, id 1, its first language.
bool FindManifest(const std::string& file, size_t& at, uint32_t& size, std::string& error) {
  PeLayout pe;
  if (!pe.Read(file)) {
    error = "it is not a 32-bit PE image";
    return false;
  }
  uint32_t treeRva = GetLe32(&file[pe.optional + 96 + 8 * ResourceDirectory]);
  uint32_t treeSize = GetLe32(&file[pe.optional + 96 + 8 * ResourceDirectory + 4]);
  size_t tree;
  uint32_t type, id, language;
  if (!treeRva || !pe.Offset(file, treeRva, treeSize, tree) ||
      !ResourceEntry(file, tree, treeSize, 0, ManifestType, type) || !(type & Subdirectory) ||
      !ResourceEntry(file, tree, treeSize, type & ~Subdirectory, ManifestId, id) || !(id & Subdirectory) ||
      !ResourceEntry(file, tree, treeSize, id & ~Subdirectory, 0, language) || (language & Subdirectory) ||
      language > treeSize || treeSize - language < 16) {
    error = "it has no manifest (resource type 24, id 1)";
    return false;
  }
  size = GetLe32(&file[tree + language + 4]);
  if (!pe.Offset(file, GetLe32(&file[tree + language]), size, at)) {
    error = "its manifest lies outside its sections";
    return false;
  }
  return true;
}

}  // namespace

const char* const LevelAsInvoker = "asInvoker";
const char* const LevelAdministrator = "requireAdministrator";
const char* const LevelHighest = "highestAvailable";

bool FindLevelField(const std::string& file, LevelField& field, std::string& error) {
  size_t at;
  uint32_t size;
  if (!FindManifest(file, at, size, error)) return false;
  const std::string text = file.substr(at, size);
  size_t element = text.find("<requestedExecutionLevel"), value = element, quote = std::string::npos;
  size_t end = element == std::string::npos ? element : text.find('>', element);
  if (end != std::string::npos) {
    do value = text.find("level=\"", value + 1);
    while (value < end && !isspace((unsigned char)text[value - 1]));
    if (value < end) quote = text.find('"', value + 7);
  }
  if (quote >= end) {
    error = "its manifest has no requestedExecutionLevel with a level";
    return false;
  }
  value += 7;
  size_t blanks = quote + 1;
  while (blanks < end && text[blanks] == ' ') blanks++;
  field.offset = at + value;
  field.room = blanks - value;
  field.level = text.substr(value, quote - value);
  return true;
}

bool SetExecutionLevel(std::string& stub, const std::string& level, std::string& error) {
  if (level != LevelAsInvoker && level != LevelAdministrator && level != LevelHighest) {
    error = "the execution level " + level + " is none Windows knows";
    return false;
  }
  LevelField field;
  if (!FindLevelField(stub, field, error)) return false;
  if (level.size() + 1 > field.room) {
    error = "its manifest keeps no room for it: level=\"" + field.level + "\" needs " +
            std::to_string(level.size() + 1 - field.room) + " more blanks after it";
    return false;
  }
  stub.replace(field.offset, field.room, level + '"' + std::string(field.room - level.size() - 1, ' '));
  PeLayout pe;
  pe.Read(stub);
  // A stub without a checksum keeps none; the build writes one.
  if (GetLe32(&stub[pe.ChecksumAt()]) != 0) {
    std::string sum;
    PutLe32(sum, ImageChecksum(stub));
    stub.replace(pe.ChecksumAt(), 4, sum);
  }
  return true;
}

uint32_t ImageChecksum(const std::string& file) {
  PeLayout pe;
  if (!pe.Read(file)) return 0;
  size_t end = pe.ImageEnd(file), field = pe.ChecksumAt();
  auto byte = [&](size_t k) -> uint32_t {
    return k >= end || (k >= field && k < field + 4) ? 0 : (uint8_t)file[k];
  };
  uint32_t sum = 0;
  for (size_t k = 0; k < end; k += 2) {
    sum += byte(k) | byte(k + 1) << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + (uint32_t)end;
}

StubMatch CompareStubs(const std::string& stub, const std::string& reference) {
  if (stub == reference) return StubMatch::Same;
  // The reference as --elevate writes it for the level the stub asks for.
  std::string expected = reference, error;
  LevelField asked, own;
  if (FindLevelField(stub, asked, error) && FindLevelField(reference, own, error) && asked.level != own.level)
    SetExecutionLevel(expected, asked.level, error);
  if (stub == expected) return StubMatch::Same;
  size_t checksum, certificates;
  if (stub.size() != expected.size() || !SigningFields(stub, checksum, certificates)) return StubMatch::Other;
  if (GetLe32(&stub[certificates + 4]) == 0) return StubMatch::Other;   // no certificate table
  std::string a = stub, b = expected;
  for (std::string* s : {&a, &b}) {
    s->replace(checksum, 4, 4, '\0');
    s->replace(certificates, 8, 8, '\0');
  }
  return a == b ? StubMatch::SameSigned : StubMatch::Other;
}

}  // namespace pack
