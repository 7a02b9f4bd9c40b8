// Where a run's messages go: the start line of a table to `out`, the
// progress counter, warnings and summaries to `err`. The native program
// writes to the process's streams; the Python module to sys.stdout and
// sys.stderr; tests collect the text.
#pragma once

#include <functional>
#include <string_view>
#include <utility>

namespace isotope {

struct Console {
  using Write = std::function<void(std::string_view)>;
  Console() = default;
  Console(Write out_, Write err_, Write warn_ = {})
      : out(std::move(out_)), err(std::move(err_)), warn(std::move(warn_)) {}

  std::function<void(std::string_view)> out;
  std::function<void(std::string_view)> err;
  // When set, warnings go here (one message each, without the "isotope:
  // warning: " prefix and the line end) instead of to `err`: the Python
  // module turns them into warnings.warn calls.
  std::function<void(std::string_view)> warn;
  // Whether `err` is a terminal (the progress counter is then redrawn in
  // place), and its width in columns.
  bool err_is_terminal = false;
  int err_columns = 80;
  // The process's standard output and standard error, each flushed after
  // every write, so that the two keep their order in one file.
  static Console standard();

  // Shows one warning: through `warn` when set, else as a line
  // "isotope: warning: <text>" written by `line` (the progress counter's
  // message, so that the counter is drawn again below it) or on `err`.
  void warning(std::string_view text, const std::function<void(std::string_view)>& line = {}) const;
};

}  // namespace isotope
