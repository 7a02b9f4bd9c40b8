// The built-in monosaccharide table and the lookups every glycan reader
// shares.
#include "isotope/model/glycan_vocabulary.hpp"

#include <algorithm>

namespace isotope {

namespace {

// Residue compositions (free sugar less one water), keys in the order the
// reference table stores them. Engine codes, each from the engine's own
// tables:
// - pGlyco3: H, N, A, G, F as its Glycan(H,N,A,G,F) column heads name
//   them; X (xylose) and R (hexuronic acid) as the pGlyco code table of
//   DeepGlyco (yyi17/DeepGlyco, chem/gpep/monosaccharides.yaml) writes them.
// - MetaMorpheus: Glycan.CharMassDic (EngineLayer/GlycoSearch/Glycan.cs):
//   H, N, A, G, F; P phosphate (HPO3, 79.96633); S sulfate (SO3, 79.95681:
//   not NeuAc); C acetyl (C2H2O, 42.01056); K KDN (250.06897); Y sodium
//   (the Na atom, 22.98977, read as the Na adduct below); and, written as
//   free-sugar formulas, X xylose (C5H10O5, 150.05282) and, in releases
//   before Y and C, R hexuronic acid (C6H10O7, 194.04265).
// Long names: FragPipe's glycan residue and modification tables
// (PTM-Shepherd glycan_residues.txt, glycan_mods.txt: Pent, KDN, HexA,
// Phospho, Sulfo, NH4, Na, K, Acetyl) and GlycReSoft's IUPAClite names and
// mass shifts (Xyl, Pen, Kdn, HexA, @sulfate, @phosphate, @acetyl;
// Ammonium, Sodium, Potassium, Formate, Deoxy from
// chromatogram_tree/mass_shift.py).
// An entry of the vocabulary: a count column and gly_comp entry (the
// five), or another entry with its engine codes.
Monosaccharide entry(std::string code, std::vector<std::string> names, Composition composition,
                     std::vector<EngineCode> codes, bool five = false) {
  Monosaccharide m;
  m.code = std::move(code);
  m.names = std::move(names);
  m.composition = std::move(composition);
  m.count_column = five;
  m.engine_codes = std::move(codes);
  m.gly_comp = five;
  return m;
}

std::vector<Monosaccharide> builtin_entries() {
  const auto f = [](const char* formula) { return Composition::from_formula(formula); };
  const auto both = [](const char* pglyco3, const char* metamorpheus) {
    return std::vector<EngineCode>{{"pglyco3", pglyco3}, {"metamorpheus", metamorpheus}};
  };
  Monosaccharide mannose_6_phosphate = entry("H[6P]", {}, {{"H", 10}, {"C", 6}, {"O", 5}, {"P", 1}}, {});
  mannose_6_phosphate.gly_comp = true;
  return {
      entry("N", {"HexNAc"}, {{"H", 13}, {"C", 8}, {"N", 1}, {"O", 5}}, both("N", "N"), true),
      entry("H", {"Hex"}, {{"H", 10}, {"C", 6}, {"O", 5}}, both("H", "H"), true),
      entry("F", {"Fuc", "dHex"}, {{"H", 10}, {"C", 6}, {"O", 4}}, both("F", "F"), true),
      entry("S", {"NeuAc", "Neu5Ac"}, {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 8}}, both("A", "A"), true),
      entry("G", {"NeuGc", "Neu5Gc"}, {{"H", 17}, {"C", 11}, {"N", 1}, {"O", 9}}, both("G", "G"), true),
      mannose_6_phosphate,
      // Monosaccharides.
      entry("X[Xyl]", {"Xyl", "Xylose"}, f("C5H8O4"), {{"pglyco3", "X"}}),
      entry("X[Pent]", {"Pent", "Pen", "Pentose"}, f("C5H8O4"), {}),
      entry("X[KDN]", {"KDN", "Kdn"}, f("C9H14O8"), {{"metamorpheus", "K"}}),
      entry("X[HexA]", {"HexA"}, f("C6H8O6"), {{"pglyco3", "R"}}),
      // Substituents: what they add to the residue they sit on.
      entry("X[Phospho]", {"Phospho", "@phosphate"}, f("HPO3"), {{"metamorpheus", "P"}}),
      entry("X[Sulfo]", {"Sulfo", "@sulfate"}, f("SO3"), {{"metamorpheus", "S"}}),
      entry("X[Ac]", {"Acetyl", "@acetyl"}, f("C2H2O"), {{"metamorpheus", "C"}}),
      // MetaMorpheus's letters written as free sugars: one water more than
      // the residue, as its masses have it.
      entry("X[Xyl+H2O]", {"Xyl+H2O"}, f("C5H10O5"), {{"metamorpheus", "X"}}),
      entry("X[HexA+H2O]", {"HexA+H2O"}, f("C6H10O7"), {{"metamorpheus", "R"}}),
      // Adducts, as the neutral difference they make: a metal ion takes a
      // proton's place (+ metal - H), ammonium adds NH3.
      entry("X[Na]", {"Na", "Sodium"}, {{"Na", 1}, {"H", -1}}, {{"metamorpheus", "Y"}}),
      entry("X[K]", {"K", "Potassium"}, {{"K", 1}, {"H", -1}}, {}),
      entry("X[NH4]", {"NH4", "NH3", "Ammonium"}, f("NH3"), {}),
      entry("X[Formate]", {"Formate"}, f("CH2O2"), {}),
      entry("X[Deoxy]", {"Deoxy"}, {{"O", -1}}, {}),
  };
}

std::string join(const std::vector<std::string_view>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += ", ";
    out += parts[i];
  }
  return out;
}

}  // namespace

