#include "morvandel/plugins/isotope/composition.hpp"

#include <algorithm>
#include <charconv>
#include <limits>

#include "morvandel/plugins/isotope/errors.hpp"
#include "morvandel/plugins/isotope/text.hpp"
#include "morvandel/plugins/isotope/unimod.hpp"

namespace isotope {

namespace {

Count checked_add(Count a, Count b) {
  Count r;
  if (__builtin_add_overflow(a, b, &r)) throw Error::value("composition count overflows 64 bits");
  return r;
}

Count checked_mul(Count a, Count b) {
  Count r;
  if (__builtin_mul_overflow(a, b, &r)) throw Error::value("composition count overflows 64 bits");
  return r;
}

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

// Key comparison for the small linear maps: keys are mostly one or two
// letters, so look at the first byte before calling memcmp.
inline bool same_key(const std::string& a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || (a[0] == b[0] && a.compare(1, a.size() - 1, b.substr(1)) == 0));
}
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

}  // namespace

// ---------------------------------------------------------------------------
// Counts

Counts::Entry* Counts::find(std::string_view key) {
  for (auto& e : entries_)
    if (same_key(e.first, key)) return &e;
  return nullptr;
}

void Counts::increment(std::string_view key) {
  if (Entry* e = find(key))
    e->second = checked_add(e->second, 1);
  else
    entries_.emplace_back(std::string(key), 1);
}

void Counts::set(std::string_view key, Count n) {
  if (Entry* e = find(key))
    e->second = n;
  else
    entries_.emplace_back(std::string(key), n);
}

std::optional<Count> Counts::get(std::string_view key) const {
  for (const auto& e : entries_)
    if (e.first == key) return e.second;
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Composition

Composition::Composition(std::initializer_list<Entry> entries) {
  for (const auto& [key, n] : entries) add(key, n);
}

Composition Composition::from_formula(std::string_view f) {
  Composition comp;
  std::size_t p = 0;
  while (p < f.size()) {
    if (!is_upper(f[p]))
      throw Error::value("invalid formula " + py_repr(f) + ": expected an element symbol at position " +
                         std::to_string(p));
    std::size_t start = p++;
    while (p < f.size() && is_lower(f[p])) ++p;
    if (p < f.size() && f[p] == '[') {
      std::size_t q = p + 1;
      while (q < f.size() && f[q] >= '0' && f[q] <= '9') ++q;
      if (q == p + 1 || q >= f.size() || f[q] != ']')
        throw Error::value("invalid formula " + py_repr(f) + ": bad mass number at position " +
                           std::to_string(p));
      p = q + 1;
    }
    std::string_view symbol = f.substr(start, p - start);
    std::size_t digits = 0;
    while (p + digits < f.size() && f[p + digits] >= '0' && f[p + digits] <= '9') ++digits;
    Count n = digits ? text::digits_value(f.substr(p, digits)) : 1;
    p += digits;
    comp.add(symbol, n);
  }
  return comp;
}

Count Composition::get(std::string_view key) const noexcept {
  for (const auto& e : entries_)
    if (same_key(e.first, key)) return e.second;
  return 0;
}

bool Composition::contains(std::string_view key) const noexcept {
  return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
}

void Composition::add(std::string_view key, Count n) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (same_key(it->first, key)) {
      it->second = checked_add(it->second, n);
      if (it->second == 0) entries_.erase(it);
      return;
    }
  }
  if (n != 0) entries_.emplace_back(std::string(key), n);
}

void Composition::set(std::string_view key, Count n) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->first == key) {
      if (n == 0)
        entries_.erase(it);
      else
        it->second = n;
      return;
    }
  }
  if (n != 0) entries_.emplace_back(std::string(key), n);
}

bool Composition::erase(std::string_view key) {
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.first == key; });
  if (it == entries_.end()) return false;
  entries_.erase(it);
  return true;
}

Composition& Composition::operator+=(const Composition& other) {
  if (this == &other) {
    Composition copy = other;
    return *this += copy;
  }
  for (const auto& [key, n] : other.entries_) add(key, n);
  return *this;
}

Composition Composition::times(Count n) const {
  Composition out;
  if (n == 0) return out;
  out.entries_.reserve(entries_.size());
  for (const auto& [key, c] : entries_) out.entries_.emplace_back(key, checked_mul(c, n));
  return out;
}

double Composition::mass() const {
  double m = 0.0;
  for (const auto& [key, n] : entries_) m += static_cast<double>(n) * element_mass(key);
  return m;
}

bool Composition::operator==(const Composition& other) const noexcept {
  if (entries_.size() != other.entries_.size()) return false;
  return std::all_of(entries_.begin(), entries_.end(),
                     [&](const Entry& e) { return other.get(e.first) == e.second; });
}

