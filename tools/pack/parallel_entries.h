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
// never more than there are entries. Shared: the writer starts the pool with it.
int ThreadCount(const CreateOptions& o, size_t entries);

// Entries are prepared on several threads and written strictly in order by
// this thread. Workers may run well ahead of the writer, so that one large
// entry does not stall the others, but hold at most MaxPendingBytes of
// prepared data the writer has not taken yet (the entry it waits for is
// always prepared). WritePackage in create.cpp is that writer.
class ParallelEntries {
 public:
  ParallelEntries(const CreateOptions& o, const Plan& plan, int threads);
  ~ParallelEntries();

  // Waits for entry i, hands it over and lets the workers move on.
  PreparedEntry Take(size_t i);

 private:
  void Work();

  const CreateOptions& o_;
  const Plan& plan_;
  std::vector<PreparedEntry> slots_;
  std::vector<char> ready_;
  static const size_t MaxPendingBytes = 256u << 20;
  size_t window_, next_ = 0, taken_ = 0, pendingBytes_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> workers_;
};

}  // namespace pack
