// FragPipe's PSM rows (psm.tsv, tab-separated):
//   Peptide                   plain residues
//   Assigned Modifications    "5C(57.0214), N-term(42.0106), 3N(1864.6342)":
//                             masses only, in any order; an entry with the
//                             glycan's own mass is the glycan, not a
//                             peptide modification
//   Total Glycan Composition  "HexNAc(2)Hex(9) % 1864.6341": the glycan
//                             vocabulary's names are read, others refused;
//                             "Decoy_..." marks a decoy
//   Charge, Calibrated Observed M/Z (else Observed M/Z)
//   Delta Mass                observed less calculated mass: in a row
//                             without glycan composition (a search without
//                             glycan assignment, or a table without the
//                             column) it must be k x 1.00336 Da (the
//                             engine's isotope error, k from -1 to 3), else
//                             the row holds a mass the peptide does not
//                             explain and is left unmapped
// Masses become names through the resolver's name_for_mass: within 0.002 Da,
// the run's table first, then Unimod's common modifications; a mass that
// fits none or several compositions leaves the row unmapped.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

struct Glycan {
  GlycanCounts counts;
  std::optional<double> mass;  // after "%"
  bool any = false;
};

Glycan read_glycan(std::string_view text, const GlycanVocabulary& glycans) {
  Glycan g;
  g.counts = glycans.zero_counts();
  std::string_view s = trim(text);
  if (std::size_t pct = s.find('%'); pct != std::string_view::npos) {
    g.mass = parse_number(s.substr(pct + 1));
    if (!g.mass) unmapped("Total Glycan Composition " + py_repr(text) + " has a malformed mass after '%'");
    s = trim(s.substr(0, pct));
  }
  read_code_counts(s, g.counts, "Total Glycan Composition", "HexNAc(2)Hex(9) % 1864.6341", [&](std::string_view name) {
    g.any = true;
    return monosaccharide(glycans, name, "Total Glycan Composition");
  });
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
  for_each_entry(text, ',', [&](std::string_view entry) {
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
  });
  return entries;
}

double glycan_mass(const GlycanCounts& counts, const RunModel& model) {
  double m = 0;
  for (std::size_t k = 0; k < counts.size(); ++k)
    if (counts[k])
      m += static_cast<double>(counts[k]) *
           model.monosaccharides.at(model.glycans[k].code, "unknown glycan code").mass();
  return m;
}

// A row without glycan: its Delta Mass must be an isotope error, within
// the run's tolerance of the peptide's mass (at least 0.01 Da).
void check_delta_mass(std::string_view cell, double tolerance_ppm, ImportedRow& row) {
  const std::optional<double> delta = parse_number(cell);
  if (!delta) return;
  constexpr double kIsotopeError = 1.00336;
  const double mass = (row.peptide + water()).mass();
  const double tolerance = std::max(tolerance_ppm * 1e-6 * mass, 0.01);
  for (int k = -1; k <= 3; ++k)
    if (std::fabs(*delta - k * kIsotopeError) <= tolerance) return;
  char text[160];
  std::snprintf(text, sizeof text,
                "Delta Mass %s Da is no isotope error of the peptide (k x 1.00336 Da, k from -1 to 3, within %.3g Da): "
                "a mass the table's glycan composition does not explain",
                std::string(trim(cell)).c_str(), tolerance);
  unmapped(text);
}

}  // namespace

void map_fragpipe(const RowView& cell, const RunModel& model, ImportedRow& row) {
  using R = ImportColumns;
  if (open_row(cell, row, {{R::Glycan, "Decoy_", true}})) return;
  const std::string_view peptide = trim(cell(R::Peptide));
  const Glycan glycan = read_glycan(cell(R::Glycan), model.glycans);
  row.counts = glycan.counts;
  std::vector<MassEntry> entries = read_entries(cell(R::Mods), peptide);

  // The glycan's own entry: the first whose mass is the glycan's.
  if (glycan.any) {
    const double gmass = glycan.mass ? *glycan.mass : glycan_mass(glycan.counts, model);
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
    MassMatch m = model.modifications.name_for_mass(e.mass);
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
  finish_peptide(row, peptide, std::move(mods), model.residues);
  if (!glycan.any && cell.has(R::DeltaMass)) check_delta_mass(cell(R::DeltaMass), cell.columns.tolerance_ppm, row);
}

}  // namespace isotope::formats
