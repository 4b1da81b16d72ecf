#pragma once
// The threads that prepare entries ahead of the writer.
#include <stddef.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/pack/create.h"
#include "tools/pack/create_plan.h"
#include "tools/pack/entry_preparer.h"

namespace pack {

// How many threads prepare entries: --threads, else one per processor, and
// never more than there are units (entries, or solid blocks) nor, for solid
// blocks, than the LZMA2 encoders fit in MaxSolidEncoderBytes. Shared: the
// writer starts the pool with it.
int ThreadCount(const CreateOptions& o, const Plan& plan);
const uint64_t MaxSolidEncoderBytes = (uint64_t)4 << 30;

// Entries are prepared on several threads and written strictly in order by
// this thread. Workers may run well ahead of the writer, so that one large
// entry does not stall the others, but an entry is started only when its
// expected size fits in the budget it will take from, together with the
// prepared data the writer has not taken yet and the entries in the works:
// MaxMemoryBytes in memory, MaxSpillBytes in temporary files (twice what a
// package holds, as entries in the works count at their input size, so that
// two large ones can be compressed at once). The entry the writer waits for
// always starts, so memory stays bounded whatever the entries' sizes and the
// number of threads. A solid block is one unit of work: its entries are
// prepared together, on one thread, and counted together.
// WritePackage in create.cpp is that writer.
class ParallelEntries {
 public:
  ParallelEntries(const CreateOptions& o, const Plan& plan, int threads);
  ~ParallelEntries();

  // Waits for entry i, hands it over and lets the workers move on.
  PreparedEntry Take(size_t i);

 private:
  void Work();
  uint64_t& Pool(bool spilled) { return spilled ? spillBytes_ : memoryBytes_; }
  uint64_t Expected(size_t unit) const;
  bool Fits(size_t unit);
  void Hold(size_t unit, uint64_t bytes, bool spilled);
  void Release(size_t unit);

  const CreateOptions& o_;
  const Plan& plan_;
  std::vector<PreparedEntry> slots_;
  std::vector<char> ready_;      // by entry
  std::vector<size_t> unitOf_;   // by entry
  std::vector<char> spilled_;    // by unit
  std::vector<uint64_t> held_;   // by unit: what it counts for in its budget
  static const uint64_t MaxMemoryBytes = 128u << 20, MaxSpillBytes = (uint64_t)4 << 30;
  uint64_t memoryBytes_ = 0, spillBytes_ = 0;
  size_t window_, next_ = 0, taken_ = 0;   // in units: the next to start, the one the writer waits for
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> workers_;
};

}  // namespace pack
