// The table layer against pandas 1.5: read_csv(path, sep=r"\s+") and
// to_csv(path, sep="\t", index=False). Expected bytes come from running
// pandas on the same input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/io/table.hpp"

namespace isotope {
namespace {

namespace fs = std::filesystem;
using Fields = std::vector<std::string>;
using Record = std::pair<long, Fields>;

std::string slurp(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("isotope_table_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(std::string_view bytes, const std::string& name = "t.txt") {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  static std::vector<Record> records(const std::string& path, std::size_t chunk = TableReader::kChunkBytes,
                                     Separator sep = Separator::Whitespace) {
    TableReader reader(path, sep, chunk);
    std::vector<Record> out;
    Fields fields;
    long line = 0;
    while (reader.next(fields, line)) out.emplace_back(line, fields);
    return out;
  }
  std::vector<Record> read(std::string_view bytes, Separator sep = Separator::Whitespace) {
    return records(write(bytes), TableReader::kChunkBytes, sep);
  }

  fs::path dir_;
};

// What the tool writes for a table: the header, then every row, as pandas
// to_csv writes them (a one-column row holding one empty field is "").
std::string write_like_pandas(const std::string& path, Separator sep = Separator::Whitespace) {
  TableLayout layout = scan_table(ByteSource::file(path), sep);
  const std::size_t width = layout.columns.size();
  std::string out;
  for (std::size_t c = 0; c < width; ++c) {
    if (c) out += '\t';
    append_quoted_field(out, layout.columns[c].name);
  }
  out += '\n';
  TableReader reader(path, sep);
  Fields fields;
  long line = 0;
  reader.next(fields, line);
  for (std::size_t row = 0; reader.next(fields, line); ++row) {
    const auto& types = layout.row_types(row);
    const std::size_t start = out.size();
    for (std::size_t c = 0; c < width; ++c) {
      if (c) out += '\t';
      append_output_cell(out, types[c], c < fields.size() ? std::string_view(fields[c]) : std::string_view());
    }
    if (width == 1 && out.size() == start) out += "\"\"";
    out += '\n';
  }
  return out;
}

TEST(MissingMarker, IsOneOfPandasDefaults) {
  for (const char* m : {"", "#N/A", "#N/A N/A", "#NA", "-1.#IND", "-1.#QNAN", "-NaN", "-nan", "1.#IND",
                        "1.#QNAN", "<NA>", "N/A", "NA", "NULL", "NaN", "n/a", "nan", "null"})
    EXPECT_TRUE(is_missing_marker(m)) << m;
  for (const char* m : {"NAN", "na", "Nan", " NA", "NA ", "None", "-", "nan.", "#N/A N/A "})
    EXPECT_FALSE(is_missing_marker(m)) << m;
}

// --- Reader ---------------------------------------------------------------

TEST_F(TableTest, FieldsAreSeparatedBySpacesAndTabsOnly) {
  auto recs = read("  a\tb   c \t\n1\f2 x\vy \xc2\xa0z\t\n");
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].second, (Fields{"a", "b", "c"}));
  EXPECT_EQ(recs[1].second, (Fields{"1\f2", "x\vy", "\xc2\xa0z"}));
}

TEST_F(TableTest, LineEndsAndBlankLines) {
  auto recs = read("h1 h2\r\n\r\n  \t\r\n1 2\r3 4\n\n5 6");
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[0], (Record{1, {"h1", "h2"}}));
  EXPECT_EQ(recs[1], (Record{4, {"1", "2"}}));
  EXPECT_EQ(recs[2], (Record{5, {"3", "4"}}));
  EXPECT_EQ(recs[3], (Record{7, {"5", "6"}}));  // no line end at the end
  EXPECT_TRUE(read("").empty());
  EXPECT_TRUE(read(" \n\t\r\n\r").empty());
}

