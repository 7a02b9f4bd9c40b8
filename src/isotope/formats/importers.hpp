// Rows of search-engine result tables mapped to the model: per format, the
// columns a table must have (found by name, never by position) and a row
// mapper that turns one row's cells, kept as text, into a plain
// ImportedRow. Pure functions: nothing here reads files, keeps state or
// writes output, so the pipeline may map rows on any number of threads.
//
// Per run:  EngineFormat f = format_from_option(value);
//           ImportColumns cols = import_columns(f, header_cells);
// Per row:  ImportedRow r = map_row(cols, cells, model);   (a RunModel)
//
// A row is Ok, Decoy (the engine's decoy marker; never mapped) or
// Unmapped (something in it has no counterpart in the model: a
// monosaccharide outside the glycan vocabulary, an unknown
// modification name or mass, a malformed cell); problem says what. Only an
// Ok row carries a PepSeq, counts and composition.
#pragma once

#include <string>
#include <vector>

#include "isotope/formats/engine_format.hpp"
#include "isotope/formats/imported_row.hpp"
#include "isotope/model/run_model.hpp"

namespace isotope {

// The columns of a header (the cells of the table's first record, quotes
// removed), by name as the engine writes it or as R's make.names rewrote
// it ("Assigned.Modifications"). A column the format needs and the header
// lacks is a lookup Error naming it ("table has no column 'Mod'");
// optional ones stay empty.
// A ProForma table's peptidoforms stand in `peptidoform_column`.
ImportColumns import_columns(EngineFormat format, const std::vector<std::string>& header,
                             std::string_view peptidoform_column = "Peptidoform");

// GlycReSoft's charge_states cell ("3;4"): its charges, those that are no
// whole non-zero charge left out.
std::vector<long> parse_charge_states(std::string_view cell);

// Maps one row; cells beyond the row's end count as empty. Never throws
// for the row's content: what cannot be mapped makes the row Unmapped.
ImportedRow map_row(const ImportColumns& columns, const std::vector<std::string>& cells, const RunModel& model);

}  // namespace isotope
