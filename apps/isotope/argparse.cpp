// argparse's parse_args, help layout and error messages for the tool's
// small parser (see argparse.hpp).
#include "argparse.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

namespace isotope::argparse {

namespace {

// ---------------------------------------------------------------------------
// Characters as Python sees them: see text.hpp (char_at, length, repr).

using text::append_hex;
using text::char_at;
using text::repr;

// len() of the text in Python.
long long length(std::string_view s) {
  long long n = 0;
  for (std::size_t pos = 0, len = 0; pos < s.size(); pos += len, ++n) char_at(s, pos, len);
  return n;
}

// The byte length of the first n characters.
std::size_t prefix_bytes(std::string_view s, long long n) {
  std::size_t pos = 0, len = 0;
  for (; pos < s.size() && n > 0; pos += len, --n) char_at(s, pos, len);
  return pos;
}

bool is_escaped_byte(char32_t cp) { return cp >= 0xDC80 && cp <= 0xDCFF; }

// The text as Python's stderr writes it: escaped bytes become \udcXX.
std::string stderr_text(std::string_view s) {
  std::string out;
  for (std::size_t pos = 0, len = 0; pos < s.size(); pos += len) {
    char32_t cp = char_at(s, pos, len);
    if (is_escaped_byte(cp)) {
      out += "\\u";
      append_hex(out, cp, 4);
    } else {
      out += s.substr(pos, len);
    }
  }
  return out;
}

// The length in bytes of the run of \d characters (Unicode decimal digits)
// starting at pos.
std::size_t digits_at(std::string_view s, std::size_t pos) {
  std::size_t end = pos;
  for (std::size_t len = 0; end < s.size(); end += len) {
    if (text::digit_value(char_at(s, end, len)) < 0) break;
  }
  return end - pos;
}

// argparse's test for a negative number, '^-\d+$|^-\d*\.\d+$'. "$" also
// matches before a final newline.
bool looks_negative(std::string_view arg) {
  if (arg.empty() || arg[0] != '-') return false;
  std::string_view body = arg.substr(1);
  if (!body.empty() && body.back() == '\n') body.remove_suffix(1);
  std::size_t lead = digits_at(body, 0);
  if (lead == body.size()) return lead > 0;
  if (body[lead] != '.') return false;
  std::size_t tail = digits_at(body, lead + 1);
  return tail > 0 && lead + 1 + tail == body.size();
}

// ---------------------------------------------------------------------------
// The parser's actions

constexpr int kUnknown = -1;  // an option string no action has
constexpr int kHelp = 0;      // -h/--help; options[k] is action k + 1

bool is_ascii_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

void check_text(std::string_view what, std::string_view text) {
  if (text.find_first_of("%-") != std::string_view::npos)
    throw Error::value("argparse: " + std::string(what) + " " + py_repr(text) +
                       " holds '%' or '-', which are not supported");
}

// Rejects the parsers whose behaviour is not reproduced here.
void check_parser(const Parser& parser) {
  check_text("description", parser.description);
  for (std::size_t k = 0; k < parser.options.size(); ++k) {
    const Option& o = parser.options[k];
    if (o.flag.size() != 2 || o.flag[0] != '-' || !is_ascii_alnum(o.flag[1]) || o.flag[1] == 'h')
      throw Error::value("argparse: unsupported option flag " + py_repr(o.flag));
    for (std::size_t j = 0; j < k; ++j) {
      if (parser.options[j].flag == o.flag)
        throw Error::value("argparse: option flag " + py_repr(o.flag) + " given twice");
    }
    if (o.dest.empty() || !std::all_of(o.dest.begin(), o.dest.end(),
                                       [](char c) { return is_ascii_alnum(c) || c == '_'; }))
      throw Error::value("argparse: unsupported dest " + py_repr(o.dest));
    check_text("help", o.help);
  }
}

// The action registered under an option string, or kUnknown.
int find_action(const Parser& parser, std::string_view option_string) {
  if (option_string == "-h" || option_string == "--help") return kHelp;
  for (std::size_t k = 0; k < parser.options.size(); ++k) {
    if (parser.options[k].flag == option_string) return static_cast<int>(k) + 1;
  }
  return kUnknown;
}

// _get_action_name: how error messages name an action.
std::string action_name(const Parser& parser, int action) {
  return action == kHelp ? "-h/--help" : parser.options[static_cast<std::size_t>(action) - 1].flag;
}

// ---------------------------------------------------------------------------
// Parsing

// An argument read as an option: the action, the option string it was
// matched by and the value attached to it, if any.
struct OptionTuple {
  int action;
  std::string option_string;
  std::optional<std::string> explicit_arg;
};

// _parse_optional: nullopt for an argument that is not an option (a
// positional, to argparse), else how it reads as one.
std::optional<OptionTuple> parse_optional(const Parser& parser, const std::string& arg) {
  if (arg.empty() || arg[0] != '-') return std::nullopt;
  if (int action = find_action(parser, arg); action != kUnknown) return OptionTuple{action, arg, {}};
  if (arg.size() == 1) return std::nullopt;
  if (std::size_t eq = arg.find('='); eq != std::string::npos) {
    std::string option_string = arg.substr(0, eq);
    if (int action = find_action(parser, option_string); action != kUnknown)
      return OptionTuple{action, option_string, arg.substr(eq + 1)};
  }
  // _get_option_tuples. "--" options match by prefix up to the "=": only
  // --help starts with "--", so a prefix matches at most one option and
  // argparse's "ambiguous option" cannot happen. A short option is followed
  // by its attached value.
  if (arg[1] == '-') {
    std::size_t eq = arg.find('=');
    std::string_view prefix = std::string_view(arg).substr(0, eq);
    if (std::string_view("--help").starts_with(prefix)) {
      std::optional<std::string> explicit_arg;
      if (eq != std::string::npos) explicit_arg = arg.substr(eq + 1);
      return OptionTuple{kHelp, "--help", explicit_arg};
    }
  } else if (int action = find_action(parser, arg.substr(0, 2)); action != kUnknown) {
    return OptionTuple{action, arg.substr(0, 2), arg.substr(2)};
  }
  if (looks_negative(arg)) return std::nullopt;
  if (arg.find(' ') != std::string::npos) return std::nullopt;
  return OptionTuple{kUnknown, arg, {}};
}

// An action to take, with its value (none for -h).
struct Taken {
  int action;
  std::optional<std::string> value;
};

// The state of one parse_args() run.
class Run {
 public:
  Run(const Parser& parser, const std::vector<std::string>& args) : parser_(parser), args_(args) {
    out_.values.assign(parser.options.size(), std::nullopt);
    out_.empty_list.assign(parser.options.size(), false);
  }