Composition operator+(const Composition& a, const Composition& b) {
  Composition out = a;
  out += b;
  return out;
}

Composition operator*(const Composition& a, Count n) { return a.times(n); }

double element_mass(std::string_view key) {
  // Published monoisotopic masses of the elements and isotopes the tables use.
  struct Mass {
    std::string_view key;
    double mass;
  };
  static constexpr Mass kMasses[] = {
      {"H", 1.00782503207},      {"C", 12.0},          {"N", 14.0030740048},
      {"O", 15.99491461956},     {"P", 30.97376163},   {"S", 31.972071},
      {"C[13]", 13.0033548378},  {"N[15]", 15.0001088982}, {"Se", 79.9165213},
  };
  for (const auto& m : kMasses)
    if (m.key == key) return m.mass;
  throw Error::lookup("no known mass for element", key);
}

// ---------------------------------------------------------------------------
// CompTable

CompTable::CompTable(std::initializer_list<Entry> entries) {
  for (const auto& [key, comp] : entries) set(key, comp);
}

const Composition* CompTable::find(std::string_view key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

const Composition& CompTable::at(std::string_view key, std::string_view what) const {
  if (const Composition* c = find(key)) return *c;
  throw Error::lookup(what.empty() ? std::string_view{} : what, key);
}

void CompTable::set(std::string_view key, Composition comp) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    entries_[it->second].second = std::move(comp);
    return;
  }
  index_.emplace(std::string(key), entries_.size());
  entries_.emplace_back(std::string(key), std::move(comp));
}

bool CompTable::erase(std::string_view key) {
  auto it = index_.find(key);
  if (it == index_.end()) return false;
  std::size_t pos = it->second;
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (auto& [k, i] : index_)
    if (i > pos) --i;
  return true;
}

// ---------------------------------------------------------------------------
// Reference tables

const CompTable& standard_residues() {
  static const CompTable table = {
      {"A", {{"H", 5}, {"C", 3}, {"O", 1}, {"N", 1}}},
      {"C", {{"H", 5}, {"C", 3}, {"S", 1}, {"O", 1}, {"N", 1}}},
      {"D", {{"H", 5}, {"C", 4}, {"O", 3}, {"N", 1}}},
      {"E", {{"H", 7}, {"C", 5}, {"O", 3}, {"N", 1}}},
      {"F", {{"H", 9}, {"C", 9}, {"O", 1}, {"N", 1}}},
      {"G", {{"H", 3}, {"C", 2}, {"O", 1}, {"N", 1}}},
      {"H", {{"H", 7}, {"C", 6}, {"N", 3}, {"O", 1}}},
      {"I", {{"H", 11}, {"C", 6}, {"O", 1}, {"N", 1}}},
      {"J", {{"H", 11}, {"C", 6}, {"O", 1}, {"N", 1}}},
      {"K", {{"H", 12}, {"C", 6}, {"N", 2}, {"O", 1}}},
      {"L", {{"H", 11}, {"C", 6}, {"O", 1}, {"N", 1}}},
      {"M", {{"H", 9}, {"C", 5}, {"S", 1}, {"O", 1}, {"N", 1}}},
      {"N", {{"H", 6}, {"C", 4}, {"O", 2}, {"N", 2}}},
      {"P", {{"H", 7}, {"C", 5}, {"O", 1}, {"N", 1}}},
      {"Q", {{"H", 8}, {"C", 5}, {"O", 2}, {"N", 2}}},
      {"R", {{"H", 12}, {"C", 6}, {"N", 4}, {"O", 1}}},
      {"S", {{"H", 5}, {"C", 3}, {"O", 2}, {"N", 1}}},
      {"T", {{"H", 7}, {"C", 4}, {"O", 2}, {"N", 1}}},
      {"V", {{"H", 9}, {"C", 5}, {"O", 1}, {"N", 1}}},
      {"W", {{"C", 11}, {"H", 10}, {"N", 2}, {"O", 1}}},
      {"Y", {{"H", 9}, {"C", 9}, {"O", 2}, {"N", 1}}},
      {"U", {{"H", 5}, {"C", 3}, {"O", 1}, {"N", 1}, {"Se", 1}}},
      {"O", {{"H", 19}, {"C", 12}, {"O", 2}, {"N", 3}}},
      {"H-", {{"H", 1}}},
      {"-OH", {{"O", 1}, {"H", 1}}},
  };
  return table;
}

