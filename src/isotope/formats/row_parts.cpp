// The pieces the row mappers share: a row's opening cells, placed
// modifications rendered as our PepSeq and PepMods, the peptide's
// composition, lists, glycan codes, bracketed sequences and cell numbers.
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

std::size_t monosaccharide(const GlycanVocabulary& glycans, std::string_view name, std::string_view where) {
  if (std::optional<std::size_t> i = glycans.by_name(name)) return *i;
  unmapped("monosaccharide " + py_repr(name) + " in " + std::string(where) + " is not one of " + glycans.name_list());
}

std::size_t engine_monosaccharide(const GlycanVocabulary& glycans, std::string_view engine, std::string_view code,
                                  std::string_view where) {
  if (std::optional<std::size_t> i = glycans.by_engine_code(engine, code)) return *i;
  unmapped("monosaccharide " + py_repr(code) + " in " + std::string(where) + " is not one of " +
           glycans.engine_code_list(engine));
}

void for_each_entry(std::string_view list, char separator, const std::function<void(std::string_view)>& on_entry) {
  std::size_t p = 0;
  while (p < list.size()) {
    std::size_t end = list.find(separator, p);
    if (end == std::string_view::npos) end = list.size();
    std::string_view entry = trim(list.substr(p, end - p));
    if (!entry.empty()) on_entry(entry);
    p = end + 1;
  }
}

void read_code_counts(std::string_view text, GlycanCounts& counts, std::string_view column, std::string_view form,
                      const std::function<std::size_t(std::string_view code)>& entry) {
  const std::string_view s = trim(text);
  std::size_t p = 0;
  while (p < s.size()) {
    std::size_t open = s.find('(', p);
    std::size_t close = open == std::string_view::npos ? open : s.find(')', open);
    if (close == std::string_view::npos || open == p)
      unmapped(std::string(column) + " " + py_repr(text) + " is not of the form " + std::string(form));
    std::string_view code = trim(s.substr(p, open - p));
    std::optional<Count> n = parse_count(s.substr(open + 1, close - open - 1));
    if (!n) unmapped(std::string(column) + " " + py_repr(text) + " has a malformed count for " + py_repr(code));
    counts[entry(code)] += *n;
    p = close + 1;
  }
}

namespace {

// The end of the bracket opened at p (nested ones allowed), or npos.
std::size_t closing(std::string_view s, std::size_t p, const BracketForm& form) {
  std::size_t depth = 0;
  for (std::size_t q = p; q < s.size(); ++q) {
    if (s[q] == form.open) ++depth;
    if (s[q] == form.close && --depth == 0) return q;
  }
  return std::string_view::npos;
}

}  // namespace

std::string scan_sequence(std::string_view text, std::string_view shown, const BracketForm& form,
                          const std::function<void(const Bracket&)>& on_bracket) {
  const std::string where = std::string(form.column) + " " + py_repr(shown);
  std::string residues;
  bool c_term = false;
  for (std::size_t p = 0; p < text.size();) {
    const char c = text[p];
    if (c >= 'A' && c <= 'Z' && !c_term) {
      residues += c;
      ++p;
      continue;
    }
    if (c == '-' && p + 1 < text.size() && text[p + 1] == form.open && !residues.empty()) {
      c_term = true;
      ++p;
      continue;
    }
    if (c != form.open)
      unmapped(where + " has " + py_repr(text.substr(p, 1)) + " where a residue or '" + form.open + "' belongs");
    const std::size_t q = closing(text, p, form);
    if (q == std::string_view::npos) unmapped(where + " has an unclosed '" + form.open + "'");
    Bracket b{text.substr(p + 1, q - p - 1)};
    p = q + 1;
    b.place = residues.empty() ? Place::NTerm : c_term ? Place::CTerm : Place::Residue;
    b.position = residues.empty() ? 1 : residues.size();
    if (b.place == Place::NTerm && form.n_term_hyphen) {
      if (p >= text.size() || text[p] != '-')
        unmapped(where + ": an N-terminal " + form.open + std::string(b.body) + form.close + " needs a '-' after it");
      ++p;
    }
    on_bracket(b);
  }
  return residues;
}

bool open_row(const RowView& cell, ImportedRow& row, std::initializer_list<DecoyMark> decoys) {
  using R = ImportColumns;
  row.charge = parse_charge(cell(R::Charge));
  if (cell.has(R::PrecursorMz)) row.precursor_mz = parse_number(cell(R::PrecursorMz));
  if (cell.has(R::NeutralMass)) row.neutral_mass = parse_number(cell(R::NeutralMass));
  for (const DecoyMark& d : decoys) {
    const std::string_view text = trim(cell(d.role));
    if (d.prefix ? text.substr(0, d.mark.size()) == d.mark : text == d.mark) {
      row.status = RowStatus::Decoy;
      return true;
    }
  }
  return false;
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
  if (!v || *v != std::trunc(*v) || *v == 0 || std::fabs(*v) > static_cast<double>(kMaxCharge)) return std::nullopt;
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

std::string_view RowView::operator()(ImportColumns::Role role) const {
  const auto& i = columns.index[role];
  if (!i || *i >= cells.size()) return {};
  return cells[*i];
}

}  // namespace formats
}  // namespace isotope
