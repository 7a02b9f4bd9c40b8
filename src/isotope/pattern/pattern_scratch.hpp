// What a PatternWorkspace holds (workspace.hpp). Private to the pattern
// layer: the coarse kernel's float buffers and its cache of element powers,
// the peak positions' double buffers, and the text of a pattern formula.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace isotope::detail {

struct PatternScratch {
  // Element powers (OpenMS's convolvePow_) per (element, count, N), for N
  // up to kSlotPeaks: a direct-mapped table, so its size is fixed; a new
  // power replaces the one in its slot. The table is made on the first
  // cacheable pattern (a workspace that computes none costs nothing), and
  // slot_peaks is left uninitialised: a slot's first `size` floats are
  // written before they are read.
  static constexpr std::size_t kSlots = 4096;
  static constexpr std::size_t kSlotPeaks = 24;
  struct Slot {
    std::int64_t count = 0;  // 0: empty
    std::int64_t N = 0;
    std::int32_t element = -1;
    std::uint32_t size = 0;
  };
  std::vector<Slot> slots;  // kSlots once made
  std::unique_ptr<float[]> slot_peaks;  // kSlots * kSlotPeaks once made
  void make_slots() {
    slots.assign(kSlots, Slot{});
    slot_peaks.reset(new float[kSlots * kSlotPeaks]);
  }

  // Coarse kernel buffers.
  std::vector<float> result, next, power, square, base;
  // Element counts of the formula being computed, by element index (-1:
  // absent).
  std::array<std::int64_t, 26> counts{};

  // Peak position buffers: (probability, probability x mass excess).
  std::vector<double> p_result, s_result, p_next, s_next, p_square, s_square, p_base, s_base;

  // Pattern formula text built from a Composition.
  std::string formula_text, pattern_text;
};

}  // namespace isotope::detail
