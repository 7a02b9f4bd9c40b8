// The tqdm-style progress counter.
#include "isotope/run/progress.hpp"

#include <cstdio>

namespace isotope {

Progress::Progress(const Console& console) : console_(console), start_(Clock::now()), last_(start_) {
  draw(start_);
}

void Progress::tick() {
  ++n_;
  // Reading the clock costs little, but not nothing: look every 64 rows.
  if ((n_ & 63) != 0) return;
  auto now = Clock::now();
  if (now - last_ >= std::chrono::milliseconds(100)) draw(now);
}

void Progress::close() {
  draw(Clock::now());
  console_.err("\n");
}

void Progress::draw(Clock::time_point now) {
  last_ = now;
  double elapsed = std::chrono::duration<double>(now - start_).count();
  auto secs = static_cast<long>(elapsed);
  char clock[32];
  if (secs >= 3600)
    std::snprintf(clock, sizeof clock, "%ld:%02ld:%02ld", secs / 3600, secs / 60 % 60, secs % 60);
  else
    std::snprintf(clock, sizeof clock, "%02ld:%02ld", secs / 60, secs % 60);
  char rate[48];
  double r = elapsed > 0 ? static_cast<double>(n_) / elapsed : 0;
  if (r <= 0)
    std::snprintf(rate, sizeof rate, "?it/s");
  else if (r < 1)
    std::snprintf(rate, sizeof rate, "%5.2fs/it", 1 / r);
  else
    std::snprintf(rate, sizeof rate, "%5.2fit/s", r);
  char line[160];
  std::snprintf(line, sizeof line, "\r%zuit [%s, %s]", n_, clock, rate);
  console_.err(line);
}

}  // namespace isotope
