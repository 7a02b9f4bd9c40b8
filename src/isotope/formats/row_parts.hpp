// What the four row mappers share (private to the formats layer): the
// "this row cannot be mapped" signal, a peptide as residues plus placed
// modifications and its rendering, the monosaccharide names, and the
// reading of numbers from cells.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/formats/imported_row.hpp"

namespace isotope::formats {

// Thrown by a mapper when the row has no counterpart in the model;
// map_row turns it into RowStatus::Unmapped with this text.
struct Unmapped {
  std::string problem;
};
[[noreturn]] void unmapped(std::string problem);

// Where a modification sits: on the N-terminus, on a residue, on the
// C-terminus; all three render on a residue (the first, the one, the last).
enum class Place { NTerm = 0, Residue = 1, CTerm = 2 };

struct PlacedMod {
  std::size_t position = 0;  // 1-based residue
  Place place = Place::Residue;
  std::string name;          // as written in our brackets
  Composition composition;
};

// Fills row.pep_seq, row.pep_mods and row.peptide from a plain sequence
// (letters A-Z) and its modifications: sorted by residue, then N-terminal,
// side chain, C-terminal, in the order given within each. An unknown
// residue makes the row Unmapped.
void finish_peptide(ImportedRow& row, std::string_view residues, std::vector<PlacedMod> mods,
                    const CompTable& residue_table);

// The composition of a modification name, or the row is Unmapped with the
// resolver's message (which holds the "did you mean" hint) after `where`.
Composition resolve_name(const ModificationResolver& resolver, std::string_view name, std::string_view where);

// The slot 0-4 (N H F S G) of a monosaccharide's long name: HexNAc, Hex,
// Fuc or dHex, NeuAc or Neu5Ac, NeuGc or Neu5Gc; -1 for any other name.
int monosaccharide_slot(std::string_view name);
// "monosaccharide 'Xyl' in <where> is not one of HexNAc, Hex, Fuc, NeuAc, NeuGc"
[[noreturn]] void refuse_monosaccharide(std::string_view name, std::string_view where);

// A cell's number as Python's float() reads plain decimal text (blanks
// around allowed); nullopt for anything else, inf and nan included.
std::optional<double> parse_number(std::string_view cell);
// A non-zero integer charge ("3", "3.0", "-2"); nullopt otherwise.
std::optional<long> parse_charge(std::string_view cell);
// A count of decimal digits only; nullopt for anything else.
std::optional<Count> parse_count(std::string_view digits);

std::string_view trim(std::string_view s);

// The mappers, one per format (pglyco3.cpp, fragpipe.cpp, metamorpheus.cpp,
// glycresoft.cpp). cell(role) is the row's text for a column role (empty
// when the column is absent or the row short).
struct RowCells {
  const ImportColumns& columns;
  const std::vector<std::string>& cells;
  std::string_view operator()(ImportColumns::Role role) const;
  bool has(ImportColumns::Role role) const { return columns.index[role].has_value(); }
};
void map_pglyco3(const RowCells& cell, const ImportTables& tables, ImportedRow& row);
void map_fragpipe(const RowCells& cell, const ImportTables& tables, ImportedRow& row);
void map_metamorpheus(const RowCells& cell, const ImportTables& tables, ImportedRow& row);
void map_glycresoft(const RowCells& cell, const ImportTables& tables, ImportedRow& row);

}  // namespace isotope::formats
