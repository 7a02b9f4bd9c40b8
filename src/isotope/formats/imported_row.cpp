// The Glycan column's text of a mapped row's counts.
#include "isotope/formats/imported_row.hpp"

namespace isotope {

std::string glycan_string(const std::array<Count, 5>& counts) {
  static constexpr char kCodes[] = {'N', 'H', 'F', 'S', 'G'};
  std::string out;
  for (std::size_t k = 0; k < 5; ++k) {
    out += kCodes[k];
    out += std::to_string(counts[k]);
  }
  return out;
}

}  // namespace isotope
