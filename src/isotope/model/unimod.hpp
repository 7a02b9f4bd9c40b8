// The Unimod database of protein modifications, read from the unimod.xml
// data file that OpenMS ships: per record its title, full name, alternative
// names, accession number, delta mass and delta composition. The reference
// tables fall back on it for the compositions of their modification
// entries; the modification resolver looks names up in it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/model/composition.hpp"

namespace isotope {

struct UnimodRecord {
  std::string title;      // e.g. "Carbamidomethyl"
  std::string full_name;  // e.g. "Iodoacetamide derivative"
  // The record's <umod:alt_name> entries, e.g. "Carboxyamidomethylation".
  std::vector<std::string> alt_names;
  int record_id = 0;
  double mono_mass = 0.0;    // the record's delta mono_mass
  // The delta composition in document order; isotopes such as "13C" are
  // keyed "C[13]".
  Composition composition;
};

class UnimodDb {
 public:
  // Reads the database; an empty path means the file OpenMS ships. A missing
  // or unreadable file is an OS Error, a file without records a value Error.
  static std::shared_ptr<const UnimodDb> load(const std::string& path = {});
  static std::string default_path();

  // The record with this title, or else with this full name ("Guanidination"
  // is the full name of the record titled "Guanidinyl"); a lookup Error
  // otherwise.
  const UnimodRecord& by_title(std::string_view title) const;

  const std::vector<UnimodRecord>& records() const noexcept { return records_; }
  const std::string& path() const noexcept { return path_; }

 private:
  std::string path_;
  std::vector<UnimodRecord> records_;
};

// Parses the text of a unimod.xml file (exposed for tests).
std::vector<UnimodRecord> parse_unimod_xml(std::string_view xml);

}  // namespace isotope
