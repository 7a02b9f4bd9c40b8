// Modification names of a run: the one place that turns a name written in a
// table (or by a search engine) into a composition, and a mass delta into a
// name.
//
// A ModificationResolver is built once per run from the run's modification
// table, the parameter file's definitions (isotope_modification.NAME =
// FORMULA, which add or replace entries) and, when the Unimod lookup is on,
// the Unimod database. Every index is built in the constructor; lookups are
// const and read only, so one resolver serves any number of threads at
// once.
//
// A name is looked up
//   1. in the table with the definitions, exactly as written (the
//      compositions and the KeyError key of a plain table lookup);
//   2. when it reads as a number ("+57.021", "-17.03"), it is a mass shift
//      and an error saying a named modification is needed;
//   3. with Unimod on: by title, full name or alternative name, ignoring
//      ASCII case, or by accession ("UNIMOD:35"); several records of
//      different composition are an error naming them;
//   4. otherwise a lookup Error keyed by the name, whose message offers up
//      to 3 close known names as difflib.get_close_matches chooses them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "isotope/model/composition.hpp"

namespace isotope {

class UnimodDb;

// Reads the FORMULA of a definition: element symbols, each optionally with
// a bracketed mass number (C[13]) and a signed count (H-1; missing means
// 1), limited to the keys with known masses (H, C, N, O, P, S, Se, Na, K,
// C[13], N[15]). A malformed formula or another element is a value Error that
// names the fault and its character position (counting from 1).
Composition parse_modification_formula(std::string_view formula);

struct ModificationDefinition {
  std::string name;
  Composition composition;
};

// The answer to "which modification has this mass delta?".
struct MassMatch {
  enum class Kind { Found, Unknown, Ambiguous };
  Kind kind = Kind::Unknown;
  std::string name;                     // Found: the name to write
  Composition composition;              // Found: its composition
  std::vector<std::string> candidates;  // Ambiguous: one name per composition
};

// The Unimod titles the mass search tries after the run's table, with their
// compositions (as in Unimod).
const std::vector<ModificationDefinition>& common_unimod_modifications();

class ModificationResolver {
 public:
  // Masses within this many daltons of a delta match it.
  static constexpr double kMassTolerance = 0.002;

  ModificationResolver(const CompTable& table, const std::vector<ModificationDefinition>& definitions = {},
                       std::shared_ptr<const UnimodDb> unimod = nullptr);

  // The composition of a modification name (see the lookup order above).
  const Composition& resolve(std::string_view name) const;
  // The sum of a modification string such as
  // "3,C,Carbamidomethyl/5,M,Oxidation", as calc_mod_comp sums it.
  Composition resolve_mods(std::string_view mods) const;

  // The modification whose mass lies within kMassTolerance of delta: first
  // among the table's entries, then among common_unimod_modifications().
  // Names with the same composition count as one (the name written is a
  // common Unimod title when the group holds one, else the first in table
  // order); two compositions are Ambiguous, none Unknown.
  MassMatch name_for_mass(double delta) const;

  // The names a "did you mean" hint chooses from: the table's keys, then
  // (with Unimod on) the Unimod titles, each once.
  const std::vector<std::string>& known_names() const noexcept { return known_; }
  const CompTable& table() const noexcept { return table_; }

 private:
  const Composition* find_unimod(std::string_view name) const;
  [[noreturn]] void fail_unknown(std::string_view name) const;

  // Held by value, so that a copied resolver points into nothing of the
  // original's.
  struct MassEntry {
    std::string name;
    Composition composition;
    double mass;
    bool common;  // a common Unimod title
  };

  CompTable table_;
  std::shared_ptr<const UnimodDb> unimod_;
  std::unordered_map<std::string, std::vector<std::size_t>> unimod_names_;  // lower-case name -> records
  std::unordered_map<long, std::size_t> unimod_ids_;                         // accession -> record
  std::vector<std::string> known_;
  std::vector<MassEntry> table_masses_, common_masses_;
};

}  // namespace isotope