TEST_F(TableTest, QuotedFields) {
  const std::vector<std::pair<std::string, Fields>> cases = {
      {"\"a b\" c", {"a b", "c"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"\"\"\"", {"\""}},
      {"\"\"", {""}},
      {"ab\"cd x", {"ab\"cd", "x"}},          // a quote inside a field is literal
      {"\"ab\"cd x", {"abcd", "x"}},          // text after the closing quote joins
      {"\"a b\"c\"d e\"", {"a bc\"d", "e\""}},  // and its quotes are literal again
      {"\"x\"\t\"y\"", {"x", "y"}},
      {"\"tab\there\"", {"tab\there"}},
  };
  for (const auto& [line, fields] : cases) {
    auto recs = read(line + "\n");
    ASSERT_EQ(recs.size(), 1u) << line;
    EXPECT_EQ(recs[0].second, fields) << line;
  }
}

TEST_F(TableTest, QuotedLineEndsCountAsLines) {
  auto recs = read("a b\n\"x\r\ny\" \"1\n\n2\"\nc \"d\re\"\nz\n");
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[1], (Record{2, {"x\r\ny", "1\n\n2"}}));
  EXPECT_EQ(recs[2], (Record{6, {"c", "d\re"}}));
  EXPECT_EQ(recs[3], (Record{8, {"z"}}));
}

TEST_F(TableTest, NulByteEndsTheFieldValue) {
  auto recs = read(std::string("a\0b c\n\"q\0\"\"r\" \0\n", 16));
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].second, (Fields{"a", "c"}));
  EXPECT_EQ(recs[1].second, (Fields{"q", ""}));
}

// isotope_separator: one separator ends one field; blanks and other
// separators belong to the fields; a line of blanks is skipped.
TEST_F(TableTest, SeparatorEndsExactlyOneField) {
  EXPECT_EQ(read("a\tb c\t\"d\te\"\n1\t\t3\n\t2\t\n  \n\t\t\n x\t\"y\"\"z\"w\t\n", Separator::Tab),
            (std::vector<Record>{{1, {"a", "b c", "d\te"}},
                                 {2, {"1", "", "3"}},
                                 {3, {"", "2", ""}},
                                 {5, {"", "", ""}},
                                 {6, {" x", "y\"zw", ""}}}));
  EXPECT_EQ(read("h\n1\t", Separator::Tab), (std::vector<Record>{{1, {"h"}}, {2, {"1", ""}}}));
  EXPECT_EQ(read("a,\"b,c\";d\n", Separator::Comma)[0].second, (Fields{"a", "b,c;d"}));
  EXPECT_EQ(read("a,\"b,c\";d\n", Separator::Semicolon)[0].second, (Fields{"a,\"b,c\"", "d"}));
  // After a blank line ended by a lone CR, pandas drops a separator.
  EXPECT_EQ(read("  \r\ta\tb\n", Separator::Tab)[0].second, (Fields{"a", "b"}));
}

TEST_F(TableTest, ByteOrderMarkDroppedAtStartOnly) {
  EXPECT_EQ(read("\xEF\xBB\xBF\"a b\" c\n")[0].second, (Fields{"a b", "c"}));
  EXPECT_EQ(read("\xEF\xBB\xBF\xEF\xBB\xBF" "a\n")[0].second, (Fields{"\xEF\xBB\xBF" "a"}));
  EXPECT_EQ(read("a \xEF\xBB\xBF" "b\n")[0].second, (Fields{"a", "\xEF\xBB\xBF" "b"}));
  EXPECT_TRUE(read("\xEF\xBB\xBF").empty());
}

// pandas' tokenizer: after a record ended by a lone CR, a line holding
// only blanks is a record with no fields, not a blank line.
TEST_F(TableTest, BlankLineAfterLoneCrIsAnEmptyRecord) {
  auto recs = read("a b\r \n1 2\r\t\r3 4\r  5\n6 7\r\n  \r\n8 9\r ");
  std::vector<Record> expected = {{1, {"a", "b"}}, {2, {}},     {3, {"1", "2"}}, {4, {}},
                                  {5, {"3", "4"}}, {6, {"5"}},  {7, {"6", "7"}}, {9, {"8", "9"}},
                                  {10, {}}};
  EXPECT_EQ(recs, expected);
}

