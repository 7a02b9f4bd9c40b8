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
// Glycan letters: H Hex, N HexNAc, A NeuAc, G NeuGc, F Fuc. MetaMorpheus's
// other letters (P, S, Y, C, X, K) are other residues and are refused: its
// S is not NeuAc.
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

int letter_slot(char c) {
  switch (c) {
    case 'N': return 0;
    case 'H': return 1;
    case 'F': return 2;
    case 'A': return 3;
    case 'G': return 4;
    default: return -1;
  }
}

// "H5N4A2F1" added to counts; where names the text in problems.
void add_glycan(std::string_view text, std::array<Count, 5>& counts, std::string_view where) {
  std::size_t p = 0;
  if (text.empty()) unmapped(std::string(where) + " is empty");
  while (p < text.size()) {
    const char code = text[p++];
    std::size_t d = p;
    while (d < text.size() && text[d] >= '0' && text[d] <= '9') ++d;
    std::optional<Count> n = parse_count(text.substr(p, d - p));
    if (!(code >= 'A' && code <= 'Z') || !n)
      unmapped(std::string(where) + " is not of the form H5N4A2F1");
    int slot = letter_slot(code);
    if (slot < 0)
      refuse_monosaccharide(std::string_view(&code, 1), std::string(where) + " (MetaMorpheus letters H, N, A, G, F are read)");
    counts[static_cast<std::size_t>(slot)] += *n;
    p = d;
  }
}

bool is_glycosylation(std::string_view type) {
  std::string lower(type);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower.find("glycosylation") != std::string::npos;
}

}  // namespace

void map_metamorpheus(const RowCells& cell, const ImportTables& tables, ImportedRow& row) {
  using R = ImportColumns;
  row.charge = parse_charge(cell(R::Charge));
  row.precursor_mz = parse_number(cell(R::PrecursorMz));
  if (trim(cell(R::Decoy)) == "D") {
    row.status = RowStatus::Decoy;
    return;
  }
  const std::string_view seq = trim(cell(R::Peptide));
  if (seq.find('|') != std::string_view::npos)
    unmapped("Full Sequence " + py_repr(seq) + " holds several candidate sequences");
  std::string residues;
  std::vector<PlacedMod> mods;
  std::array<Count, 5> counts{};
  bool c_term = false;
  for (std::size_t p = 0; p < seq.size();) {
    const char c = seq[p];
    if (c >= 'A' && c <= 'Z' && !c_term) {
      residues += c;
      ++p;
      continue;
    }
    if (c == '-' && p + 1 < seq.size() && seq[p + 1] == '[' && !residues.empty()) {
      c_term = true;
      ++p;
      continue;
    }
    if (c != '[') unmapped("Full Sequence " + py_repr(seq) + " has " + py_repr(seq.substr(p, 1)) + " where a residue or '[' belongs");
    // The bracket, with nested brackets inside its name.
    std::size_t depth = 0, q = p;
    for (; q < seq.size(); ++q) {
      if (seq[q] == '[') ++depth;
      if (seq[q] == ']' && --depth == 0) break;
    }
    if (q == seq.size()) unmapped("Full Sequence " + py_repr(seq) + " has an unclosed '['");
    const std::string_view body = seq.substr(p + 1, q - p - 1);
    p = q + 1;
    const std::size_t colon = body.find(':');
    const std::string_view type = colon == std::string_view::npos ? std::string_view{} : body.substr(0, colon);
    std::string_view name = colon == std::string_view::npos ? body : body.substr(colon + 1);
    if (std::size_t on = name.rfind(" on "); on != std::string_view::npos) name = name.substr(0, on);
    std::string where = "[";
    where.append(body).append("]");
    if (is_glycosylation(type)) {
      add_glycan(name, counts, "glycan " + py_repr(name) + " of " + where);
      continue;
    }
    PlacedMod m;
    m.name = name;
    if (residues.empty()) {
      m.place = Place::NTerm;
      m.position = 1;
    } else {
      m.place = c_term ? Place::CTerm : Place::Residue;
      m.position = residues.size();
    }
    m.composition = resolve_name(tables.modifications, name, where);
    mods.push_back(std::move(m));
  }
  row.counts = counts;
  finish_peptide(row, residues, std::move(mods), tables.residues);

  const std::string_view plausible = trim(cell(R::Glycan));
  if (!plausible.empty()) {
    std::array<Count, 5> stated{};
    bool readable = true;
    try {
      add_glycan(plausible, stated, "Plausible GlycanComposition");
    } catch (const Unmapped&) {
      readable = false;  // Full Sequence is authoritative: an unreadable statement only warns
    }
    if (!readable || stated != counts)
      row.warning = "Plausible GlycanComposition " + py_repr(plausible) + " differs from the glycans of Full Sequence (" +
                    glycan_string(counts) + ")";
  }
}

}  // namespace isotope::formats
