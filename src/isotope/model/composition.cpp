// The composition types (Counts, Composition, CompTable), the published
// element masses and the summation rule calc_counter_comp. Counts are
// checked: arithmetic that would overflow 64 bits is a value Error.
#include "isotope/model/composition.hpp"

#include <algorithm>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"

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

// Key comparison for the small linear maps: keys are mostly one or two
// letters, so look at the first byte before calling memcmp.
inline bool same_key(const std::string& a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || (a[0] == b[0] && a.compare(1, a.size() - 1, b.substr(1)) == 0));
}
bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
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

void Composition::add_times(const Composition& other, Count n) {
  if (this == &other) {
    Composition copy = other;
    add_times(copy, n);
    return;
  }
  for (const auto& [key, c] : other.entries_) add(key, checked_mul(c, n));
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
      // The adducts' metals, as OpenMS's element table has them.
      {"Na", 22.9897692809},     {"K", 38.96370668},
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
// Summation

Composition calc_counter_comp(const Counts& counter, const CompTable& comp_map, std::string_view what) {
  Composition total;
  for (const auto& [key, n] : counter) {
    const Composition& part = comp_map.at(key, what);
    if (n == 0) continue;
    for (const auto& [element, c] : part) total.add(element, checked_mul(c, n));
  }
  return total;
}
double mz_at(double mass, std::int64_t z) {
  if (z > 0) return (mass + static_cast<double>(z) * kProtonMass) / static_cast<double>(z);
  return (mass - static_cast<double>(-z) * kProtonMass) / static_cast<double>(-z);
}

const Composition& water() {
  static const Composition w = {{"H", 2}, {"O", 1}};
  return w;
}

}  // namespace isotope
