// ProForma 2.0 peptidoforms (HUPO-PSI's notation, glycans included:
// "EEQYN[Glycan:HexNAc4Hex5Fuc1]STYR/3"), read into the model and written
// from it.
//
// Read (map_row with EngineFormat::ProForma, one cell per row): residues
// with modifications in brackets after the residue they modify, by Unimod
// name or accession ("M[Oxidation]", "M[UNIMOD:35]"), by mass ("C[+57.021]",
// within 0.002 Da of one composition) or by formula ("[Formula:C2H3NO]");
// N- and C-terminal ones ("[Acetyl]-PEPTIDE", "PEPTIDE-[Amidated]");
// glycans as compositions at a site ("N[Glycan:HexNAc4Hex5]"), unlocalised
// ("[Glycan:HexNAc4Hex5]?PEPTIDE") or labile ("{Glycan:Hex}"), all summed;
// the charge after "/". Constructs the model cannot hold (ranges,
// ambiguity groups, cross-links, chimeras, global modifications, adduct
// ions, unlocalised or labile modifications other than glycans) leave the
// row unmapped with a problem naming the construct.
//
// Written (GP_ProForma): the residues, each modification by the Unimod
// title of its composition or as [Formula:...], the glycan composition at
// its site or as an unlocalised prefix, and "/z" when the row has a charge.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"
#include "isotope/model/glycan_vocabulary.hpp"

namespace isotope {

class UnimodDb;

// A ProForma formula ("C2H3NO", "[13C2]H4") as a composition, or a value
// Error.
Composition proforma_formula(std::string_view formula);

// The bracket text of a modification's composition: the Unimod title of
// the same composition (the common titles first, then the database's, when
// given), else "Formula:C2H3N1O1".
std::string proforma_modification(const Composition& composition, const UnimodDb* unimod);

// "Glycan:HexNAc4Hex3Fuc1": the counts in ProForma's monosaccharide names;
// entries without a ProForma name are written by formula. Empty for a
// glycan without residues.
std::string proforma_glycan(const GlycanVocabulary& glycans, const GlycanCounts& counts);

struct ProformaMod {
  std::size_t position = 0;  // 1-based residue
  std::string text;          // the text inside the brackets
};

// The peptidoform: residues with their modifications, the glycan at its
// site (1-based) or as an unlocalised prefix, and "/z".
std::string proforma_text(std::string_view residues, const std::vector<ProformaMod>& mods, std::string_view glycan,
                          std::optional<std::size_t> glycan_site, std::optional<long> charge);

}  // namespace isotope
