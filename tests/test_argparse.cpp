// The command line parser against Python's argparse: readable cases for each
// behaviour, then a differential test that runs thousands of random command
// lines, program names and widths through Debian's python3 and compares
// every byte.
#include "argparse.hpp"
#include "isotope/base/text.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "isotope/base/errors.hpp"

namespace ap = isotope::argparse;
using Status = ap::Parsed::Status;

namespace {

ap::Parser isotope_parser(std::string prog = "isotope") {
  return {std::move(prog),
          "isotope",
          {{"-d", "input_dir", "Add input directory"},
           {"-i", "input_file", "Add input file"},
           {"-o", "output_dir", "Add output directory"},
           {"-p", "param_file", "Add parameter file"}}};
}

ap::Parsed parse(const std::vector<std::string>& args) { return ap::parse_args(isotope_parser(), args); }

using Values = std::vector<std::optional<std::string>>;

TEST(ArgparseParse, ValuesAsGivenAttachedOrSeparate) {
  struct Case {
    std::vector<std::string> args;
    Values values;
  };
  const Case cases[] = {
      {{}, {std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
      {{"-d", "in", "-i", "a", "-o", "out dir", "-p", "p.txt"}, {"in", "a", "out dir", "p.txt"}},
      {{"-i", "a", "-i", "b"}, {std::nullopt, "b", std::nullopt, std::nullopt}},
      {{"-ifile", "-o=x=y", "-p="}, {std::nullopt, "file", "x=y", ""}},
      {{"-dh"}, {"h", std::nullopt, std::nullopt, std::nullopt}},
      // What follows an option is its value unless it reads as an option:
      // negative numbers and text with a space do not.
      {{"-i", "-5", "-d", "-.5", "-o", "-x y", "-p", "-"}, {"-.5", "-5", "-x y", "-"}},
      {{"-i", ""}, {std::nullopt, "", std::nullopt, std::nullopt}},
  };
  for (const Case& c : cases) {
    ap::Parsed p = parse(c.args);
    EXPECT_EQ(p.status, Status::Ok) << p.error;
    EXPECT_EQ(p.values, c.values);
    EXPECT_EQ(p.empty_list, std::vector<bool>(4, false));
  }
}

TEST(ArgparseParse, AttachedDoubleDashGivesAnEmptyList) {
  ap::Parsed p = parse({"-i=--", "-d--"});
  ASSERT_EQ(p.status, Status::Ok);
  EXPECT_EQ(p.empty_list, (std::vector<bool>{true, true, false, false}));
  EXPECT_EQ(p.values[1], std::nullopt);
  // A later value replaces the list.
  p = parse({"-i=--", "-i", "x"});
  EXPECT_EQ(p.empty_list[1], false);
  EXPECT_EQ(p.values[1], "x");
}

TEST(ArgparseParse, HelpWhenReached) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-h"}, {"--help"}, {"--h"}, {"--hel"}, {"-h", "-i"}, {"-x", "-h"}, {"-hd", "x"},
           {"-hdx"}, {"-h=d", "x"}, {"-i", "a", "-h", "--"}}) {
    EXPECT_EQ(parse(args).status, Status::Help) << ::testing::PrintToString(args);
  }
}

TEST(ArgparseParse, ErrorMessages) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-i"}, "argument -i: expected one argument"},
      {{"-i", "-h"}, "argument -i: expected one argument"},
      {{"-i", "-5x"}, "argument -i: expected one argument"},
      {{"-i", "--", "x"}, "argument -i: expected one argument"},
      {{"-hd"}, "argument -d: expected one argument"},
      {{"-x", "y"}, "unrecognized arguments: -x y"},
      {{"--"}, "unrecognized arguments: --"},
      {{"-i", "a", "--", "-d", "b"}, "unrecognized arguments: -- -d b"},
      {{"a", "-i", "b", "c"}, "unrecognized arguments: a c"},
      {{"--help=x"}, "argument -h/--help: ignored explicit argument 'x'"},
      {{"--he=it's"}, "argument -h/--help: ignored explicit argument \"it's\""},
      {{"-hx"}, "argument -h/--help: ignored explicit argument 'x'"},
      {{"-h="}, "argument -h/--help: ignored explicit argument ''"},
      {{"-h\n\xc2\xa0\xf0\x9f\x92\xa5\xe2\x80\x8b"},
       "argument -h/--help: ignored explicit argument '\\n\\xa0\xf0\x9f\x92\xa5\\u200b'"},
      // Bytes that are not UTF-8 show as Python writes their escapes.
      {{"-h\xff"}, "argument -h/--help: ignored explicit argument '\\udcff'"},
      {{"\xe2\x82", "-"}, "unrecognized arguments: \\udce2\\udc82 -"},
  };
  for (const auto& [args, message] : cases) {
    ap::Parsed p = parse(args);
    EXPECT_EQ(p.status, Status::Error) << ::testing::PrintToString(args);
    EXPECT_EQ(p.error, message);
  }
}

