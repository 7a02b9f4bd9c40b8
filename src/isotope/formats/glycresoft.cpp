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
#include <string>

#include "isotope/base/errors.hpp"
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
}

}  // namespace isotope::formats
