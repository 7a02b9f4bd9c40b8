// The first pass over a table: its column names and the types of its cells,
// block by block as pandas types them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "isotope/io/cells.hpp"
#include "isotope/io/record_batch.hpp"
#include "isotope/io/table_reader.hpp"

namespace isotope {

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

  // Per column: the line of the first cell that made a column of whole
  // numbers float-held (a missing or decimal cell, in a block whose cells
  // are floats), or 0. Filled for watched columns only (scan_table).
  std::vector<long> float_cause_line;

  // The cell types of data row `row` (0-based, header excluded).
  const std::vector<ColumnType>& row_types(std::size_t row) const;
};

// What typing found in one typing block.
struct BlockTypes {
  std::size_t rows = 0;
  std::vector<BlockKind> kinds;          // per column
  std::vector<long> first_non_int_line;  // per watched column: first missing or non-integer cell, or 0
};

// Types the rows of one typing block, one BlockTyper per column, fed in row
// order. A row with fewer fields than the header has missing cells at its
// end. Watched columns also note their first cell that is missing or no
// integer word.
class BlockTyping {
 public:
  BlockTyping(std::size_t width, std::vector<bool> watch);
  void add(const RecordBatch& batch, std::size_t record);
  std::size_t rows() const noexcept { return rows_; }
  // The block's result; starts the next block.
  BlockTypes take();

 private:
  std::vector<BlockTyper> typers_;
  std::vector<bool> watch_;
  std::vector<long> first_non_int_;
  std::size_t rows_ = 0;
};

// A value Error at the record's line when it has more fields than the
// header (pandas would silently make an index of the leading columns). In a
// whitespace-split table, a '[' left open in one field and closed in a
// later one is named as what it is: a modification name with a blank.
void check_row_width(const RecordBatch& batch, std::size_t record, std::size_t width, const std::string& path,
                     Separator separator = Separator::Whitespace);

// The warning on a row with fewer fields than the header: its last cells
// were read as missing; in a whitespace-split table, with the likely cause
// (an empty cell of a tab-separated file) and the option that reads it. A
// row with more fields (in a search engine's table) had the fields beyond
// dropped.
std::string short_row_note(std::size_t fields, std::size_t width, Separator separator);

// What an error in a row with fewer fields than the header of a
// whitespace-split table adds (Error::explain): an empty cell shifted the
// cells after it. Empty for a full row, and with a separator byte.
std::string shifted_row_hint(std::size_t fields, std::size_t width, Separator separator);

// The layout of a table from its column names and its typing blocks in
// table order.
TableLayout assemble_layout(const std::vector<std::string>& names, const std::vector<BlockTypes>& blocks);

// true for each name that is in watch.
std::vector<bool> watched_columns(const std::vector<std::string>& names, const std::vector<std::string>& watch);

// The first pass over a table file. Reads every record, names the columns
// (header_names) and types them. Throws, with the file and line:
// - a value Error "No columns to parse from file" for a file with no
//   header (empty or blank),
// - a value Error for a row with more fields than the header (pandas would
//   silently make an index of the leading columns, or fail),
// - the reader's errors (OS, decode, end of file inside quotes).
// A row with fewer fields than the header has missing cells at its end.
// Memory does not grow with the number of rows (beyond a few bytes per
// typing block). Columns named in watch get their float_cause_line.
TableLayout scan_table(const std::string& path, const std::vector<std::string>& watch = {});
// The same over the bytes of a source (tests and fuzz targets give bytes in
// memory), split at the separator, read chunk_bytes at a time.
TableLayout scan_table(ByteSource source, Separator separator, std::size_t chunk_bytes = TableReader::kChunkBytes,
                       const std::vector<std::string>& watch = {});

// Column names as pandas makes them from the header fields: an empty name
// becomes "Unnamed: i" (i the 0-based field index); a repeated name X gets
// X.1, X.2, ... skipping names already in the header ("a a a.1" ->
// a, a.2, a.1); non-empty names are settled before unnamed ones.
std::vector<std::string> header_names(const std::vector<std::string>& fields);

// Rows per typing block for a table of `columns` columns: the largest power
// of two below 2^20 / columns (at least 1). 12 columns: 65536 rows.
std::size_t typing_block_rows(std::size_t columns);

}  // namespace isotope
