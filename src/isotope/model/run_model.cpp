// The per-run model: tables, vocabulary and resolver, built once.
#include "isotope/model/run_model.hpp"

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

}  // namespace isotope
