// The input table: read, typed and written back as pandas does it with
// read_csv(path, sep=r"\s+") and to_csv(path, sep="\t", index=False).
//
// Reading is streaming: TableReader yields one record at a time, in bounded
// memory. scan_table is the first pass over a file: it checks the shape of
// every record and types every column. A second pass (the pipeline) reads
// the records again and writes each cell with append_output_cell, using the
// cell types from the layout.
//
// Typing follows pandas' C parser, which types each block of rows on its
// own (see TableLayout::block_rows) and then joins the blocks as numpy
// concatenates arrays. Within a block a column is, in pandas' order of
// trials: int64 (no missing cell) or, with missing cells, int64 upcast to
// float64; else uint64 when a value exceeds int64; else float64; else bool
// (with missing cells: an object column of True/False/NaN); else text.
// Missing cells are the markers of is_missing_marker, in every column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace isotope {

// How a cell's raw text becomes the Python value pandas holds.
enum class ColumnType : std::uint8_t {
  Int,    // int64 or uint64: "007" -> 7, "+5" -> 5, "-0" -> 0
  Float,  // float64 read from the text: "4" -> 4.0, "1e5" -> 100000.0
  Bool,   // "true" in any case -> True, "false" -> False
  Text,   // str: the text itself
  // Rarer kinds, from pandas' integer fallbacks and its block-wise typing.
  IntAsFloat,      // integers held as float64 (an int block joined to float
                   // ones): "-0" -> 0.0
  IntWithMissing,  // integers with missing cells, upcast to float64. pandas
                   // marks the missing cells with int64's minimum first, so
                   // a value that converts to -2^63 becomes NaN as well
  TextAsRead,      // str, with no missing cells at all: the markers stay
                   // text ("NA" -> 'NA', "" -> ''). pandas leaves a column
                   // this way when it mixes integers above int64 with
                   // negative numbers or missing markers
};

// In Int, Float and IntAsFloat cells, a bool word also appears when pandas
// joined a bool block to an int or float block: it reads as 1 / 0 (1.0 /
// 0.0 as float).

// pandas' default missing-value markers: "", "#N/A", "#N/A N/A", "#NA",
// "-1.#IND", "-1.#QNAN", "-NaN", "-nan", "1.#IND", "1.#QNAN", "<NA>", "N/A",
// "NA", "NULL", "NaN", "n/a", "nan", "null". Matched exactly (quoted or
// not, but no surrounding blanks).
bool is_missing_marker(std::string_view cell);

// Streams the records of one text table.
//
// Bytes are read in chunks; a record is held in memory only while it is
// read. The format is the one pandas' C tokenizer reads with sep=r"\s+":
// - The file is UTF-8; a byte order mark at its very start is dropped.
//   Invalid UTF-8 is a decode Error placed at the record's line; its
//   position counts bytes from the start of that line.
// - LF, CRLF and a lone CR end lines. Lines holding only spaces and tabs
//   are skipped.
// - Fields are separated by runs of spaces and tabs; blanks at the start
//   and end of a line are ignored. Other white space (\f, \v, U+00A0, ...)
//   belongs to the field.
// - A field that starts with '"' is quoted: it runs to the next lone '"'
//   and may hold blanks, line ends and "" for one '"'. Text that follows
//   the closing quote belongs to the same field ("ab"cd -> abcd). A '"'
//   inside an unquoted field is an ordinary character (ab"cd -> ab"cd).
// - A NUL byte ends the field's value: the rest of the field is dropped.
// - After a lone CR, a line of blanks only is not skipped but read as a
//   record with no fields (pandas' tokenizer does that).
// - End of file inside a quoted field is a value Error.
class TableReader {
 public:
  static constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

  // Throws Error::os when the file cannot be opened.
  explicit TableReader(const std::string& path, std::size_t chunk_bytes = kChunkBytes);
  ~TableReader();
  TableReader(const TableReader&) = delete;
  TableReader& operator=(const TableReader&) = delete;

  // Reads the next record (the header first, then the rows) into fields,
  // reusing its strings, and sets line to the physical line (1-based) where
  // the record starts. Returns false at the end of the file.
  bool next(std::vector<std::string>& fields, long& line);

  const std::string& path() const noexcept { return path_; }

 private:
  enum class After : std::uint8_t { Line, Cr };

  bool refill();
  [[noreturn]] void fail_read(int err) const;
  void check_record_utf8(std::size_t end, long line) const;

  std::string path_;
  int fd_ = -1;
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  std::size_t keep_ = 0;  // start of the bytes a refill must keep
  bool eof_ = false;
  bool started_ = false;
  After after_ = After::Line;
  long line_ = 1;  // line of the byte at pos_
};

