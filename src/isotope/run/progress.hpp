// The progress counter of a table run, in tqdm's layout with a total:
//
//    45%|████▌     | 450000/1000000 [00:01<00:01, 380000.00it/s]
//
// On a terminal it is redrawn in place at most ten times a second, as wide
// as the terminal; otherwise only one final line is written, with tqdm's
// bar of ten characters. Messages written while it runs (warnings) go
// through it, so that each starts on a line of its own and the counter is
// drawn again below it; a run that fails ends the counter's line first.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "isotope/run/console.hpp"

namespace isotope {

class Progress {
 public:
  // Draws the counter at 0 (on a terminal). A total of nullopt (rows not
  // counted beforehand) shows tqdm's layout without a total:
  // "12345it [00:01, 9876.54it/s]".
  Progress(const Console& console, std::optional<std::size_t> total);
  // Ends the counter's line if the run did not close it (a failure).
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // n more rows done.
  void advance(std::size_t n);
  // Writes one message line ("...\n") on the error stream.
  void message(std::string_view line);
  // Draws the final count and ends the line.
  void close();

  // The line tqdm draws for n of total after `elapsed` seconds, `columns`
  // wide (0: a bar of ten characters).
  static std::string format(std::size_t n, std::optional<std::size_t> total, double elapsed, int columns);

 private:
  using Clock = std::chrono::steady_clock;
  void draw(Clock::time_point now);
  void clear_line();

  const Console& console_;
  std::optional<std::size_t> total_;
  std::size_t n_ = 0;
  Clock::time_point start_, last_;
  std::size_t drawn_ = 0;  // width of the line on screen, 0 when none
  bool closed_ = false;
};

}  // namespace isotope