  Parsed run() {
    classify();
    std::size_t start = 0;
    while (out_.status == Parsed::Status::Ok && start < args_.size()) {
      // The next option; the arguments before it are extras, as this parser
      // has no positionals.
      std::size_t next = start;
      while (next < args_.size() && !options_[next]) ++next;
      if (next == args_.size()) break;
      extras_.insert(extras_.end(), args_.begin() + static_cast<std::ptrdiff_t>(start),
                     args_.begin() + static_cast<std::ptrdiff_t>(next));
      start = consume_optional(next);
    }
    if (out_.status != Parsed::Status::Ok) return out_;
    // Everything after the last option is extra too, "--" included.
    extras_.insert(extras_.end(), args_.begin() + static_cast<std::ptrdiff_t>(start), args_.end());
    if (!extras_.empty()) {
      std::string joined;
      for (std::size_t i = 0; i < extras_.size(); ++i) joined += (i ? " " : "") + extras_[i];
      fail("unrecognized arguments: " + stderr_text(joined));
    }
    return out_;
  }

 private:
  // The pattern argparse matches option values against: 'O' for an
  // option, 'A' for anything else, '-' for the first "--", after which
  // everything is 'A'.
  void classify() {
    options_.resize(args_.size());
    bool after_dashes = false;
    for (std::size_t i = 0; i < args_.size(); ++i) {
      if (after_dashes) {
        pattern_ += 'A';
      } else if (args_[i] == "--") {
        pattern_ += '-';
        after_dashes = true;
      } else {
        options_[i] = parse_optional(parser_, args_[i]);
        pattern_ += options_[i] ? 'O' : 'A';
      }
    }
  }

