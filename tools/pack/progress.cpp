#include "tools/pack/progress.h"

#include <stdio.h>
#include <time.h>

#include "tools/os/os.h"
#include "tools/pack/util.h"

namespace pack {

namespace {

const double Delay = 0.5;       // seconds before the bar first appears
const double Interval = 0.1;    // seconds between redraws

double Now() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

}  // namespace

std::string RateText(double rate) {
  char text[32];
  if (rate >= 1e9) snprintf(text, sizeof text, "%.1f GB/s", rate / 1e9);
  else if (rate >= 1e6) snprintf(text, sizeof text, "%.1f MB/s", rate / 1e6);
  else snprintf(text, sizeof text, "%.0f kB/s", rate / 1e3);
  return text;
}

std::string DurationText(double seconds) {
  char text[32];
  long s = seconds < 0 ? 0 : (long)(seconds + 0.5);
  if (s >= 3600) snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

Progress::Progress(uint64_t totalBytes, bool allowed)
    : total_(totalBytes), start_(Now()), shown_(allowed && os::IsTerminal(stderr)) {}

Progress::~Progress() { Done(); }

void Progress::Entry(const std::string& name) {
  name_ = Printable(name);   // names may come from a package
  Draw(false);
}

void Progress::Advance(uint64_t bytes) {
  done_ += bytes;
  Draw(false);
}

void Progress::Draw(bool force) {
  if (!shown_) return;
  double now = Now(), elapsed = now - start_;
  if (!force && (elapsed < Delay || now - lastDraw_ < Interval)) return;
  lastDraw_ = now;
  const int width = 20;
  uint64_t done = done_ < total_ ? done_ : total_;
  int percent = total_ ? (int)(done * 100 / total_) : 100;
  std::string bar(percent * width / 100, '=');
  bar.resize(width, ' ');
  double rate = elapsed > 0 ? (double)done / elapsed : 0;
  std::string left = rate > 0 ? DurationText((double)(total_ - done) / rate) + " left" : "";
  // The end of a long name, cut where a character starts.
  size_t from = name_.size() > 28 ? name_.size() - 25 : 0;
  while (from > 0 && from < name_.size() && (name_[from] & 0xC0) == 0x80) from++;
  std::string shown = from > 0 ? "..." + name_.substr(from) : name_;
  fprintf(stderr, "\r[%s] %3d%% %10s %10s  %-28s", bar.c_str(), percent, RateText(rate).c_str(), left.c_str(),
          shown.c_str());
  fflush(stderr);
  drawn_ = true;
}

void Progress::Clear() {
  if (!drawn_) return;
  fprintf(stderr, "\r%*s\r", 79, "");
  fflush(stderr);
  drawn_ = false;
  lastDraw_ = 0;
}

void Progress::Done() {
  Clear();
  shown_ = false;
}

}  // namespace pack
