// A table held in memory (a DataFrame's columns, turned into typed text
// cells by the Python module) through the same computation as a table file:
// the columns a run adds come back as columns of text, the numeric ones
// (GP_Mass, GP_MZ, GP_MZ_z<charge>, GP_PPM, GP_Isotope_Offset) as numbers,
// and on request GP_Isotopes and GP_Isotopes_MZ as lists of numbers.
//
// Cells carry the type pandas gives them, so the Glycan string, the notes
// and every added cell are what the file route writes for the same table:
// annotate(read_csv(F)) written with to_csv gives the bytes the file route
// writes for F. Rows are computed on worker threads; notes and the first
// failing row come out in row order, named by the row's position and
// index label.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "isotope/io/cells.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/run/console.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/rows.hpp"

namespace isotope {

// One column of cells: their text back to back, and their types.
struct CellColumn {
  std::vector<ColumnType> types;
  std::string text;
  std::vector<std::size_t> ends;  // end offset of each cell in text

  std::size_t size() const noexcept { return ends.size(); }
  Cell cell(std::size_t row) const {
    std::size_t begin = row == 0 ? 0 : ends[row - 1];
    return Cell{types[row], std::string_view(text).substr(begin, ends[row] - begin), true};
  }
  void push(ColumnType type, std::string_view cell) {
    types.push_back(type);
    text += cell;
    ends.push_back(text.size());
  }
};

struct FrameTable {
  std::vector<std::string> names;  // every column of the frame, in order
  std::size_t rows = 0;
  // The cells of the columns a run reads, by column index (others empty):
  // for our format PepSeq, the count columns and the charge and precursor
  // columns; for a search engine's table every column.
  std::vector<std::optional<CellColumn>> columns;
  // Per count column (in the vocabulary's order): whether the frame holds
  // it as floats (a float64 column).
  std::vector<bool> float_columns;
  // How a row is named in messages: "row 3 (index 'b')".
  std::function<std::string(std::size_t row)> row_name;
};

// How an added column is handed over.
enum class FrameColumnKind : std::uint8_t {
  Text,     // the cells' text
  Number,   // one double per row, NaN for an empty cell
  Integer,  // whole numbers as Number holds them (NaN: an empty cell)
  Array,    // a list of doubles per row, none for an empty cell
};

// One added column's cells for a piece of rows.
struct FrameCells {
  CellColumn text;                 // Text
  std::vector<double> numbers;     // Number, Integer: one per row; Array: every row's values back to back
  std::vector<std::size_t> ends;   // Array: the end of each row's values in numbers
};

// The columns a run adds, in order. Their cells come in pieces of rows, as
// they were computed: pieces[p][c] holds the cells of added column c for
// the rows of piece p, pieces in row order.
struct FrameResult {
  std::vector<std::string> names;
  std::vector<FrameColumnKind> kinds;  // per column
  std::vector<std::vector<FrameCells>> pieces;
};

// A table in memory's options: isotope_peaks_num is 5 unless they set it.
void add_frame_defaults(ParamFile& params);

// The columns of our format a run reads from a table in memory: PepSeq,
// the count columns, and the charge and precursor columns the options
// name.
std::vector<std::string> columns_read(const Options& options);
// The count columns of a run, in order (FrameTable::float_columns' order):
// the five, then those isotope_count_columns names.
std::vector<std::string> count_columns(const Options& options);

// The row whose cell a float-held count column is named by in the note on
// it: the first missing, infinite or fractional cell (the one that makes a
// column of whole numbers read as floats), else the first row (every cell
// is written as a float, 4 as 4.0, as a table written from the frame
// shows); nullopt for a frame without rows.
std::optional<std::size_t> float_cause_row(const CellColumn& column);

// Computes every row; throws the first failing row's error. With arrays,
// GP_Isotopes and GP_Isotopes_MZ come as Array columns, otherwise as text.
FrameResult annotate_frame(const FrameTable& frame, const Options& options, const ModelTables& tables,
                           const Console& console, unsigned threads, bool arrays = false);

}  // namespace isotope
