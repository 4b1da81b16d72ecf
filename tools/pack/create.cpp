#include "tools/pack/create.h"

#include <stdio.h>

#include <map>
#include <new>
#include <set>

#include "tools/os/os.h"
#include "tools/pack/create_plan.h"
#include "tools/pack/engine_commands.h"
#include "tools/pack/entry_preparer.h"
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
  ParallelEntries entries(o, plan, ThreadCount(o, plan));
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

// The entries copied as they are from zip archives, extracted from the
// written package by the stub's engine as `test` does: one that the stub
// would refuse is refused here, with the stub's reason.
bool StubAcceptsCopies(const CreateOptions& o, const Plan& plan, const std::string& package, std::string& error) {
  std::set<std::string> copied;
  std::map<std::string, const PlannedEntry*> byName;   // by UTF-8 name
  for (const PlannedEntry& e : plan.entries)
    if (KeepsZipData(e)) {
      copied.insert(e.name);
      byName[e.utf8Name] = &e;
    }
  if (copied.empty()) return true;
  EngineOptions check;
  check.package = package;
  check.hasPassword = o.hasPassword;
  check.password = o.password;
  check.codePage = o.codePage;
  check.quiet = true;
  std::vector<EntryFailure> failed;
  if (CheckEntries(check, copied, failed)) return true;
  for (const EntryFailure& f : failed) {
    auto found = byName.find(f.name);
    const PlannedEntry* e = found != byName.end() ? found->second : nullptr;
    bool aes = e && e->zip.aes.version != 0;
    Error((e ? e->origin : f.name) + ": the stub would not extract it: " + f.reason +
          (aes ? "; an AES entry is copied only with its own password" : ""));
  }
  error = Count(failed.size(), "entry", "entries") + " from zip archives would fail in the package";
  return false;
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

  std::string error, pending;
  FILE* file = os::CreatePending(o.output, pending, error);
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
  if (ok) ok = StubAcceptsCopies(o, plan, pending, error);
  if (ok) ok = os::PublishPending(o.output, error);
  else os::DiscardPending();
  if (!ok) {
    Error(error);
    Error("nothing was written");
    return 1;
  }
  if (!o.quiet && o.solid)
    fprintf(stderr, "tolvane-pack: %s: its solid entries open only with its own stub and tolvane-pack: "
            "other zip tools list them but cannot extract them\n", o.output.c_str());
  if (!o.quiet)
    fprintf(stderr, "tolvane-pack: %s: %s, %llu bytes packed into %llu; the package takes %llu bytes\n",
            o.output.c_str(), Count(plan.entries.size(), "entry", "entries").c_str(),
            (unsigned long long)plan.totalBytes, (unsigned long long)packed, (unsigned long long)written);
  return 0;
}

}  // namespace pack
