// A table held in memory (a DataFrame's columns, turned into typed text
// cells by the Python module) through the same computation as a table file:
// the columns a run adds come back as columns of text, and GP_Mass as
// numbers.
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
  // Per count column (in the vocabulary's order): the row whose cell made
  // the column float-held (a missing or decimal cell), if any.
  std::vector<std::optional<std::size_t>> float_cause_row;
  // How a row is named in messages: "row 3 (index 'b')".
  std::function<std::string(std::size_t row)> row_name;
};

// The columns a run adds, in order. Their cells come in pieces of rows, as
// they were computed: pieces[p][c] holds the cells of added column c (GP_Mass
// left out) for the rows of piece p, pieces in row order.
struct FrameResult {
  std::vector<std::string> names;
  std::vector<std::vector<CellColumn>> pieces;
  std::vector<double> mass;     // GP_Mass (NaN for a row without results)
  std::size_t mass_column = 0;  // GP_Mass's place among names
  std::size_t text_columns = 0;
};

// A table in memory's options: isotope_peaks_num is 5 unless they set it.
void add_frame_defaults(ParamFile& params);

// The columns of our format a run reads from a table in memory: PepSeq,
// the count columns, and the charge and precursor columns the options
// name.
std::vector<std::string> columns_read(const Options& options);
// The count columns, in order (FrameTable::float_cause_row's order).
std::vector<std::string> count_columns();

// Computes every row; throws the first failing row's error.
FrameResult annotate_frame(const FrameTable& frame, const Options& options, const ModelTables& tables,
                           const Console& console, unsigned threads);

}  // namespace isotope