TEST(ArgparseHelp, Widths) {
  const std::string options80 =
      "options:\n"
      "  -h, --help     show this help message and exit\n"
      "  -d INPUT_DIR   Add input directory\n"
      "  -i INPUT_FILE  Add input file\n"
      "  -o OUTPUT_DIR  Add output directory\n"
      "  -p PARAM_FILE  Add parameter file\n";
  EXPECT_EQ(ap::format_help(isotope_parser(), 80),
            "usage: isotope [-h] [-d INPUT_DIR] [-i INPUT_FILE] [-o OUTPUT_DIR]\n"
            "               [-p PARAM_FILE]\n\nisotope\n\n" + options80);
  EXPECT_EQ(ap::format_help(isotope_parser(), 40),
            "usage: isotope [-h] [-d INPUT_DIR]\n"
            "               [-i INPUT_FILE]\n"
            "               [-o OUTPUT_DIR]\n"
            "               [-p PARAM_FILE]\n\n"
            "isotope\n\n"
            "options:\n"
            "  -h, --help     show this help message\n"
            "                 and exit\n"
            "  -d INPUT_DIR   Add input directory\n"
            "  -i INPUT_FILE  Add input file\n"
            "  -o OUTPUT_DIR  Add output directory\n"
            "  -p PARAM_FILE  Add parameter file\n");
  EXPECT_EQ(ap::format_help(isotope_parser(), 10),
            "usage: isotope\n       [-h]\n       [-d INPUT_DIR]\n       [-i INPUT_FILE]\n"
            "       [-o OUTPUT_DIR]\n       [-p PARAM_FILE]\n\n"
            "isotope\n\n"
            "options:\n"
            "  -h, --help\n    show this\n    help\n    message and\n    exit\n"
            "  -d INPUT_DIR\n    Add input\n    directory\n"
            "  -i INPUT_FILE\n    Add input\n    file\n"
            "  -o OUTPUT_DIR\n    Add output\n    directory\n"
            "  -p PARAM_FILE\n    Add\n    parameter\n    file\n");
  // Python counts characters: this usage line of 77 characters (78 bytes)
  // fits in 77 columns.
  EXPECT_EQ(ap::format_help(isotope_parser("\xc3\xafs"), 77).substr(0, 79),
            "usage: \xc3\xafs [-h] [-d INPUT_DIR] [-i INPUT_FILE] [-o OUTPUT_DIR] [-p PARAM_FILE]\n");
}

TEST(ArgparseEnvironment, TerminalColumnsAndProgName) {
  EXPECT_EQ(ap::terminal_columns(nullptr, 0), 80);
  EXPECT_EQ(ap::terminal_columns(nullptr, 132), 132);
  EXPECT_EQ(ap::terminal_columns(" +1_00\n", 132), 100);
  EXPECT_EQ(ap::terminal_columns("0", 132), 132);
  EXPECT_EQ(ap::terminal_columns("-5", 0), 80);
  EXPECT_EQ(ap::terminal_columns("1e2", 0), 80);
  EXPECT_EQ(ap::prog_name("/usr/bin/isotope"), "isotope");
  EXPECT_EQ(ap::prog_name("a b"), "a b");
  EXPECT_EQ(ap::prog_name("dir/"), "");
}

