// What the four row mappers share (private to the formats layer): the
// "this row cannot be mapped" signal, a row's opening cells (charge, m/z,
// decoy mark), a peptide as residues plus placed modifications and its
// rendering, the readers of lists, glycan codes and bracketed sequences,
// and the reading of numbers from cells.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/formats/imported_row.hpp"
#include "isotope/model/run_model.hpp"

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

// The vocabulary entry of a monosaccharide code, or the row is Unmapped:
// "monosaccharide 'Xyl' in <where> is not one of HexNAc, Hex, ..." (the
// entries' usual names, or with `engine` that engine's codes).
std::size_t monosaccharide(const GlycanVocabulary& glycans, std::string_view name, std::string_view where);
std::size_t engine_monosaccharide(const GlycanVocabulary& glycans, std::string_view engine, std::string_view code,
                                  std::string_view where);

// Calls on_entry for each entry of a list cut at `separator`, blanks around
// an entry trimmed, empty entries skipped.
void for_each_entry(std::string_view list, char separator, const std::function<void(std::string_view)>& on_entry);

// A glycan written as codes with counts in parentheses, "H(4)N(4)A(1)F(3)":
// each code's entry (through `entry`) and count added to counts. `column`
// and `form` word the problems ("GlycanComposition", "H(4)N(4)A(1)F(3)").
void read_code_counts(std::string_view text, GlycanCounts& counts, std::string_view column, std::string_view form,
                      const std::function<std::size_t(std::string_view code)>& entry);

// A sequence of residues with bracketed names after the residue they
// modify ("C[Common Fixed:Carbamidomethyl on C]", "N(N-Glycosylation)"):
// brackets before the first residue are N-terminal, a "-" then a bracket
// after the residues is C-terminal. Nested brackets of the same kind stay
// inside a name.
struct BracketForm {
  char open, close;
  std::string_view column;      // names the cell in problems: "Full Sequence"
  bool n_term_hyphen = false;   // an N-terminal bracket is followed by "-"
};
struct Bracket {
  std::string_view body;
  Place place = Place::Residue;
  std::size_t position = 0;  // 1-based residue it sits on
};
// The residues; every bracket goes to on_bracket in order. Problems quote
// `shown`, the cell the sequence comes from.
std::string scan_sequence(std::string_view text, std::string_view shown, const BracketForm& form,
                          const std::function<void(const Bracket&)>& on_bracket);

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
struct RowView {
  const ImportColumns& columns;
  const std::vector<std::string>& cells;
  std::string_view operator()(ImportColumns::Role role) const;
  bool has(ImportColumns::Role role) const { return columns.index[role].has_value(); }
};

// A row's opening cells: its charge, precursor m/z and neutral mass (those
// its format has), and whether a decoy mark stands in `decoy`'s column:
// the cell equal to the mark, or with `prefix` starting with it.
struct DecoyMark {
  ImportColumns::Role role;
  std::string_view mark;
  bool prefix = false;
};
// True (and the row a Decoy) when one of the marks holds.
bool open_row(const RowView& cell, ImportedRow& row, std::initializer_list<DecoyMark> decoys);

// The formula of a MetaMorpheus modification name (as written before
// " on X", or a UniProt PTM name) on residue `site`; nullopt for a name
// outside its lists (metamorpheus_names.cpp).
std::optional<std::string_view> metamorpheus_formula(std::string_view name, char site);

void map_pglyco3(const RowView& cell, const RunModel& model, ImportedRow& row);
void map_fragpipe(const RowView& cell, const RunModel& model, ImportedRow& row);
void map_metamorpheus(const RowView& cell, const RunModel& model, ImportedRow& row);
void map_glycresoft(const RowView& cell, const RunModel& model, ImportedRow& row);
void map_proforma(const RowView& cell, const RunModel& model, ImportedRow& row);

}  // namespace isotope::formats