namespace {

struct LiteralFailure {};

// Stores the literal entries one at a time, failing (for tests) as it reaches
// options.fail_literal_at.
void fill_literals(ReferenceTables& t, const TableOptions& options) {
  auto store = [&](CompTable& table, std::string_view key, Composition comp) {
    if (!options.fail_literal_at.empty() && key == options.fail_literal_at) throw LiteralFailure{};
    table.set(key, std::move(comp));
  };
  const Composition cam = {{"H", 3}, {"C", 2}, {"N", 1}, {"O", 1}};
  const Composition ox = {{"O", 1}};
  const Composition tmt = {{"H", 20}, {"C", 8}, {"C[13]", 4}, {"N", 1}, {"N[15]", 1}, {"O", 2}};
  store(t.mod_comp, "cam", cam);
  store(t.mod_comp, "Carbamidomethyl", cam);
  store(t.mod_comp, "ox", ox);
  store(t.mod_comp, "Oxidation", ox);
  store(t.mod_comp, "tmt10", tmt);
  store(t.mod_comp, "p", Composition::from_formula("HPO3"));
  store(t.mod_comp, "tmt11", tmt);
  store(t.mod_comp, "guan", {{"H", 2}, {"C", 1}, {"N", 2}});

  store(t.gly_comp, "N", {{"H", 13}, {"C", 8}, {"N", 1}, {"O", 5}});
  store(t.gly_comp, "H", {{"H", 10}, {"C", 6}, {"O", 5}});
  store(t.gly_comp, "F", {{"H", 10}, {"C", 6}, {"O", 4}});
  store(t.gly_comp, "S", {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 8}});
  store(t.gly_comp, "G", {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 9}});
  store(t.gly_comp, "H[6P]", {{"H", 10}, {"C", 6}, {"O", 5}, {"P", 1}});
}

// Replaces the modification entries by the published Unimod records.
void fill_from_unimod(ReferenceTables& t, const TableOptions& options) {
  t.db = UnimodDb::load(options.unimod_path);
  static constexpr std::pair<std::string_view, std::string_view> kTitles[] = {
      {"cam", "Carbamidomethyl"}, {"Carbamidomethyl", "Carbamidomethyl"},
      {"ox", "Oxidation"},        {"Oxidation", "Oxidation"},
      {"tmt10", "TMT6plex"},      {"guan", "Guanidination"},
  };
  for (const auto& [key, title] : kTitles) t.mod_comp.set(key, t.db->by_title(title).composition);
}

}  // namespace

ReferenceTables build_reference_tables(const TableOptions& options) {
  ReferenceTables t;
  t.aa_comp = standard_residues();
  try {
    fill_literals(t, options);
  } catch (const LiteralFailure&) {
    // The only failure the literal step can meet is the test seam's; the
    // entries stored so far stay and the database supplies the rest.
    fill_from_unimod(t, options);
  }

  const double water = Composition{{"H", 2}, {"O", 1}}.mass();
  auto glcnac = [] { return Composition::from_formula("C8H15NO6").mass(); };
  auto fucose = [] { return Composition::from_formula("C6H12O5").mass(); };
  t.mic.emplace_back("H2O", water);
  t.mic.emplace_back("GN", glcnac() - water);
  t.mic.emplace_back("GNF", (glcnac() + fucose()) - (water * 2));
  t.mic.emplace_back("GN2", (glcnac() - water) * 2);

  t.mod_d = {{"TMT10plex", "tmt10"},
             {"Carbamidomethyl", "cam"},
             {"Oxidation", "ox"},
             {"TMT11plex", "tmt11"},
             {"Guanidynation", "guan"}};
  return t;
}

const ReferenceTables& reference_tables() {
  static const ReferenceTables tables = build_reference_tables();
  return tables;
}

// ---------------------------------------------------------------------------
// Peptides

Composition calc_counter_comp(const Counts& counter, const CompTable& comp_map, std::string_view what) {
  Composition total;
  for (const auto& [key, n] : counter) {
    const Composition& part = comp_map.at(key, what);
    if (n == 0) continue;
    for (const auto& [element, c] : part) total.add(element, checked_mul(c, n));
  }
  return total;
}

namespace {

Counts count_code_points(std::string_view seq) {
  Counts counts;
  for (std::size_t p = 0; p < seq.size();) {
    std::size_t len;
    text::code_point_at(seq, p, len);
    counts.increment(seq.substr(p, len));
    p += len;
  }
  return counts;
}

const Composition& water() {
  static const Composition w = {{"H", 2}, {"O", 1}};
  return w;
}

}  // namespace

Composition calc_seq_comp(std::string_view seq, const CompTable& comp_map, bool residue) {
  Composition comp = calc_counter_comp(count_code_points(seq), comp_map, "unknown residue");
  if (!residue) comp += water();
  return comp;
}

