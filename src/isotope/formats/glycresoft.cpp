// GlycReSoft's glycopeptide rows (CSV with RFC 4180 quotes):
//   glycopeptide  "SVQEIQATFFYFTPN(N-Glycosylation)K{Hex:5; HexNAc:4; Neu5Ac:2}":
//                 modification names in parentheses after the residue,
//                 an N-terminal one as "(Name)-PEPTIDE", a C-terminal one as
//                 "PEPTIDE-(Name)", the glycan in braces (Hex, HexNAc,
//                 Fuc/dHex, Neu5Ac/NeuAc, Neu5Gc/NeuGc are read, others
//                 refused). (N-Glycosylation) and (O-Glycosylation) mark
//                 the glycan's site and add nothing.
//   charge, neutral_mass (no m/z column: the observed m/z is the neutral
//                 mass turned into m/z with the row's charge)
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

// The end of the parenthesis opened at p (nested ones allowed), or npos.
std::size_t closing(std::string_view s, std::size_t p) {
  std::size_t depth = 0;
  for (std::size_t q = p; q < s.size(); ++q) {
    if (s[q] == '(') ++depth;
    if (s[q] == ')' && --depth == 0) return q;
  }
  return std::string_view::npos;
}

std::array<Count, 5> read_glycan(std::string_view body, std::string_view text) {
  std::array<Count, 5> counts{};
  std::size_t p = 0;
  while (p <= body.size()) {
    std::size_t semi = body.find(';', p);
    std::string_view entry = trim(body.substr(p, semi == std::string_view::npos ? std::string_view::npos : semi - p));
    p = semi == std::string_view::npos ? body.size() + 1 : semi + 1;
    if (entry.empty()) continue;
    std::size_t colon = entry.find(':');
    std::optional<Count> n = colon == std::string_view::npos ? std::nullopt : parse_count(trim(entry.substr(colon + 1)));
    if (!n) unmapped("glycan " + py_repr(entry) + " of " + py_repr(text) + " is not of the form Hex:5");
    std::string_view name = trim(entry.substr(0, colon));
    int slot = monosaccharide_slot(name);
    if (slot < 0) refuse_monosaccharide(name, "glycopeptide " + py_repr(text));
    counts[static_cast<std::size_t>(slot)] += *n;
  }
  return counts;
}

}  // namespace

void map_glycresoft(const RowCells& cell, const ImportTables& tables, ImportedRow& row) {
  using R = ImportColumns;
  row.charge = parse_charge(cell(R::Charge));
  row.neutral_mass = parse_number(cell(R::NeutralMass));
  const std::string_view text = trim(cell(R::Peptide));
  std::string_view s = text;
  if (std::size_t brace = s.find('{'); brace != std::string_view::npos) {
    if (s.back() != '}') unmapped("glycopeptide " + py_repr(text) + " has text after its glycan's closing '}'");
    row.counts = read_glycan(s.substr(brace + 1, s.size() - brace - 2), text);
    s = s.substr(0, brace);
  }
  std::string residues;
  std::vector<PlacedMod> mods;
  bool c_term = false;
  for (std::size_t p = 0; p < s.size();) {
    const char c = s[p];
    if (c >= 'A' && c <= 'Z' && !c_term) {
      residues += c;
      ++p;
      continue;
    }
    if (c == '-' && p + 1 < s.size() && s[p + 1] == '(' && !residues.empty()) {
      c_term = true;
      ++p;
      continue;
    }
    if (c != '(') unmapped("glycopeptide " + py_repr(text) + " has " + py_repr(s.substr(p, 1)) + " where a residue or '(' belongs");
    const std::size_t q = closing(s, p);
    if (q == std::string_view::npos) unmapped("glycopeptide " + py_repr(text) + " has an unclosed '('");
    const std::string_view name = s.substr(p + 1, q - p - 1);
    p = q + 1;
    const bool n_term = residues.empty();
    if (n_term) {
      // "(Acetyl)-PEPTIDE": the N-terminal form has its hyphen.
      if (p >= s.size() || s[p] != '-') unmapped("glycopeptide " + py_repr(text) + ": an N-terminal (" + std::string(name) + ") needs a '-' after it");
      ++p;
    }
    if (name == "N-Glycosylation" || name == "O-Glycosylation") continue;  // the glycan's site
    PlacedMod m;
    m.name = name;
    m.place = n_term ? Place::NTerm : c_term ? Place::CTerm : Place::Residue;
    m.position = n_term ? 1 : residues.size();
    std::string where = "(";
    where.append(name).append(")");
    m.composition = resolve_name(tables.modifications, name, where);
    mods.push_back(std::move(m));
  }
  finish_peptide(row, residues, std::move(mods), tables.residues);
}

}  // namespace isotope::formats
