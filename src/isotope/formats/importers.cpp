// The columns of each format by name, and map_row: the format's mapper with
// the Unmapped signal turned into the row's status.
#include "isotope/formats/importers.hpp"

#include <algorithm>

#include "isotope/base/errors.hpp"
#include "isotope/formats/row_parts.hpp"

namespace isotope {

namespace {

using Role = ImportColumns::Role;

struct ColumnRule {
  Role role;
  bool required;
  // Names tried in order: the first one the header holds is taken.
  std::vector<std::string_view> names;
};

const std::vector<ColumnRule>& rules(EngineFormat format) {
  static const std::vector<ColumnRule> pglyco3 = {
      {Role::Peptide, true, {"Peptide"}},       {Role::Mods, true, {"Mod"}},
      {Role::Glycan, true, {"GlycanComposition"}}, {Role::Charge, true, {"Charge"}},
      {Role::PrecursorMz, true, {"PrecursorMZ"}}, {Role::Decoy, false, {"GlyDecoy"}},
      {Role::Decoy2, false, {"PepDecoy"}},
  };
  static const std::vector<ColumnRule> fragpipe = {
      {Role::Peptide, true, {"Peptide"}},
      {Role::Mods, true, {"Assigned Modifications"}},
      {Role::Glycan, false, {"Total Glycan Composition"}},
      {Role::Charge, true, {"Charge"}},
      {Role::PrecursorMz, true, {"Calibrated Observed M/Z", "Observed M/Z"}},
      {Role::DeltaMass, false, {"Delta Mass"}},
  };
  static const std::vector<ColumnRule> metamorpheus = {
      {Role::Peptide, true, {"Full Sequence"}},
      {Role::Glycan, false, {"Plausible GlycanComposition"}},
      {Role::Charge, true, {"Precursor Charge"}},
      {Role::PrecursorMz, true, {"Precursor MZ"}},
      {Role::Decoy, false, {"Decoy/Contaminant/Target"}},
      {Role::ModsFormula, false, {"Mods Combined Chemical Formula"}},
  };
  // The spectrum-match export has charge and mass_shift_name, the
  // identification export charge_states and mass_shifts.
  static const std::vector<ColumnRule> glycresoft = {
      {Role::Peptide, true, {"glycopeptide"}},       {Role::Charge, false, {"charge"}},
      {Role::ChargeStates, false, {"charge_states"}}, {Role::NeutralMass, true, {"neutral_mass"}},
      {Role::MassShift, false, {"mass_shift_name"}}, {Role::MassShifts, false, {"mass_shifts"}},
  };
  static const std::vector<ColumnRule> proforma = {{Role::Peptide, true, {"Peptidoform"}}};
  switch (format) {
    case EngineFormat::ProForma: return proforma;
    case EngineFormat::PGlyco3: return pglyco3;
    case EngineFormat::FragPipe: return fragpipe;
    case EngineFormat::MetaMorpheus: return metamorpheus;
    case EngineFormat::GlycReSoft: return glycresoft;
  }
  return pglyco3;
}

}  // namespace

ImportColumns import_columns(EngineFormat format, const std::vector<std::string>& header,
                             std::string_view peptidoform_column) {
  ImportColumns cols;
  cols.format = format;
  for (ColumnRule rule : rules(format)) {
    if (format == EngineFormat::ProForma) rule.names = {peptidoform_column};
    for (std::string_view name : rule.names) {
      // As written, or as R's make.names rewrote it (a table resaved by R).
      auto it = std::find_if(header.begin(), header.end(), [&](const std::string& h) { return names_match(h, name); });
      if (it != header.end()) {
        cols.index[rule.role] = static_cast<std::size_t>(it - header.begin());
        break;
      }
    }
    if (rule.required && !cols.index[rule.role])
      throw Error::lookup("table has no column", rule.names.front(),
                          "(a " + std::string(engine_name(format)) + " result table has one)");
  }
  if (format == EngineFormat::GlycReSoft && !cols.index[Role::Charge] && !cols.index[Role::ChargeStates])
    throw Error::lookup("table has no column", "charge", "nor 'charge_states' (a GlycReSoft result table has one)");
  return cols;
}

std::vector<long> parse_charge_states(std::string_view cell) {
  std::vector<long> charges;
  formats::for_each_entry(cell, ';', [&](std::string_view entry) {
    if (std::optional<long> z = formats::parse_charge(entry)) charges.push_back(*z);
  });
  return charges;
}

ImportedRow map_row(const ImportColumns& columns, const std::vector<std::string>& cells, const RunModel& model) {
  ImportedRow row;
  const formats::RowView cell{columns, cells};
  try {
    switch (columns.format) {
      case EngineFormat::PGlyco3: formats::map_pglyco3(cell, model, row); break;
      case EngineFormat::FragPipe: formats::map_fragpipe(cell, model, row); break;
      case EngineFormat::MetaMorpheus: formats::map_metamorpheus(cell, model, row); break;
      case EngineFormat::GlycReSoft: formats::map_glycresoft(cell, model, row); break;
      case EngineFormat::ProForma: formats::map_proforma(cell, model, row); break;
    }
  } catch (formats::Unmapped& u) {
    row.status = RowStatus::Unmapped;
    row.problem = std::move(u.problem);
  }
  if (row.status != RowStatus::Ok) {
    // Nothing half-mapped leaves an unmapped or decoy row.
    row.pep_seq.clear();
    row.pep_mods.clear();
    row.counts.clear();
    row.peptide = Composition();
    row.warning.clear();
  }
  return row;
}

}  // namespace isotope
