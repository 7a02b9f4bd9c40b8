// The composition types: ordered counts read from text (Counts), the
// elemental composition of a molecule or building block (Composition), a
// table from key to composition (CompTable), the published element masses,
// and the summation rule that adds table entries times counts. Everything
// above the model builds on these; they know nothing of peptides, glycans or
// files.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
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
  // Adds other's entries times n, in other's order (checked).
  void add_times(const Composition& other, Count n);
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

// The sum over counter's keys, in order, of comp_map[key] times the count.
// Every key is looked up, also those with count 0. `what` names the kind of
// key in a lookup error ("unknown residue", ...).
Composition calc_counter_comp(const Counts& counter, const CompTable& comp_map,
                              std::string_view what = {});

// One water, {"H": 2, "O": 1}.
const Composition& water();

// The proton's mass in daltons.
inline constexpr double kProtonMass = 1.007276466621;

// The m/z of a neutral mass at charge z (z != 0): (M + z p) / z, and for a
// negative z (M - |z| p) / |z| (deprotonated ions).
double mz_at(double mass, std::int64_t z);

}  // namespace isotope
