// MetaMorpheus's glyco PSM rows (*.psmtsv, tab-separated):
//   Full Sequence   residues with bracketed "[Type:Name on Site]" after the
//                   residue they modify ("C[Common Fixed:Carbamidomethyl on C]");
//                   brackets before the first residue are N-terminal, a
//                   "-[...]" after the last is C-terminal. A glycan is such a
//                   bracket whose type is a glycosylation
//                   ("N[N-linked glycosylation:H5N2 on Nxt]",
//                   "T[O-linked glycosylation:H1N1A1 on X]"); several glycans
//                   add up. A "|" (" or " in older releases) means
//                   several candidate sequences.
//   Plausible GlycanComposition  "H5N4A2F1", checked against the glycans
//                   of Full Sequence, which is authoritative
//   Mods Combined Chemical Formula  "C2H2O2": the sum of the modifications'
//                   formulas; where the table has it, it is the
//                   modifications' composition, checked against their
//                   names, and a name outside our lists takes the rest
//   Precursor Charge, Precursor MZ
//   Decoy/Contaminant/Target  "D" marks a decoy
// Glycan letters: the glycan vocabulary's MetaMorpheus letters (H Hex, N
// HexNAc, A NeuAc, G NeuGc, F Fuc, S sulfate, ...); others are refused.
// Modification names ("Hydroxylation on N", "Oxidation of M",
// "Phosphoserine"): the run's table and definitions, then MetaMorpheus's
// and UniProt's lists, then Unimod.
#include <string>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"
#include "isotope/model/formula.hpp"

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
  if (readable && stated == row.counts) return;
  if (!row.warning.empty()) row.warning += "; ";
  row.warning += "Plausible GlycanComposition " + py_repr(plausible) + " differs from the glycans of Full Sequence (" +
                 glycans.glycan_string(row.counts) + ")";
}

// "Oxidation on M" -> ("Oxidation", 'M'); a name without a residue, or
// on any residue (" on X", a motif such as " on Nxt" keeps its first
// letter), sits on `residue`.
std::pair<std::string_view, char> name_and_site(std::string_view body, char residue) {
  for (std::string_view sep : {" on ", " of "}) {
    const std::size_t at = body.rfind(sep);
    if (at == std::string_view::npos || at + sep.size() >= body.size()) continue;
    const char site = body[at + sep.size()];
    if (site >= 'A' && site <= 'Z') return {body.substr(0, at), site == 'X' ? residue : site};
  }
  return {body, residue};
}

// The composition of a modification name, or nullopt for a name no list
// holds. A name whose formula holds an element outside the model (a metal)
// makes the row Unmapped.
std::optional<Composition> modification(std::string_view name, char site, const ModificationResolver& resolver,
                                        std::string_view where) {
  if (const Composition* c = resolver.table().find(name)) return *c;
  if (std::optional<std::string_view> formula = metamorpheus_formula(name, site)) {
    try {
      return parse_modification_formula(*formula);
    } catch (const Error& e) {
      unmapped(std::string(where) + ": modification " + py_repr(name) + " is " + std::string(*formula) +
               ", outside the model: " + e.message());
    }
  }
  try {
    return resolver.resolve(name);
  } catch (const Error&) {
    return std::nullopt;
  }
}

// The words on a name no list holds: how to define it.
std::string unknown_name(std::string_view name, std::string_view where) {
  std::string text = std::string(where) + ": unknown modification " + py_repr(name);
  if (name.find_first_of("[],/") == std::string_view::npos)
    text += " (define it with isotope_modification." + std::string(name) + " = FORMULA)";
  return text;
}

