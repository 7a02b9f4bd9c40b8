// The isotopes of the elements a pattern formula names (a capital letter:
// H, B, C, N, O, F, P, S, K, V, Y, I, W), read once from OpenMS's element
// database: masses (double) and abundances (float) exactly as OpenMS holds
// them, and each element's place in the order in which OpenMS's
// EmpiricalFormula iterates its elements, which is the order of their
// addresses (it keys a std::map by const Element*). That order is fixed for
// a process but not for a build: under AddressSanitizer's allocator it
// differs, so it is read in the process, never written down here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace isotope {

struct ElementIsotopes {
  char symbol = 0;
  // OpenMS's isotope masses and abundances, lightest first.
  std::vector<double> masses;
  std::vector<float> abundances;
  // The abundances on consecutive integer masses from the lightest
  // isotope's rounded mass up, holes as 0 (S has no isotope at 35): index j
  // is j extra neutrons. This is what OpenMS's coarse generator convolves.
  std::vector<float> filled;
  // The same positions in double: probabilities (abundances over their
  // sum) and mass excess over the lightest isotope (0 at holes).
  std::vector<double> probability;
  std::vector<double> excess;
  // The last position with a non-zero abundance (H: 1, its 3H has none).
  std::size_t reach = 0;
};

struct ElementTable {
  // Elements in OpenMS's iteration order.
  std::vector<ElementIsotopes> elements;
  // For 'A'..'Z': the index in `elements`, or -1 when OpenMS has no
  // element of that symbol or one without isotopes.
  std::array<std::int8_t, 26> index_of{};
  // Indices into `elements` in alphabetical order of the symbols.
  std::vector<std::int8_t> alphabetical;

  const ElementIsotopes* find(char symbol) const noexcept {
    if (symbol < 'A' || symbol > 'Z') return nullptr;
    int i = index_of[static_cast<std::size_t>(symbol - 'A')];
    return i < 0 ? nullptr : &elements[static_cast<std::size_t>(i)];
  }
};

// The table, read from OpenMS on the first call. Safe to call from several
// threads (a function-local static), but it also loads OpenMS's element
// database, whose own first load is not: call prepare_isotope_patterns()
// (isotope_pattern.hpp) before worker threads start.
const ElementTable& element_table();

}  // namespace isotope
