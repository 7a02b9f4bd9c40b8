// Cells of a table as pandas types and writes them.
//
// A cell is kept as its raw text plus the ColumnType of its column (in its
// block of rows, see table_layout.hpp): together they say which Python
// value pandas holds (int, float, bool, str or NaN), how str() shows it and
// how to_csv writes it. BlockTyper infers what pandas' C parser makes of one
// block of one column, cell_type what that block's cells are once numpy has
// joined the column's blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// True for a whole number as pandas reads one: optional ASCII blanks around
// an optional sign and ASCII digits ("007", "+5", "-0"; any size).
bool is_int_word(std::string_view cell);

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

// The bit of a BlockKind in the kind sets cell_type takes.
unsigned kind_bit(BlockKind kind);

// The type of a whole column whose blocks are of the kinds in `kinds`, as
// numpy joins them: Int, Float, Bool, or Text for a column of mixed values.
ColumnType joined_column_type(unsigned kinds);

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
