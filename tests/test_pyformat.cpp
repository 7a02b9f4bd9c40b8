// Python repr of floats and pandas' float cells, int() of text and the names
// of OS errors. Expected values come from Python 3.11 (repr, int(),
// OSError's subclasses) and pandas 1.5 (read_csv with sep=r"\s+").
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/base/pyformat.hpp"
#include "isotope/base/text.hpp"
#include "isotope/base/unicode.hpp"

namespace isotope {
namespace {

double from_bits(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

TEST(FloatRepr, LaysOutDigitsAsPython) {
  const std::vector<std::pair<double, const char*>> cases = {
      {2.0, "2.0"},
      {0.1, "0.1"},
      {1000.0, "1000.0"},
      {100.0, "100.0"},
      {-2.5, "-2.5"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0 / 3, "0.3333333333333333"},
      {12345.678, "12345.678"},
      // Positional down to 1e-4, scientific below.
      {0.0001, "0.0001"},
      {0.00012345, "0.00012345"},
      {1e-05, "1e-05"},
      {1e-07, "1e-07"},
      // Positional below 1e16, scientific from there.
      {1e15, "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e16, "1e+16"},
      {123456789012345678.0, "1.2345678901234568e+17"},
      {1e22, "1e+22"},
      {1.5e300, "1.5e+300"},
      {5e-324, "5e-324"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {HUGE_VAL, "inf"},
      {-HUGE_VAL, "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(float_repr(v), text) << text;
  std::string out = "x=";
  append_float_repr(out, 4.0);
  EXPECT_EQ(out, "x=4.0");
}

// Random doubles of every magnitude, checked against Python itself.
TEST(FloatRepr, MatchesPythonOnRandomDoubles) {
  const char* python = ISOTOPE_PYTHON3;
  if (!std::filesystem::exists(python)) GTEST_SKIP() << "no " << python;
  std::mt19937_64 rng(12345);
  std::vector<double> values;
  for (int i = 0; i < 3000; ++i) {
    double v = from_bits(rng());
    if (std::isfinite(v)) values.push_back(v);
    // Short decimal values, where digits and layout matter most.
    values.push_back(static_cast<double>(rng() % 2000000) * std::pow(10.0, static_cast<int>(rng() % 50) - 25));
  }
  auto dir = std::filesystem::temp_directory_path();
  std::string in = (dir / ("isotope_repr_in_" + std::to_string(::getpid()))).string();
  std::string out = in + ".out";
  {
    std::ofstream f(in);
    char buf[64];
    for (double v : values) {
      std::snprintf(buf, sizeof buf, "%a\n", v);
      f << buf;
    }
  }
  std::string cmd = std::string(python) + " -c \"import sys\nfor l in open(sys.argv[1]): print(repr(float.fromhex(l)))\" " +
                    in + " > " + out;
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream f(out);
  std::string line;
  std::size_t i = 0, bad = 0;
  while (std::getline(f, line) && i < values.size()) {
    if (float_repr(values[i]) != line && ++bad < 10) ADD_FAILURE() << line << " vs " << float_repr(values[i]);
    ++i;
  }
  EXPECT_EQ(i, values.size());
  EXPECT_EQ(bad, 0u);
  std::filesystem::remove(in);
  std::filesystem::remove(out);
}

TEST(ParseFloat, AcceptsPandasFloatCells) {
  const std::vector<std::pair<const char*, double>> cases = {
      {"1", 1.0},       {"1.", 1.0},           {".5", 0.5},          {"-.5", -0.5},
      {"5.", 5.0},      {"1e5", 1e5},          {"1E+05", 1e5},       {"+.5e-3", 0.0005},
      {"007", 7.0},     {"-0", -0.0},          {" 1.5 ", 1.5},       {"\f1\v", 1.0},
      {"\n1\r", 1.0},   {"1e308", 1e308},      {"2e-308", 2e-308},   {"4.9e-324", 5e-324},
      {"0e308", 0.0},   {"1e-400", 0.0},       {"-1e-400", -0.0},    {"1e-320", 1e-320},
      {"1e00000000000000001", 10.0},  // 17 exponent digits
      {"0.0000000000000001e324", 1e308},
      {"inf", HUGE_VAL}, {"+inf", HUGE_VAL},   {"INF", HUGE_VAL},    {"Infinity", HUGE_VAL},
      {"iNfInItY", HUGE_VAL}, {"+Infinity", HUGE_VAL}, {"-inf", -HUGE_VAL}, {"-Infinity", -HUGE_VAL},
  };
  for (const auto& [text, value] : cases) {
    auto v = parse_float(text);
    ASSERT_TRUE(v.has_value()) << text;
    EXPECT_EQ(*v, value) << text;
    EXPECT_EQ(std::signbit(*v), std::signbit(value)) << text;
  }
}

TEST(ParseFloat, RejectsWhatPandasKeepsAsText) {
  for (const char* text :
       {"", " ", "1e", "1e+", "1e-", "e5", ".e5", ".", "-", "+", "++1", "--1", "1_0", "0x10", "1d5",
        "1.5.2", "1,5", "1 2", "nan", "NaN", "NAN", "+nan", "True", " inf", "inf ", "infinit", "x1",
        // Out of range as pandas counts it: the value overflows, or the
        // exponent of the 17 leading digits exceeds 308.
        "1e400", "-1e400", "1.7976931348623159e308", "0e309", "0.1e310",
        "0.00000000000000001e325", "1e000000000000000001"}) {
    EXPECT_FALSE(parse_float(text).has_value()) << text;
  }
}

// Where pandas' reading is off, the value is the correctly rounded one.
TEST(ParseFloat, IsCorrectlyRounded) {
  EXPECT_EQ(*parse_float("9223372036854775808"), 0x1p63);  // pandas: 9.223372036854778e+18
  EXPECT_EQ(*parse_float("2.4703282292062328e-324"), 5e-324);  // pandas: 0.0
  EXPECT_EQ(*parse_float("0.1000000000000000055511151231257827"), 0.1);
  EXPECT_EQ(*parse_float("0.000000000000000000001e310"), 1e289);  // pandas: 0.0
  // A 10-digit exponent: pandas wraps it (10.0 and 0.1).
  EXPECT_EQ(*parse_float("1e4294967297"), HUGE_VAL);
  EXPECT_EQ(*parse_float("1e-4294967297"), 0.0);
  std::string many(400, '1');
  many += ".0e-300";
  EXPECT_EQ(*parse_float(many), 1.1111111111111111e99);
}

TEST(ParseFloat, ReadsBackRepr) {
  std::mt19937_64 rng(99);
  for (int i = 0; i < 20000; ++i) {
    double v = from_bits(rng());
    if (!std::isfinite(v)) continue;
    auto back = parse_float(float_repr(v));
    ASSERT_TRUE(back.has_value()) << float_repr(v);
    ASSERT_EQ(*back, v) << float_repr(v);
  }
}

}  // namespace
}  // namespace isotope

// The text rules behind the readers, at their edges.
TEST(TextRules, Utf8AndDigitBoundaries) {
  using isotope::text::digit_value;
  using isotope::text::utf8_problem;
  // Overlong two-byte forms start with 0xC0 or 0xC1: never UTF-8.
  for (const char* bad : {"\xc0\x80", "\xc1\xbf", "\xf5\x80\x80\x80", "\xed\xa0\x80"}) {
    auto problem = utf8_problem(bad);
    ASSERT_TRUE(problem) << bad;
    EXPECT_EQ(problem->start, 0u);
  }
  EXPECT_STREQ(utf8_problem("\xc0\x80")->reason, "invalid start byte");
  EXPECT_FALSE(utf8_problem("\xc2\x80\xe2\x82\xac\xf0\x9f\x98\x80"));
  // Each block of ten decimal digits ends where it ends: Arabic-Indic
  // U+0660..U+0669, then U+066A is a sign; Devanagari U+0966..U+096F.
  EXPECT_EQ(digit_value(0x669), 9);
  EXPECT_EQ(digit_value(0x66a), -1);
  EXPECT_EQ(digit_value(0x65f), -1);
  EXPECT_EQ(digit_value(0x966), 0);
  EXPECT_EQ(digit_value(0x970), -1);
  EXPECT_EQ(digit_value(0x1fbf9), 9);
  EXPECT_EQ(digit_value(0x1fbfa), -1);
}

TEST(TextRules, UnderscoresInIntegersAsPythonsInt) {
  // Python's int(): an underscore only between two digits.
  using isotope::text::parse_int;
  for (const char* bad : {"_5", "5_", "1__0", "-_5", "_", "+_1"}) EXPECT_EQ(parse_int(bad), std::nullopt) << bad;
  EXPECT_EQ(parse_int("1_0"), 10);
  EXPECT_EQ(parse_int(" +1_000 "), 1000);
  EXPECT_EQ(parse_int("-0_0"), 0);
}

TEST(TextRules, OsErrorsAreNamedAsPythonNamesThem) {
  // Python's OSError(errno, ...) subclass of each errno.
  const std::pair<int, const char*> names[] = {
      {ENOENT, "FileNotFoundError"}, {EACCES, "PermissionError"},    {EPERM, "PermissionError"},
      {EISDIR, "IsADirectoryError"}, {ENOTDIR, "NotADirectoryError"}, {EEXIST, "FileExistsError"},
      {EIO, "OSError"}};
  for (const auto& [err, name] : names) EXPECT_EQ(isotope::Error::os(err, "f").kind_name(), name) << err;
  EXPECT_STREQ(isotope::Error::os(EPERM, "f").what(), "[Errno 1] Operation not permitted: 'f'");
}
