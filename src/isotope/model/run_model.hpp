// What a run maps and computes rows with: the composition tables (the
// built-in ones, or those a caller rebinds), the monosaccharide vocabulary,
// and the modification resolver built from the run's definitions. Built
// once per run and read only after, so every worker thread shares it.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"
#include "isotope/model/glycan_vocabulary.hpp"
#include "isotope/model/modifications.hpp"

namespace isotope {

class UnimodDb;

// The composition tables a run reads.
struct ModelTables {
  const CompTable& aa_comp;
  const CompTable& mod_comp;
  const CompTable& gly_comp;
  static ModelTables reference();  // the built-in reference tables
};

// The Unimod database OpenMS ships, loaded once (for isotope_unimod).
std::shared_ptr<const UnimodDb> shared_unimod();

// The m/z columns and the precursor check take charges up to this size.
inline constexpr long kMaxCharge = 1000;

struct RunModel {
  RunModel(const ModelTables& tables, GlycanVocabulary glycans,
           const std::vector<ModificationDefinition>& modifications, std::shared_ptr<const UnimodDb> unimod);

  const CompTable& residues;      // aa_comp
  GlycanVocabulary glycans;
  CompTable monosaccharides;      // gly_comp, then the vocabulary's other codes
  ModificationResolver modifications;
  // The Unimod database whose titles name modifications in GP_ProForma, or
  // nullptr (the common titles then, else formulas).
  std::shared_ptr<const UnimodDb> titles;
};

// A glycopeptide's composition as a row of the run gets it: the PepSeq's
// residues and bracketed modifications (named through the run's
// resolver), the glycan string's monosaccharides, and one water.
Composition glycopeptide_composition(const RunModel& model, std::string_view pep_seq, std::string_view glycan);

}  // namespace isotope
