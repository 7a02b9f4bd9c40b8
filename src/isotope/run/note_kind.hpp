// What a row's result may rest on a guess for, and where a row's notes go.
// Kept apart so that a unit that only writes notes includes nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace isotope {

// Each kind is capped on its own when printed.
enum class NoteKind : std::uint8_t {
  ShortRow,     // fewer fields than the header
  PepSeq,       // characters of PepSeq that were skipped
  Counts,       // count cells that are no non-negative whole number
  CountColumn,  // a count column that became floats
  Charge,       // a charge cell that is no non-zero whole number
  Precursor,    // a precursor m/z cell that is no number
  Unmapped,     // a search-engine row that could not be mapped to the model
  Disagreeing,  // a search-engine row whose own columns disagree
  Unmatched,    // a precursor within the tolerance of no isotope peak
  NonFinite,    // a pattern or mass that is not finite
  Hint,         // a hint on how the table is read, shown once per table
  Spectrum,     // a row whose MS1 spectrum could not be found
  Overlap,      // a row whose MS1 envelope shares centroids with another's
};
inline constexpr std::size_t kNoteKinds = 13;

// Where a row's notes go: kind and text (without the place).
class NoteSink {
 public:
  virtual ~NoteSink() = default;
  virtual void note(NoteKind kind, std::string_view text) = 0;
};

}  // namespace isotope
