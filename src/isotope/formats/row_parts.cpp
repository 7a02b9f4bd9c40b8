// The pieces the row mappers share: placed modifications rendered as our
// PepSeq and PepMods, the peptide's composition, monosaccharide names and
// cell numbers.
#include "isotope/formats/row_parts.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "isotope/base/errors.hpp"
#include "isotope/model/peptide.hpp"

namespace isotope {

namespace formats {

void unmapped(std::string problem) { throw Unmapped{std::move(problem)}; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

void finish_peptide(ImportedRow& row, std::string_view residues, std::vector<PlacedMod> mods,
                    const CompTable& residue_table) {
  for (char c : residues)
    if (!(c >= 'A' && c <= 'Z')) unmapped("residue " + py_repr(std::string(1, c)) + " is not a letter A-Z");
  if (residues.empty()) unmapped("the peptide is empty");
  std::stable_sort(mods.begin(), mods.end(), [](const PlacedMod& a, const PlacedMod& b) {
    if (a.position != b.position) return a.position < b.position;
    return static_cast<int>(a.place) < static_cast<int>(b.place);
  });
  try {
    row.peptide = calc_seq_comp(residues, residue_table);
  } catch (const Error& e) {
    unmapped(e.message());
  }
  row.pep_seq.clear();
  row.pep_mods.clear();
  std::size_t m = 0;
  for (std::size_t i = 0; i < residues.size(); ++i) {
    row.pep_seq += residues[i];
    for (; m < mods.size() && mods[m].position == i + 1; ++m) {
      row.pep_seq += '[';
      row.pep_seq += mods[m].name;
      row.pep_seq += ']';
      if (!row.pep_mods.empty()) row.pep_mods += '/';
      row.pep_mods += std::to_string(i + 1);
      row.pep_mods += ',';
      row.pep_mods += residues[i];
      row.pep_mods += ',';
      row.pep_mods += mods[m].name;
      row.peptide += mods[m].composition;
    }
  }
  if (m != mods.size()) unmapped("a modification sits past the peptide's end");
}

Composition resolve_name(const ModificationResolver& resolver, std::string_view name, std::string_view where) {
  try {
    return resolver.resolve(name);
  } catch (const Error& e) {
    unmapped(std::string(where) + ": " + e.message());
  }
}

int monosaccharide_slot(std::string_view name) {
  static constexpr std::pair<std::string_view, int> kNames[] = {
      {"HexNAc", 0}, {"Hex", 1},    {"Fuc", 2},    {"dHex", 2},
      {"NeuAc", 3},  {"Neu5Ac", 3}, {"NeuGc", 4},  {"Neu5Gc", 4},
  };
  for (const auto& [n, slot] : kNames)
    if (n == name) return slot;
  return -1;
}

void refuse_monosaccharide(std::string_view name, std::string_view where) {
  unmapped("monosaccharide " + py_repr(name) + " in " + std::string(where) +
           " is not one of HexNAc, Hex, Fuc, NeuAc, NeuGc");
}

std::optional<double> parse_number(std::string_view cell) {
  std::string_view s = trim(cell);
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty() || s[0] == '+') return std::nullopt;
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long> parse_charge(std::string_view cell) {
  std::optional<double> v = parse_number(cell);
  if (!v || *v != std::trunc(*v) || *v == 0 || std::fabs(*v) > 1e6) return std::nullopt;
  return static_cast<long>(*v);
}

std::optional<Count> parse_count(std::string_view digits) {
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  Count n = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::string_view RowCells::operator()(ImportColumns::Role role) const {
  const auto& i = columns.index[role];
  if (!i || *i >= cells.size()) return {};
  return cells[*i];
}

}  // namespace formats
}  // namespace isotope
