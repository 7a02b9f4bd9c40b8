// Each row's isotope envelope in its MS1 spectrum (isotope_spectra): the
// rows' requests are collected over a first pass of the table (the row's
// reported peaks, its run and scan, its observed precursor), the runs are
// read once each, and the second pass writes every row's evidence (the
// MS1_* columns) from the answers.
//
// A row names its MS2 spectrum by scan number or native id (or, without a
// scan column, a retention time whose nearest MS1 spectrum is taken). A
// number is read as the native ids' scan=N, unless most rows' precursors
// disagree with the spectra so named and agree with the spectra at those
// one-based positions in the file: the table is then read that way, with
// one note. The MS1 spectrum is the MS2's precursor spectrum. Answers are
// computed on one thread, in the order of the runs' names, so they are the
// same for every number of threads.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/run/note_kind.hpp"
#include "isotope/run/notes.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/rows.hpp"
#include "isotope/spectra/ms_run.hpp"

namespace isotope {

// Where a table's rows name their run, MS2 spectrum and retention time
// (column indices into the table's header).
struct SpectraColumns {
  std::optional<std::size_t> run, scan, rt;
};

// The columns of a header: those the options name (isotope_spectra_file_
// column, isotope_scan_column, isotope_rt_column), else the engine's own.
// A column named but missing, or a table with neither a scan nor a
// retention-time column, is an Error (a table without rows needs none).
SpectraColumns spectra_columns(const std::vector<std::string>& names, const Options& options, bool has_rows);

// The spectrum a scan cell names in a run: a native id, a spectrum title's
// scan, or a number, read as the native ids' scan number (else, when no
// native id has one, as the one-based position in the file).
std::optional<std::size_t> spectrum_named(const RunIndex& index, std::string_view scan);

// What a row asks of the spectra.
struct SpectrumRequest {
  std::string run, scan;
  std::optional<double> rt_min;
  std::vector<double> mz, theory;  // the reported peaks: GP_Isotopes_MZ and GP_Isotopes
  double observed_mz = 0;          // 0: none
  int charge = 0;
};

class Ms1EvidenceRun {
 public:
  Ms1EvidenceRun(const Options& options, SpectraColumns columns, std::string table);

  // First pass, on a worker: the request of a computed row, whose cells
  // cell(j) gives by column index.
  void ask(std::vector<SpectrumRequest>& piece, const RowOutput& out,
           const std::function<std::string_view(std::size_t)>& cell) const;
  // First pass, pieces in row order: the piece's requests join the table's.
  void take(std::vector<SpectrumRequest>& piece);

  // Reads the runs and answers every request; notes on the whole table go
  // to notes. A run that cannot be read fails with its Error.
  void resolve(TableNotes& notes);

  // Second pass, on a worker: row's evidence into out, its note (if any)
  // to notes.
  void answer(std::size_t row, RowOutput& out, NoteSink& notes) const;


 private:
  void resolve_run(const std::string& file, const std::vector<std::size_t>& rows, TableNotes& notes);

  const Options& options_;
  SpectraColumns columns_;
  std::string table_;
  std::vector<SpectrumRequest> requests_;
  std::vector<Ms1Evidence> results_;
  std::vector<std::string> notes_;     // per row: why it has no evidence; empty for none
  std::vector<std::string> overlaps_;  // per row: the centroids it shares; empty for none
};

// A route's part in the two passes: none (no run), collecting, or
// answering.
struct Ms1Pass {
  Ms1EvidenceRun* run = nullptr;
  bool collecting = false;
};

// The result of make(), or its Error placed in the table (at its header's
// line, 0 for none).
template <class Make>
auto located(const std::string& table, long line, Make make) {
  try {
    return make();
  } catch (Error& e) {
    throw e.at(table, line);
  }
}

}  // namespace isotope
