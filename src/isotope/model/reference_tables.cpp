// The reference tables: the standard residues, the literal modification and
// monosaccharide entries (with the Unimod fallback when storing them fails),
// the "mic" masses and mod_d.
#include "isotope/model/reference_tables.hpp"

#include "isotope/model/glycan_vocabulary.hpp"
#include "isotope/model/unimod.hpp"

namespace isotope {

const CompTable& standard_residues() {
  static const CompTable table = {
      {"A", {{"H", 5}, {"C", 3}, {"O", 1}, {"N", 1}}},
      {"C", {{"H", 5}, {"C", 3}, {"S", 1}, {"O", 1}, {"N", 1}}},
      {"D", {{"H", 5}, {"C", 4}, {"O", 3}, {"N", 1}}},
      {"E", {{"H", 7}, {"C", 5}, {"O", 3}, {"N", 1}}},
      {"F", {{"H", 9}, {"C", 9}, {"O", 1}, {"N", 1}}},
      {"G", {{"H", 3}, {"C", 2}, {"O", 1}, {"N", 1}}},
      {"H", {{"H", 7}, {"C", 6}, {"N", 3}, {"O", 1}}},
      {"I", {{"H", 11}, {"C", 6}, {"O", 1}, {"N", 1}}},
      {"J", {{"H", 11}, {"C", 6}, {"O", 1}, {"N", 1}}},
      {"K", {{"H", 12}, {"C", 6}, {"N", 2}, {"O", 1}}},
      {"L", {{"H", 11}, {"C", 6}, {"O", 1}, {"N", 1}}},
      {"M", {{"H", 9}, {"C", 5}, {"S", 1}, {"O", 1}, {"N", 1}}},
      {"N", {{"H", 6}, {"C", 4}, {"O", 2}, {"N", 2}}},
      {"P", {{"H", 7}, {"C", 5}, {"O", 1}, {"N", 1}}},
      {"Q", {{"H", 8}, {"C", 5}, {"O", 2}, {"N", 2}}},
      {"R", {{"H", 12}, {"C", 6}, {"N", 4}, {"O", 1}}},
      {"S", {{"H", 5}, {"C", 3}, {"O", 2}, {"N", 1}}},
      {"T", {{"H", 7}, {"C", 4}, {"O", 2}, {"N", 1}}},
      {"V", {{"H", 9}, {"C", 5}, {"O", 1}, {"N", 1}}},
      {"W", {{"C", 11}, {"H", 10}, {"N", 2}, {"O", 1}}},
      {"Y", {{"H", 9}, {"C", 9}, {"O", 2}, {"N", 1}}},
      {"U", {{"H", 5}, {"C", 3}, {"O", 1}, {"N", 1}, {"Se", 1}}},
      {"O", {{"H", 19}, {"C", 12}, {"O", 2}, {"N", 3}}},
      {"H-", {{"H", 1}}},
      {"-OH", {{"O", 1}, {"H", 1}}},
  };
  return table;
}

namespace {

struct LiteralFailure {};

// Stores the literal entries one at a time, failing (for tests) as it reaches
// options.fail_literal_at.
void fill_literals(ReferenceTables& t, const TableOptions& options) {
  auto store = [&](CompTable& table, std::string_view key, Composition comp) {
    if (!options.fail_literal_at.empty() && key == options.fail_literal_at) throw LiteralFailure{};
    table.set(key, std::move(comp));
  };
  const Composition cam = {{"H", 3}, {"C", 2}, {"N", 1}, {"O", 1}};
  const Composition ox = {{"O", 1}};
  const Composition tmt = {{"H", 20}, {"C", 8}, {"C[13]", 4}, {"N", 1}, {"N[15]", 1}, {"O", 2}};
  store(t.mod_comp, "cam", cam);
  store(t.mod_comp, "Carbamidomethyl", cam);
  store(t.mod_comp, "ox", ox);
  store(t.mod_comp, "Oxidation", ox);
  store(t.mod_comp, "tmt10", tmt);
  store(t.mod_comp, "p", Composition::from_formula("HPO3"));
  store(t.mod_comp, "tmt11", tmt);
  store(t.mod_comp, "guan", {{"H", 2}, {"C", 1}, {"N", 2}});

  for (const Monosaccharide& m : GlycanVocabulary::builtin().entries())
    if (m.gly_comp) store(t.gly_comp, m.code, m.composition);
}

// Replaces the modification entries by the published Unimod records.
void fill_from_unimod(ReferenceTables& t, const TableOptions& options) {
  t.db = UnimodDb::load(options.unimod_path);
  static constexpr std::pair<std::string_view, std::string_view> kTitles[] = {
      {"cam", "Carbamidomethyl"}, {"Carbamidomethyl", "Carbamidomethyl"},
      {"ox", "Oxidation"},        {"Oxidation", "Oxidation"},
      {"tmt10", "TMT6plex"},      {"guan", "Guanidination"},
  };
  for (const auto& [key, title] : kTitles) t.mod_comp.set(key, t.db->by_title(title).composition);
}

}  // namespace

ReferenceTables build_reference_tables(const TableOptions& options) {
  ReferenceTables t;
  t.aa_comp = standard_residues();
  try {
    fill_literals(t, options);
  } catch (const LiteralFailure&) {
    // The only failure the literal step can meet is the test seam's; the
    // entries stored so far stay and the database supplies the rest.
    fill_from_unimod(t, options);
  }

  const double water = Composition{{"H", 2}, {"O", 1}}.mass();
  auto glcnac = [] { return Composition::from_formula("C8H15NO6").mass(); };
  auto fucose = [] { return Composition::from_formula("C6H12O5").mass(); };
  t.mic.emplace_back("H2O", water);
  t.mic.emplace_back("GN", glcnac() - water);
  t.mic.emplace_back("GNF", (glcnac() + fucose()) - (water * 2));
  t.mic.emplace_back("GN2", (glcnac() - water) * 2);

  t.mod_d = {{"TMT10plex", "tmt10"},
             {"Carbamidomethyl", "cam"},
             {"Oxidation", "ox"},
             {"TMT11plex", "tmt11"},
             {"Guanidynation", "guan"}};
  return t;
}

const ReferenceTables& reference_tables() {
  static const ReferenceTables tables = build_reference_tables();
  return tables;
}

}  // namespace isotope