Counts mods_counter(std::string_view mods) {
  Counts counts;
  std::size_t start = 0;
  while (true) {
    std::size_t slash = mods.find('/', start);
    std::string_view entry = mods.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    std::size_t comma = entry.rfind(',');
    counts.increment(comma == std::string_view::npos ? entry : entry.substr(comma + 1));
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return counts;
}

Composition calc_mod_comp(std::string_view mods, const CompTable& comp_map) {
  return calc_counter_comp(mods_counter(mods), comp_map, "unknown modification");
}

Composition calc_pep_comp(std::string_view seq, std::optional<std::string_view> mods,
                          const CompTable& aa_comp_map, const CompTable& mod_comp_map, bool residue) {
  Composition comp = calc_seq_comp(seq, aa_comp_map, residue);
  if (!mods || mods->empty()) return comp;
  comp += calc_mod_comp(*mods, mod_comp_map);
  return comp;
}

// ---------------------------------------------------------------------------
// Pattern scanners. Both patterns have a lazy bracketed alternative whose
// end is "the first ']' at or after some position (followed by a digit, for
// the pair pattern) with no line feed before it". Start positions only move
// forward, so the next such ']' and the next line feed are cached and the
// scan stays linear on any input.

namespace {

class ForwardFinder {
 public:
  // pred(k) tells whether position k qualifies.
  template <class Pred>
  std::size_t next(std::string_view s, std::size_t from, Pred pred) {
    if (valid_ && found_ >= from) return found_;
    std::size_t k = std::max(from, scanned_);
    while (k < s.size() && !pred(k)) ++k;
    scanned_ = k;
    found_ = k < s.size() ? k : std::string_view::npos;
    valid_ = true;
    return found_;
  }

 private:
  bool valid_ = false;
  std::size_t found_ = 0;
  std::size_t scanned_ = 0;
};

}  // namespace

void scan_pairs(std::string_view s,
                const std::function<void(std::string_view, std::string_view)>& on_pair) {
  ForwardFinder close, newline;
  auto is_close = [&](std::size_t k) { return s[k] == ']' && text::digit_run(s, k + 1) > 0; };
  auto is_newline = [&](std::size_t k) { return s[k] == '\n'; };
  std::size_t p = 0;
  while (p < s.size()) {
    if (is_upper(s[p])) {
      // First alternative: one letter, then digits.
      if (std::size_t d = text::digit_run(s, p + 1)) {
        on_pair(s.substr(p, 1), s.substr(p + 1, d));
        p += 1 + d;
        continue;
      }
      // Second alternative: letter, "[", the shortest non-empty run without
      // a line feed that is followed by "]" and a digit.
      if (p + 1 < s.size() && s[p + 1] == '[') {
        std::size_t k = close.next(s, p + 3, is_close);
        if (k != std::string_view::npos && newline.next(s, p + 2, is_newline) >= k) {
          std::size_t d = text::digit_run(s, k + 1);
          on_pair(s.substr(p, k + 1 - p), s.substr(k + 1, d));
          p = k + 1 + d;
          continue;
        }
      }
    }
    ++p;
  }
}

namespace {

Counts read_pairs(std::string_view s) {
  Counts counts;
  scan_pairs(s, [&](std::string_view key, std::string_view digits) {
    counts.set(key, text::digits_value(digits));
  });
  return counts;
}

}  // namespace

Counts glycan_counter(std::string_view glycan) { return read_pairs(glycan); }

Composition calc_glycan_comp(std::string_view glycan, const CompTable& comp_map, bool residue) {
  Composition comp = calc_counter_comp(glycan_counter(glycan), comp_map, "unknown glycan code");
  if (!residue) comp += water();
  return comp;
}

void append_formula(std::string& out, const Composition& comp) {
  char buf[24];
  for (const auto& [key, n] : comp) {
    out += key;
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, end);
  }
}

std::string comp_to_str(const Composition& comp) {
  std::string out;
  append_formula(out, comp);
  return out;
}

Counts component_counter(std::string_view component_str) { return read_pairs(component_str); }

void split_peptide(std::string_view s, PeptideParts& out) {
  out.seq.clear();
  out.mods.clear();
  ForwardFinder close, newline;
  auto is_close = [&](std::size_t k) { return s[k] == ']'; };
  auto is_newline = [&](std::size_t k) { return s[k] == '\n'; };
  std::size_t token = 0;
  char buf[24];
  for (std::size_t p = 0; p < s.size(); ++p) {
    if (!is_upper(s[p])) continue;
    ++token;
    out.seq += s[p];
    if (p + 1 < s.size() && s[p + 1] == '[') {
      std::size_t k = close.next(s, p + 3, is_close);
      if (k != std::string_view::npos && newline.next(s, p + 2, is_newline) >= k) {
        if (!out.mods.empty()) out.mods += '/';
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, token);
        out.mods.append(buf, end);
        out.mods += ',';
        out.mods += s[p];
        out.mods += ',';
        out.mods.append(s.substr(p + 2, k - p - 2));
        p = k;
      }
    }
  }
}

PeptideParts split_peptide(std::string_view pep_seq) {
  PeptideParts parts;
  split_peptide(pep_seq, parts);
  return parts;
}

}  // namespace isotope
