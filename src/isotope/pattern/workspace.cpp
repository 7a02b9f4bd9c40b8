// The workspace owns its scratch space; moving it moves the buffers.
#include "isotope/pattern/workspace.hpp"

#include "isotope/pattern/pattern_scratch.hpp"

namespace isotope {

PatternWorkspace::PatternWorkspace() : scratch_(std::make_unique<detail::PatternScratch>()) {}
PatternWorkspace::~PatternWorkspace() = default;
PatternWorkspace::PatternWorkspace(PatternWorkspace&&) noexcept = default;
PatternWorkspace& PatternWorkspace::operator=(PatternWorkspace&&) noexcept = default;

}  // namespace isotope
