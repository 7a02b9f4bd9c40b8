// Peptide compositions: a residue sequence and a modification string
// ("3,C,Carbamidomethyl/5,M,Oxidation") summed from the residue and
// modification tables, and a PepSeq with bracketed modifications
// ("AC[Carbamidomethyl]K") cut into those two.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "isotope/model/composition.hpp"

namespace isotope {

// The residues of seq (each code point one residue), plus one water unless
// residue is true.
Composition calc_seq_comp(std::string_view seq, const CompTable& comp_map, bool residue = true);
// Modification names of a string such as "3,C,Carbamidomethyl/5,M,Oxidation":
// split at every "/", keep each entry's last ","-separated field.
Counts mods_counter(std::string_view mods);
Composition calc_mod_comp(std::string_view mods, const CompTable& comp_map);
// Sequence part, then (unless mods is empty or absent) the modifications.
// The composition behind GP_Mass: the peptide's (residues and
// modifications), then the glycan's, then one water.
Composition glycopeptide_composition(Composition peptide, const Composition& glycan);

Composition calc_pep_comp(std::string_view seq, std::optional<std::string_view> mods,
                          const CompTable& aa_comp_map, const CompTable& mod_comp_map,
                          bool residue = true);

// A PepSeq such as "AC[Carbamidomethyl]M[Oxidation]K" cut into its plain
// sequence "ACMK" and its modification string
// "2,C,Carbamidomethyl/3,M,Oxidation": tokens are the matches of
// [A-Z]\[.+?\]|[A-Z]; everything else is skipped.
struct PeptideParts {
  std::string seq;
  std::string mods;
};
PeptideParts split_peptide(std::string_view pep_seq);

// What split_peptide skipped in a PepSeq, worded for a warning: the first
// skipped character and why it was skipped (a character that is no residue
// and no bracketed modification, an unclosed, empty or unmatched bracket, a
// bracket that follows no residue, a second bracket after a modification),
// and how many more were skipped. nullopt when nothing was skipped.
std::optional<std::string> pep_seq_problem(std::string_view pep_seq);
void split_peptide(std::string_view pep_seq, PeptideParts& out);  // reuses out's buffers

}  // namespace isotope