TEST_F(TableTest, RecordsDoNotDependOnTheChunkSize) {
  std::vector<std::string> paths = {(fs::path(ISOTOPE_TEST_DATA) / "table" / "quirks.txt").string()};
  std::string long_field(3000, 'x');
  paths.push_back(write("\xEF\xBB\xBF" "a \"" + long_field + "\r\n\"\"\"\r" + long_field + " \r  \r\n" +
                        long_field + "\"\r\n x\xc3\xa9y\r", "long.txt"));
  // Random bytes with every character the reader treats specially.
  static const char kAlphabet[] = "ab1 \t\r\n\"\0\xff\xc3\xa9.e-+NA,;";
  std::mt19937 rng(7);
  for (int k = 0; k < 300; ++k) {
    std::string bytes(rng() % 60, ' ');
    for (char& c : bytes) c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
    paths.push_back(write(bytes, "random" + std::to_string(k) + ".txt"));
  }
  auto outcome = [](const std::string& path, std::size_t chunk, Separator sep = Separator::Whitespace) {
    try {
      return std::make_pair(records(path, chunk, sep), std::string());
    } catch (const Error& e) {
      return std::make_pair(std::vector<Record>(), std::string(e.what()));
    }
  };
  // The same bytes from memory, as the fuzz targets read them.
  auto from_memory = [](const std::string& path, std::size_t chunk) {
    const std::string bytes = slurp(path);
    try {
      TableReader reader(ByteSource::memory(bytes, path), Separator::Whitespace, chunk);
      std::vector<Record> out;
      Fields fields;
      long line = 0;
      while (reader.next(fields, line)) out.emplace_back(line, fields);
      return std::make_pair(out, std::string());
    } catch (const Error& e) {
      return std::make_pair(std::vector<Record>(), std::string(e.what()));
    }
  };
  for (const std::string& path : paths) {
    auto whole = outcome(path, TableReader::kChunkBytes);
    for (std::size_t chunk : {4, 5, 7, 64}) ASSERT_EQ(outcome(path, chunk), whole) << path << " " << chunk;
    for (Separator sep : {Separator::Tab, Separator::Comma, Separator::Semicolon}) {
      auto whole_sep = outcome(path, TableReader::kChunkBytes, sep);
      for (std::size_t chunk : {4, 7}) ASSERT_EQ(outcome(path, chunk, sep), whole_sep) << path << " " << chunk;
    }
    for (std::size_t chunk : {std::size_t{4}, std::size_t{7}, TableReader::kChunkBytes})
      ASSERT_EQ(from_memory(path, chunk), whole) << path;
  }
}

TEST_F(TableTest, ReaderErrors) {
  try {
    TableReader reader((dir_ / "absent.txt").string());
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::OS);
    EXPECT_EQ(e.os_errno(), ENOENT);
    EXPECT_EQ(e.kind_name(), "FileNotFoundError");
  }
  try {
    TableReader reader(dir_.string());
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind_name(), "IsADirectoryError");
  }
  try {
    read("a b\n1 2\n3 \"x\ny\n");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Value);
    EXPECT_EQ(e.line(), 3);
    EXPECT_NE(std::string(e.what()).find("quoted"), std::string::npos);
  }
  // Invalid UTF-8: Python's reason, the position from the start of the
  // record's line, and that line.
  struct Bad {
    std::string bytes;
    long line;
    std::size_t start, end;
    const char* reason;
  };
  for (const Bad& bad : std::vector<Bad>{
           {"a b\n1 \xff\n", 2, 2, 3, "invalid start byte"},
           {"a b\n\n  \"x\n\xe2\x82z\" 1\n", 3, 5, 7, "invalid continuation byte"},
           {"a b\n1 \xe2\x82", 2, 2, 4, "unexpected end of data"},
           {"a \xc3\n", 1, 2, 3, "invalid continuation byte"},
           {std::string("a b\n1\0\xff 2\n", 10), 2, 2, 3, "invalid start byte"},  // after a NUL too
       }) {
    try {
      read(bad.bytes);
      ADD_FAILURE() << bad.bytes;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Decode);
      EXPECT_EQ(e.line(), bad.line);
      EXPECT_EQ(e.decode_start(), bad.start);
      EXPECT_EQ(e.decode_end(), bad.end);
      EXPECT_EQ(e.decode_reason(), bad.reason);
    }
  }
}

// --- Header and typing ----------------------------------------------------

