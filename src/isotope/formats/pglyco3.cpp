// pGlyco3's result rows (pGlycoDB-GP-FDR*.txt, tab-separated):
//   Peptide            residues, the glycosylated Asn written J (read as N)
//   Mod                "pos,Name[Site];" repeated ("4,Oxidation[M];",
//                      "1,TMT6plex[AnyN-term];"); empty, "null" or quoted
//   GlycanComposition  "H(4)N(4)A(1)F(3)", zeros left out; the codes are
//                      the glycan vocabulary's pGlyco3 codes (H Hex, N
//                      HexNAc, A NeuAc, G NeuGc, F Fuc), others refused
//   Charge, PrecursorMZ
//   GlyDecoy, PepDecoy "1" marks a decoy
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

GlycanCounts read_glycan(std::string_view text, const GlycanVocabulary& glycans) {
  GlycanCounts counts = glycans.zero_counts();
  read_code_counts(text, counts, "GlycanComposition", "H(4)N(4)A(1)F(3)", [&](std::string_view code) {
    return engine_monosaccharide(glycans, "pglyco3", code, "GlycanComposition (pGlyco3 codes)");
  });
  return counts;
}

std::vector<PlacedMod> read_mods(std::string_view text, std::string_view peptide, const ModificationResolver& resolver) {
  std::string_view s = trim(text);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = trim(s.substr(1, s.size() - 2));
  std::vector<PlacedMod> mods;
  if (s == "null") return mods;
  for_each_entry(s, ';', [&](std::string_view entry) {
    const std::string where = "Mod entry " + py_repr(entry);
    std::size_t comma = entry.find(',');
    std::size_t open = entry.rfind('[');
    if (comma == std::string_view::npos || open == std::string_view::npos || open < comma || entry.back() != ']')
      unmapped(where + " is not of the form pos,Name[Site]");
    std::optional<Count> pos = parse_count(trim(entry.substr(0, comma)));
    std::string_view name = trim(entry.substr(comma + 1, open - comma - 1));
    std::string_view site = entry.substr(open + 1, entry.size() - open - 2);
    if (!pos || name.empty()) unmapped(where + " is not of the form pos,Name[Site]");
    PlacedMod m;
    m.name = name;
    const auto n = static_cast<Count>(peptide.size());
    if (site.find("N-term") != std::string_view::npos) {
      if (*pos > 1) unmapped(where + ": an N-terminal modification at position " + std::to_string(*pos));
      m.place = Place::NTerm;
      m.position = 1;
    } else if (site.find("C-term") != std::string_view::npos) {
      if (*pos != n && *pos != n + 1) unmapped(where + ": a C-terminal modification at position " + std::to_string(*pos));
      m.place = Place::CTerm;
      m.position = peptide.size();
    } else {
      if (*pos < 1 || *pos > n) unmapped(where + ": position " + std::to_string(*pos) + " is outside the peptide");
      char residue = peptide[static_cast<std::size_t>(*pos - 1)];
      bool fits = site.size() == 1 && (site[0] == residue || (residue == 'J' && site[0] == 'N'));
      if (!fits) unmapped(where + ": the peptide has " + std::string(1, residue) + " at position " + std::to_string(*pos));
      m.position = static_cast<std::size_t>(*pos);
    }
    m.composition = resolve_name(resolver, name, where);
    mods.push_back(std::move(m));
  });
  return mods;
}

}  // namespace

void map_pglyco3(const RowView& cell, const RunModel& model, ImportedRow& row) {
  using R = ImportColumns;
  if (open_row(cell, row, {{R::Decoy, "1"}, {R::Decoy2, "1"}})) return;
  const std::string_view peptide = trim(cell(R::Peptide));
  std::vector<PlacedMod> mods = read_mods(cell(R::Mods), peptide, model.modifications);
  row.counts = read_glycan(cell(R::Glycan), model.glycans);
  std::string residues(peptide);
  for (char& c : residues)
    if (c == 'J') c = 'N';  // pGlyco3 writes the glycosylated Asn as J
  finish_peptide(row, residues, std::move(mods), model.residues);
}

}  // namespace isotope::formats
