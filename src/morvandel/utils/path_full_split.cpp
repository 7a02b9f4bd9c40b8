// os.path.split then os.path.splitext, as the sibling Python helper does.
#include "morvandel/utils/path_full_split.hpp"

namespace morvandel::utils {

PathParts path_full_split(std::string_view path) {
  PathParts parts;
  // os.path.split: the name follows the last "/"; the folder keeps its
  // trailing slashes only when it is made of nothing else.
  std::size_t slash = path.rfind('/');
  std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  std::string_view head = path.substr(0, name_start);
  std::string_view name = path.substr(name_start);
  std::size_t keep = head.find_last_not_of('/');
  parts.folder = keep == std::string_view::npos ? std::string(head) : std::string(head.substr(0, keep + 1));

  // os.path.splitext of the name.
  std::size_t dot = name.rfind('.');
  std::size_t first_non_dot = name.find_first_not_of('.');
  if (dot != std::string_view::npos && first_non_dot != std::string_view::npos && first_non_dot < dot) {
    parts.base = name.substr(0, dot);
    parts.ext = name.substr(dot);
  } else {
    parts.base = name;
  }
  return parts;
}

}  // namespace morvandel::utils
