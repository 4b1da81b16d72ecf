#pragma once
// The room in which an entry's bytes are read and its stored bytes built.
#include <stddef.h>
#include <stdint.h>
#include <string>

namespace pack {

// Room for an entry's stored bytes: memory, or for a large entry a temporary
// file mapped in its place. The file's pages go to disk when memory is short,
// where memory would have to hold the whole entry until it is written.
// EntryPreparer fills one per entry; the writer copies it into the package.
class EntryBuffer {
 public:
  EntryBuffer() = default;
  EntryBuffer(EntryBuffer&& other) noexcept { *this = static_cast<EntryBuffer&&>(other); }
  EntryBuffer& operator=(EntryBuffer&& other) noexcept;
  ~EntryBuffer() { Release(); }

  // 'capacity' bytes, in a temporary file in 'spillDir' unless it is empty.
  bool Allocate(size_t capacity, const std::string& spillDir, std::string& error);
  // Memory beyond 'size' is given back while the entry waits for the writer.
  void Shrink();
  uint8_t* Bytes() const { return bytes_; }
  bool Spilled() const { return mapped_; }
  size_t size = 0;   // bytes in use

 private:
  void Release();
  uint8_t* bytes_ = nullptr;
  size_t capacity_ = 0;
  bool mapped_ = false;
};

}  // namespace pack
