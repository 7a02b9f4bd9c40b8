// Extracted chromatograms integrated while the run streams past, and
// shared centroids between identifications.
#include "isotope/run/ms1_quantities.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "isotope/base/pyformat.hpp"

namespace isotope {

RunQuantities::RunQuantities(const RunIndex& index, double window_min, double tolerance_ppm)
    : index_(index), window_(window_min), tolerance_(tolerance_ppm) {
  for (const SpectrumInfo& s : index.spectra) {
    if (s.ms_level != 1) continue;
    if (!ms1_rt_.empty() && s.rt_min < ms1_rt_.back()) ordered_ = false;
    rank_of_.emplace(s.position, ms1_rt_.size());
    ms1_rt_.push_back(s.rt_min);
  }
}

void RunQuantities::add_row(std::size_t row, const std::vector<double>& mz, double center_rt) {
  auto [it, fresh] = by_peaks_.emplace(mz, ids_.size());
  if (fresh) {
    ids_.push_back({mz});
    for (double p : mz) peaks_.emplace_back(p, it->second);
  }
  Row r;
  r.id = it->second;
  if (ordered_) {
    r.first = static_cast<std::size_t>(std::lower_bound(ms1_rt_.begin(), ms1_rt_.end(), center_rt - window_) - ms1_rt_.begin());
    r.last = static_cast<std::size_t>(std::upper_bound(ms1_rt_.begin(), ms1_rt_.end(), center_rt + window_) - ms1_rt_.begin());
  }
  rows_[row] = r;
}

std::vector<std::size_t> RunQuantities::close() {
  std::sort(peaks_.begin(), peaks_.end());
  for (auto& [row, r] : rows_) waiting_.push_back(&r);
  std::sort(waiting_.begin(), waiting_.end(), [](const Row* a, const Row* b) { return a->first < b->first; });
  // The union of the windows, as MS1 ranks, then as positions.
  std::vector<bool> wanted(ms1_rt_.size(), false);
  std::size_t reach = 0;
  for (const Row* r : waiting_) {
    for (std::size_t k = std::max(r->first, reach); k < r->last; ++k) wanted[k] = true;
    reach = std::max(reach, r->last);
  }
  std::vector<std::size_t> out;
  for (const auto& [position, rank] : rank_of_)
    if (wanted[rank]) out.push_back(position);
  return out;
}

double RunQuantities::summed(Identification& id, std::size_t rank, const Centroids& c) const {
  if (id.stamp == rank) return id.sum;
  id.sum = summed_intensity(c, id.mz, tolerance_);
  id.stamp = rank;
  return id.sum;
}

void RunQuantities::visit(std::size_t position, const Centroids& c) {
  const auto found = rank_of_.find(position);
  if (found == rank_of_.end() || !ordered_) return;
  const std::size_t rank = found->second;
  const double rt = ms1_rt_[rank];
  while (next_ < waiting_.size() && waiting_[next_]->first <= rank) active_.push_back(waiting_[next_++]);
  std::erase_if(active_, [&](const Row* r) { return r->last <= rank; });
  for (Row* r : active_) {
    if (r->first > rank) continue;
    const double sum = summed(ids_[r->id], rank, c);
    if (r->seen) r->area += (rt - r->last_rt) * (sum + r->last_sum) / 2;
    if (sum > r->best) {
      r->best = sum;
      r->apex_rt = rt;
    }
    r->seen = true;
    r->last_rt = rt;
    r->last_sum = sum;
  }
}

std::optional<RunQuantities::Area> RunQuantities::area(std::size_t row) const {
  auto it = rows_.find(row);
  if (it == rows_.end() || !it->second.seen) return std::nullopt;
  return Area{it->second.area, it->second.apex_rt};
}

std::size_t RunQuantities::overlaps(std::size_t row, const Centroids& c, const EnvelopeMatch& m,
                                    std::string& note) const {
  const std::size_t own = rows_.at(row).id;
  std::set<std::size_t> others;
  for (const std::optional<std::size_t>& claimed : m.claimed) {
    if (!claimed) continue;
    const double at = c.mz[*claimed], reach = at * tolerance_ * 2e-6;
    auto first = std::lower_bound(peaks_.begin(), peaks_.end(), std::pair{at - reach, std::size_t{0}});
    for (auto p = first; p != peaks_.end() && p->first <= at + reach; ++p) {
      if (p->second == own || others.count(p->second) || most_intense_within(c, p->first, tolerance_) != claimed)
        continue;
      others.insert(p->second);
      note += note.empty() ? "its envelope shares centroids with other identifications: " : "; ";
      note += "m/z ";
      append_float_repr(note, at);
      note += " with the envelope whose first peak is at m/z ";
      append_float_repr(note, ids_[p->second].mz.front());
    }
  }
  return others.size();
}

}  // namespace isotope
