// The coarse kernel: OpenMS's float arithmetic without its allocations.
// Compiled with -ffp-contract=off (see CMakeLists.txt).
#include "isotope/pattern/coarse_kernel.hpp"

#include <algorithm>

#include "isotope/pattern/element_data.hpp"
#include "isotope/pattern/pattern_scratch.hpp"

namespace isotope {

namespace {

using Scratch = detail::PatternScratch;

// The values OpenMS's convolve_ and convolveSquare_ leave: peak k is the
// float sum, from 0, of l[i] * r[k - i] for i from the highest index down,
// the order in which their backward double loop adds to it. The result has
// min(la + lb - 1, cap) peaks (cap 0: no limit). out must not overlap l or
// r.
std::size_t convolve(const float* l, std::size_t la, const float* r, std::size_t lb, std::uint64_t cap,
                     float* out) {
  std::size_t n = la + lb - 1;
  if (cap != 0 && n > cap) n = static_cast<std::size_t>(cap);
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t hi = std::min(k, la - 1);
    const std::size_t lo = k >= lb - 1 ? k - (lb - 1) : 0;
    float s = 0.0f;
    for (std::size_t i = hi + 1; i-- > lo;) s = s + l[i] * r[k - i];
    out[k] = s;
  }
  return n;
}

void reserve(std::vector<float>& v, std::uint64_t size) {
  if (v.size() < size) v.resize(static_cast<std::size_t>(size));
}

void copy_peaks(const float* from, std::size_t n, std::vector<float>& to) {
  std::copy(from, from + n, to.begin());
}

// OpenMS's convolvePow_(element, n) with maximal isotope M, into
// ws.power; returns its size. For n = 1 OpenMS returns the element as it
// is; the convolution that follows fills its holes, so the filled form
// gives the same values.
std::size_t element_power(Scratch& ws, const ElementIsotopes& e, std::uint64_t n, std::uint64_t M) {
  const std::vector<float>& d = e.filled;
  const std::size_t L = d.size();
  std::vector<float>& power = ws.power;
  // No power or square used exceeds n * (L - 1) + 1 peaks.
  const std::uint64_t full = n * (L - 1) + 1;
  const std::uint64_t longest = std::max<std::uint64_t>(M != 0 ? std::min(M + 1, full) : full, L);
  reserve(power, longest);
  reserve(ws.next, longest);
  reserve(ws.square, longest);
  reserve(ws.base, longest);
  if (n == 1) {
    copy_peaks(d.data(), L, power);
    return L;
  }
  const std::uint64_t square_cap = M != 0 ? M + 1 : 0;
  // The running product starts as the element when n is odd, else as the
  // unit [1]; convolving the unit with a power copies the power, capped.
  bool unit = (n & 1) == 0;
  std::size_t size = L;
  if (!unit) copy_peaks(d.data(), L, power);
  std::size_t square_size = convolve(d.data(), L, d.data(), L, square_cap, ws.square.data());
  for (unsigned bit = 1;; ++bit) {
    if ((n >> bit) & 1) {
      if (unit) {
        size = M != 0 ? std::min<std::size_t>(square_size, M) : square_size;
        copy_peaks(ws.square.data(), size, power);
        unit = false;
      } else {
        size = convolve(power.data(), size, ws.square.data(), square_size, M, ws.next.data());
        std::swap(power, ws.next);
      }
    }
    // OpenMS squares once more after the highest bit; that square is
    // never used.
    if ((n >> (bit + 1)) == 0) break;
    copy_peaks(ws.square.data(), square_size, ws.base);
    square_size = convolve(ws.base.data(), square_size, ws.base.data(), square_size, square_cap, ws.square.data());
  }
  return size;
}

// The slot of (element, n, N) in the power cache.
std::size_t slot_of(std::size_t element, std::uint64_t n, std::uint64_t N) {
  std::uint64_t h = n * 0x9E3779B97F4A7C15ull ^ element * 0xC2B2AE3D27D4EB4Full ^ N * 0x165667B19E3779F9ull;
  h ^= h >> 29;
  return static_cast<std::size_t>(h & (Scratch::kSlots - 1));
}

// Counts of more digits than this are left to OpenMS.
constexpr std::size_t kMaxCountDigits = 9;

// Reads formula's element counts into ws.counts; false when it is not of
// the covered form.
bool read_counts(std::string_view formula, const ElementTable& table, Scratch& ws) {
  ws.counts.fill(-1);
  std::size_t p = 0;
  while (p < formula.size()) {
    const char c = formula[p];
    if (c < 'A' || c > 'Z') return false;
    const int idx = table.index_of[static_cast<std::size_t>(c - 'A')];
    if (idx < 0 || ws.counts[static_cast<std::size_t>(idx)] >= 0) return false;
    const std::size_t first = ++p;
    std::int64_t n = 0;
    while (p < formula.size() && formula[p] >= '0' && formula[p] <= '9') {
      if (p - first == kMaxCountDigits) return false;  // not covered; more digits could overflow n
      n = n * 10 + (formula[p++] - '0');
    }
    const std::size_t digits = p - first;
    if (digits == 0 || (digits > 1 && formula[first] == '0')) return false;
    ws.counts[static_cast<std::size_t>(idx)] = n;
  }
  return true;
}

// calc_iso_dist's bound on the number of peaks, summed in the same order
// over the same doubles.
bool within_peak_limit(const ElementTable& table, const Scratch& ws, std::int64_t N) {
  double span = 0;
  for (std::size_t k = 0; k < table.elements.size(); ++k) {
    const std::int64_t count = ws.counts[k];
    if (count <= 0) continue;
    const std::vector<double>& m = table.elements[k].masses;
    if (m.size() > 1) span += static_cast<double>(count) * (m.back() - m.front() + 1);
  }
  const double peaks = N > 0 ? std::min<double>(static_cast<double>(N), span + 1) : span + 1;
  return peaks <= static_cast<double>(kMaxIsotopePeaks);
}

}  // namespace

