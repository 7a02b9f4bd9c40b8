// Glycan composition strings ("N4H5F1S0G0") and formula strings
// ("C6H12O6"): both are read by one pattern of key-and-count pairs, and a
// composition is written as formula text with every count.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "isotope/model/composition.hpp"

namespace isotope {

// Calls on_pair(key, digits) for every non-overlapping match, left to right,
// of the pattern ([A-Z]|[A-Z]\[.+?\])(\d+), where "." is any character but a
// line feed and \d any Unicode decimal digit. Linear time, no recursion.
void scan_pairs(std::string_view text,
                const std::function<void(std::string_view key, std::string_view digits)>& on_pair);

// The pairs of a glycan string; a key given again keeps its first place and
// takes the last count.
Counts glycan_counter(std::string_view glycan);
Composition calc_glycan_comp(std::string_view glycan, const CompTable& comp_map,
                             bool residue = true);
// "C6H12O6": key then count, every count written.
std::string comp_to_str(const Composition& comp);
void append_formula(std::string& out, const Composition& comp);
Counts component_counter(std::string_view component_str);

}  // namespace isotope
