// The process's own console: stdio streams flushed after every write.
#include "isotope/run/console.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace isotope {

Console Console::standard() {
  auto writer = [](std::FILE* f) {
    return [f](std::string_view s) {
      std::fwrite(s.data(), 1, s.size(), f);
      std::fflush(f);
    };
  };
  Console c{writer(stdout), writer(stderr)};
  c.err_is_terminal = ::isatty(STDERR_FILENO) == 1;
  winsize ws{};
  if (c.err_is_terminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) c.err_columns = ws.ws_col;
  return c;
}

void Console::warning(std::string_view text, const std::function<void(std::string_view)>& line) const {
  if (warn) {
    warn(text);
    return;
  }
  std::string text_line = "isotope: warning: ";
  text_line += text;
  text_line += '\n';
  if (line)
    line(text_line);
  else
    err(text_line);
}

}  // namespace isotope
