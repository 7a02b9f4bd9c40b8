// MetaMorpheus's glyco PSM rows (*.psmtsv, tab-separated):
//   Full Sequence   residues with bracketed "[Type:Name on Site]" after the
//                   residue they modify ("C[Common Fixed:Carbamidomethyl on C]");
//                   brackets before the first residue are N-terminal, a
//                   "-[...]" after the last is C-terminal. A glycan is such a
//                   bracket whose type is a glycosylation
//                   ("N[N-linked glycosylation:H5N2 on Nxt]",
//                   "T[O-linked glycosylation:H1N1A1 on X]"); several glycans
//                   add up. A "|" means several candidate sequences.
//   Plausible GlycanComposition  "H5N4A2F1", checked against the glycans
//                   of Full Sequence, which is authoritative
//   Precursor Charge, Precursor MZ
//   Decoy/Contaminant/Target  "D" marks a decoy
// Glycan letters: the glycan vocabulary's MetaMorpheus letters (H Hex, N
// HexNAc, A NeuAc, G NeuGc, F Fuc); others are refused (its S is not NeuAc).
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

// "H5N4A2F1" added to counts; where names the text in problems.
void add_glycan(std::string_view text, GlycanCounts& counts, const GlycanVocabulary& glycans, std::string_view where) {
  std::size_t p = 0;
  if (text.empty()) unmapped(std::string(where) + " is empty");
  while (p < text.size()) {
    const std::string_view code = text.substr(p++, 1);
    std::size_t d = p;
    while (d < text.size() && text[d] >= '0' && text[d] <= '9') ++d;
    std::optional<Count> n = parse_count(text.substr(p, d - p));
    if (!(code[0] >= 'A' && code[0] <= 'Z') || !n) unmapped(std::string(where) + " is not of the form H5N4A2F1");
    counts[engine_monosaccharide(glycans, "metamorpheus", code, std::string(where) + " (MetaMorpheus letters)")] += *n;
    p = d;
  }
}

bool is_glycosylation(std::string_view type) {
  std::string lower(type);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower.find("glycosylation") != std::string::npos;
}

// Plausible GlycanComposition, when given, is checked against the glycans
// of Full Sequence, which is authoritative: a difference (or an unreadable
// statement) only warns.
void check_plausible(std::string_view plausible, const GlycanVocabulary& glycans, ImportedRow& row) {
  if (plausible.empty()) return;
  GlycanCounts stated = glycans.zero_counts();
  bool readable = true;
  try {
    add_glycan(plausible, stated, glycans, "Plausible GlycanComposition");
  } catch (const Unmapped&) {
    readable = false;
  }
  if (!readable || stated != row.counts)
    row.warning = "Plausible GlycanComposition " + py_repr(plausible) + " differs from the glycans of Full Sequence (" +
                  glycans.glycan_string(row.counts) + ")";
}

}  // namespace

void map_metamorpheus(const RowView& cell, const RunModel& model, ImportedRow& row) {
  using R = ImportColumns;
  if (open_row(cell, row, {{R::Decoy, "D"}})) return;
  const std::string_view seq = trim(cell(R::Peptide));
  if (seq.find('|') != std::string_view::npos)
    unmapped("Full Sequence " + py_repr(seq) + " holds several candidate sequences");
  std::vector<PlacedMod> mods;
  GlycanCounts counts = model.glycans.zero_counts();
  static constexpr BracketForm kForm{'[', ']', "Full Sequence"};
  const std::string residues = scan_sequence(seq, seq, kForm, [&](const Bracket& b) {
    const std::size_t colon = b.body.find(':');
    const std::string_view type = colon == std::string_view::npos ? std::string_view{} : b.body.substr(0, colon);
    std::string_view name = colon == std::string_view::npos ? b.body : b.body.substr(colon + 1);
    if (std::size_t on = name.rfind(" on "); on != std::string_view::npos) name = name.substr(0, on);
    const std::string where = "[" + std::string(b.body) + "]";
    if (is_glycosylation(type)) {
      add_glycan(name, counts, model.glycans, "glycan " + py_repr(name) + " of " + where);
      return;
    }
    mods.push_back({b.position, b.place, std::string(name), resolve_name(model.modifications, name, where)});
  });
  row.counts = counts;
  finish_peptide(row, residues, std::move(mods), model.residues);
  check_plausible(trim(cell(R::Glycan)), model.glycans, row);
}

}  // namespace isotope::formats
