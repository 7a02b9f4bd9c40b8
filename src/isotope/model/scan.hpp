// The scan behind the PepSeq and pair readers. Both patterns,
// [A-Z]\[.+?\]|[A-Z] and ([A-Z]|[A-Z]\[.+?\])(\d+), have a lazy bracketed
// alternative whose end is "the first ']' at or after some position
// (followed by a digit, for the pair pattern) with no line feed before it".
// Start positions only move forward, so the next such ']' and the next line
// feed are cached and a scan stays linear on any input. Private to the model.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace isotope::detail {

class ForwardFinder {
 public:
  // pred(k) tells whether position k qualifies.
  template <class Pred>
  std::size_t next(std::string_view s, std::size_t from, Pred pred) {
    if (valid_ && found_ >= from) return found_;
    std::size_t k = std::max(from, scanned_);
    while (k < s.size() && !pred(k)) ++k;
    scanned_ = k;
    found_ = k < s.size() ? k : std::string_view::npos;
    valid_ = true;
    return found_;
  }

 private:
  bool valid_ = false;
  std::size_t found_ = 0;
  std::size_t scanned_ = 0;
};


}  // namespace isotope::detail
