#include "tools/pack/create.h"

#include <stdio.h>

#include <new>

#include "tools/os/os.h"
#include "tools/pack/create_plan.h"
#include "tools/pack/package_header.h"
#include "tools/pack/parallel_entries.h"
#include "tools/pack/progress.h"
#include "tools/pack/util.h"
#include "tools/pack/zip_writer.h"

namespace pack {

namespace {

// 'packed' counts the entries' stored data, as `info` does.
bool WritePackage(const CreateOptions& o, const Plan& plan, FILE* file, uint64_t& written,
                  uint64_t& packed, std::string& error) {
  PackageWriter writer(file);
  if (!writer.Begin(plan.stub, BuildHeader(plan.header), error)) return false;
  ParallelEntries entries(o, plan, ThreadCount(o, plan.entries.size()));
  Progress progress(plan.totalBytes, !o.quiet);
  for (size_t i = 0; i < plan.entries.size(); i++) {
    const PlannedEntry& e = plan.entries[i];
    progress.Entry(e.utf8Name);
    if (o.verbose) {
      progress.Clear();
      fprintf(stderr, "  adding %s\n", Printable(e.utf8Name).c_str());
    }
    PreparedEntry ready = entries.Take(i);
    if (!ready.error.empty()) {
      error = ready.error;
      return false;
    }
    if (!writer.Add(ready.record, ready.data.Bytes(), ready.data.size, error)) return false;
    packed += ready.record.compressedSize;
    progress.Advance(e.size);
  }
  progress.Done();
  if (!writer.Finish(error)) return false;
  written = writer.Position();
  return true;
}

}  // namespace

int CreatePackage(const CreateOptions& o) {
  Plan plan;
  std::vector<std::string> errors;
  if (!MakePlan(o, plan, errors)) {
    for (const std::string& e : errors) Error(e);
    Error("nothing was written");
    return 1;
  }
  if (o.hasPassword && o.encryption == Encryption::ZipCrypto)
    Warn("traditional zip encryption is weak: it keeps out casual readers, not a determined attacker; "
         "the default, AES-256, is not");

  std::string error;
  FILE* file = os::CreatePending(o.output, error);
  if (!file) {
    Error(error);
    return 1;
  }
  uint64_t written = 0, packed = 0;
  bool ok = false;
  try {
    ok = WritePackage(o, plan, file, written, packed, error);
  } catch (const std::bad_alloc&) {
    error = "out of memory while packing";   // the temporary file is removed below
  }
  std::string closeError;
  if (!os::ClosePending(file, closeError) && ok) {
    ok = false;
    error = closeError;
  }
  if (ok) ok = os::PublishPending(o.output, error);
  else os::DiscardPending();
  if (!ok) {
    Error(error);
    Error("nothing was written");
    return 1;
  }
  if (!o.quiet)
    fprintf(stderr, "tolvane-pack: %s: %s, %llu bytes packed into %llu; the package takes %llu bytes\n",
            o.output.c_str(), Count(plan.entries.size(), "entry", "entries").c_str(),
            (unsigned long long)plan.totalBytes, (unsigned long long)packed, (unsigned long long)written);
  return 0;
}

}  // namespace pack
