// The four row mappers (map_row: src/isotope/formats/) on arbitrary cells.
// The first byte picks the format; the rest, cut at tabs, is one row for a
// header holding every column the format reads, in a fixed order.
//
// - map_row never throws (a row that cannot be mapped is Unmapped), and
//   gives the same row twice;
// - an Unmapped row says why; a Decoy or Unmapped row carries no PepSeq,
//   PepMods, counts, composition or warning;
// - an Ok row's PepSeq is letters A-Z, each followed by bracketed names;
//   PepMods lists those names in order with their 1-based positions and
//   residues; counts are >= 0; and its peptide composition equals the
//   residues plus the resolver's composition of every listed name (the
//   composition of a row and its rendering agree).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/base/unicode.hpp"
#include "isotope/formats/importers.hpp"
#include "isotope/formats/proforma.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/unimod.hpp"

namespace {

using namespace isotope;

const std::vector<std::string>& header(EngineFormat f) {
  static const std::vector<std::string> pg = {"Peptide", "Mod", "GlycanComposition", "Charge", "PrecursorMZ", "GlyDecoy", "PepDecoy"};
  static const std::vector<std::string> fp = {"Peptide", "Assigned Modifications", "Total Glycan Composition", "Charge",
                                              "Calibrated Observed M/Z"};
  static const std::vector<std::string> mm = {"Full Sequence", "Plausible GlycanComposition", "Precursor Charge",
                                              "Precursor MZ", "Decoy/Contaminant/Target"};
  static const std::vector<std::string> gr = {"glycopeptide", "charge", "neutral_mass"};
  static const std::vector<std::string> pf = {"Peptidoform"};
  switch (f) {
    case EngineFormat::ProForma: return pf;
    case EngineFormat::PGlyco3: return pg;
    case EngineFormat::FragPipe: return fp;
    case EngineFormat::MetaMorpheus: return mm;
    case EngineFormat::GlycReSoft: return gr;
  }
  return pg;
}

bool same(const ImportedRow& a, const ImportedRow& b) {
  return a.status == b.status && a.problem == b.problem && a.warning == b.warning && a.pep_seq == b.pep_seq &&
         a.pep_mods == b.pep_mods && a.counts == b.counts && a.peptide == b.peptide && a.charge == b.charge &&
         a.precursor_mz == b.precursor_mz && a.neutral_mass == b.neutral_mass;
}

// PepSeq cut into residues and names, read bracket by bracket (names hold
// no ']' in our rendering only when the engine's names hold none).
bool cut(const std::string& pep_seq, std::string& residues, std::vector<std::pair<std::size_t, std::string>>& names) {
  for (std::size_t p = 0; p < pep_seq.size();) {
    if (pep_seq[p] >= 'A' && pep_seq[p] <= 'Z') {
      residues += pep_seq[p++];
      continue;
    }
    if (pep_seq[p] != '[' || residues.empty()) return false;
    std::size_t q = pep_seq.find(']', p);
    if (q == std::string::npos) return false;
    names.emplace_back(residues.size(), pep_seq.substr(p + 1, q - p - 1));
    p = q + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text = fuzz::as_text(data + 1, size - 1);
  if (isotope::text::find_invalid_utf8(text) != std::string_view::npos) return 0;  // the reader refuses those
  static const RunModel tables(ModelTables::reference(), GlycanVocabulary::builtin(), {}, UnimodDb::load());
  const ModificationResolver& resolver = tables.modifications;
  const auto format = static_cast<EngineFormat>(data[0] % 5);

  std::vector<std::string> cells;
  std::size_t start = 0;
  for (std::size_t p; (p = text.find('\t', start)) != std::string_view::npos; start = p + 1)
    cells.emplace_back(text.substr(start, p - start));
  cells.emplace_back(text.substr(start));

  ImportColumns cols;
  fuzz::must_succeed("import_columns", [&] { cols = import_columns(format, header(format)); });
  ImportedRow row, again;
  fuzz::must_succeed("map_row", [&] { row = map_row(cols, cells, tables); });
  fuzz::must_succeed("map_row", [&] { again = map_row(cols, cells, tables); });
  FUZZ_CHECK(same(row, again), "the same row maps twice differently");

  if (row.status != RowStatus::Ok) {
    FUZZ_CHECK(row.pep_seq.empty() && row.pep_mods.empty() && row.counts.empty() &&
                   row.peptide.empty() && row.warning.empty(),
               "a decoy or unmapped row carries mapped cells");
    FUZZ_CHECK(row.status == RowStatus::Decoy || !row.problem.empty(), "an unmapped row without its problem");
    return 0;
  }
  for (Count n : row.counts) FUZZ_CHECK(n >= 0, "a negative count");
  std::string residues;
  std::vector<std::pair<std::size_t, std::string>> names;
  bool plain_names = true;
  if (!cut(row.pep_seq, residues, names)) {
    // Only a name holding ']' or '[' can make the rendering unreadable.
    FUZZ_CHECK(row.pep_mods.find_first_of("[]") != std::string::npos, "PepSeq is not residues with brackets: " + row.pep_seq);
    return 0;
  }
  std::string mods;
  Composition expected = calc_seq_comp(residues, reference_tables().aa_comp);
  for (const auto& entry : names) {
    const std::string& name = entry.second;
    if (!mods.empty()) mods += '/';
    mods += std::to_string(entry.first) + "," + residues[entry.first - 1] + "," + name;
    plain_names = plain_names && name.find_first_of("/,") == std::string::npos;
    fuzz::must_succeed("resolve", [&] {
      expected += name.rfind("Formula:", 0) == 0 ? proforma_formula(std::string_view(name).substr(8)) : resolver.resolve(name);
    });
  }
  FUZZ_CHECK(mods == row.pep_mods, "PepMods " + row.pep_mods + " does not list PepSeq " + row.pep_seq);
  FUZZ_CHECK(!plain_names || expected == row.peptide, "the composition differs from the rendering's");
  return 0;
}
