// GlycReSoft's glycopeptide rows (CSV with RFC 4180 quotes):
//   glycopeptide  "SVQEIQATFFYFTPN(N-Glycosylation)K{Hex:5; HexNAc:4; Neu5Ac:2}":
//                 modification names in parentheses after the residue,
//                 an N-terminal one as "(Name)-PEPTIDE", a C-terminal one as
//                 "PEPTIDE-(Name)", the glycan in braces (the glycan
//                 vocabulary's names are read, others refused).
//                 (N-Glycosylation) and (O-Glycosylation) mark the
//                 glycan's site and add nothing.
//   charge, neutral_mass (no m/z column: the observed m/z is the neutral
//                 mass turned into m/z with the row's charge)
//   mass_shift_name  the spectrum match's adduct, which neutral_mass holds:
//                 "Unmodified", "Ammonium", "Ammonium + Sodium",
//                 "Ammonium * 2" (chromatogram_tree/mass_shift.py); each
//                 name counts its vocabulary entry (Ammonium, Sodium,
//                 Potassium, Formate, Deoxy), another is refused
// The identification export (one row per glycopeptide) writes instead
//   charge_states "3;4": the charges its chromatogram was seen at (the
//                 precursor check then runs on neutral_mass itself)
//   mass_shifts   "Unmodified;Ammonium": the adducts it was seen with;
//                 neutral_mass is that of its unmodified form when it has
//                 one, else of the first listed, as GlycReSoft's
//                 weighted_neutral_mass takes it
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

GlycanCounts read_glycan(std::string_view body, std::string_view text, const GlycanVocabulary& glycans) {
  GlycanCounts counts = glycans.zero_counts();
  for_each_entry(body, ';', [&](std::string_view entry) {
    std::size_t colon = entry.find(':');
    std::optional<Count> n = colon == std::string_view::npos ? std::nullopt : parse_count(trim(entry.substr(colon + 1)));
    if (!n) unmapped("glycan " + py_repr(entry) + " of " + py_repr(text) + " is not of the form Hex:5");
    counts[monosaccharide(glycans, trim(entry.substr(0, colon)), "glycopeptide " + py_repr(text))] += *n;
  });
  return counts;
}

// One mass shift name ("Ammonium", "Ammonium * 2") added to counts.
void add_shift(std::string_view name, GlycanCounts& counts, const GlycanVocabulary& glycans) {
  Count n = 1;
  if (std::size_t star = name.find(" * "); star != std::string_view::npos) {
    std::optional<Count> times = parse_count(trim(name.substr(star + 3)));
    if (!times) unmapped("mass shift " + py_repr(name) + " is not of the form Ammonium * 2");
    n = *times;
    name = trim(name.substr(0, star));
  }
  if (name == "Unmodified") return;
  const std::optional<std::size_t> i = glycans.by_name(name);
  if (!i) unmapped("mass shift " + py_repr(name) + " is none of GlycReSoft's (Ammonium, Sodium, Potassium, Formate, Deoxy)");
  counts[*i] += n;
}

// mass_shift_name: a compound shift names its parts joined by " + ".
void add_shift_name(std::string_view text, GlycanCounts& counts, const GlycanVocabulary& glycans) {
  for (std::size_t p = 0; p <= text.size();) {
    std::size_t plus = text.find(" + ", p);
    if (plus == std::string_view::npos) plus = text.size();
    const std::string_view part = trim(text.substr(p, plus - p));
    if (!part.empty()) add_shift(part, counts, glycans);
    p = plus + 3;
  }
}

// mass_shifts: every listed shift must be known; neutral_mass holds none
// when "Unmodified" is listed, else the first.
void add_listed_shifts(std::string_view text, GlycanCounts& counts, const GlycanVocabulary& glycans) {
  GlycanCounts checked = glycans.zero_counts();
  std::string_view first;
  bool unmodified = false;
  for_each_entry(text, ';', [&](std::string_view shift) {
    add_shift_name(shift, checked, glycans);
    if (first.empty()) first = shift;
    unmodified = unmodified || shift == "Unmodified";
  });
  if (!unmodified && !first.empty()) add_shift_name(first, counts, glycans);
}

}  // namespace

void map_glycresoft(const RowView& cell, const RunModel& model, ImportedRow& row) {
  using R = ImportColumns;
  open_row(cell, row, {});
  const std::string_view text = trim(cell(R::Peptide));
  std::string_view s = text;
  row.counts = model.glycans.zero_counts();
  if (std::size_t brace = s.find('{'); brace != std::string_view::npos) {
    if (s.back() != '}') unmapped("glycopeptide " + py_repr(text) + " has text after its glycan's closing '}'");
    row.counts = read_glycan(s.substr(brace + 1, s.size() - brace - 2), text, model.glycans);
    s = s.substr(0, brace);
  }
  std::vector<PlacedMod> mods;
  const BracketForm form{'(', ')', "glycopeptide", true};
  const std::string residues = scan_sequence(s, text, form, [&](const Bracket& b) {
    if (b.body == "N-Glycosylation" || b.body == "O-Glycosylation") return;  // the glycan's site
    const std::string where = "(" + std::string(b.body) + ")";
    mods.push_back({b.position, b.place, std::string(b.body), resolve_name(model.modifications, b.body, where)});
  });
  finish_peptide(row, residues, std::move(mods), model.residues);
  if (cell.has(R::MassShift)) add_shift_name(trim(cell(R::MassShift)), row.counts, model.glycans);
  if (cell.has(R::MassShifts)) add_listed_shifts(trim(cell(R::MassShifts)), row.counts, model.glycans);
  if (cell.has(R::ChargeStates)) row.charges = parse_charge_states(cell(R::ChargeStates));
}

}  // namespace isotope::formats
