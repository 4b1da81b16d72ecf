#include "tools/pack/mapped_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/pack/create_plan.h"

namespace pack {

bool MappedFile::Open(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    error = "cannot read " + path + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  size = (size_t)st.st_size;
  if (size > MaxEntrySize) {
    close(fd);
    error = path + " grew beyond 4 GB while packing";
    return false;
  }
  if (size > 0) {
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      error = "cannot read " + path + ": " + strerror(errno);
      close(fd);
      return false;
    }
    data = (const uint8_t*)p;
  }
  close(fd);
  return true;
}

MappedFile::~MappedFile() {
  if (data) munmap((void*)data, size);
}

}  // namespace pack
