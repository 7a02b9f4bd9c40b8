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

#include "isotope/io/cells.hpp"
#include "isotope/io/table_layout.hpp"
#include "isotope/io/table_reader.hpp"