TEST(HeaderNames, RenamesAsPandas) {
  const std::vector<std::pair<Fields, Fields>> cases = {
      {{"a", "b"}, {"a", "b"}},
      {{"a", "a", "a"}, {"a", "a.1", "a.2"}},
      {{"a", "a", "a.1"}, {"a", "a.2", "a.1"}},
      {{"a.1", "a", "a"}, {"a.1", "a", "a.2"}},
      {{"a", "a.1", "a", "a.1"}, {"a", "a.1", "a.2", "a.1.1"}},
      {{"x.1", "x", "x", "x.1"}, {"x.1", "x", "x.2", "x.1.1"}},
      {{"", ""}, {"Unnamed: 0", "Unnamed: 1"}},
      {{"", "Unnamed: 0"}, {"Unnamed: 0.1", "Unnamed: 0"}},
      {{"b", "", "b", ""}, {"b", "Unnamed: 1", "b.1", "Unnamed: 3"}},
      {{"NA", "nan"}, {"NA", "nan"}},
  };
  for (const auto& [fields, names] : cases) EXPECT_EQ(header_names(fields), names);
}

TEST(TypingBlockRows, LargestPowerOfTwoBelowTheHeuristic) {
  EXPECT_EQ(typing_block_rows(1), 524288u);
  EXPECT_EQ(typing_block_rows(3), 262144u);
  EXPECT_EQ(typing_block_rows(12), 65536u);
  EXPECT_EQ(typing_block_rows(100), 8192u);
  EXPECT_EQ(typing_block_rows(65536), 8u);
  EXPECT_EQ(typing_block_rows(std::size_t{1} << 21), 1u);
}

BlockKind kind_of(const std::vector<std::string>& cells) {
  BlockTyper typer;
  for (const auto& c : cells) typer.add(c);
  return typer.kind();
}

TEST(BlockTyper, FollowsPandasTrials) {
  using K = BlockKind;
  const std::vector<std::pair<Fields, K>> cases = {
      {{"1", "007", "+5", "-0", " 3 ", "\f4\v", "5\r", "\t6\n"}, K::Int64},
      {{"9223372036854775807", "-9223372036854775808"}, K::Int64},
      {{"1", "NA"}, K::IntWithMissing},
      {{"NA", ""}, K::IntWithMissing},
      {{"9223372036854775808", "18446744073709551615", "1"}, K::UInt64},
      {{"1.5", "NA", "1", "inf", "-Infinity", "1e-400"}, K::Float64},
      {{"True", "false", "tRuE", "FALSE"}, K::Bool},
      {{"True", "NA"}, K::BoolWithMissing},
      {{"True", "1"}, K::Text},
      {{"1_000"}, K::Text},
      {{"1e400"}, K::Text},
      {{"0e309"}, K::Text},
      {{"NAN", "1"}, K::Text},
  };
  for (const auto& [cells, kind] : cases) EXPECT_EQ(kind_of(cells), kind) << cells[0];
}

// Beyond int64, the outcome depends on the order of the cells, as pandas'
// int64 and uint64 trials stop at the first failing cell.
TEST(BlockTyper, IntegerFallbacksDependOnOrder) {
  using K = BlockKind;
  const std::vector<std::pair<Fields, K>> cases = {
      {{"18446744073709551616"}, K::Text},                    // beyond uint64
      {{"18446744073709551616", "1.5"}, K::Text},
      {{"1.5", "18446744073709551616"}, K::Float64},
      {{"123456789012345678901234567890e-20"}, K::Text},      // overflow before the 'e'
      {{"-9223372036854775809"}, K::Text},
      {{"-9223372036854775809", "NA"}, K::Text},
      {{"9223372036854775808", "1.5", "NA"}, K::Float64},
      {{"9223372036854775808", "abc", "NA"}, K::Text},
      // uint64 with negatives or missing cells: pandas keeps the text as read.
      {{"-1", "9223372036854775808"}, K::TextAsRead},
      {{"9223372036854775808", "NA"}, K::TextAsRead},
      {{"NA", "9223372036854775808"}, K::TextAsRead},
      {{"9223372036854775808", "-abc", "NA"}, K::TextAsRead},
      {{"9223372036854775808", "NA", "18446744073709551616"}, K::Text},
  };
  for (const auto& [cells, kind] : cases) EXPECT_EQ(kind_of(cells), kind) << cells[0] << " " << cells.size();
}

