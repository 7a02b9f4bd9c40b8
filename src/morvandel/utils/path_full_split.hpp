// Path helpers shared by the morvandel plug-ins.
#pragma once

#include <string>
#include <string_view>

namespace morvandel::utils {

struct PathParts {
  std::string folder;  // "data"
  std::string base;    // "s-01.glyco"
  std::string ext;     // ".txt"
};

// Splits a path as Python's os.path.split followed by os.path.splitext of
// the name: data/s-01.glyco.txt gives data, s-01.glyco, .txt. The extension
// starts at the last dot of the name; leading dots of a name start none
// (.profile has no extension).
PathParts path_full_split(std::string_view path);

}  // namespace morvandel::utils