TEST(ArgparseParser, RejectsWhatIsNotReproduced) {
  for (const ap::Option& bad : {ap::Option{"--long", "x", "help"}, ap::Option{"-h", "x", "help"},
                                ap::Option{"-d", "x", "help"}, ap::Option{"-x", "a b", "help"},
                                ap::Option{"-x", "x", "100%"}, ap::Option{"-x", "x", "a-b"}}) {
    ap::Parser p = isotope_parser();
    p.options.push_back(bad);
    EXPECT_THROW(ap::parse_args(p, {}), isotope::Error) << bad.flag << " " << bad.dest;
    EXPECT_THROW(ap::format_help(p, 80), isotope::Error);
  }
}

// ---------------------------------------------------------------------------
// Differential test against Python

// The reference: the parser as the Python program defines it, run once per
// case with sys.argv and COLUMNS set. Input lines: COLUMNS ("*" when unset)
// and argv, each as hex bytes, tab-separated. Output lines: status,
// columns, error, help, then the four values ("N" None, "L" a list, "S"
// and the hex bytes of a string).
constexpr const char* kReference = R"PY(
import argparse, io, os, shutil, sys

class MyParser(argparse.ArgumentParser):
    def error(self, message):
        sys.stderr.write('error: %s\n' % message)
        self.print_help()
        sys.exit(2)

def make_parser():
    parser = MyParser(description="isotope")
    parser.add_argument('-d', dest='input_dir', help='Add input directory')
    parser.add_argument('-i', dest='input_file', help='Add input file')
    parser.add_argument('-o', dest='output_dir', help='Add output directory')
    parser.add_argument('-p', dest='param_file', help='Add parameter file')
    return parser

def value(v):
    if v is None:
        return 'N'
    if v == []:
        return 'L'
    return 'S' + os.fsencode(v).hex()

for line in sys.stdin.buffer:
    fields = line.rstrip(b'\n').split(b'\t')
    if fields[0] == b'*':
        os.environ.pop('COLUMNS', None)
    else:
        os.environ['COLUMNS'] = os.fsdecode(bytes.fromhex(fields[0].decode()))
    sys.argv = [os.fsdecode(bytes.fromhex(f.decode())) for f in fields[1:]]
    out, err = io.StringIO(), io.StringIO()
    sys.stdout, sys.stderr = out, err
    values = ['N'] * 4
    try:
        parser = make_parser()
        ns = parser.parse_args()
        status = 'ok'
        values = [value(getattr(ns, d)) for d in ('input_dir', 'input_file', 'output_dir', 'param_file')]
    except SystemExit as e:
        status = {0: 'help', 2: 'error'}[e.code]
    finally:
        sys.stdout, sys.stderr = sys.__stdout__, sys.__stderr__
    help = parser.format_help()
    message = ''
    if status == 'error':
        text = err.getvalue()
        if not (text.startswith('error: ') and text.endswith('\n')):
            status = 'bad-stderr'
        message = text[len('error: '):-1]
    if status != 'ok' and out.getvalue() != help:
        status = 'bad-stdout'
    print(status, shutil.get_terminal_size().columns,
          message.encode('utf-8', 'backslashreplace').hex(),
          help.encode('utf-8', 'surrogateescape').hex(), *values, sep='\t')
)PY";

struct Case {
  std::optional<std::string> columns;
  std::string argv0;
  std::vector<std::string> args;
};

std::string hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string unhex(std::string_view h) {
  std::string out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(std::string(h.substr(i, 2)), nullptr, 16));
  return out;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, sep)) out.push_back(field);
  if (!line.empty() && line.back() == sep) out.emplace_back();
  return out;
}

std::string utf8(char32_t cp) {
  std::string out;
  isotope::text::append_utf8(out, cp);
  return out;
}

class CaseMaker {
 public:
  Case make() {
    Case c;
    c.columns = columns();
    c.argv0 = argv0();
    std::size_t n = pick(7);
    bool repr_case = pick(5) == 0;
    for (std::size_t i = 0; i < n; ++i) c.args.push_back(repr_case && i == 0 ? repr_arg() : arg());
    return c;
  }