TEST(CellType, JoinsBlocksAsNumpyConcatenates) {
  using K = BlockKind;
  using T = ColumnType;
  auto bits = [](std::initializer_list<K> kinds) {
    unsigned b = 0;
    for (K k : kinds) b |= 1u << static_cast<unsigned>(k);
    return b;
  };
  // One kind alone.
  EXPECT_EQ(cell_type(K::Int64, bits({K::Int64})), T::Int);
  EXPECT_EQ(cell_type(K::IntWithMissing, bits({K::IntWithMissing})), T::IntWithMissing);
  EXPECT_EQ(cell_type(K::BoolWithMissing, bits({K::BoolWithMissing})), T::Bool);
  // Numeric joins convert the values.
  EXPECT_EQ(cell_type(K::Bool, bits({K::Bool, K::Int64})), T::Int);
  EXPECT_EQ(cell_type(K::Bool, bits({K::Bool, K::UInt64})), T::Int);
  EXPECT_EQ(cell_type(K::Bool, bits({K::Bool, K::Float64})), T::Float);
  EXPECT_EQ(cell_type(K::Int64, bits({K::Int64, K::UInt64})), T::IntAsFloat);
  EXPECT_EQ(cell_type(K::Int64, bits({K::Int64, K::IntWithMissing})), T::IntAsFloat);
  EXPECT_EQ(cell_type(K::IntWithMissing, bits({K::Int64, K::IntWithMissing})), T::IntWithMissing);
  // Joins with an object block keep each block's own values.
  EXPECT_EQ(cell_type(K::Int64, bits({K::Int64, K::Text})), T::Int);
  EXPECT_EQ(cell_type(K::Float64, bits({K::Float64, K::Text})), T::Float);
  EXPECT_EQ(cell_type(K::Bool, bits({K::Bool, K::BoolWithMissing})), T::Bool);
  EXPECT_EQ(cell_type(K::Int64, bits({K::Int64, K::BoolWithMissing})), T::Int);
  EXPECT_EQ(cell_type(K::TextAsRead, bits({K::TextAsRead, K::Int64})), T::TextAsRead);
}

// --- Scan ------------------------------------------------------------------

TEST_F(TableTest, ScanNamesAndTypesTheQuirksTable) {
  std::string path = (fs::path(ISOTOPE_TEST_DATA) / "table" / "quirks.txt").string();
  TableLayout layout = scan_table(path);
  using T = ColumnType;
  std::vector<std::pair<std::string, T>> expected = {
      {"Peptide", T::Text}, {"Charge", T::IntWithMissing}, {"Glycan", T::Text}, {"Score", T::Float},
      {"Note", T::Text},    {"Flag", T::Bool},             {"Count", T::IntWithMissing}, {"Note.1", T::Text}};
  ASSERT_EQ(layout.columns.size(), expected.size());
  for (std::size_t c = 0; c < expected.size(); ++c) {
    EXPECT_EQ(layout.columns[c].name, expected[c].first);
    EXPECT_EQ(layout.columns[c].type, expected[c].second) << expected[c].first;
  }
  EXPECT_EQ(layout.rows, 8u);
  EXPECT_EQ(layout.runs.size(), 1u);
}

// quirks.tsv is what pandas 1.5 writes for quirks.txt.
TEST_F(TableTest, WritesTheQuirksTableAsPandas) {
  fs::path data = fs::path(ISOTOPE_TEST_DATA) / "table";
  EXPECT_EQ(write_like_pandas((data / "quirks.txt").string()), slurp(data / "quirks.tsv"));
}

TEST_F(TableTest, ScanErrors) {
  for (std::string_view bytes : {"", "\n \t\r\n", "\xEF\xBB\xBF"}) {
    try {
      scan_table(write(bytes));
      ADD_FAILURE() << "no error for an empty file";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Value);
      EXPECT_EQ(e.message(), "No columns to parse from file");
    }
  }
  // More fields than the header: on the first row pandas makes an index,
  // later it fails; both are refused, naming the line.
  for (auto [bytes, line] : {std::pair<std::string_view, long>{"a b\n1 2 3\n", 2},
                             {"a b\n\n1 2\r\n\"x\ny\" 2 3\n", 4}}) {
    try {
      scan_table(write(bytes));
      ADD_FAILURE() << bytes;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Value);
      EXPECT_EQ(e.line(), line);
      EXPECT_NE(e.message().find("3 fields"), std::string::npos) << e.what();
    }
  }
  // A bracketed name with a blank, split by the blanks, is named as such.
  const std::string path = write("Scan PepSeq N\n7 LC[Iodoacetamide deriv x]K 4\n");
  try {
    scan_table(path);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "row with 5 fields where the header has 3; a modification name with a blank: "
                                     "'LC[Iodoacetamide deriv x]K' was read as 3 cells; quote the cell or use "
                                     "isotope_separator = tab at line 2 of " + path);
  }
}