// A Mods Combined Chemical Formula cell as a composition ("C{13}6" writes
// a labelled atom); nullopt when it is empty or unreadable.
std::optional<Composition> combined_formula(std::string_view cell) {
  std::string text(trim(cell));
  if (text.empty()) return std::nullopt;
  for (char& c : text) c = c == '{' ? '[' : c == '}' ? ']' : c;
  try {
    return parse_modification_formula(text);
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace

namespace {

struct Brackets {
  std::string residues;
  std::vector<PlacedMod> mods;
  std::vector<std::size_t> unknown;  // the mods whose names no list holds, in order
  GlycanCounts counts;
  bool glycan = false;
};

// The name a modification is written with in PepSeq and PepMods: as
// MetaMorpheus wrote it when the run's resolver gives that name the same
// composition, else its formula ("Formula:H-2O-1", as GP_ProForma writes
// one), so that the rendering always reads back to the row's composition.
std::string written_name(std::string_view name, const Composition& c, const ModificationResolver& resolver) {
  try {
    if (resolver.resolve(name) == c) return std::string(name);
  } catch (const Error&) {
  }
  return "Formula:" + (c.empty() ? std::string("H0") : comp_to_str(c));
}

// Full Sequence's residues, modifications and glycans; an unknown name is
// Unmapped unless the table states the combined formula.
Brackets read_brackets(std::string_view seq, const RunModel& model, bool formula_given) {
  Brackets r;
  r.counts = model.glycans.zero_counts();
  static constexpr BracketForm kForm{'[', ']', "Full Sequence"};
  std::vector<Bracket> brackets;
  r.residues = scan_sequence(seq, seq, kForm, [&](const Bracket& b) { brackets.push_back(b); });
  for (const Bracket& b : brackets) {
    const std::size_t colon = b.body.find(':');
    const std::string_view type = colon == std::string_view::npos ? std::string_view{} : b.body.substr(0, colon);
    const std::string_view body = colon == std::string_view::npos ? b.body : b.body.substr(colon + 1);
    const std::string where = "[" + std::string(b.body) + "]";
    const auto [name, site] = name_and_site(body, r.residues.empty() ? 'X' : r.residues[b.position - 1]);
    if (is_glycosylation(type)) {
      add_glycan(name, r.counts, model.glycans, "glycan " + py_repr(name) + " of " + where);
      r.glycan = true;
      continue;
    }
    std::optional<Composition> c = modification(name, site, model.modifications, where);
    if (!c && !formula_given) unmapped(unknown_name(name, where));
    if (!c) r.unknown.push_back(r.mods.size());
    r.mods.push_back({b.position, b.place, c ? written_name(name, *c, model.modifications) : std::string(name),
                      c.value_or(Composition())});
  }
  return r;
}

// The modifications' composition from the combined formula: what the
// names leave unexplained is the first unknown name's, else a modification
// of its own on the first residue; either warns.
void apply_combined(Brackets& b, std::string_view cell, const Composition& combined, ImportedRow& row) {
  Composition rest = combined;
  for (const PlacedMod& m : b.mods) rest.add_times(m.composition, -1);
  if (rest.empty() && b.unknown.empty()) return;
  const std::string formula = "Formula:" + (rest.empty() ? std::string("H0") : comp_to_str(rest));
  const std::string stated = "Mods Combined Chemical Formula " + py_repr(trim(cell));
  if (b.unknown.empty()) {
    b.mods.push_back({1, Place::NTerm, formula, rest});
    row.warning = "the modifications of Full Sequence differ from " + stated + ", which was taken";
    return;
  }
  PlacedMod& m = b.mods[b.unknown.front()];
  row.warning = "modification " + py_repr(m.name) + " is in none of the model's lists: its formula " +
                formula.substr(8) + " was taken from " + stated;
  m.name = formula;
  m.composition = rest;
}

}  // namespace

void map_metamorpheus(const RowView& cell, const RunModel& model, ImportedRow& row) {
  using R = ImportColumns;
  if (open_row(cell, row, {{R::Decoy, "D"}})) return;
  const std::string_view seq = trim(cell(R::Peptide));
  if (seq.find('|') != std::string_view::npos || seq.find(" or ") != std::string_view::npos)
    unmapped("Full Sequence " + py_repr(seq) + " holds several candidate sequences");
  const std::optional<Composition> combined = combined_formula(cell(R::ModsFormula));
  Brackets b = read_brackets(seq, model, combined.has_value());
  row.counts = b.counts;
  if (combined && !b.glycan)
    apply_combined(b, cell(R::ModsFormula), *combined, row);
  else if (!b.unknown.empty())
    unmapped(unknown_name(b.mods[b.unknown.front()].name, "Full Sequence " + py_repr(seq)));
  finish_peptide(row, b.residues, std::move(b.mods), model.residues);
  check_plausible(trim(cell(R::Glycan)), model.glycans, row);
}

}  // namespace isotope::formats
