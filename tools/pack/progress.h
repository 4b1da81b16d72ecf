#pragma once
// A one-line progress bar on stderr with the rate and the time left, drawn
// only on a terminal and only once a run has taken long enough to notice.
#include <stdint.h>
#include <string>

namespace pack {

class Progress {
 public:
  Progress(uint64_t totalBytes, bool allowed);
  ~Progress();
  void Entry(const std::string& name);   // the entry being worked on
  void Advance(uint64_t bytes);          // bytes of it done
  void Clear();                          // wipes the line before other output; it comes back on the next step
  void Done();

 private:
  void Draw(bool force);
  uint64_t total_, done_ = 0;
  std::string name_;
  double start_, lastDraw_ = 0;
  bool shown_, drawn_ = false;
};

// "1.5 MB/s"-style rate and "1:05"-style duration, for the bar and the summaries.
std::string RateText(double bytesPerSecond);
std::string DurationText(double seconds);

}  // namespace pack
