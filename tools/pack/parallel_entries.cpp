#include "tools/pack/parallel_entries.h"

#include <algorithm>
#include <utility>

namespace pack {

int ThreadCount(const CreateOptions& o, size_t entries) {
  unsigned available = std::thread::hardware_concurrency();
  size_t wanted = o.threads > 0 ? (size_t)o.threads : available > 0 ? available : 1;
  return (int)std::max<size_t>(1, std::min(wanted, entries));
}

ParallelEntries::ParallelEntries(const CreateOptions& o, const Plan& plan, int threads)
    : o_(o), plan_(plan), slots_(plan.entries.size()), ready_(plan.entries.size(), 0),
      spilled_(plan.entries.size(), 0), held_(plan.entries.size(), 0), window_((size_t)threads * 64) {
  for (int i = 0; i < threads; i++) workers_.emplace_back([this]() { Work(); });
}

ParallelEntries::~ParallelEntries() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : workers_) t.join();
}

PreparedEntry ParallelEntries::Take(size_t i) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&]() { return ready_[i] != 0; });
  PreparedEntry entry = std::move(slots_[i]);
  Release(i);
  taken_ = i + 1;
  lock.unlock();
  changed_.notify_all();
  return entry;
}

void ParallelEntries::Work() {
  EntryPreparer preparer(o_, plan_);
  for (;;) {
    size_t i;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&]() {
        return stop_ || next_ >= slots_.size() || (next_ < taken_ + window_ && (next_ == taken_ || Fits(next_)));
      });
      if (stop_ || next_ >= slots_.size()) return;
      i = next_++;
      uint64_t expected = ExpectedSize(plan_.entries[i]);
      Hold(i, expected, expected >= SpillSize);
    }
    PreparedEntry entry = preparer.Prepare(plan_.entries[i]);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Release(i);
      Hold(i, entry.data.size, entry.data.Spilled());
      slots_[i] = std::move(entry);
      ready_[i] = 1;
    }
    changed_.notify_all();
  }
}

bool ParallelEntries::Fits(size_t i) {
  uint64_t expected = ExpectedSize(plan_.entries[i]);
  bool spilled = expected >= SpillSize;
  return Pool(spilled) + expected <= (spilled ? MaxSpillBytes : MaxMemoryBytes);
}

void ParallelEntries::Hold(size_t i, uint64_t bytes, bool spilled) {
  held_[i] = bytes;
  spilled_[i] = spilled;
  Pool(spilled) += bytes;
}

void ParallelEntries::Release(size_t i) {
  Pool(spilled_[i] != 0) -= held_[i];
  held_[i] = 0;
}

}  // namespace pack
