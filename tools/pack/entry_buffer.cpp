#include "tools/pack/entry_buffer.h"

#include <stdlib.h>

#include <new>

#include "tools/os/os.h"

namespace pack {

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
  uint8_t* p = os::MapScratch(capacity, spillDir, error);
  if (!p) return false;
  bytes_ = p;
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
  if (mapped_) os::UnmapScratch(bytes_, capacity_);
  else free(bytes_);
  bytes_ = nullptr;
  capacity_ = size = 0;
  mapped_ = false;
}

}  // namespace pack
