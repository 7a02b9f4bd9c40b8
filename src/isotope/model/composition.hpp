// The composition model: the Composition type, ordered counts, the reference
// tables of residue, modification and monosaccharide compositions, and the
// rules that turn a modified peptide and a glycan into one composition, and a
// composition into formula text and back.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace isotope {

using Count = std::int64_t;

// Insertion-ordered mapping from key to count, for counts read from text
// (glycan and formula strings, modification names, residues). Zero counts
// are kept; a key set again keeps its first position.
class Counts {
 public:
  using Entry = std::pair<std::string, Count>;

  // Counter semantics: one more occurrence of key.
  void increment(std::string_view key);
  // Plain-mapping semantics: the last count wins, the first position stays.
  void set(std::string_view key, Count n);
  std::optional<Count> get(std::string_view key) const;

  const std::vector<Entry>& entries() const noexcept { return entries_; }
  auto begin() const noexcept { return entries_.begin(); }
  auto end() const noexcept { return entries_.end(); }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  bool operator==(const Counts& other) const = default;

 private:
  Entry* find(std::string_view key);
  std::vector<Entry> entries_;
};

// An elemental composition: an insertion-ordered mapping from key ("C", "H",
// "C[13]") to a non-zero count. A count that becomes zero is removed; a key
// added again later goes to the end. Arithmetic that would overflow 64 bits
// throws a value Error.
class Composition {
 public:
  using Entry = std::pair<std::string, Count>;

  Composition() = default;
  // Adds the entries left to right.
  Composition(std::initializer_list<Entry> entries);
  // Reads element symbols (a capital letter, lower-case letters, optionally a
  // bracketed mass number), each with an optional count (1 when missing):
  // "HPO3" gives H 1, P 1, O 3.
  static Composition from_formula(std::string_view formula);

  Count get(std::string_view key) const noexcept;
  bool contains(std::string_view key) const noexcept;
  // Adds n to key's count (checked); drops the entry when it becomes zero.
  void add(std::string_view key, Count n);
  // Sets key's count; zero removes the entry.
  void set(std::string_view key, Count n);
  bool erase(std::string_view key);

  // Adds other's entries in other's order.
  Composition& operator+=(const Composition& other);
  // A new composition from this one's entries in order, each count times n.
  Composition times(Count n) const;

  // Neutral monoisotopic mass: 0.0 plus count times the mass of each key, in
  // iteration order. A key without a known mass is a lookup Error.
  double mass() const;

  const std::vector<Entry>& entries() const noexcept { return entries_; }
  auto begin() const noexcept { return entries_.begin(); }
  auto end() const noexcept { return entries_.end(); }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

  // Equal as mappings: the same keys with the same counts, in any order.
  bool operator==(const Composition& other) const noexcept;

 private:
  std::vector<Entry> entries_;
};

Composition operator+(const Composition& a, const Composition& b);
Composition operator*(const Composition& a, Count n);
inline Composition operator*(Count n, const Composition& a) { return a * n; }

// Monoisotopic mass of an element key ("H", "C[13]", ...); a lookup Error
// for a key without a published mass.
double element_mass(std::string_view key);

// Insertion-ordered table from key to Composition, with the semantics of a
// Python dict: setting an existing key keeps its position.
class CompTable {
 public:
  using Entry = std::pair<std::string, Composition>;

  CompTable() = default;
  CompTable(std::initializer_list<Entry> entries);

  const Composition* find(std::string_view key) const;
  // The entry for key, or a lookup Error that names the key as `what`
  // (e.g. "unknown residue 'X'").
  const Composition& at(std::string_view key, std::string_view what = {}) const;
  void set(std::string_view key, Composition comp);
  bool erase(std::string_view key);

  const std::vector<Entry>& entries() const noexcept { return entries_; }
  auto begin() const noexcept { return entries_.begin(); }
  auto end() const noexcept { return entries_.end(); }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
};

// ---------------------------------------------------------------------------
// Reference tables.

// The standard one-letter residue compositions (25 entries).
const CompTable& standard_residues();

class UnimodDb;  // unimod.hpp

struct ReferenceTables {
  CompTable aa_comp;   // residue code -> composition
  CompTable mod_comp;  // modification key -> composition
  CompTable gly_comp;  // monosaccharide code -> composition
  std::vector<std::pair<std::string, double>> mic;          // "H2O", "GN", "GNF", "GN2"
  std::vector<std::pair<std::string, std::string>> mod_d;   // long name -> mod_comp key
  std::shared_ptr<const UnimodDb> db;  // set only when the Unimod fallback ran
};

struct TableOptions {
  // Test seam: when not empty, the literal step fails as it is about to store
  // the entry with this key, and the Unimod fallback runs.
  std::string fail_literal_at;
  // The Unimod database file; empty means the one OpenMS ships.
  std::string unimod_path;
};

// Builds the tables: literal modification and monosaccharide entries, with
// the Unimod fallback when that step fails, then the "mic" masses and mod_d.
ReferenceTables build_reference_tables(const TableOptions& options = {});

// The tables built once with default options.
const ReferenceTables& reference_tables();

// ---------------------------------------------------------------------------
// Peptides, glycans and formula strings.

// The sum over counter's keys, in order, of comp_map[key] times the count.
// `what` names the kind of key in a lookup error ("residue", ...).
Composition calc_counter_comp(const Counts& counter, const CompTable& comp_map,
                              std::string_view what = {});
// The residues of seq (each code point one residue), plus one water unless
// residue is true.
Composition calc_seq_comp(std::string_view seq, const CompTable& comp_map, bool residue = true);
// Modification names of a string such as "3,C,Carbamidomethyl/5,M,Oxidation":
// split at every "/", keep each entry's last ","-separated field.
Counts mods_counter(std::string_view mods);
Composition calc_mod_comp(std::string_view mods, const CompTable& comp_map);
// Sequence part, then (unless mods is empty or absent) the modifications.
Composition calc_pep_comp(std::string_view seq, std::optional<std::string_view> mods,
                          const CompTable& aa_comp_map, const CompTable& mod_comp_map,
                          bool residue = true);

// Calls on_pair(key, digits) for every non-overlapping match, left to right,
// of the pattern ([A-Z]|[A-Z]\[.+?\])(\d+), where "." is any character but a
// line feed and \d any Unicode decimal digit. Linear time, no recursion.
void scan_pairs(std::string_view text,
                const std::function<void(std::string_view key, std::string_view digits)>& on_pair);

Counts glycan_counter(std::string_view glycan);
Composition calc_glycan_comp(std::string_view glycan, const CompTable& comp_map,
                             bool residue = true);
// "C6H12O6": key then count, every count written.
std::string comp_to_str(const Composition& comp);
void append_formula(std::string& out, const Composition& comp);
Counts component_counter(std::string_view component_str);

// A PepSeq such as "AC[Carbamidomethyl]M[Oxidation]K" cut into its plain
// sequence "ACMK" and its modification string
// "2,C,Carbamidomethyl/3,M,Oxidation": tokens are the matches of
// [A-Z]\[.+?\]|[A-Z]; everything else is skipped.
struct PeptideParts {
  std::string seq;
  std::string mods;
};
PeptideParts split_peptide(std::string_view pep_seq);
void split_peptide(std::string_view pep_seq, PeptideParts& out);  // reuses out's buffers

}  // namespace isotope
