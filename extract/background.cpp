#include "extract/background.h"

#include "archive/entry_log.h"
#include "base/config.h"
#include "platform/held.h"
#include "base/reader.h"
#include "base/state.h"
#include "base/text.h"
#include "codec/lzma.h"

namespace {

// The entry on the second thread, and what settling it takes.
struct BackgroundEntry {
  ThreadHandle thread;   // null while none runs
  uint8_t* data;         // the entry's data, read beforehand
  uint32_t length;
  ArchiveEntry entry;
  FileHandle file;       // its temporary file, and the CRC of what it took
  uint32_t crc;
  DecodeResult decoded;
  EntryPaths paths;
  char name[NameBufferSize + 1];   // for a message that names it
  FileStamp stamp;
  ListHandle list;
  int32_t listIndex;
  bool utf8;             // the encoding of its paths and name
} Background;

// Smaller entries are decoded in turn: starting a thread would cost a
// noticeable share of their time. Larger data are not held in memory.
const uint32_t BackgroundLeastSize = 1 << 16;
const uint32_t BackgroundMostData = 64 << 20;

uint32_t TV_THREAD_CALL DecodeBackgroundEntry(void* argument) {
  BackgroundEntry& job = *(BackgroundEntry*)argument;
  job.decoded = LzmaFromMemory(job.data, job.length, job.entry.UncompressedSize,
                               (job.entry.EntryFlags & FlagLzmaEndMarker) != 0, job.file, job.crc);
  return 0;
}

// Judges the background entry, decoded, and ends its output.
EntryOutcome SettleBackgroundEntry(BackgroundEntry& job) {
  Release(job.data);
  EntryOutcome outcome = DataVerdict(job.decoded, job.crc, job.entry, false);
  outcome = SettleOutput(outcome, job.file, job.paths, job.stamp, job.list, job.listIndex);
  Release(job.paths.Output);
  return outcome;
}

}  // namespace

bool GoesToBackground(const ArchiveEntry& entry) {
  return entry.Method == MethodLzma && !(entry.EntryFlags & FlagEncrypted) && !Held(Background).thread &&
         entry.UncompressedSize >= BackgroundLeastSize && entry.CompressedSize <= BackgroundMostData;
}

void SettleBackgroundBefore(const char* path) {
  BackgroundEntry& job = Held(Background);
  if (job.thread && SamePath(job.paths.Output, path)) SettleBackground(true);
}

void SettleBackground(bool wait) {
  BackgroundEntry& job = Held(Background);
  if (!job.thread || !ThreadEnded(job.thread, wait)) return;
  job.thread = nullptr;
  SetUtf8Texts(job.utf8);
  EntryOutcome outcome = SettleBackgroundEntry(job);
  ReportUnservable(outcome, job.name);
  LogEntry(outcome, job.name);
  SetUtf8Texts(State.Utf8Name);
}

EntryOutcome StartBackground(ExtractState& state, uint8_t* data, const char* name, uint32_t headerPosition,
                             ListHandle list, EntryPaths& paths) {
  BackgroundEntry& job = Held(Background);
  job.entry = state.CurrentEntry;
  job.data = data;
  job.length = ReadArchive(data, job.entry.CompressedSize);
  job.file = state.OutputFile;
  state.OutputFile = NoFile;
  job.crc = 0xFFFFFFFF;
  job.paths = paths;
  paths.Output = paths.Temp = nullptr;
  if (Config.KeepTimes) ReadEntryTime(headerPosition, job.stamp);
  job.list = list;
  job.listIndex = state.LastIndex;
  job.utf8 = state.Utf8Name;
  job.thread = StartThread(DecodeBackgroundEntry, &job);
  if (!job.thread) {
    DecodeBackgroundEntry(&job);
    return SettleBackgroundEntry(job);
  }
  CopyBytes(job.name, name, StrLength(name) + 1);
  return EntryDecoding;
}
