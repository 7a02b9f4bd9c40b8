// The plain results of reading search-engine rows: the mapped row
// (ImportedRow) and the columns of a format's header (ImportColumns). Rows
// are mapped with a run's model (model/run_model.hpp); the functions that
// fill them are in importers.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "isotope/formats/engine_format.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/model/glycan_vocabulary.hpp"

namespace isotope {

enum class RowStatus { Ok, Decoy, Unmapped };

struct ImportedRow {
  RowStatus status = RowStatus::Ok;
  std::string problem;  // Unmapped: what could not be mapped, and where in the row
  std::string warning;  // Ok: the row's own columns disagree (MetaMorpheus's
                        // Plausible GlycanComposition against Full Sequence)
  // Our bracketed form: "AC[Carbamidomethyl]K[TMT6plex][TMT6plex]"; a
  // terminal modification sits on the first or last residue.
  std::string pep_seq;
  // "2,C,Carbamidomethyl/3,K,TMT6plex/3,K,TMT6plex", as PepMods is written.
  std::string pep_mods;
  GlycanCounts counts;  // per entry of the run's glycan vocabulary
  // The residue (1-based) the glycan sits on, when the row says.
  std::optional<std::size_t> glycan_site;
  // The peptide: residues plus modifications, without water and glycan.
  Composition peptide;
  // From the format's own columns, whatever the status; empty when the cell
  // is missing or is not a number (a charge must be a non-zero integer,
  // "3" or "3.0"). GlycReSoft gives no m/z but the neutral mass.
  std::optional<long> charge;
  std::optional<double> precursor_mz;
  std::optional<double> neutral_mass;
  // GlycReSoft's identification export: the charges its chromatogram was
  // seen at (charge_states), in place of one charge.
  std::vector<long> charges;
};

// The column of each role in a header, for one format.
struct ImportColumns {
  enum Role : std::size_t {
    Peptide,      // pGlyco3/FragPipe Peptide, MetaMorpheus Full Sequence, GlycReSoft glycopeptide,
                  // ProForma's peptidoform column
    Mods,         // pGlyco3 Mod, FragPipe Assigned Modifications
    Glycan,       // pGlyco3 GlycanComposition, FragPipe Total Glycan Composition,
                  // MetaMorpheus Plausible GlycanComposition
    Charge,       // Charge, Precursor Charge, charge (GlycReSoft: or charge_states)
    PrecursorMz,  // PrecursorMZ, Calibrated Observed M/Z (else Observed M/Z), Precursor MZ
    NeutralMass,  // GlycReSoft neutral_mass
    ModsFormula,  // MetaMorpheus Mods Combined Chemical Formula
    DeltaMass,    // FragPipe Delta Mass
    ChargeStates, // GlycReSoft charge_states (identification export)
    MassShift,    // GlycReSoft mass_shift_name (spectrum-match export)
    MassShifts,   // GlycReSoft mass_shifts (identification export)
    Decoy,        // pGlyco3 GlyDecoy, MetaMorpheus Decoy/Contaminant/Target
    Decoy2,       // pGlyco3 PepDecoy
    kRoles
  };
  EngineFormat format = EngineFormat::PGlyco3;
  std::array<std::optional<std::size_t>, kRoles> index{};
  // The run's precursor tolerance (isotope_precursor_tolerance_ppm), for
  // the mass a FragPipe row without glycan leaves unexplained.
  double tolerance_ppm = 20;
};

}  // namespace isotope