  void fail(std::string message) {
    out_.status = Parsed::Status::Error;
    out_.error = std::move(message);
  }

  // ArgumentError: the message, after the name of the action.
  void fail(int action, const std::string& message) {
    fail("argument " + action_name(parser_, action) + ": " + message);
  }

  // consume_optional: the option at start with its value; returns where the
  // next argument starts. Flags combined behind a -h ("-hd x") are all read
  // before any is acted on, so an error in one of them wins over the help.
  std::size_t consume_optional(std::size_t start) {
    OptionTuple tuple = *options_[start];
    if (tuple.action == kUnknown) {
      extras_.push_back(args_[start]);
      return start + 1;
    }
    std::vector<Taken> taken;
    std::size_t stop = start + 1;
    while (true) {
      const bool takes_value = tuple.action != kHelp;
      if (tuple.explicit_arg) {
        const std::string& arg = *tuple.explicit_arg;
        if (!takes_value && tuple.option_string[1] != '-' && !arg.empty()) {
          // "-hX...": X is another short flag.
          taken.push_back({tuple.action, std::nullopt});
          std::size_t len = 0;
          char_at(arg, 0, len);
          std::string flag(1, '-');
          flag.append(arg, 0, len);
          int next = find_action(parser_, flag);
          if (next == kUnknown) {
            fail(tuple.action, "ignored explicit argument " + repr(arg));
            return stop;
          }
          tuple.action = next;
          tuple.option_string = std::move(flag);
          tuple.explicit_arg = arg.size() > len ? std::optional(arg.substr(len)) : std::nullopt;
          continue;
        }
        if (!takes_value) {
          fail(tuple.action, "ignored explicit argument " + repr(arg));
          return stop;
        }
        taken.push_back({tuple.action, arg});
        break;
      }
      if (takes_value) {
        if (start + 1 >= pattern_.size() || pattern_[start + 1] != 'A') {
          fail(tuple.action, "expected one argument");
          return stop;
        }
        taken.push_back({tuple.action, args_[start + 1]});
        stop = start + 2;
      } else {
        taken.push_back({tuple.action, std::nullopt});
      }
      break;
    }
    for (const Taken& t : taken) {
      if (!take_action(t)) break;
    }
    return stop;
  }

  // Stores a value; false when the action was the help, which ends parsing.
  bool take_action(const Taken& t) {
    if (t.action == kHelp) {
      out_.status = Parsed::Status::Help;
      return false;
    }
    auto k = static_cast<std::size_t>(t.action) - 1;
    // _get_values removes a "--" from the values, leaving an empty list.
    out_.empty_list[k] = *t.value == "--";
    out_.values[k] = out_.empty_list[k] ? std::nullopt : t.value;
    return true;
  }

