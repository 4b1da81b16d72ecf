#include "archive/entry_time.h"

#include "base/entry.h"

namespace {

const uint16_t NtfsTimesTag = 1;

// Little-endian values, read as the machine stores them (x86 and the hosts
// are little-endian, as the archive's headers read into structs assume).
template <typename T>
T Load(const uint8_t* p) {
  T value;
  __builtin_memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

void EntryStamp(const uint8_t* extra, uint32_t length, uint16_t dosDate, uint16_t dosTime,
                FileStamp& stamp) {
  stamp = {0, dosDate, dosTime};
  uint32_t size;
  // The finer NTFS time first: four reserved bytes, then tagged attributes,
  // of which only tag 1 is defined: mtime, atime, ctime.
  const uint8_t* data = FindExtraField(extra, length, ExtraNtfsTimes, &size);
  if (data && size >= 16 && Load<uint16_t>(data + 4) == NtfsTimesTag) {
    stamp.Utc = Load<uint64_t>(data + 8);
    return;
  }
  // Flags (bit 0: an mtime follows), then the mtime in seconds.
  data = FindExtraField(extra, length, ExtraUnixTimestamp, &size);
  if (data && size >= 5 && (data[0] & 1))
    stamp.Utc = (uint64_t)((int64_t)Load<int32_t>(data + 1) * 10000000 + UnixEpochAsFileTime);
}
