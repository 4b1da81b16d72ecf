#pragma once
// A one-line progress bar on stderr, shown only on a terminal and only when
// the input is large enough for the wait to be noticed.
#include <stdint.h>
#include <string>

namespace pack {

class Progress {
 public:
  Progress(uint64_t totalBytes, bool allowed);
  ~Progress();
  void Step(uint64_t bytes, const std::string& name);
  void Done();

 private:
  void Draw(const std::string& name);
  uint64_t total_, done_ = 0;
  bool shown_;
};

}  // namespace pack
