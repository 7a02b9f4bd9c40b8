// The directory batch: which entries of a folder are tables, and the run
// over them.
#include "isotope/run/batch.hpp"

#include <dirent.h>

#include <cerrno>
#include <memory>

#include "isotope/base/errors.hpp"

namespace isotope {

bool is_table_name(std::string_view name) {
  if (!name.empty() && name.back() == '\n') name.remove_suffix(1);
  return name.size() >= 4 && name.substr(name.size() - 3) == "txt" && name[name.size() - 4] != '\n';
}

std::vector<std::string> list_tables(const std::string& input_dir) {
  DIR* dir = ::opendir(input_dir.c_str());
  if (!dir) throw Error::os(errno, input_dir);
  std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
  std::vector<std::string> names;
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (!entry) {
      if (errno) throw Error::os(errno, input_dir);
      break;
    }
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (is_table_name(name)) names.emplace_back(name);
  }
  return names;
}

void run_multiple_files(const std::string& input_dir,
                        const std::function<void(const std::string& input_file)>& run_one) {
  for (const std::string& name : list_tables(input_dir)) run_one(input_dir + "/" + name);
}

}  // namespace isotope
