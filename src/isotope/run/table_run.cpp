// The shared skeleton of every table route: workers, ordered pieces, the
// commit of a piece in row order, and the end of a run.
#include "isotope/run/table_run.hpp"

#include <algorithm>
#include <cstdio>

#include "isotope/pattern/isotope_pattern.hpp"
#include "isotope/run/ordered_run.hpp"

namespace isotope {

RunModel run_model(const ModelTables& tables, const Options& options) {
  prepare_isotope_patterns();  // before any worker computes a pattern
  RunModel model(tables, run_vocabulary(options), options.modifications,
                 options.unimod_lookup() ? shared_unimod() : nullptr);
  if (options.proforma_output) model.titles = shared_unimod();
  return model;
}

void RunTally::add(const RowOutput& out) {
  max_peaks = std::max(max_peaks, out.peaks);
  if (!out.has_offset) return;
  ++with_offset;
  if (!out.matched) {
    ++unmatched;
  } else if (out.offset_value != 0) {
    ++off_mono;
    ++by_peak[out.offset_value];
  }
}

RunTally& RunTally::operator+=(const RunTally& other) {
  rows += other.rows;
  max_peaks = std::max(max_peaks, other.max_peaks);
  with_offset += other.with_offset;
  off_mono += other.off_mono;
  unmatched += other.unmatched;
  for (const auto& [peak, n] : other.by_peak) by_peak[peak] += n;
  decoys += other.decoys;
  return *this;
}

std::string precursor_summary(const RunTally& tally, double tolerance_ppm) {
  if (tally.off_mono == 0 && tally.unmatched == 0) return {};
  const std::size_t mono = tally.with_offset - tally.off_mono - tally.unmatched;
  std::string peaks;
  for (const auto& [peak, n] : tally.by_peak)
    peaks += (peaks.empty() ? "" : ", ") + std::string(peak > 0 ? "+" : "") + std::to_string(peak) + ": " +
             std::to_string(n);
  char tolerance[32];
  std::snprintf(tolerance, sizeof tolerance, "%g", tolerance_ppm);
  return "isotope: of " + std::to_string(tally.with_offset) + " rows with a precursor m/z, " + std::to_string(mono) +
         " match the monoisotopic peak, " + std::to_string(tally.off_mono) + " another isotope peak" +
         (peaks.empty() ? "" : " (" + peaks + ")") + " and " + std::to_string(tally.unmatched) + " no peak within " +
         std::string(tolerance) + " ppm (GP_Isotope_Offset)\n";
}

TableRun::TableRun(const RunModel& model, const Options& options, unsigned threads, TableNotes& notes)
    : threads_(threads), notes_(notes) {
  workers_.reserve(threads);
  for (unsigned k = 0; k < threads; ++k) workers_.emplace_back(model, options);
}

std::size_t TableRun::slots() const noexcept { return slots_for(threads_); }

void TableRun::work(TableRoute& route, std::size_t slot, Worker& worker) {
  PieceState& st = route.state(slot);
  st.notes.clear();
  st.error.reset();
  st.tally = {};
  route.begin(slot);
  const std::size_t n = route.rows(slot);
  for (std::size_t i = 0; i < n; ++i) {
    st.rows_done = i;
    worker.notes.start(st.notes, i);
    std::string_view column;
    try {
      route.row(slot, i, worker, column);
    } catch (Error& e) {
      route.locate(e, slot, i, column);
      st.error = std::move(e);
      return;
    }
    st.tally.add(worker.out);
  }
  st.rows_done = n;
  st.tally.rows = n;
}

void TableRun::commit(TableRoute& route, std::size_t slot, Progress* progress) {
  PieceState& st = route.state(slot);
  st.notes.commit(st.rows_done, notes_, [&](std::size_t i) { return route.key(slot, i); });
  if (st.error) {
    notes_.finish();
    if (notes_.strict_failed()) throw notes_.strict_error(&*st.error);
    throw *st.error;
  }
  route.write(slot);
  tally_ += st.tally;
  if (progress) progress->advance(route.rows(slot));
}

void TableRun::run(TableRoute& route, Progress* progress) {
  OrderedWork w;
  w.slots = slots();
  w.read = [&](std::size_t s) { return route.read(s); };
  w.work = [&](std::size_t s, unsigned k) { work(route, s, workers_[k]); };
  w.commit = [&](std::size_t s) {
    commit(route, s, progress);
    return true;
  };
  run_ordered(threads_, w);
}

void TableRun::finish() {
  notes_.finish();
  if (notes_.strict_failed()) throw notes_.strict_error();
}

}  // namespace isotope
