#pragma once
// The test double of the seam: the Linux seam (platform/host.h) with what
// tests, fuzzers and benchmarks need besides: message boxes recorded,
// password prompts answered from a script, in-memory files and file system,
// counted calls and injected faults. Linked instead of the Linux seam.
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/host.h"

namespace host {

// Message boxes are recorded; a handler, when set, is also called.
std::vector<HostMessage>& Messages();

// Password prompts (the engine's AskPassword, which Reset points here) are
// answered from this queue, an empty answer when it runs dry. Prompts are counted.
void SetPasswordAnswers(const std::vector<std::string>& answers);
int PasswordPrompts();

// Called at every PumpOneMessage, so a test can act "during" a run.
void SetPumpHandler(std::function<void()> handler);
int PumpedMessages();

// In-memory files (decoder tests, fuzzers, benchmarks): reads come from 'data',
// which the caller keeps alive; writes append to *sink.
FileHandle OpenMemoryFile(const void* data, size_t size);
FileHandle CreateMemorySink(std::string* sink);

// A file system held in memory instead of the real one (for the walk fuzzer):
// files and folders are keyed by their mapped host path.
void UseMemoryFileSystem(bool on);
std::map<std::string, std::string>& MemoryFiles();
std::vector<std::string>& MemoryFolders();

// Seam calls counted since the last ResetCounters, for the decoder tests and
// the benchmarks. Reset() leaves them alone.
struct HostCounters {
  int reads = 0;
  int writes = 0;
  std::vector<uint32_t> writeSizes;
  long long liveBytes = 0;     // Allocate minus Release
  long long peakBytes = 0;     // highest liveBytes since the last reset
  int liveBlocks = 0;
};
HostCounters& Counters();
// Clears the call counts; the live blocks stay counted, and the peak starts from them.
void ResetCounters();

// Fault injection: every file created for writing takes at most 'bytes'
// bytes (a full disk; SIZE_MAX: no limit), and MoveOntoFile fails onto
// paths that end with 'name' (empty: none).
void SetWriteLimit(size_t bytes);
void SetFailingMoves(const std::string& name);
// TryAllocate refuses blocks larger than 'bytes' (SIZE_MAX: none).
void SetAllocationLimit(size_t bytes);

// The second thread, run in a chosen order: StartThread refuses (the engine
// then decodes in turn, the default); the work runs at once and the thread
// has ended when next asked; or the work runs only when the engine waits for
// the thread, the latest a real thread can end.
enum class ThreadOrder { Refused, EndsAtOnce, EndsWhenWaited };
void SetThreadOrder(ThreadOrder order);
// The ANSI code page as the stub has it: none (names are bytes, as the tools
// on Linux keep them; the default) or Latin-1, whose letters are code page
// 1252's, converted to and from UTF-8 as the stub converts its 8-bit names.
void SetLatin1CodePage(bool on);
// Every MoveOntoFile that succeeded, as its target path was given.
std::vector<std::string>& MovedOnto();

// Forgets every setting and record, the Linux seam's included.
void Reset();

}  // namespace host
