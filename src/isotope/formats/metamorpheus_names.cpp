// MetaMorpheus's modification names with their formulas: the Common Fixed
// and Common Variable names of its search settings, the Common Biological,
// Common Artifact, Less Common and Metal names of its modification list
// (EngineLayer/Mods/Mods.txt, "ID" and "CF" lines), and the UniProt PTM
// names that searches of a UniProt XML database write (UniProt's ptmlist,
// the net change of each residue's modification).
#include <array>

#include "isotope/formats/row_parts.hpp"

namespace isotope::formats {

namespace {

struct NamedFormula {
  std::string_view name;
  std::string_view sites;  // the residues it sits on when the formula depends on them; empty: any
  std::string_view formula;
};

// MetaMorpheus's own list, as its names are written before " on X".
constexpr std::array kMetaMorpheus = std::to_array<NamedFormula>({
    {"Carbamidomethyl", "", "H3C2NO"}, {"Oxidation", "", "O"}, {"Hydroxylation", "", "O"},
    {"Carboxylation", "", "CO2"}, {"Phosphorylation", "", "HO3P"}, {"Acetylation", "", "H2C2O"},
    {"Lactylation", "", "H3C3O2"}, {"Formylation", "", "CO"}, {"Methylation", "", "H2C"},
    {"Dimethylation", "", "H4C2"}, {"Trimethylation", "", "H6C3"}, {"Sulfonation", "", "O3S"},
    {"Citrullination", "", "H-1N-1O"}, {"Nitrosylation", "Y", "H-1NO2"}, {"Nitrosylation", "C", "H-1NO"},
    {"Butyrylation", "", "C4H6O"}, {"Crotonylation", "", "C4H4O"}, {"Glutarylation", "", "C5H6O3"},
    {"Hydroxybutyrylation", "", "C4H6O2"}, {"Malonylation", "", "C3H2O3"}, {"Succinylation", "", "C4H4O3"},
    {"Glu to PyroGlu", "", "H-3N-1"}, {"HexNAc", "", "C8H13NO5"}, {"ADP-ribosylation", "", "C15H21N5O13P2"},
    {"Pyridoxal phosphate", "", "C8H8NO5P"}, {"Deamidation", "", "H-1N-1O"}, {"Ammonia loss", "", "H-3N-1"},
    {"Water Loss", "", "H-2O-1"}, {"Water loss", "", "H-2O-1"}, {"Carbamyl", "", "HCNO"},
    {"Proline pyrrole to pyrrolidine six member ring", "", "C"}, {"Amidation", "", "HNO-1"},
    {"Propionamidation", "", "H5C3NO"}, {"Carboxymethylation", "", "H2C2O2"}, {"Dioxidation", "", "O2"},
    {"Biotinylation", "", "C10H14N2O2S"}, {"Propionylation", "", "C3H4O"},
    {"Oxidation to Kynurenine", "", "C-1O"}, {"Dehydroalanine", "C", "H-2S-1"}, {"Dehydroalanine", "S", "H-2O-1"},
    {"Dehydrobutyrine", "", "H-2O-1"}, {"Didehydro", "", "H-2"}, {"Ethylation", "", "H4C2"},
    {"Oxidation and then loss of oxidized M side chain", "", "H-4C-1S-1O"}, {"Pyrrolidinone", "", "H-2C-1O-1"},
    {"Trioxidation", "", "O3"}, {"Farnesylation", "", "H24C15"}, {"Myristoylation", "", "H26C14O"},
    {"Palmitoylation", "", "H30C16O"}, {"Quinone", "", "H-2O2"}, {"Decarboxylation", "", "H-2C-1O-1"},
    {"Reduction", "", "O-1"}, {"Sodium", "", "H-1Na"}, {"Potassium", "", "H-1K"}, {"Calcium", "", "H-2Ca"},
    {"Zinc", "", "H-2Zn"}, {"Fe[III]", "", "H-3Fe"}, {"Fe[II]", "", "H-2Fe"}, {"Magnesium", "", "H-2Mg"},
    {"Cu[I]", "", "H-1Cu"},
});

// UniProt's PTM names, with or without "Uniprot:" before them.
constexpr std::array kUniProt = std::to_array<NamedFormula>({
    {"Phosphoserine", "", "HPO3"}, {"Phosphothreonine", "", "HPO3"}, {"Phosphotyrosine", "", "HPO3"},
    {"Pros-phosphohistidine", "", "HPO3"}, {"Tele-phosphohistidine", "", "HPO3"},
    {"N6-acetyllysine", "", "C2H2O"}, {"N-acetylserine", "", "C2H2O"}, {"N-acetylalanine", "", "C2H2O"},
    {"N-acetylmethionine", "", "C2H2O"}, {"N-acetylthreonine", "", "C2H2O"}, {"N-acetylglycine", "", "C2H2O"},
    {"N-acetylvaline", "", "C2H2O"}, {"N-acetylproline", "", "C2H2O"}, {"N-acetylcysteine", "", "C2H2O"},
    {"N-acetylaspartate", "", "C2H2O"}, {"N-acetylglutamate", "", "C2H2O"}, {"O-acetylserine", "", "C2H2O"},
    {"N6-methyllysine", "", "CH2"}, {"Omega-N-methylarginine", "", "CH2"}, {"Cysteine methyl ester", "", "CH2"},
    {"N5-methylglutamine", "", "CH2"}, {"N6,N6-dimethyllysine", "", "C2H4"},
    {"Asymmetric dimethylarginine", "", "C2H4"}, {"Symmetric dimethylarginine", "", "C2H4"},
    {"N,N-dimethylproline", "", "C2H4"}, {"N6,N6,N6-trimethyllysine", "", "C3H6"},
    {"N,N,N-trimethylalanine", "", "C3H6"}, {"N6-succinyllysine", "", "C4H4O3"}, {"N6-butyryllysine", "", "C4H6O"},
    {"N6-crotonyllysine", "", "C4H4O"}, {"N6-malonyllysine", "", "C3H2O3"}, {"N6-glutaryllysine", "", "C5H6O3"},
    {"N6-(2-hydroxyisobutyryl)lysine", "", "C4H6O2"}, {"N6-(beta-hydroxybutyryl)lysine", "", "C4H6O2"},
    {"N6-lactoyllysine", "", "C3H4O2"}, {"N6-propionyllysine", "", "C3H4O"}, {"N6-formyllysine", "", "CO"},
    {"N6-carboxylysine", "", "CO2"}, {"4-carboxyglutamate", "", "CO2"}, {"N6-biotinyllysine", "", "C10H14N2O2S"},
    {"N6-(pyridoxal phosphate)lysine", "", "C8H8NO5P"}, {"N6-(lipoyl)lysine", "", "C8H12OS2"},
    {"Citrulline", "", "H-1N-1O"}, {"Deamidated asparagine", "", "H-1N-1O"},
    {"Deamidated glutamine", "", "H-1N-1O"}, {"Pyrrolidone carboxylic acid", "Q", "H-3N-1"},
    {"Pyrrolidone carboxylic acid", "E", "H-2O-1"}, {"4-hydroxyproline", "", "O"}, {"3-hydroxyproline", "", "O"},
    {"Hydroxyproline", "", "O"}, {"5-hydroxylysine", "", "O"}, {"Methionine sulfoxide", "", "O"},
    {"Cysteine sulfenic acid (-SOH)", "", "O"}, {"Cysteine sulfinic acid (-SO2H)", "", "O2"},
    {"Cysteine sulfonic acid (-SO3H)", "", "O3"}, {"Sulfotyrosine", "", "SO3"},
    {"3'-nitrotyrosine", "", "H-1NO2"}, {"S-nitrosocysteine", "", "H-1NO"},
    {"S-palmitoyl cysteine", "", "C16H30O"}, {"N-palmitoyl cysteine", "", "C16H30O"},
    {"N-myristoyl glycine", "", "C14H26O"}, {"S-farnesyl cysteine", "", "C15H24"},
    {"S-geranylgeranyl cysteine", "", "C20H32"}, {"ADP-ribosylserine", "", "C15H21N5O13P2"},
});

template <std::size_t N>
const NamedFormula* find(const std::array<NamedFormula, N>& table, std::string_view name, char site) {
  for (const NamedFormula& e : table)
    if (e.name == name && (e.sites.empty() || e.sites.find(site) != std::string_view::npos)) return &e;
  return nullptr;
}

}  // namespace

std::optional<std::string_view> metamorpheus_formula(std::string_view name, char site) {
  if (const NamedFormula* e = find(kMetaMorpheus, name, site)) return e->formula;
  if (const NamedFormula* e = find(kUniProt, name, site)) return e->formula;
  // UniProt names a C-terminal amide after its residue: "Leucine amide".
  constexpr std::string_view kAmide = " amide";
  if (name.size() > kAmide.size() && name.substr(name.size() - kAmide.size()) == kAmide) return "HNO-1";
  return std::nullopt;
}

}  // namespace isotope::formats