// The short row: the warning, and what an error in it adds, point to
// isotope_separator only where blanks split the table.
TEST(ShortRow, PointsToTheSeparatorOption) {
  EXPECT_EQ(short_row_note(7, 9, Separator::Whitespace),
            "row has 7 fields where the header has 9; its last 2 cells were read as missing (an empty cell in a "
            "tab-separated file? read it with isotope_separator = tab)");
  EXPECT_EQ(short_row_note(8, 9, Separator::Tab),
            "row has 8 fields where the header has 9; its last cell was read as missing");
  EXPECT_EQ(shifted_row_hint(7, 8, Separator::Whitespace),
            "the row has 7 fields where the header has 8: an empty cell of a tab-separated file shifts the cells "
            "after it; read the table with isotope_separator = tab");
  EXPECT_EQ(shifted_row_hint(8, 8, Separator::Whitespace), "");
  EXPECT_EQ(shifted_row_hint(7, 8, Separator::Tab), "");
}

TEST_F(TableTest, HeaderOnlyTableHasTextColumns) {
  TableLayout layout = scan_table(write("a b a\n"));
  EXPECT_EQ(layout.rows, 0u);
  ASSERT_EQ(layout.columns.size(), 3u);
  EXPECT_EQ(layout.columns[2].name, "a.1");
  EXPECT_EQ(layout.columns[0].type, ColumnType::Text);
  EXPECT_EQ(layout.row_types(0).size(), 3u);
}

// With 65536 columns pandas types blocks of 8 rows apart and then joins
// them. Expected values from pandas.
TEST_F(TableTest, TypesBlocksOfRowsApart) {
  const std::size_t width = 65536;
  std::string bytes;
  for (std::size_t c = 0; c < width; ++c) bytes += (c ? " c" : "c") + std::to_string(c);
  bytes += '\n';
  std::string filler;
  for (std::size_t c = 4; c < width; ++c) filler += " 1";
  for (int r = 0; r < 8; ++r) bytes += "007 True 1 1" + filler + "\n";
  for (int r = 0; r < 8; ++r) bytes += "x 5 NA 9223372036854775808" + filler + "\n";
  std::string path = write(bytes);
  TableLayout layout = scan_table(path);
  using T = ColumnType;
  EXPECT_EQ(layout.block_rows, 8u);
  ASSERT_EQ(layout.runs.size(), 2u);
  EXPECT_EQ(layout.runs[1].first_row, 8u);
  const auto& first = layout.row_types(7);
  const auto& second = layout.row_types(8);
  EXPECT_EQ(std::vector<T>(first.begin(), first.begin() + 5),
            (std::vector<T>{T::Int, T::Int, T::IntAsFloat, T::IntAsFloat, T::Int}));
  EXPECT_EQ(std::vector<T>(second.begin(), second.begin() + 5),
            (std::vector<T>{T::Text, T::Int, T::IntWithMissing, T::IntAsFloat, T::Int}));
  EXPECT_EQ(layout.columns[0].type, T::Text);   // ints then str: object
  EXPECT_EQ(layout.columns[1].type, T::Int);    // bools then ints: int64
  EXPECT_EQ(layout.columns[2].type, T::Float);  // ints then ints with NaN: float64
  EXPECT_EQ(layout.columns[3].type, T::IntAsFloat);

  std::string row0, row8;
  for (std::size_t c = 0; c < 4; ++c) {
    const char* cells0[] = {"007", "True", "1", "1"};
    const char* cells8[] = {"x", "5", "NA", "9223372036854775808"};
    append_output_cell(row0 += '|', first[c], cells0[c]);
    append_output_cell(row8 += '|', second[c], cells8[c]);
  }
  EXPECT_EQ(row0, "|7|1|1.0|1.0");
  EXPECT_EQ(row8, "|x|5||9.223372036854776e+18");
}

