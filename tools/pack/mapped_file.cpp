#include "tools/pack/mapped_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

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

EntryBuffer& EntryBuffer::operator=(EntryBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    bytes_ = other.bytes_;
    capacity_ = other.capacity_;
    mapped_ = other.mapped_;
    size = other.size;
    other.bytes_ = nullptr;
    other.capacity_ = other.size = 0;
    other.mapped_ = false;
  }
  return *this;
}

bool EntryBuffer::Allocate(size_t capacity, const std::string& spillDir, std::string& error) {
  Release();
  if (capacity == 0) return true;
  if (spillDir.empty()) {
    bytes_ = (uint8_t*)malloc(capacity);   // not zeroed: pages deflate does not reach are never touched
    if (!bytes_) throw std::bad_alloc();
    capacity_ = capacity;
    return true;
  }
  std::string path = spillDir + "/.tolvane-pack.XXXXXX";
  int fd = mkstemp(&path[0]);
  if (fd < 0) {
    error = "cannot create a temporary file in " + spillDir + ": " + strerror(errno);
    return false;
  }
  unlink(path.c_str());   // gone with the mapping, however the run ends
  // Blocks reserved first: a write to a mapping that finds the disk full
  // would kill the process rather than fail.
  int failed = posix_fallocate(fd, 0, (off_t)capacity);
  void* p = failed ? MAP_FAILED : mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (!failed && p == MAP_FAILED) failed = errno;
  close(fd);
  if (failed) {
    error = "no room for a temporary file of " + std::to_string(capacity) + " bytes in " + spillDir + ": " +
            strerror(failed);
    return false;
  }
  bytes_ = (uint8_t*)p;
  capacity_ = capacity;
  mapped_ = true;
  return true;
}

void EntryBuffer::Shrink() {
  if (mapped_ || size == capacity_) return;
  if (size == 0) {
    Release();
    return;
  }
  if (uint8_t* smaller = (uint8_t*)realloc(bytes_, size)) {
    bytes_ = smaller;
    capacity_ = size;
  }
}

void EntryBuffer::Release() {
  if (mapped_) munmap(bytes_, capacity_);
  else free(bytes_);
  bytes_ = nullptr;
  capacity_ = size = 0;
  mapped_ = false;
}

}  // namespace pack
