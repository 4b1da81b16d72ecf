#include "tools/pack/local_headers.h"

#include <string.h>

#include "base/entry.h"
#include "tools/os/os.h"
#include "tools/pack/util.h"

namespace pack {

namespace {

std::string At(uint64_t offset) { return "at offset " + std::to_string(offset); }

}  // namespace

std::string MethodLabel(uint16_t method) {
  return method == MethodStored     ? "stored"
         : method == MethodDeflated ? "deflate"
         : method == MethodLzma     ? "lzma"
         : method == MethodSolid    ? "solid"
                                    : "method " + std::to_string(method);
}

bool WalkLocalHeaders(const std::string& package, uint32_t archiveStart, LocalWalk& walk,
                      std::string& error) {
  walk = LocalWalk();
  os::File file(package);
  if (!file.IsOpen()) {
    error = "cannot open " + package + ": " + os::LastError();
    return false;
  }
  uint64_t size = file.Size(), position = archiveStart;
  for (;;) {
    uint8_t h[LocalHeaderSize];
    size_t got = file.ReadAt(position, h, sizeof h);
    uint32_t signature = got >= 4 ? GetLe32(h) : 0;
    if (got >= 4 && (signature == CentralHeaderSignature || signature == EndRecordSignature)) return true;
    if (got >= 4 && signature == DataDescriptorSignature) {   // skipped, as the stub does
      position += DataDescriptorSize;
      continue;
    }
    if (got == 0) walk.earlyEnd = "the package ends " + At(position) + " without a central directory: it is cut short";
    else if (got < 4 || signature != LocalHeaderSignature) walk.earlyEnd = "no local header " + At(position) + ": the archive is damaged";
    else if (got < LocalHeaderSize) walk.earlyEnd = "the package ends inside a local header " + At(position);
    if (!walk.earlyEnd.empty()) return true;
    ArchiveEntry header;   // the stub's own view of the 30 bytes
    memcpy(&header, h, sizeof header);
    LocalEntry e;
    e.offset = position;
    e.flags = header.EntryFlags;
    e.method = header.Method;
    e.dosDateTime = (uint32_t)header.EntryDate << 16 | header.EntryTime;
    e.crc = header.EntryCrc;
    e.compressedSize = header.CompressedSize;
    e.size = header.UncompressedSize;
    uint16_t nameLength = header.NameLength, extraLength = header.ExtraLength;
    e.name.resize(nameLength);
    if (file.ReadAt(position + LocalHeaderSize, &e.name[0], nameLength) < nameLength) {
      walk.earlyEnd = "the package ends inside the name of the entry " + At(position);
      return true;
    }
    e.dataMethod = e.method;
    if (e.method == MethodAes && extraLength > 0) {
      std::string extra(extraLength, '\0');
      if (file.ReadAt(position + LocalHeaderSize + nameLength, &extra[0], extraLength) == extraLength &&
          ParseAesExtra(extra, e.aes))
        e.dataMethod = e.aes.method;
    }
    e.dataOffset = position + LocalHeaderSize + nameLength + extraLength;
    uint64_t next = e.dataOffset + e.compressedSize;
    uint8_t d[DataDescriptorSize];
    if ((e.flags & FlagDescriptor) && file.ReadAt(next, d, sizeof d) == sizeof d &&
        GetLe32(d) == DataDescriptorSignature) {
      e.crc = GetLe32(d + 4);
      e.size = GetLe32(d + 12);
    }
    walk.entries.push_back(e);
    if (next > size) {
      walk.earlyEnd = "the package ends inside the data of the last entry";
      return true;
    }
    position = next;
  }
}

std::string UnknownMethod(uint16_t method) {
  return "unknown compression method " + std::to_string(method) + " (the stub reads stored, deflated, LZMA and solid data)";
}

}  // namespace pack
