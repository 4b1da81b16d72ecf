#include "archive/entry_log.h"

#include "base/text.h"
#include "platform/platform.h"

namespace {

// A word for each outcome, in EntryOutcome's order, each ended by its NUL:
// what became of the entry, or why it failed.
const char OutcomeWords[] =
    "extracted\0damaged data\0data end early\0write failed\0unsupported settings\0out of memory\0"
    "CRC mismatch\0authentication code mismatch\0wrong size\0kept\0refused name\0wrong password\0"
    "unsupported method\0\0skipped";

}  // namespace

void LogEntry(EntryOutcome outcome, const char* name) {
  const char* words = OutcomeWords;
  for (int i = outcome; i > 0; i--) words += StrLength(words) + 1;
  bool failed = outcome != EntryExtracted && outcome != EntryKept && outcome != EntrySkipped;
  WriteLogLine(failed ? "failed" : words, name, failed ? words : nullptr,
               outcome == EntryWriteFailed ? SystemErrorText() : nullptr);
}
