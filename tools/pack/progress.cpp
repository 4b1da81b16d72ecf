#include "tools/pack/progress.h"

#include <stdio.h>
#include <unistd.h>

namespace pack {

static const uint64_t LargeInput = 16u << 20;

Progress::Progress(uint64_t totalBytes, bool allowed)
    : total_(totalBytes), shown_(allowed && totalBytes >= LargeInput && isatty(2)) {}

Progress::~Progress() { Done(); }

void Progress::Step(uint64_t bytes, const std::string& name) {
  if (!shown_) return;
  Draw(name);   // before the entry, so a long file shows its name while it is packed
  done_ += bytes;
}

void Progress::Draw(const std::string& name) {
  const int width = 30;
  int percent = total_ ? (int)(done_ * 100 / total_) : 100;
  int filled = percent * width / 100;
  std::string bar(filled, '=');
  bar.resize(width, ' ');
  std::string shown = name.size() > 38 ? "..." + name.substr(name.size() - 35) : name;
  fprintf(stderr, "\r[%s] %3d%% %-38s", bar.c_str(), percent, shown.c_str());
  fflush(stderr);
}

void Progress::Done() {
  if (!shown_) return;
  fprintf(stderr, "\r%*s\r", 80, "");
  fflush(stderr);
  shown_ = false;
}

}  // namespace pack
