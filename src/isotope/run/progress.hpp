// The progress counter of a table run, in tqdm's layout without a total:
// "12345it [00:01, 9876.54it/s]", redrawn on the console's error stream at
// most ten times a second, and ended by a line feed.
#pragma once

#include <chrono>
#include <cstddef>

#include "isotope/run/console.hpp"

namespace isotope {

class Progress {
 public:
  // Draws the counter at 0.
  explicit Progress(const Console& console);
  // One more row done.
  void tick();
  // Draws the final count and ends the line.
  void close();

 private:
  using Clock = std::chrono::steady_clock;
  void draw(Clock::time_point now);

  const Console& console_;
  std::size_t n_ = 0;
  Clock::time_point start_, last_;
};

}  // namespace isotope