bool kernel_coarse_pattern(std::string_view formula, std::int64_t N, PatternWorkspace& workspace,
                           std::vector<double>& out) {
  const ElementTable& table = element_table();
  Scratch& ws = workspace.scratch();
  if (N < 0 || !read_counts(formula, table, ws) || !within_peak_limit(table, ws, N)) return false;

  const auto M = static_cast<std::uint64_t>(N);
  const bool cacheable = M != 0 && M <= Scratch::kSlotPeaks;
  std::vector<float>& result = ws.result;
  reserve(result, 1);
  result[0] = 1.0f;
  std::size_t size = 1;
  bool unit = true;
  for (std::size_t k = 0; k < table.elements.size(); ++k) {
    const std::int64_t count = ws.counts[k];
    if (count <= 0) continue;  // OpenMS drops zero counts as it parses
    const auto n = static_cast<std::uint64_t>(count);
    const float* power;
    std::size_t power_size;
    Scratch::Slot* slot = nullptr;
    std::size_t s = 0;
    if (cacheable) {
      if (ws.slots.empty()) ws.make_slots();
      s = slot_of(k, n, M);
      slot = &ws.slots[s];
    }
    if (slot && slot->count == count && slot->element == static_cast<std::int32_t>(k) && slot->N == N) {
      power = ws.slot_peaks.get() + s * Scratch::kSlotPeaks;
      power_size = slot->size;
    } else {
      power_size = element_power(ws, table.elements[k], n, M);
      power = ws.power.data();
      if (slot && power_size <= Scratch::kSlotPeaks) {
        std::copy(power, power + power_size, ws.slot_peaks.get() + s * Scratch::kSlotPeaks);
        *slot = Scratch::Slot{count, N, static_cast<std::int32_t>(k), static_cast<std::uint32_t>(power_size)};
      }
    }
    // result = convolve_(result, power), capped at M.
    if (unit) {
      size = M != 0 ? std::min<std::size_t>(power_size, M) : power_size;
      reserve(result, size);
      std::copy(power, power + size, result.begin());
      unit = false;
    } else {
      std::uint64_t need = size + power_size - 1;
      if (M != 0) need = std::min(need, M);
      reserve(ws.next, need);
      size = convolve(result.data(), size, power, power_size, M, ws.next.data());
      std::swap(result, ws.next);
    }
  }
  // IsotopeDistribution::renormalize().
  double sum = 0;
  for (std::size_t i = size; i-- > 0;) sum += static_cast<double>(result[i]);
  out.resize(size);
  for (std::size_t i = 0; i < size; ++i)
    out[i] = static_cast<double>(static_cast<float>(static_cast<double>(result[i]) / sum));
  return true;
}

}  // namespace isotope