  const Parser& parser_;
  const std::vector<std::string>& args_;
  std::vector<std::optional<OptionTuple>> options_;
  std::string pattern_;
  std::vector<std::string> extras_;
  Parsed out_;
};

// ---------------------------------------------------------------------------
// Help

std::string spaces(long long n) { return std::string(static_cast<std::size_t>(std::max(0LL, n)), ' '); }

bool is_blank(std::string_view chunk) { return chunk.find_first_not_of(' ') == std::string_view::npos; }

// textwrap.wrap(text, width) for words separated by single spaces, words
// longer than a line being broken.
std::vector<std::string> wrap(std::string_view text, long long width) {
  std::vector<std::string> chunks;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text[pos] == ' ' ? pos + 1 : std::min(text.find(' ', pos), text.size());
    chunks.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  std::vector<std::string> lines;
  std::size_t i = 0;
  while (i < chunks.size()) {
    std::vector<std::string> line;
    long long line_len = 0;
    if (is_blank(chunks[i]) && !lines.empty()) ++i;
    while (i < chunks.size() && line_len + length(chunks[i]) <= width) {
      line_len += length(chunks[i]);
      line.push_back(chunks[i++]);
    }
    if (i < chunks.size() && length(chunks[i]) > width) {
      long long space_left = width < 1 ? 1 : width - line_len;
      std::size_t cut = prefix_bytes(chunks[i], space_left);
      line.push_back(chunks[i].substr(0, cut));
      chunks[i].erase(0, cut);
    }
    if (!line.empty() && is_blank(line.back())) line.pop_back();
    if (!line.empty()) {
      std::string joined;
      for (const std::string& chunk : line) joined += chunk;
      lines.push_back(std::move(joined));
    }
  }
  return lines;
}

// The formatter's whitespace clean-up: runs of ASCII white space become one
// space, then str.strip().
std::string normalize(std::string_view text) {
  std::string out;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t end = text.find_first_not_of(" \t\n\r\f\v", pos);
    if (end == pos) {
      end = std::min(text.find_first_of(" \t\n\r\f\v", pos), text.size());
      out += text.substr(pos, end - pos);
    } else {
      out += ' ';
      if (end == std::string_view::npos) end = text.size();
    }
    pos = end;
  }
  return std::string(text::strip(out));
}

std::string join(const std::vector<std::string>& parts, std::string_view sep) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? std::string(sep) : "") + parts[i];
  return out;
}

// The lines of usage parts, as _format_usage's get_lines() fills them.
std::vector<std::string> usage_lines(const std::vector<std::string>& parts, long long indent,
                                     long long text_width, bool after_prefix) {
  constexpr long long kPrefix = 7;  // "usage: "
  std::vector<std::string> lines, line;
  long long line_len = (after_prefix ? kPrefix : indent) - 1;
  for (const std::string& part : parts) {
    if (line_len + 1 + length(part) > text_width && !line.empty()) {
      lines.push_back(spaces(indent) + join(line, " "));
      line.clear();
      line_len = indent - 1;
    }
    line.push_back(part);
    line_len += length(part) + 1;
  }
  if (!line.empty()) lines.push_back(spaces(indent) + join(line, " "));
  if (after_prefix && !lines.empty()) lines[0].erase(0, static_cast<std::size_t>(indent));
  return lines;
}

std::string format_usage(const std::string& prog, const std::vector<std::string>& parts,
                         long long text_width) {
  const std::string prefix = "usage: ";
  const long long prefix_len = 7;
  std::string usage = prog.empty() ? join(parts, " ") : prog + " " + join(parts, " ");
  if (prefix_len + length(usage) > text_width) {
    std::vector<std::string> lines;
    long long prog_len = length(prog);
    // "if prog is short": len(prefix) + len(prog) <= 0.75 * text_width.
    if (4 * (prefix_len + prog_len) <= 3 * text_width) {
      std::vector<std::string> with_prog{prog};
      with_prog.insert(with_prog.end(), parts.begin(), parts.end());
      lines = usage_lines(with_prog, prefix_len + prog_len + 1, text_width, true);
    } else {
      lines = usage_lines(parts, prefix_len, text_width, false);
      lines.insert(lines.begin(), prog);
    }
    usage = join(lines, "\n");
  }
  return prefix + usage + "\n\n";
}

// One entry of the options section, at the section's indent of 2.
struct HelpEntry {
  std::string invocation;  // "-d INPUT_DIR"
  std::string help;
};

std::string format_action(const HelpEntry& entry, long long help_position, long long width) {
  constexpr long long kIndent = 2;
  const long long help_width = std::max(width - help_position, 11LL);
  const long long action_width = help_position - kIndent - 2;
  std::string out;
  long long indent_first = 0;
  if (entry.help.empty()) {
    return spaces(kIndent) + entry.invocation + "\n";
  } else if (length(entry.invocation) <= action_width) {
    out = spaces(kIndent) + entry.invocation + spaces(action_width - length(entry.invocation)) + "  ";
  } else {
    out = spaces(kIndent) + entry.invocation + "\n";
    indent_first = help_position;
  }
  if (text::strip(entry.help).empty()) return out.back() == '\n' ? out : out + "\n";
  std::vector<std::string> lines = wrap(normalize(entry.help), help_width);
  for (std::size_t i = 0; i < lines.size(); ++i)
    out += spaces(i == 0 ? indent_first : help_position) + lines[i] + "\n";
  return out;
}

