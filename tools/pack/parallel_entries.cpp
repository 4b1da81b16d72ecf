#include "tools/pack/parallel_entries.h"

#include <algorithm>
#include <utility>

#include "tools/pack/lzma_encode.h"

namespace pack {

int ThreadCount(const CreateOptions& o, const Plan& plan) {
  unsigned available = std::thread::hardware_concurrency();
  size_t wanted = o.threads > 0 ? (size_t)o.threads : available > 0 ? available : 1;
  uint64_t largest = 0;
  for (const PlanUnit& u : plan.units)
    if (u.solid) largest = std::max(largest, SolidEncoderMemory(o.level, u.bytes));
  if (largest > 0) wanted = std::min<size_t>(wanted, std::max<uint64_t>(1, MaxSolidEncoderBytes / largest));
  return (int)std::max<size_t>(1, std::min(wanted, plan.units.size()));
}

ParallelEntries::ParallelEntries(const CreateOptions& o, const Plan& plan, int threads)
    : o_(o), plan_(plan), slots_(plan.entries.size()), ready_(plan.entries.size(), 0),
      unitOf_(plan.entries.size(), 0), spilled_(plan.units.size(), 0), held_(plan.units.size(), 0),
      window_((size_t)threads * 64) {
  for (size_t u = 0; u < plan.units.size(); u++)
    for (size_t i = 0; i < plan.units[u].count; i++) unitOf_[plan.units[u].first + i] = u;
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
  size_t unit = unitOf_[i];
  const PlanUnit& u = plan_.units[unit];
  bool last = i + 1 == u.first + u.count;
  if (last) Release(unit);
  taken_ = last ? unit + 1 : unit;
  lock.unlock();
  changed_.notify_all();
  return entry;
}

void ParallelEntries::Work() {
  EntryPreparer preparer(o_, plan_);
  for (;;) {
    size_t unit;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      size_t units = plan_.units.size();
      changed_.wait(lock, [&]() {
        return stop_ || next_ >= units || (next_ < taken_ + window_ && (next_ == taken_ || Fits(next_)));
      });
      if (stop_ || next_ >= units) return;
      unit = next_++;
      uint64_t expected = Expected(unit);
      Hold(unit, expected, expected >= SpillSize);
    }
    const PlanUnit& u = plan_.units[unit];
    std::vector<PreparedEntry> prepared;
    if (u.solid) prepared = preparer.PrepareBlock(u.first, u.count);
    else prepared.push_back(preparer.Prepare(plan_.entries[u.first]));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Release(unit);
      uint64_t bytes = 0;
      bool spilled = false;
      for (const PreparedEntry& e : prepared) {
        bytes += e.data.size;
        spilled = spilled || e.data.Spilled();
      }
      Hold(unit, bytes, spilled);
      for (size_t i = 0; i < u.count; i++) {
        slots_[u.first + i] = std::move(prepared[i]);
        ready_[u.first + i] = 1;
      }
    }
    changed_.notify_all();
  }
}

uint64_t ParallelEntries::Expected(size_t unit) const {
  const PlanUnit& u = plan_.units[unit];
  uint64_t bytes = 0;
  for (size_t i = 0; i < u.count; i++) bytes += ExpectedSize(plan_.entries[u.first + i]);
  return bytes;
}

bool ParallelEntries::Fits(size_t unit) {
  uint64_t expected = Expected(unit);
  bool spilled = expected >= SpillSize;
  return Pool(spilled) + expected <= (spilled ? MaxSpillBytes : MaxMemoryBytes);
}

void ParallelEntries::Hold(size_t unit, uint64_t bytes, bool spilled) {
  held_[unit] = bytes;
  spilled_[unit] = spilled;
  Pool(spilled) += bytes;
}

void ParallelEntries::Release(size_t unit) {
  Pool(spilled_[unit] != 0) -= held_[unit];
  held_[unit] = 0;
}

}  // namespace pack
