// The monosaccharides of the glycan model: one table whose entries hold the
// code a Glycan string writes ("N", "H[6P]"), the names and aliases search
// engines write (HexNAc; Fuc, dHex; NeuAc, Neu5Ac), the residue composition,
// whether our own tables have a count column for it, and each engine's own
// code for it (pGlyco3's "A", MetaMorpheus's "A" for NeuAc). Besides the
// monosaccharides it holds the substituents (phosphate, sulfate, acetyl) and
// the adducts (Na, K, NH4, ...) that engines write into glycan
// compositions: each is an entry whose composition is the neutral
// difference it makes (an adduct Na: + Na - H), written in a Glycan string
// as a bracketed code, "X[Na]1".
//
// A vocabulary is a value built per run: the built-in entries, then a run's
// own definitions, which replace an entry of the same code or come last.
// Counts of a glycan are held per entry (GlycanCounts, indexed like
// entries()), so every reader, writer and mapper works for any number of
// entries; a new monosaccharide is one more table row.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"

namespace isotope {

// The engines' code tables the vocabulary knows, by the name of the engine
// format ("pglyco3", "metamorpheus").
struct EngineCode {
  std::string engine;
  std::string code;
};

struct Monosaccharide {
  std::string code;                  // as the Glycan string writes it: "N", "H[6P]"
  std::vector<std::string> names;    // long names engines write, first the usual one
  Composition composition;           // the residue (the free sugar less one water)
  bool count_column = false;         // our tables have a count column named `code`
  std::vector<EngineCode> engine_codes;
  // An entry of the gly_comp table: a run's gly_comp (which a caller may
  // rebind) decides its composition, and a code it lacks stays unknown.
  bool gly_comp = false;
  // The count column's name when it is not the code ("Xyl" for X[Xyl]).
  std::string column;
  // A run's own definition (isotope_monosaccharide.NAME): its composition
  // wins over the gly_comp table's.
  bool defined = false;
};

// One count per vocabulary entry, indexed like GlycanVocabulary::entries().
using GlycanCounts = std::vector<Count>;

class GlycanVocabulary {
 public:
  GlycanVocabulary() = default;
  explicit GlycanVocabulary(std::vector<Monosaccharide> entries);

  // The built-in vocabulary: N, H, F, S, G (the count columns, in Glycan
  // string order), H[6P], then the other monosaccharides, substituents and
  // adducts, each under a bracketed code (X[Xyl], X[Na]).
  static const GlycanVocabulary& builtin();

  // Replaces the entry with the same code, or adds one after the others.
  void define(Monosaccharide entry);
  // A run's definition of NAME (isotope_monosaccharide.NAME = FORMULA):
  // the composition of the entry find(name) gives, or a new entry X[NAME].
  void define(std::string_view name, Composition composition);
  // Makes entry i a count column named `column`, after the others.
  void add_count_column(std::size_t i, std::string column);

  const std::vector<Monosaccharide>& entries() const noexcept { return entries_; }
  std::size_t size() const noexcept { return entries_.size(); }
  const Monosaccharide& operator[](std::size_t i) const { return entries_[i]; }

  // The entries with a count column, in Glycan string order.
  const std::vector<std::size_t>& count_columns() const noexcept { return count_columns_; }
  // The count column names ("N", "H", "F", "S", "G", then those a run
  // adds: "Xyl").
  std::vector<std::string> count_column_names() const;
  const std::string& column_name(std::size_t i) const;

  // An entry by its Glycan string code, by a long name or alias (exact
  // spelling), or by an engine's own code.
  std::optional<std::size_t> by_code(std::string_view code) const;
  std::optional<std::size_t> by_name(std::string_view name) const;
  std::optional<std::size_t> by_engine_code(std::string_view engine, std::string_view code) const;
  // An entry by a name as an option writes it: a long name, a code, or the
  // name in a bracketed code ("Xyl" for X[Xyl]).
  std::optional<std::size_t> find(std::string_view name) const;

  // "HexNAc, Hex, Fuc, NeuAc, NeuGc": the usual names of the entries that
  // have one; "N, H, F, A, G": an engine's codes in vocabulary order.
  std::string name_list() const;
  std::string engine_code_list(std::string_view engine) const;

  GlycanCounts zero_counts() const { return GlycanCounts(entries_.size(), 0); }

  // "N4H5F1S0G0": every count-column entry with its count, then the other
  // entries with a non-zero count, each as its code and count
  // ("N4H5F1S0G0X[Na]1").
  std::string glycan_string(const GlycanCounts& counts) const;

  // Monosaccharide code -> composition: `base` (a run's gly_comp) as it is,
  // then the entries that are no gly_comp entries; a run's definitions
  // replace base's entries.
  CompTable composition_table(const CompTable& base) const;

 private:
  void index();
  std::vector<Monosaccharide> entries_;
  std::vector<std::size_t> count_columns_;
  std::vector<std::size_t> added_columns_;  // add_count_column's, in order
};

}  // namespace isotope
