#pragma once
// Turns a planned entry into the record and the bytes the package stores.
#include <stddef.h>
#include <stdint.h>
#include <string>
#include <vector>

#include "tools/pack/create.h"
#include "tools/pack/create_plan.h"
#include "tools/pack/entry_buffer.h"
#include "tools/pack/zip_writer.h"

struct libdeflate_compressor;

namespace pack {

// Data of at least this size are built in a temporary file next to the
// package rather than in memory, so that memory stays bounded whatever the
// size of an entry.
const uint64_t SpillSize = 32u << 20;

// About the size of an entry's data once prepared, known before it is: what
// ParallelEntries counts against its budgets while the entry is in the works.
uint64_t ExpectedSize(const PlannedEntry& e);

// True when a zip entry's data go into the package as they are: the stub
// reads its method (the planner lets AES entries through only with such a
// method inside). The finished package is then checked by the stub's own
// engine, which alone decides whether the stub will extract them.
bool KeepsZipData(const PlannedEntry& e);

// One entry made ready for the package: its record and its data as stored.
// Shared because the preparing threads hand these to the writer.
struct PreparedEntry {
  ZipRecord record;
  EntryBuffer data;
  std::string error;   // empty when ready
};

// Reads, compresses and encrypts entries; one per thread, each with its own
// compressor. An entry's bytes depend on nothing but the entry and the
// options, so the package is the same whatever the number of threads.
// Each thread of ParallelEntries owns one.
class EntryPreparer {
 public:
  EntryPreparer(const CreateOptions& o, const Plan& plan);
  ~EntryPreparer();
  EntryPreparer(const EntryPreparer&) = delete;
  EntryPreparer& operator=(const EntryPreparer&) = delete;

  PreparedEntry Prepare(const PlannedEntry& e);
  // The 'count' entries of a solid block from the plan's entry 'first' on,
  // each with its data: the block's property byte and the entry's chunks.
  // From an entry that cannot be prepared on, each carries its error.
  std::vector<PreparedEntry> PrepareBlock(size_t first, size_t count);

 private:
  void Describe(const PlannedEntry& e, ZipRecord& r) const;
  bool Build(const PlannedEntry& e, PreparedEntry& out);
  bool ReadInput(const PlannedEntry& e, EntryBuffer& bytes, std::string& error);
  bool FromZip(const PlannedEntry& e, PreparedEntry& out);
  bool CopyRaw(const PlannedEntry& e, PreparedEntry& out);
  bool Recompress(const PlannedEntry& e, PreparedEntry& out);
  bool FromBytes(const uint8_t* data, size_t size, PreparedEntry& out);
  bool Reserve(size_t size, bool sealed, PreparedEntry& out, uint8_t*& data);
  bool Seal(size_t size, PreparedEntry& out);
  bool Finish(size_t size, PreparedEntry& out);
  size_t HeaderRoom() const;
  size_t TrailerRoom() const;
  uint8_t AesStrength() const;

  const Plan& plan_;
  int level_;
  Method method_;
  bool hasPassword_;
  Encryption encryption_;
  std::string password_;
  std::string spillDir_;
  libdeflate_compressor* compressor_ = nullptr;
  bool useEpoch_;
  int64_t epoch_;
};

}  // namespace pack
