// One table through the computation, whatever holds it: a table file of
// our format, a search engine's table, or a table in memory. TableRun owns
// what every route shares (the workers and their row computers, the
// ordered run over pieces of rows, the notes handed over in row order, the
// commit of a piece and the first failure in row order, the tallies); a
// route (TableRoute) keeps only its pieces and how it reads, computes one
// row of, names and writes them.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "isotope/base/errors.hpp"
#include "isotope/model/run_model.hpp"
#include "isotope/run/notes.hpp"
#include "isotope/run/options.hpp"
#include "isotope/run/piece_notes.hpp"
#include "isotope/run/progress.hpp"
#include "isotope/run/rows.hpp"

namespace isotope {

// The model a run computes with: the tables, the glycan vocabulary with
// the options' monosaccharide definitions and count columns, and the
// options' modification definitions (with Unimod when isotope_unimod asks
// for it).
RunModel run_model(const ModelTables& tables, const Options& options);

// What a run counts over its rows, for the summaries at its end.
struct RunTally {
  std::size_t rows = 0;
  std::size_t max_peaks = 0;
  // Rows whose precursor was checked; of those, the ones on another peak
  // than the monoisotopic (by peak) and the ones within the tolerance of
  // no peak.
  std::size_t with_offset = 0, off_mono = 0, unmatched = 0;
  std::map<int, std::size_t> by_peak;
  std::size_t decoys = 0;
  void add(const RowOutput& out);
  RunTally& operator+=(const RunTally& other);
};

// The precursor check's three groups, "isotope: of 10 rows with a precursor
// m/z, 6 match the monoisotopic peak, 3 another isotope peak (+1: 2, -1: 1)
// and 1 no peak within 20 ppm (GP_Isotope_Offset)\n", or nothing when
// every checked row is monoisotopic.
std::string precursor_summary(const RunTally& tally, double tolerance_ppm);

// A worker thread's state: its row computer and buffers.
struct Worker {
  Worker(const RunModel& model, const Options& options) : rows(model, options) {}
  RowComputer rows;
  RowOutput out;
  RowCells cells;
  RowNotes notes;
  std::vector<std::string> texts;  // a search-engine row's cells
};

// What every piece of rows holds besides the route's own input and output.
struct PieceState {
  PieceNotes notes;  // by row within the piece
  std::optional<Error> error;
  std::size_t rows_done = 0;  // rows computed (all, or those before the error)
  RunTally tally;
};

// A route's pieces and hooks. Pieces live in TableRun::slots() slots.
class TableRoute {
 public:
  virtual ~TableRoute() = default;
  virtual PieceState& state(std::size_t slot) = 0;
  // On the reader thread, pieces in order: fills the slot with the next
  // rows; false at the end of the table.
  virtual bool read(std::size_t slot) = 0;
  virtual std::size_t rows(std::size_t slot) const = 0;
  // On a worker: empties the piece's output before its rows are computed.
  virtual void begin(std::size_t slot) = 0;
  // On a worker: computes row i of the piece into worker.out (notes go to
  // worker.notes) and appends its output. A failure is an Error; `column`
  // names the step at work.
  virtual void row(std::size_t slot, std::size_t i, Worker& worker, std::string_view& column) = 0;
  // The key the table's notes name row i by (a file's line, a frame's row).
  virtual long key(std::size_t slot, std::size_t i) const = 0;
  // Places a row's error (file, line, column).
  virtual void locate(Error& e, std::size_t slot, std::size_t i, std::string_view column) const = 0;
  // On the calling thread, pieces in order: writes the piece's output.
  virtual void write(std::size_t slot) = 0;
};

class TableRun {
 public:
  TableRun(const RunModel& model, const Options& options, unsigned threads, TableNotes& notes);

  // The slots a route holds its pieces in.
  std::size_t slots() const noexcept;

  // Reads, computes and writes every piece; notes reach the table's notes
  // in row order. The first failing row in row order stops the run with
  // its error (in strict mode, the list of rows that rested on a guess,
  // then that error). The progress counter, when given, advances per piece.
  void run(TableRoute& route, Progress* progress = nullptr);

  // Prints the notes' counts past their caps; in strict mode, the error of
  // rows that rested on a guess.
  void finish();

  const RunTally& tally() const noexcept { return tally_; }

 private:
  void work(TableRoute& route, std::size_t slot, Worker& worker);
  void commit(TableRoute& route, std::size_t slot, Progress* progress);

  unsigned threads_;
  std::vector<Worker> workers_;
  TableNotes& notes_;
  RunTally tally_;
};

}  // namespace isotope