GlycanVocabulary::GlycanVocabulary(std::vector<Monosaccharide> entries) : entries_(std::move(entries)) { index(); }

const GlycanVocabulary& GlycanVocabulary::builtin() {
  static const GlycanVocabulary vocabulary(builtin_entries());
  return vocabulary;
}

void GlycanVocabulary::index() {
  count_columns_.clear();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].count_column &&
        std::find(added_columns_.begin(), added_columns_.end(), i) == added_columns_.end())
      count_columns_.push_back(i);
  count_columns_.insert(count_columns_.end(), added_columns_.begin(), added_columns_.end());
}

void GlycanVocabulary::define(Monosaccharide entry) {
  if (std::optional<std::size_t> i = by_code(entry.code))
    entries_[*i] = std::move(entry);
  else
    entries_.push_back(std::move(entry));
  index();
}

void GlycanVocabulary::define(std::string_view name, Composition composition) {
  if (std::optional<std::size_t> i = find(name)) {
    entries_[*i].composition = std::move(composition);
    entries_[*i].gly_comp = false;
    entries_[*i].defined = true;
    return;
  }
  Monosaccharide m = entry("X[" + std::string(name) + "]", {std::string(name)}, std::move(composition), {});
  m.defined = true;
  entries_.push_back(std::move(m));
  index();
}

void GlycanVocabulary::add_count_column(std::size_t i, std::string column) {
  entries_[i].count_column = true;
  entries_[i].column = std::move(column);
  added_columns_.push_back(i);
  index();
}

const std::string& GlycanVocabulary::column_name(std::size_t i) const {
  return entries_[i].column.empty() ? entries_[i].code : entries_[i].column;
}

std::vector<std::string> GlycanVocabulary::count_column_names() const {
  std::vector<std::string> names;
  for (std::size_t i : count_columns_) names.push_back(column_name(i));
  return names;
}

std::optional<std::size_t> GlycanVocabulary::find(std::string_view name) const {
  if (std::optional<std::size_t> i = by_name(name)) return i;
  if (std::optional<std::size_t> i = by_code(name)) return i;
  return by_code("X[" + std::string(name) + "]");
}

std::optional<std::size_t> GlycanVocabulary::by_code(std::string_view code) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].code == code) return i;
  return std::nullopt;
}

std::optional<std::size_t> GlycanVocabulary::by_name(std::string_view name) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    for (const std::string& n : entries_[i].names)
      if (n == name) return i;
  return std::nullopt;
}

std::optional<std::size_t> GlycanVocabulary::by_engine_code(std::string_view engine, std::string_view code) const {
  for (std::size_t i = 0; i < entries_.size(); ++i)
    for (const EngineCode& c : entries_[i].engine_codes)
      if (c.engine == engine && c.code == code) return i;
  return std::nullopt;
}

std::string GlycanVocabulary::name_list() const {
  std::vector<std::string_view> names;
  for (const Monosaccharide& m : entries_)
    if (!m.names.empty()) names.push_back(m.names.front());
  return join(names);
}

std::string GlycanVocabulary::engine_code_list(std::string_view engine) const {
  std::vector<std::string_view> codes;
  for (const Monosaccharide& m : entries_)
    for (const EngineCode& c : m.engine_codes)
      if (c.engine == engine) codes.push_back(c.code);
  return join(codes);
}

std::string GlycanVocabulary::glycan_string(const GlycanCounts& counts) const {
  std::string out;
  for (std::size_t i : count_columns_) {
    out += entries_[i].code;
    out += std::to_string(counts[i]);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].count_column || counts[i] == 0) continue;
    out += entries_[i].code;
    out += std::to_string(counts[i]);
  }
  return out;
}

CompTable GlycanVocabulary::composition_table(const CompTable& base) const {
  CompTable table = base;
  for (const Monosaccharide& m : entries_)
    if (m.defined || (!m.gly_comp && !table.find(m.code))) table.set(m.code, m.composition);
  return table;
}

}  // namespace isotope