// format_help()'s final clean-up: runs of three newlines or more become two,
// and the text is stripped of newlines and ended by one.
std::string finish(const std::string& help) {
  std::string out;
  for (std::size_t pos = 0; pos < help.size();) {
    std::size_t end = help.find_first_not_of('\n', pos);
    if (end == std::string::npos) end = help.size();
    std::size_t run = end - pos;
    if (run == 0) {
      out += help[pos++];
      continue;
    }
    out.append(run >= 3 ? 2 : run, '\n');
    pos = end;
  }
  std::size_t first = out.find_first_not_of('\n');
  if (first == std::string::npos) return "\n";
  std::size_t last = out.find_last_not_of('\n');
  return out.substr(first, last - first + 1) + "\n";
}

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// A width beyond any help line: the help of a program name shorter than
// this is the same for all larger widths.
constexpr std::int64_t kHugeWidth = INT_MAX / 8;

// int(value), or 0 where int() raises ValueError: for text that is not
// UTF-8, not a number or, since Python 3.11, a number of more than 4300
// digits.
std::int64_t int_value(std::string_view value) {
  if (text::find_invalid_utf8(value) != std::string_view::npos) return 0;
  std::size_t digits = 0;
  for (std::size_t pos = 0, len = 0; pos < value.size(); pos += len) {
    if (text::digit_value(text::code_point_at(value, pos, len)) >= 0) ++digits;
  }
  if (digits > 4300) return 0;
  try {
    return text::parse_int(value).value_or(0);
  } catch (const Error&) {
    // parse_int throws for a number beyond 64 bits, which Python takes as it
    // is. Only the sign matters to the help: kHugeWidth stands for it.
    return text::strip(value)[0] == '-' ? -1 : kHugeWidth;
  }
}

}  // namespace

Parsed parse_args(const Parser& parser, const std::vector<std::string>& args) {
  check_parser(parser);
  return Run(parser, args).run();
}

std::string format_help(const Parser& parser, int width_in) {
  check_parser(parser);
  const long long width = width_in;
  std::vector<std::string> usage_parts{"[-h]"};
  std::vector<HelpEntry> entries{{"-h, --help", "show this help message and exit"}};
  for (const Option& o : parser.options) {
    std::string invocation = o.flag + " " + upper(o.dest);
    usage_parts.push_back("[" + invocation + "]");
    entries.push_back({invocation, o.help});
  }

  std::string help = format_usage(parser.prog, usage_parts, width);
  // The description, filled at the top level.
  help += join(wrap(normalize(parser.description), std::max(width, 11LL)), "\n") + "\n\n";

  // The "options" section; the empty "positional arguments" one shows
  // nothing.
  long long action_max_length = 0;
  for (const HelpEntry& e : entries) action_max_length = std::max(action_max_length, length(e.invocation) + 2);
  const long long max_help_position = std::min(24LL, std::max(width - 20, 4LL));
  const long long help_position = std::min(action_max_length + 2, max_help_position);
  help += "\noptions:\n";
  for (const HelpEntry& e : entries) help += format_action(e, help_position, width);
  help += "\n";
  return finish("\n" + help + "\n");
}

int terminal_columns(const char* columns_env, int tty_columns) {
  std::int64_t columns = columns_env == nullptr ? 0 : int_value(columns_env);
  if (columns > 0) return static_cast<int>(std::min<std::int64_t>(columns, kHugeWidth));
  return tty_columns > 0 ? tty_columns : 80;
}

int help_width() {
  const char* columns_env = std::getenv("COLUMNS");
  winsize size{};
  int tty_columns = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  return terminal_columns(columns_env, tty_columns) - 2;
}

std::string prog_name(std::string_view argv0) {
  std::size_t slash = argv0.rfind('/');
  return std::string(slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1));
}

}  // namespace isotope::argparse
