// Rows of search-engine result tables mapped to the model: per format, the
// columns a table must have (found by name, never by position) and a row
// mapper that turns one row's cells, kept as text, into a plain
// ImportedRow. Pure functions: nothing here reads files, keeps state or
// writes output, so the pipeline may map rows on any number of threads.
//
// Per run:  EngineFormat f = format_from_option(value);
//           ImportColumns cols = import_columns(f, header_cells);
//           ModificationResolver resolver(tables.mod_comp, definitions, db);
// Per row:  ImportedRow r = map_row(cols, cells, {aa_comp, gly_comp, resolver});
//
// A row is Ok, Decoy (the engine's decoy marker; never mapped) or
// Unmapped (something in it has no counterpart in the model: a
// monosaccharide outside HexNAc, Hex, Fuc, NeuAc and NeuGc, an unknown
// modification name or mass, a malformed cell); problem says what. Only an
// Ok row carries a PepSeq, counts and composition.
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

// The columns of a header (the cells of the table's first record). A
// column the format needs and the header lacks is a lookup Error naming it
// ("table has no column 'Mod'"); optional ones stay empty.
ImportColumns import_columns(EngineFormat format, const std::vector<std::string>& header);

// What a row is mapped with: the run's residue and monosaccharide tables
// and its modification resolver.
struct ImportTables {
  const CompTable& residues;        // aa_comp
  const CompTable& monosaccharides; // gly_comp (keys N, H, F, S, G)
  const ModificationResolver& modifications;
};

// Maps one row; cells beyond the row's end count as empty. Never throws
// for the row's content: what cannot be mapped makes the row Unmapped.
ImportedRow map_row(const ImportColumns& columns, const std::vector<std::string>& cells, const ImportTables& tables);

}  // namespace isotope