// --- Writing -------------------------------------------------------------

TEST(OutputCell, WritesTypedValuesAsPandas) {
  using T = ColumnType;
  struct Case {
    T type;
    const char* raw;
    const char* csv;  // to_csv
    const char* str;  // str()
  };
  const std::vector<Case> cases = {
      {T::Int, "007", "7", "7"},
      {T::Int, "+5", "5", "5"},
      {T::Int, "-0", "0", "0"},
      {T::Int, " -12 ", "-12", "-12"},
      {T::Int, "18446744073709551615", "18446744073709551615", "18446744073709551615"},
      {T::Int, "True", "1", "1"},  // a bool block joined to ints
      {T::Int, "NA", "", "nan"},
      {T::Float, "4", "4.0", "4.0"},
      {T::Float, "1e5", "100000.0", "100000.0"},
      {T::Float, "-0", "-0.0", "-0.0"},
      {T::Float, "1e16", "1e+16", "1e+16"},
      {T::Float, "0.00001", "1e-05", "1e-05"},
      {T::Float, "-Infinity", "-inf", "-inf"},
      {T::Float, "9223372036854775808", "9.223372036854776e+18", "9.223372036854776e+18"},
      {T::Float, "false", "0.0", "0.0"},
      {T::Float, "nan", "", "nan"},
      {T::IntAsFloat, "-0", "0.0", "0.0"},
      {T::IntAsFloat, "9223372036854775807", "9.223372036854776e+18", "9.223372036854776e+18"},
      {T::IntWithMissing, "4", "4.0", "4.0"},
      {T::IntWithMissing, "", "", "nan"},
      {T::IntWithMissing, "-9223372036854775807", "", "nan"},  // converts to -2^63
      {T::IntWithMissing, "-9223372036854775295", "-9.223372036854775e+18", "-9.223372036854775e+18"},
      {T::Bool, "tRuE", "True", "True"},
      {T::Bool, "FALSE", "False", "False"},
      {T::Bool, "null", "", "nan"},
      {T::Text, "N4H5", "N4H5", "N4H5"},
      {T::Text, "ab\"cd", "\"ab\"\"cd\"", "ab\"cd"},
      {T::Text, "x\ty", "\"x\ty\"", "x\ty"},
      {T::Text, "line\nbreak", "\"line\nbreak\"", "line\nbreak"},
      {T::Text, "cr\rx", "cr\rx", "cr\rx"},
      {T::Text, "NA", "", "nan"},
      {T::TextAsRead, "NA", "NA", "NA"},
      {T::TextAsRead, "", "", ""},
  };
  for (const Case& c : cases) {
    std::string csv = "<", str = "<";
    append_output_cell(csv, c.type, c.raw);
    append_py_str(str, c.type, c.raw);
    EXPECT_EQ(csv, std::string("<") + c.csv) << c.raw;
    EXPECT_EQ(str, std::string("<") + c.str) << c.raw;
  }
  std::string out;
  EXPECT_THROW(append_output_cell(out, T::Int, "1.5"), Error);
  EXPECT_THROW(append_output_cell(out, T::Float, "abc"), Error);
  EXPECT_THROW(append_py_str(out, T::Bool, "yes"), Error);
}

TEST(OutputCell, TextAndMissingValues) {
  using T = ColumnType;
  EXPECT_TRUE(is_text_value(T::Text, "x"));
  EXPECT_FALSE(is_text_value(T::Text, "NA"));
  EXPECT_TRUE(is_text_value(T::TextAsRead, "NA"));
  EXPECT_FALSE(is_text_value(T::Int, "5"));
  EXPECT_FALSE(is_text_value(T::Bool, "True"));
  EXPECT_TRUE(is_missing_value(T::Float, "nan"));
  EXPECT_TRUE(is_missing_value(T::Int, ""));
  EXPECT_TRUE(is_missing_value(T::IntWithMissing, "-9223372036854775808"));
  EXPECT_FALSE(is_missing_value(T::IntWithMissing, "5"));
  EXPECT_FALSE(is_missing_value(T::TextAsRead, "nan"));
}

