// The modification resolver: the run's table with the parameter file's
// definitions, the Unimod name and accession indexes, the "did you mean"
// hint, and the mass-to-name search. Everything is built in the
// constructor; no member changes afterwards.
#include "isotope/model/modifications.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_set>

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"
#include "isotope/model/close_matches.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/unimod.hpp"

namespace isotope {

namespace {

// The element keys with a known mass (element_mass): the only ones a
// definition may use and a Unimod record may hold to be usable.
constexpr std::string_view kKnownElements[] = {"H", "C", "N", "O", "P", "S", "Se", "Na", "K", "C[13]", "N[15]"};

bool known_element(std::string_view key) {
  return std::find(std::begin(kKnownElements), std::end(kKnownElements), key) != std::end(kKnownElements);
}

std::string known_elements_text() {
  std::string out;
  for (auto k : kKnownElements) {
    if (!out.empty()) out += ", ";
    out += k;
  }
  return out;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string ascii_lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// "+57.021", "-17.03", "42": a mass shift written where a name belongs.
bool is_mass_shift(std::string_view s) {
  std::size_t p = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
  bool digit = false, dot = false;
  for (; p < s.size(); ++p) {
    if (is_digit(s[p])) {
      digit = true;
    } else if (s[p] == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digit;
}

std::string accession(long id) { return "UNIMOD:" + std::to_string(id); }

}  // namespace

Composition parse_modification_formula(std::string_view f) {
  auto fail = [&](std::size_t pos, const std::string& what) -> void {
    throw Error::value("invalid modification formula " + py_repr(f) + ": " + what + " at character " +
                       std::to_string(pos + 1));
  };
  if (f.empty()) throw Error::value("invalid modification formula '': it is empty");
  Composition comp;
  std::size_t p = 0;
  while (p < f.size()) {
    const std::size_t start = p;
    if (!(f[p] >= 'A' && f[p] <= 'Z')) fail(p, "expected an element symbol (a capital letter), found " + py_repr(f.substr(p, 1)));
    ++p;
    while (p < f.size() && f[p] >= 'a' && f[p] <= 'z') ++p;
    if (p < f.size() && f[p] == '[') {
      std::size_t q = p + 1;
      while (q < f.size() && is_digit(f[q])) ++q;
      if (q == p + 1 || q >= f.size() || f[q] != ']') fail(p, "a mass number in brackets, such as C[13], is malformed");
      p = q + 1;
    }
    const std::string_view symbol = f.substr(start, p - start);
    if (!known_element(symbol))
      fail(start, "element " + py_repr(symbol) + " has no known mass (known: " + known_elements_text() + ")");
    bool negative = false;
    const std::size_t sign_at = p;
    if (p < f.size() && (f[p] == '+' || f[p] == '-')) negative = f[p++] == '-';
    std::size_t digits = 0;
    while (p + digits < f.size() && is_digit(f[p + digits])) ++digits;
    if (p > sign_at && digits == 0) fail(sign_at, "a sign must be followed by digits");
    Count n = digits ? text::digits_value(f.substr(p, digits)) : 1;
    p += digits;
    comp.add(symbol, negative ? -n : n);
  }
  return comp;
}

const std::vector<ModificationDefinition>& common_unimod_modifications() {
  static const std::vector<ModificationDefinition> common = {
      {"Carbamidomethyl", {{"H", 3}, {"C", 2}, {"N", 1}, {"O", 1}}},
      {"Oxidation", {{"O", 1}}},
      {"Deamidated", {{"H", -1}, {"N", -1}, {"O", 1}}},
      {"Acetyl", {{"H", 2}, {"C", 2}, {"O", 1}}},
      {"Phospho", {{"H", 1}, {"O", 3}, {"P", 1}}},
      {"Gln->pyro-Glu", {{"H", -3}, {"N", -1}}},
      {"Glu->pyro-Glu", {{"H", -2}, {"O", -1}}},
      {"TMT6plex", {{"H", 20}, {"C", 8}, {"C[13]", 4}, {"N", 1}, {"N[15]", 1}, {"O", 2}}},
      {"TMTpro", {{"H", 25}, {"C", 8}, {"C[13]", 7}, {"N", 1}, {"N[15]", 2}, {"O", 3}}},
      {"Ammonia-loss", {{"H", -3}, {"N", -1}}},
      {"Methyl", {{"H", 2}, {"C", 1}}},
  };
  return common;
}

ModificationResolver::ModificationResolver(const CompTable& table,
                                           const std::vector<ModificationDefinition>& definitions,
                                           std::shared_ptr<const UnimodDb> unimod)
    : table_(table), unimod_(std::move(unimod)) {
  for (const auto& d : definitions) table_.set(d.name, d.composition);

  std::unordered_set<std::string> seen;  // copies: known_ moves its strings as it grows
  for (const auto& [key, comp] : table_)
    if (seen.insert(key).second) known_.push_back(key);
  if (unimod_) {
    const auto& records = unimod_->records();
    for (std::size_t r = 0; r < records.size(); ++r) {
      const UnimodRecord& rec = records[r];
      auto index = [&](std::string_view name) {
        if (name.empty()) return;
        auto& list = unimod_names_[ascii_lower(name)];
        if (list.empty() || list.back() != r) list.push_back(r);
      };
      index(rec.title);
      index(rec.full_name);
      for (const auto& alt : rec.alt_names) index(alt);
      unimod_ids_.emplace(rec.record_id, r);
    }
    seen.clear();
    for (const auto& k : known_) seen.insert(k);
    for (const auto& rec : records)
      if (!rec.title.empty() && seen.insert(rec.title).second) known_.push_back(rec.title);
  }

  auto is_common = [](std::string_view name) {
    const auto& c = common_unimod_modifications();
    return std::any_of(c.begin(), c.end(), [&](const auto& d) { return d.name == name; });
  };
  for (const auto& [key, comp] : table_) {
    bool usable = std::all_of(comp.begin(), comp.end(), [](const auto& e) { return known_element(e.first); });
    if (usable) table_masses_.push_back({key, comp, comp.mass(), is_common(key)});
  }
  for (const auto& d : common_unimod_modifications())
    common_masses_.push_back({d.name, d.composition, d.composition.mass(), true});
}

const Composition& ModificationResolver::resolve(std::string_view name) const {
  if (const Composition* c = table_.find(name)) return *c;
  if (is_mass_shift(name))
    throw Error::lookup("unknown modification", name,
                        "is a mass shift: isotope needs a named modification, such as C[Carbamidomethyl] "
                        "(a new one can be defined with isotope_modification.NAME = FORMULA)");
  if (unimod_)
    if (const Composition* c = find_unimod(name)) return *c;
  fail_unknown(name);
}

const Composition* ModificationResolver::find_unimod(std::string_view name) const {
  const auto& records = unimod_->records();
  std::vector<std::size_t> found;
  constexpr std::string_view kPrefix = "unimod:";
  if (name.size() > kPrefix.size() && ascii_lower(name.substr(0, kPrefix.size())) == kPrefix) {
    std::string_view digits = name.substr(kPrefix.size());
    long id = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (ec == std::errc() && ptr == digits.data() + digits.size() && is_digit(digits[0])) {
      if (auto it = unimod_ids_.find(id); it != unimod_ids_.end()) found.push_back(it->second);
    }
  }
  if (found.empty()) {
    auto it = unimod_names_.find(ascii_lower(name));
    if (it == unimod_names_.end()) return nullptr;
    found = it->second;
  }
  const UnimodRecord& first = records[found[0]];
  for (std::size_t r : found) {
    if (!(records[r].composition == first.composition)) {
      std::string list;
      for (std::size_t k = 0; k < found.size(); ++k) {
        if (k) list += ", ";
        list += py_repr(records[found[k]].title) + " (" + accession(records[found[k]].record_id) + ")";
      }
      throw Error::lookup("modification name", name, "fits Unimod records of different composition: " + list);
    }
  }
  for (const auto& [key, n] : first.composition)
    if (!known_element(key))
      throw Error::lookup("modification", name,
                          "is Unimod record " + py_repr(first.title) + " (" + accession(first.record_id) +
                              "), which holds " + key + ": isotope has no mass for that element");
  return &first.composition;
}

void ModificationResolver::fail_unknown(std::string_view name) const {
  throw Error::lookup("unknown modification", name, did_you_mean(close_matches(name, known_, 3, 0.6)));
}

Composition ModificationResolver::resolve_mods(std::string_view mods) const {
  Composition total;
  for (const auto& [key, n] : mods_counter(mods)) {
    const Composition& part = resolve(key);
    total += part.times(n);
  }
  return total;
}

MassMatch ModificationResolver::name_for_mass(double delta) const {
  for (const auto* entries : {&table_masses_, &common_masses_}) {
    // Groups of matching entries with one composition, in order of first
    // appearance.
    std::vector<std::vector<const MassEntry*>> groups;
    for (const MassEntry& e : *entries) {
      if (!(std::fabs(e.mass - delta) <= kMassTolerance)) continue;
      auto g = std::find_if(groups.begin(), groups.end(),
                            [&](const auto& grp) { return grp[0]->composition == e.composition; });
      if (g == groups.end())
        groups.push_back({&e});
      else
        g->push_back(&e);
    }
    if (groups.empty()) continue;
    auto pick = [](const std::vector<const MassEntry*>& grp) {
      for (const MassEntry* e : grp)
        if (e->common) return e;
      return grp[0];
    };
    MassMatch m;
    if (groups.size() == 1) {
      m.kind = MassMatch::Kind::Found;
      m.name = pick(groups[0])->name;
      m.composition = pick(groups[0])->composition;
    } else {
      m.kind = MassMatch::Kind::Ambiguous;
      for (const auto& grp : groups) m.candidates.push_back(pick(grp)->name);
    }
    return m;
  }
  return {};
}

}  // namespace isotope