 private:
  std::size_t pick(std::size_t n) { return rng_() % n; }
  template <std::size_t N>
  std::string one_of(const std::array<const char*, N>& list) { return list[pick(N)]; }

  std::optional<std::string> columns() {
    static const std::array<const char*, 16> odd = {
        "", "abc", "0", "-5", " 60 ", "6_0", "+70", "\xd9\xa8\xd9\xa0", "1e2", "\xff",
        "99999999999999999999999", "-99999999999999999999", "4_", "\t45\xe2\x80\x83", "0x40", "1__0"};
    switch (pick(20)) {
      case 0: return std::nullopt;
      case 1: return one_of(odd);
      case 2: return std::string(4300 + pick(2), '7');  // int() stops at 4300 digits
      default: return std::to_string(1 + pick(300));
    }
  }

  std::string argv0() {
    static const std::array<const char*, 16> names = {
        "isotope", "/usr/bin/isotope", "", "dir/", "a b", "\xc3\xafsotop\xc3\xa9", "\xe5\x90\x8c\xe4\xbd\x8d\xe7\xb4\xa0",
        "\xf0\x9f\x92\xa5", "%(prog)s", "100%", "\xff\xfe", "x\n\n\ny", "./a/b c/d", "-h", "[x]", "a\tb"};
    static const std::array<const char*, 9> letters = {"a", "b", " ", "/", "\xc3\xa9", "\xe4\xbd\x8d", "-", "\xf0\x9f\x92\xa5", "_"};
    if (pick(3) == 0) return one_of(names);
    std::string name;
    for (std::size_t n = pick(pick(2) ? 20 : 120); n > 0; --n) name += one_of(letters);
    return name;
  }

  std::string arg() {
    static const std::array<const char*, 76> tokens = {
        "-h", "--help", "--h", "--he", "--hel", "--helpx", "--help=x", "--help=", "--he=a b", "-h=", "-h=x",
        "-h=d", "-h=-", "-hd", "-hdx", "-hh", "-hx", "-hi=x", "-h\xc3\xa9", "-h\xff", "-h ", "-h'\"",
        "-d", "-i", "-o", "-p", "-d", "-i", "-o", "-p", "-ifile", "-i=file", "-i=", "-i=--", "-i--", "-d-",
        "-p=a=b", "-dh", "-x", "-X", "-x y", "-ix y", "--", "--", "-", "", "x", "y z", "a=b", "--i", "---",
        "--=x", "--=", "-=", "-=x", "-\xc3\xa9", "\xff", "\xe2\x82", "\xed\xa0\x80", "-5", "-5x", "-.5", "-5.",
        "-1.5", "-5\n", "-5\n\n", "-\n", "-\xd9\xa1\xd9\xa2", "-\xf0\x9d\x9f\x98", "-\xc2\xb2", "-1e5", "- 5",
        "-5 ", "-0.", "-.", "--5"};
    static const std::array<const char*, 20> pieces = {"-", "-", "-", "h", "d", "i", "=", "x", " ", "5", ".",
                                                       "\xc3\xa9", "\xff", "\n", "'", "\"", "\\", "\t", "-h", "-i"};
    if (pick(3) != 0) return one_of(tokens);
    std::string a;
    for (std::size_t n = 1 + pick(6); n > 0; --n) a += one_of(pieces);
    return a;
  }

  // An argument whose error message quotes random characters: repr() must
  // escape exactly those Python deems not printable.
  std::string repr_arg() {
    static const std::array<std::pair<char32_t, char32_t>, 6> ranges = {
        {{0x01, 0x80}, {0x80, 0x100}, {0x100, 0x3000}, {0x3000, 0xD800}, {0xE000, 0x10000}, {0x10000, 0x110000}}};
    std::string a = pick(2) ? "--help=" : "-h=";
    for (std::size_t n = 1 + pick(8); n > 0; --n) {
      auto [lo, hi] = ranges[pick(ranges.size())];
      a += utf8(lo + static_cast<char32_t>(pick(hi - lo)));
    }
    return a;
  }

  std::mt19937 rng_{20240611};
};

const char* status_name(Status s) {
  return s == Status::Ok ? "ok" : s == Status::Help ? "help" : "error";
}

