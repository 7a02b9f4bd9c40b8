// The plain results of reading search-engine rows: the mapped row
// (ImportedRow), the columns of a format's header (ImportColumns) and the
// tables a row is mapped with (ImportTables), and the Glycan text of a
// row's counts. The functions that fill them are in importers.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "isotope/formats/engine_format.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/model/modifications.hpp"

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
  std::array<Count, 5> counts{};  // N (HexNAc), H (Hex), F (Fuc), S (NeuAc), G (NeuGc)
  // The peptide: residues plus modifications, without water and glycan.
  Composition peptide;
  // From the format's own columns, whatever the status; empty when the cell
  // is missing or is not a number (a charge must be a non-zero integer,
  // "3" or "3.0"). GlycReSoft gives no m/z but the neutral mass.
  std::optional<long> charge;
  std::optional<double> precursor_mz;
  std::optional<double> neutral_mass;
};

// "N4H5F1S0G0": the counts as the Glycan column writes them.
std::string glycan_string(const std::array<Count, 5>& counts);

// The column of each role in a header, for one format.
struct ImportColumns {
  enum Role : std::size_t {
    Peptide,      // pGlyco3/FragPipe Peptide, MetaMorpheus Full Sequence, GlycReSoft glycopeptide
    Mods,         // pGlyco3 Mod, FragPipe Assigned Modifications
    Glycan,       // pGlyco3 GlycanComposition, FragPipe Total Glycan Composition,
                  // MetaMorpheus Plausible GlycanComposition
    Charge,       // Charge, Precursor Charge, charge
    PrecursorMz,  // PrecursorMZ, Calibrated Observed M/Z (else Observed M/Z), Precursor MZ
    NeutralMass,  // GlycReSoft neutral_mass
    Decoy,        // pGlyco3 GlyDecoy, MetaMorpheus Decoy/Contaminant/Target
    Decoy2,       // pGlyco3 PepDecoy
    kRoles
  };
  EngineFormat format = EngineFormat::PGlyco3;
  std::array<std::optional<std::size_t>, kRoles> index{};
};

// What a row is mapped with: the run's residue and monosaccharide tables
// and its modification resolver.
struct ImportTables {
  const CompTable& residues;        // aa_comp
  const CompTable& monosaccharides; // gly_comp (keys N, H, F, S, G)
  const ModificationResolver& modifications;
};

}  // namespace isotope
