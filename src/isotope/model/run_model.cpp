// The per-run model: tables, vocabulary and resolver, built once.
#include "isotope/model/run_model.hpp"

#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/unimod.hpp"

namespace isotope {

ModelTables ModelTables::reference() {
  const ReferenceTables& t = reference_tables();
  return ModelTables{t.aa_comp, t.mod_comp, t.gly_comp};
}

std::shared_ptr<const UnimodDb> shared_unimod() {
  static const std::shared_ptr<const UnimodDb> db = UnimodDb::load();
  return db;
}

RunModel::RunModel(const ModelTables& tables, GlycanVocabulary glycans_,
                   const std::vector<ModificationDefinition>& definitions, std::shared_ptr<const UnimodDb> unimod)
    : residues(tables.aa_comp),
      glycans(std::move(glycans_)),
      monosaccharides(glycans.composition_table(tables.gly_comp)),
      modifications(tables.mod_comp, definitions, std::move(unimod)) {}

Composition glycopeptide_composition(const RunModel& model, std::string_view pep_seq, std::string_view glycan) {
  const PeptideParts parts = split_peptide(pep_seq);
  Composition peptide = calc_seq_comp(parts.seq, model.residues);
  if (!parts.mods.empty()) peptide += model.modifications.resolve_mods(parts.mods);
  return glycopeptide_composition(std::move(peptide), calc_glycan_comp(glycan, model.monosaccharides));
}

}  // namespace isotope
