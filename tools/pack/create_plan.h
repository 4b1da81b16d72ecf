#pragma once
// What `tolvane-pack create` is going to write, worked out and checked in
// full before any file is created.
#include <stdint.h>
#include <string>
#include <vector>

#include "tools/pack/create.h"
#include "tools/pack/inputs.h"
#include "tools/pack/package_header.h"

namespace pack {

// Here because the mapping and the preparing of entries check it again once
// the data are in hand: a file may grow after it was planned.
const uint64_t MaxEntrySize = 0xFFFFFFFFu;   // no ZIP64

// Entries that are prepared together: one entry, or the entries of a solid
// block (consecutive in the plan).
struct PlanUnit {
  size_t first = 0, count = 1;
  bool solid = false;
  uint64_t bytes = 0;   // the input of its entries
};

// Whether an entry goes into a solid block with --solid: a file with
// content read from disk (folders, empty files and entries from zip
// archives keep their own methods).
bool GoesSolid(const PlannedEntry& e);

// Shared: the preparing threads and the writer both work from it.
struct Plan {
  HeaderSettings header;
  std::string stub;
  std::string password;   // code page bytes
  std::vector<PlannedEntry> entries;
  std::vector<PlanUnit> units;   // every entry in exactly one, in order
  uint64_t totalBytes = 0;
  bool useEpoch = false;   // SOURCE_DATE_EPOCH gives every entry its time
  int64_t epoch = 0;
};

// Checks the options and collects the inputs; false, with every problem in
// 'errors', when anything is wrong. CreatePackage calls it before it creates
// any file, so a refused run leaves nothing behind.
bool MakePlan(const CreateOptions& o, Plan& plan, std::vector<std::string>& errors);

}  // namespace pack