std::string describe(const Case& c) {
  std::string columns = c.columns ? isotope::py_repr(c.columns->substr(0, 40)) : std::string("unset");
  std::string out = "COLUMNS=" + columns +
                    " argv=[" + isotope::py_repr(c.argv0);
  for (const std::string& a : c.args) out += ", " + isotope::py_repr(a);
  return out + "]";
}

// Runs the reference on all cases; one output line per case.
std::vector<std::string> run_reference(const std::vector<Case>& cases) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("isotope_argparse_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "reference.py") << kReference;
  {
    std::ofstream input(dir / "input", std::ios::binary);
    for (const Case& c : cases) {
      input << (c.columns ? hex(*c.columns) : "*") << '\t' << hex(c.argv0);
      for (const std::string& a : c.args) input << '\t' << hex(a);
      input << '\n';
    }
  }
  // -I: no site packages nor PYTHON* variables; -X utf8: the command line
  // decoded as UTF-8 with surrogateescape, whatever the locale.
  std::string command = std::string(ISOTOPE_PYTHON3) + " -I -X utf8 " + (dir / "reference.py").string() +
                        " < " + (dir / "input").string();
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string line;
  for (int ch; (ch = std::fgetc(pipe)) != EOF;) {
    if (ch == '\n') {
      lines.push_back(std::move(line));
      line.clear();
    } else {
      line += static_cast<char>(ch);
    }
  }
  int status = pclose(pipe);
  fs::remove_all(dir);
  if (status != 0) throw std::runtime_error(command + " failed with status " + std::to_string(status));
  return lines;
}

TEST(ArgparseDifferential, MatchesPythonByteForByte) {
  ASSERT_TRUE(std::filesystem::exists(ISOTOPE_PYTHON3))
      << "the Python reference " << ISOTOPE_PYTHON3
      << " is missing; the project's bootstrap installs it (apt-get install python3)";
  CaseMaker maker;
  std::vector<Case> cases;
  for (int i = 0; i < 5000; ++i) cases.push_back(maker.make());
  std::vector<std::string> expected = run_reference(cases);
  ASSERT_EQ(expected.size(), cases.size());

  int failures = 0;
  std::array<int, 3> statuses{};
  for (std::size_t i = 0; i < cases.size() && failures < 10; ++i) {
    const Case& c = cases[i];
    std::vector<std::string> f = split(expected[i], '\t');
    ASSERT_EQ(f.size(), 8u) << expected[i];
    ap::Parser parser = isotope_parser(ap::prog_name(c.argv0));
    ap::Parsed got = ap::parse_args(parser, c.args);
    int columns = ap::terminal_columns(c.columns ? c.columns->c_str() : nullptr, 0);
    std::string help = ap::format_help(parser, columns - 2);
    ++statuses[static_cast<std::size_t>(got.status)];

    std::string values;
    for (std::size_t k = 0; k < 4 && got.status == Status::Ok; ++k)
      values += got.empty_list[k] ? "L" : got.values[k] ? "S" + hex(*got.values[k]) : "N";
    std::string want_values;
    for (std::size_t k = 0; k < 4 && f[0] == "ok"; ++k) want_values += f[4 + k];

    // Python keeps a COLUMNS of any size; ours stop at a width past which the
    // help is the same.
    bool same_columns = f[1] == std::to_string(columns) || (f[1].size() > 9 && columns >= 100'000'000);
    bool same = f[0] == status_name(got.status) && same_columns &&
                unhex(f[2]) == got.error && unhex(f[3]) == help && want_values == values;
    if (!same) {
      ++failures;
      ADD_FAILURE() << describe(c) << "\n  python: " << f[0] << " columns " << f[1].substr(0, 40) << " error "
                    << isotope::py_repr(unhex(f[2])) << " values " << want_values << "\n  ours:   "
                    << status_name(got.status) << " columns " << columns << " error "
                    << isotope::py_repr(got.error) << " values " << values << "\n  python help:\n"
                    << unhex(f[3]) << "  our help:\n" << help;
    }
  }
  // The random cases reach every outcome.
  for (int n : statuses) EXPECT_GT(n, 200);
}

}  // namespace
