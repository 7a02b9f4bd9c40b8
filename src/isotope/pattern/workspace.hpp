// The per-thread scratch space of the pattern computations (the coarse
// kernel and the peak positions): buffers reused from call to call and a
// bounded cache of element powers. Each worker thread owns one; nothing in
// it is shared, so calls on different workspaces may run at the same time.
// After the first calls with a given kind of input, a call allocates
// nothing. A workspace that has computed a pattern holds about half a
// megabyte; a moved-from one may only be assigned to or destroyed.
#pragma once

#include <memory>

namespace isotope {

namespace detail {
struct PatternScratch;  // pattern_scratch.hpp, private to this layer
}

class PatternWorkspace {
 public:
  PatternWorkspace();
  ~PatternWorkspace();
  PatternWorkspace(PatternWorkspace&&) noexcept;
  PatternWorkspace& operator=(PatternWorkspace&&) noexcept;
  PatternWorkspace(const PatternWorkspace&) = delete;
  PatternWorkspace& operator=(const PatternWorkspace&) = delete;

  // The buffers themselves, for the pattern layer's computations.
  detail::PatternScratch& scratch() noexcept { return *scratch_; }

 private:
  std::unique_ptr<detail::PatternScratch> scratch_;
};

}  // namespace isotope