TEST(QuotedField, QuotesTabsQuotesAndNewlines) {
  auto q = [](std::string_view s) {
    std::string out;
    append_quoted_field(out, s);
    return out;
  };
  EXPECT_EQ(q("plain text"), "plain text");
  EXPECT_EQ(q(""), "");
  EXPECT_EQ(q("a\tb"), "\"a\tb\"");
  EXPECT_EQ(q("\""), "\"\"\"\"");
  EXPECT_EQ(q("a\nb"), "\"a\nb\"");
  EXPECT_EQ(q("a\rb"), "a\rb");
  EXPECT_EQ(q("x'y,z"), "x'y,z");
}

// --- Differential check against pandas ---------------------------------------

// Random tables (tests/pandas_crosscheck.py, fixed seed) through pandas and
// through the table layer: the same bytes, or both fail. The differences
// by design are handled in the script (float rounding) or here (which error
// comes first). Returns the number of cases where pandas fails.
int check_against_pandas(const fs::path& dir, const char* sep_name, Separator sep, int count, int wide) {
  const fs::path script = fs::path(ISOTOPE_TEST_DATA).parent_path() / "pandas_crosscheck.py";
  const fs::path cases = dir / sep_name;
  const std::string cmd = std::string(ISOTOPE_PYTHON3) + " " + script.string() + " " + cases.string() +
                          " --count " + std::to_string(count) + " --seed 20240 --wide " + std::to_string(wide) +
                          " --sep " + sep_name + " > " + (dir / "count").string();
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(std::stoi(slurp(dir / "count")), count + wide);
  int failures = 0, errors = 0;
  for (int k = 0; k < count + wide && failures < 10; ++k) {
    fs::path base = cases / ("case_" + std::to_string(k));
    std::string input = base.string() + ".txt";
    std::string got;
    std::optional<Error> error;
    try {
      got = write_like_pandas(input, sep);
    } catch (const Error& e) {
      error = e;
    }
    if (fs::exists(base.string() + ".error")) {
      ++errors;
      std::string pandas_error = slurp(base.string() + ".error");
      pandas_error.pop_back();
      if (!error) {
        ++failures;
        ADD_FAILURE() << input << ": pandas raised " << pandas_error << ", the table layer did not";
        continue;
      }
      // pandas decodes the whole file before it splits records: its decode
      // error can come before the refusal of a longer row above it.
      bool ok = pandas_error == "UnicodeDecodeError"
                    ? error->kind() == ErrorKind::Decode ||
                          error->message().find(" fields where the header has ") != std::string::npos
                    : error->kind() == ErrorKind::Value;
      if (!ok) {
        ++failures;
        ADD_FAILURE() << input << ": pandas raised " << pandas_error << ", the table layer: " << error->what();
      }
    } else if (error) {
      ++failures;
      ADD_FAILURE() << input << ": " << error->what();
    } else if (got != slurp(base.string() + ".expected")) {
      ++failures;
      ADD_FAILURE() << input << ": output differs from pandas' (" << base.string() << ".expected)";
    }
  }
  EXPECT_LT(errors, (count + wide) / 2) << sep_name;
  return errors;
}

bool have_pandas() {
  return fs::exists(ISOTOPE_PYTHON3) &&
         std::system((std::string(ISOTOPE_PYTHON3) + " -c 'import pandas' 2>/dev/null").c_str()) == 0;
}

TEST_F(TableTest, MatchesPandasOnRandomTables) {
  if (!have_pandas()) GTEST_SKIP() << "pandas is not available";
  EXPECT_GT(check_against_pandas(dir_, "whitespace", Separator::Whitespace, 250, 2), 0);
}

// isotope_separator: the same with sep="\t", "," and ";" (cells with
// blanks, empty cells, blanks around numbers).
TEST_F(TableTest, MatchesPandasWithEachSeparator) {
  if (!have_pandas()) GTEST_SKIP() << "pandas is not available";
  EXPECT_GT(check_against_pandas(dir_, "tab", Separator::Tab, 200, 1), 0);
  check_against_pandas(dir_, "comma", Separator::Comma, 120, 0);
  check_against_pandas(dir_, "semicolon", Separator::Semicolon, 120, 0);
}

}  // namespace
}  // namespace isotope
