// FragPipe's PSM rows (psm.tsv, tab-separated):
//   Peptide                   plain residues
//   Assigned Modifications    "5C(57.0214), N-term(42.0106), 3N(1864.6342)":
//                             masses only, in any order; an entry with the
//                             glycan's own mass is the glycan, not a
//                             peptide modification
//   Total Glycan Composition  "HexNAc(2)Hex(9) % 1864.6341" (HexNAc, Hex,
//                             Fuc, NeuAc, NeuGc are read; Pent, KDN, HexA,
//                             Phospho, Sulfo, NH4, Na, ... are refused);
//                             "Decoy_..." marks a decoy
//   Charge, Calibrated Observed M/Z (else Observed M/Z)
// Masses become names through the resolver's name_for_mass: within 0.002 Da,
// the run's table first, then Unimod's common modifications; a mass that
// fits none or several compositions leaves the row unmapped.
#include <cmath>
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

struct Glycan {
  std::array<Count, 5> counts{};
  std::optional<double> mass;  // after "%"
  bool any = false;
};

Glycan read_glycan(std::string_view text) {
  Glycan g;
  std::string_view s = trim(text);
  if (std::size_t pct = s.find('%'); pct != std::string_view::npos) {
    g.mass = parse_number(s.substr(pct + 1));
    if (!g.mass) unmapped("Total Glycan Composition " + py_repr(text) + " has a malformed mass after '%'");
    s = trim(s.substr(0, pct));
  }
  std::size_t p = 0;
  while (p < s.size()) {
    std::size_t open = s.find('(', p);
    std::size_t close = open == std::string_view::npos ? open : s.find(')', open);
    if (close == std::string_view::npos || open == p)
      unmapped("Total Glycan Composition " + py_repr(text) + " is not of the form HexNAc(2)Hex(9) % 1864.6341");
    std::string_view name = trim(s.substr(p, open - p));
    std::optional<Count> n = parse_count(s.substr(open + 1, close - open - 1));
    if (!n) unmapped("Total Glycan Composition " + py_repr(text) + " has a malformed count for " + py_repr(name));
    int slot = monosaccharide_slot(name);
    if (slot < 0) refuse_monosaccharide(name, "Total Glycan Composition");
    g.counts[static_cast<std::size_t>(slot)] += *n;
    g.any = true;
    p = close + 1;
  }
  return g;
}

struct MassEntry {
  std::string text;  // the entry as written
  std::size_t position = 0;
  Place place = Place::Residue;
  char residue = 0;
  std::string mass_text;
  double mass = 0;
};

std::vector<MassEntry> read_entries(std::string_view text, std::string_view peptide) {
  std::vector<MassEntry> entries;
  std::string_view s = trim(text);
  std::size_t p = 0;
  while (p <= s.size() && !s.empty()) {
    std::size_t comma = s.find(',', p);
    std::string_view entry = trim(s.substr(p, comma == std::string_view::npos ? std::string_view::npos : comma - p));
    p = comma == std::string_view::npos ? s.size() + 1 : comma + 1;
    if (entry.empty()) continue;
    MassEntry e;
    e.text = entry;
    const std::string where = "Assigned Modifications entry " + py_repr(entry);
    std::size_t open = entry.find('(');
    if (open == std::string_view::npos || entry.back() != ')') unmapped(where + " is not of the form 5C(57.0214)");
    std::string_view site = entry.substr(0, open);
    e.mass_text = entry.substr(open + 1, entry.size() - open - 2);
    std::optional<double> mass = parse_number(e.mass_text);
    if (!mass) unmapped(where + " has a malformed mass");
    e.mass = *mass;
    if (site == "N-term" || site == "n") {
      e.place = Place::NTerm;
      e.position = 1;
    } else if (site == "C-term" || site == "c") {
      e.place = Place::CTerm;
      e.position = peptide.size();
    } else {
      std::optional<Count> pos = site.size() >= 2 ? parse_count(site.substr(0, site.size() - 1)) : std::nullopt;
      if (!pos) unmapped(where + " is not of the form 5C(57.0214)");
      e.residue = site.back();
      if (*pos < 1 || static_cast<std::size_t>(*pos) > peptide.size())
        unmapped(where + ": position " + std::to_string(*pos) + " is outside the peptide");
      e.position = static_cast<std::size_t>(*pos);
      if (peptide[e.position - 1] != e.residue)
        unmapped(where + ": the peptide has " + std::string(1, peptide[e.position - 1]) + " at position " +
                 std::to_string(*pos));
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

double glycan_mass(const std::array<Count, 5>& counts, const CompTable& monosaccharides) {
  static constexpr std::string_view kCodes[] = {"N", "H", "F", "S", "G"};
  double m = 0;
  for (std::size_t k = 0; k < 5; ++k)
    if (counts[k]) m += static_cast<double>(counts[k]) * monosaccharides.at(kCodes[k], "unknown glycan code").mass();
  return m;
}

}  // namespace

void map_fragpipe(const RowCells& cell, const ImportTables& tables, ImportedRow& row) {
  using R = ImportColumns;
  row.charge = parse_charge(cell(R::Charge));
  row.precursor_mz = parse_number(cell(R::PrecursorMz));
  const std::string_view glycan_text = trim(cell(R::Glycan));
  if (glycan_text.substr(0, 6) == "Decoy_") {
    row.status = RowStatus::Decoy;
    return;
  }
  const std::string_view peptide = trim(cell(R::Peptide));
  const Glycan glycan = read_glycan(glycan_text);
  row.counts = glycan.counts;
  std::vector<MassEntry> entries = read_entries(cell(R::Mods), peptide);

  // The glycan's own entry: the first whose mass is the glycan's.
  if (glycan.any) {
    const double gmass = glycan.mass ? *glycan.mass : glycan_mass(glycan.counts, tables.monosaccharides);
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      if (it->place == Place::Residue && std::fabs(it->mass - gmass) <= ModificationResolver::kMassTolerance) {
        entries.erase(it);
        break;
      }
    }
  }
  std::vector<PlacedMod> mods;
  for (const MassEntry& e : entries) {
    const std::string where = e.place == Place::NTerm   ? std::string("at the N-terminus")
                              : e.place == Place::CTerm ? std::string("at the C-terminus")
                                                        : "at residue " + std::to_string(e.position) + " (" + e.residue + ")";
    MassMatch m = tables.modifications.name_for_mass(e.mass);
    if (m.kind == MassMatch::Kind::Unknown)
      unmapped("modification mass " + e.mass_text + " " + where + " matches no known modification within 0.002 Da");
    if (m.kind == MassMatch::Kind::Ambiguous) {
      std::string names;
      for (std::size_t k = 0; k < m.candidates.size(); ++k) names += (k ? ", " : "") + py_repr(m.candidates[k]);
      unmapped("modification mass " + e.mass_text + " " + where + " fits modifications of different composition: " +
               names);
    }
    mods.push_back({e.position, e.place, m.name, m.composition});
  }
  finish_peptide(row, peptide, std::move(mods), tables.residues);
}

}  // namespace isotope::formats
