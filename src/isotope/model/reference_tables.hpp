// The reference tables every composition is assembled from: the standard
// residues, the modification and monosaccharide entries, the "mic" masses and
// the table of long modification names (mod_d). They are built once, from
// literal values; when storing a literal fails, the modification entries come
// from the Unimod database instead.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "isotope/model/composition.hpp"

namespace isotope {

// The standard one-letter residue compositions (25 entries).
const CompTable& standard_residues();

class UnimodDb;  // unimod.hpp

struct ReferenceTables {
  CompTable aa_comp;   // residue code -> composition
  CompTable mod_comp;  // modification key -> composition
  CompTable gly_comp;  // monosaccharide code -> composition
  std::vector<std::pair<std::string, double>> mic;          // "H2O", "GN", "GNF", "GN2"
  std::vector<std::pair<std::string, std::string>> mod_d;   // long name -> mod_comp key
  std::shared_ptr<const UnimodDb> db;  // set only when the Unimod fallback ran
};

struct TableOptions {
  // Test seam: when not empty, the literal step fails as it is about to store
  // the entry with this key, and the Unimod fallback runs.
  std::string fail_literal_at;
  // The Unimod database file; empty means the one OpenMS ships.
  std::string unimod_path;
};

// Builds the tables: literal modification and monosaccharide entries, with
// the Unimod fallback when that step fails, then the "mic" masses and mod_d.
ReferenceTables build_reference_tables(const TableOptions& options = {});

// The tables built once with default options.
const ReferenceTables& reference_tables();

}  // namespace isotope
