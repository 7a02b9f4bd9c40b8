// The process's own console: stdio streams flushed after every write.
#include "isotope/run/console.hpp"

#include <cstdio>

namespace isotope {

Console Console::standard() {
  auto writer = [](std::FILE* f) {
    return [f](std::string_view s) {
      std::fwrite(s.data(), 1, s.size(), f);
      std::fflush(f);
    };
  };
  return Console{writer(stdout), writer(stderr)};
}

}  // namespace isotope
