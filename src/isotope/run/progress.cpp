// The tqdm-style progress counter with a total.
#include "isotope/run/progress.hpp"

#include <cstdio>

namespace isotope {

namespace {

// tqdm's format_interval: "MM:SS", or "H:MM:SS" from an hour on.
std::string interval(double seconds) {
  auto s = static_cast<long>(seconds);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%02ld:%02ld", s / 60, s % 60);
  return buf;
}

// The characters of tqdm's bar: empty, then eighths, then full.
constexpr const char* kBarChars[] = {" ", "\u258f", "\u258e", "\u258d", "\u258c", "\u258b", "\u258a", "\u2589", "\u2588"};

std::string bar(double fraction, int width) {
  constexpr int kSteps = 8;
  int units = static_cast<int>(fraction * width * kSteps);
  int full = units / kSteps, part = units % kSteps;
  std::string out;
  for (int i = 0; i < full && i < width; ++i) out += kBarChars[8];
  if (full < width) {
    out += kBarChars[part];
    for (int i = full + 1; i < width; ++i) out += ' ';
  }
  return out;
}

}  // namespace

std::string Progress::format(std::size_t n, std::optional<std::size_t> total_rows, double elapsed, int columns) {
  const double rate = elapsed > 0 ? static_cast<double>(n) / elapsed : 0;
  char buf[96];
  std::string rate_text;
  if (rate <= 0) {
    rate_text = "?it/s";
  } else if (rate < 1) {
    std::snprintf(buf, sizeof buf, "%5.2fs/it", 1 / rate);
    rate_text = buf;
  } else {
    std::snprintf(buf, sizeof buf, "%5.2fit/s", rate);
    rate_text = buf;
  }
  if (!total_rows) return std::to_string(n) + "it [" + interval(elapsed) + ", " + rate_text + "]";
  const std::size_t total = *total_rows;
  const double fraction = total > 0 ? static_cast<double>(n) / static_cast<double>(total) : 1.0;
  std::snprintf(buf, sizeof buf, "%3.0f%%|", fraction * 100);
  const std::string left = buf;
  const std::string remaining = rate > 0 ? interval(static_cast<double>(total - std::min(n, total)) / rate) : "?";
  std::string right = "| ";
  right += std::to_string(n);
  right += '/';
  right += std::to_string(total);
  right += " [";
  right += interval(elapsed);
  right += '<';
  right += remaining;
  right += ", ";
  right += rate_text;
  right += ']';
  int width = 10;
  if (columns > 0) width = std::max(1, columns - static_cast<int>(left.size() + right.size()) - 1);
  return left + bar(fraction, width) + right;
}

Progress::Progress(const Console& console, std::optional<std::size_t> total)
    : console_(console), total_(total), start_(Clock::now()), last_(start_) {
  if (console_.err_is_terminal) draw(start_);
}

Progress::~Progress() {
  if (!closed_ && drawn_ > 0) console_.err("\n");
}

void Progress::advance(std::size_t n) {
  n_ += n;
  if (!console_.err_is_terminal) return;
  auto now = Clock::now();
  if (now - last_ >= std::chrono::milliseconds(100)) draw(now);
}

void Progress::clear_line() {
  if (drawn_ == 0) return;
  std::string blank(1, '\r');
  blank.append(drawn_, ' ');
  blank += '\r';
  console_.err(blank);
  drawn_ = 0;
}

void Progress::message(std::string_view line) {
  clear_line();
  console_.err(line);
  if (console_.err_is_terminal) draw(Clock::now());
}

void Progress::close() {
  auto now = Clock::now();
  if (console_.err_is_terminal) {
    draw(now);
  } else {
    double elapsed = std::chrono::duration<double>(now - start_).count();
    console_.err(format(n_, total_, elapsed, 0));
  }
  console_.err("\n");
  closed_ = true;
  drawn_ = 0;
}

void Progress::draw(Clock::time_point now) {
  last_ = now;
  double elapsed = std::chrono::duration<double>(now - start_).count();
  std::string line = format(n_, total_, elapsed, console_.err_columns);
  std::size_t width = 0;  // characters on screen
  for (unsigned char c : line) width += (c & 0xC0) != 0x80;
  std::string text(1, '\r');
  text += line;
  if (width < drawn_) text += std::string(drawn_ - width, ' ');
  console_.err(text);
  drawn_ = std::max(width, drawn_);
}

}  // namespace isotope
