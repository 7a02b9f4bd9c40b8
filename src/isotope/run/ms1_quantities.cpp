// Extracted chromatograms over retention-time windows, and shared
// centroids between identifications.
#include "isotope/run/ms1_quantities.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include "isotope/base/pyformat.hpp"

namespace isotope {

RunQuantities::RunQuantities(const RunIndex& index, double window_min, double tolerance_ppm)
    : index_(index), window_(window_min), tolerance_(tolerance_ppm) {
  for (const SpectrumInfo& s : index.spectra)
    if (s.ms_level == 1) ms1_rt_.emplace_back(s.rt_min, s.position);
  std::sort(ms1_rt_.begin(), ms1_rt_.end());
}

std::vector<std::size_t> RunQuantities::window(double rt) const {
  const auto first = std::lower_bound(ms1_rt_.begin(), ms1_rt_.end(), std::pair{rt - window_, std::size_t{0}});
  std::vector<std::size_t> out;
  for (auto it = first; it != ms1_rt_.end() && it->first <= rt + window_; ++it) out.push_back(it->second);
  return out;
}

void RunQuantities::add_row(std::size_t row, const std::vector<double>& mz, double center_rt) {
  auto [it, fresh] = by_peaks_.emplace(mz, ids_.size());
  if (fresh) {
    ids_.push_back({mz, {}});
    for (double p : mz) peaks_.emplace_back(p, it->second);
  }
  rows_[row] = {it->second, center_rt};
  for (std::size_t position : window(center_rt)) {
    std::vector<std::size_t>& need = needs_[position];
    if (need.empty() || need.back() != it->second) need.push_back(it->second);
  }
}

std::vector<std::size_t> RunQuantities::close() {
  std::sort(peaks_.begin(), peaks_.end());
  std::vector<std::size_t> out;
  for (const auto& [position, unused] : needs_) out.push_back(position);
  return out;
}

void RunQuantities::visit(std::size_t position, const Centroids& c) {
  auto need = needs_.find(position);
  if (need == needs_.end()) return;
  std::sort(need->second.begin(), need->second.end());
  need->second.erase(std::unique(need->second.begin(), need->second.end()), need->second.end());
  for (std::size_t id : need->second) {
    double sum = 0;
    for (double mz : ids_[id].mz)
      if (auto i = most_intense_within(c, mz, tolerance_)) sum += c.intensity[*i];
    ids_[id].sums[position] = sum;
  }
}

std::optional<RunQuantities::Area> RunQuantities::area(std::size_t row) const {
  auto it = rows_.find(row);
  if (it == rows_.end()) return std::nullopt;
  const auto [id, center] = it->second;
  std::optional<Area> out;
  double last_rt = 0, last_sum = 0, best = -1;
  for (std::size_t position : window(center)) {
    const auto found = ids_[id].sums.find(position);
    const double sum = found == ids_[id].sums.end() ? 0.0 : found->second;
    const double rt = index_.spectra[position].rt_min;
    if (!out)
      out = Area{};
    else
      out->area += (rt - last_rt) * (sum + last_sum) / 2;
    if (sum > best) {
      best = sum;
      out->apex_rt = rt;
    }
    last_rt = rt;
    last_sum = sum;
  }
  return out;
}

std::size_t RunQuantities::overlaps(std::size_t row, const Centroids& c, const EnvelopeMatch& m,
                                    std::string& note) const {
  const std::size_t own = rows_.at(row).first;
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