struct Column {
  std::string name;
  // The type of the column as a whole: the cell type when every block has
  // the same, otherwise Int, Float or Bool after the numeric join, and Text
  // for a column of mixed Python values. Use TableLayout::row_types for the
  // exact type of each cell.
  ColumnType type;
};

// Cell types of a run of rows: from first_row up to the next run's.
struct TypeRun {
  std::size_t first_row;
  std::vector<ColumnType> types;  // one per column
};

struct TableLayout {
  std::vector<Column> columns;
  std::size_t rows = 0;
  // pandas types blocks of this many rows separately (typing_block_rows).
  std::size_t block_rows = 0;
  // Consecutive blocks with the same cell types share one run; a table
  // typed alike throughout has one run. Never empty.
  std::vector<TypeRun> runs;

  // The cell types of data row `row` (0-based, header excluded).
  const std::vector<ColumnType>& row_types(std::size_t row) const;
};

// The first pass over a table file. Reads every record, names the columns
// (header_names) and types them. Throws, with the file and line:
// - a value Error "No columns to parse from file" for a file with no
//   header (empty or blank),
// - a value Error for a row with more fields than the header (pandas would
//   silently make an index of the leading columns, or fail),
// - the reader's errors (OS, decode, end of file inside quotes).
// A row with fewer fields than the header has missing cells at its end.
// Memory does not grow with the number of rows (beyond one run per change
// of cell types between blocks).
TableLayout scan_table(const std::string& path);

// Column names as pandas makes them from the header fields: an empty name
// becomes "Unnamed: i" (i the 0-based field index); a repeated name X gets
// X.1, X.2, ... skipping names already in the header ("a a a.1" ->
// a, a.2, a.1); non-empty names are settled before unnamed ones.
std::vector<std::string> header_names(const std::vector<std::string>& fields);

// Rows per typing block for a table of `columns` columns: the largest power
// of two below 2^20 / columns (at least 1). 12 columns: 65536 rows.
std::size_t typing_block_rows(std::size_t columns);

// --- Typing, exposed for tests and tools ---------------------------------

// What pandas makes of one block of one column.
enum class BlockKind : std::uint8_t {
  Int64,
  UInt64,
  IntWithMissing,   // int64 with missing cells -> float64
  Float64,
  Bool,
  BoolWithMissing,  // object: True, False, NaN
  Text,             // object: str, NaN
  TextAsRead,       // object: str, markers kept
};

// Infers the BlockKind of a column block, fed one cell at a time in row
// order (the order matters to pandas' integer fallbacks).
class BlockTyper {
 public:
  void add(std::string_view cell);
  BlockKind kind() const;
  void reset() { *this = BlockTyper(); }

 private:
  enum class Pass : std::uint8_t { Running, Invalid, Overflow };
  Pass int64_ = Pass::Running;
  Pass uint64_ = Pass::Running;
  bool int_missing_ = false;
  bool seen_negative_ = false, seen_big_ = false, seen_missing_ = false;
  bool float_ok_ = true;
  bool bool_ok_ = true;
  bool bool_missing_ = false;
  bool settled_ = false;  // every trial failed: Text
};

// The cell type of cells from a block of kind `block` in a column whose
// blocks are, all together, of the kinds in `kinds` (a bit set: bit k set
// when a block of BlockKind k occurs).
ColumnType cell_type(BlockKind block, unsigned kinds);

// --- Writing ----------------------------------------------------------------

// Appends text as a csv writer with tab separator and minimal quoting does:
// quoted when it holds a tab, a '"' or a '\n' (inner quotes doubled).
// A '\r' alone does not cause quoting, as in Python's csv with "\n" line
// terminator. (A row made of one empty field is written "" by Python's csv
// module: callers writing one-column rows handle that.)
void append_quoted_field(std::string& out, std::string_view text);

// Appends the cell as to_csv writes the typed value: ints in plain
// decimal, floats as repr, bools as True/False, text unchanged, missing
// cells as nothing; then quoted by append_quoted_field. Throws a value
// Error if raw is not a value of the type (the file changed since it was
// scanned).
void append_output_cell(std::string& out, ColumnType type, std::string_view raw);

// Appends Python's str() of the typed value: "4", "2.0", "True", the text;
// "nan" for a missing cell.
void append_py_str(std::string& out, ColumnType type, std::string_view raw);

// True when the typed value is a Python str (a non-missing text cell).
bool is_text_value(ColumnType type, std::string_view raw);

// True when the typed value is NaN (a missing cell; in IntWithMissing
// cells also a value that converts to -2^63).
bool is_missing_value(ColumnType type, std::string_view raw);

}  // namespace isotope
