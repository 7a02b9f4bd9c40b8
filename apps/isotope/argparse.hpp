// The command line parser of the isotope program, with the behaviour of
// Python 3.11's argparse for a parser made of a description, the automatic
// -h/--help and a few short options that take one value each:
//
//   parser = ArgumentParser(description="isotope")
//   parser.add_argument('-d', dest='input_dir', help='Add input directory')
//   ...
//
// Only what such a parser does is reproduced, but all of it: the help text
// and its wrapping for any program name and width, option prefixes, attached
// and combined flags, negative numbers, "--", and every error message.
//
// Text is handled as Python sees the command line: bytes that are not UTF-8
// stand for one character each (the "surrogateescape" decoding). Widths are
// counted in characters, not bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace isotope::argparse {

// An option taking one value: {"-d", "input_dir", "Add input directory"}.
// The flag is "-" and one ASCII letter or digit other than "h"; the dest is
// made of ASCII letters, digits and "_" (its upper case is the metavar).
struct Option {
  std::string flag;
  std::string dest;
  std::string help;
};

// A parser: the program name as it shows in the help, the description and
// the options in the order they were added. -h/--help is always there,
// first. Help texts and the description are plain words: they may not hold
// "%" or "-" (argparse would format the one and break lines at the other).
struct Parser {
  std::string prog;
  std::string description;
  std::vector<Option> options;
};

struct Parsed {
  enum class Status {
    Ok,     // the arguments were parsed: values holds them
    Help,   // -h/--help was reached: print format_help() and exit 0
    Error,  // print the error and the help and exit 2
  };
  Status status = Status::Ok;
  // One per Parser::options entry: the last value given, or nullopt.
  std::vector<std::optional<std::string>> values;
  // One per Parser::options entry: true when argparse stored an empty list
  // instead of a string. That happens when the attached value is exactly
  // "--" ("-i=--", "-i--"): argparse drops a "--" from an option's values.
  // values[i] is nullopt then.
  std::vector<bool> empty_list;
  // argparse's message when status == Error, e.g.
  // "unrecognized arguments: -x y", in the bytes Python writes to stderr:
  // a byte that is not UTF-8 shows as \udcXX (the backslashreplace of its
  // escape).
  std::string error;
};

// Parses the arguments (without argv[0]) as parse_args() does, stopping
// where argparse would print the help or an error and exit.
// Throws an isotope::Error for a parser outside what is described above.
Parsed parse_args(const Parser& parser, const std::vector<std::string>& args);

// Exactly what print_help() writes, given the formatter width (help_width()).
// Bytes of the program name that are not UTF-8 are written back unchanged.
std::string format_help(const Parser& parser, int width);

// The number of columns shutil.get_terminal_size() reports, given the value
// of the COLUMNS variable (nullptr when unset) and the column count of the
// terminal on standard output (0 when it is no terminal): COLUMNS when it is
// a positive integer as int() reads it, else the terminal's, else 80.
int terminal_columns(const char* columns_env, int tty_columns);

// The width argparse.HelpFormatter uses: terminal_columns() of the real
// environment and standard output, minus 2.
int help_width();

// os.path.basename: what follows the last "/".
std::string prog_name(std::string_view argv0);

}  // namespace isotope::argparse
