// The parameter file: read whole, then split into "option = value" lines.
#include "isotope/run/params.hpp"

#include "isotope/base/errors.hpp"
#include "isotope/base/text.hpp"
#include "isotope/io/byte_source.hpp"

namespace isotope {

const std::string* find_param(const Params& params, std::string_view option) {
  for (const auto& [name, value] : params)
    if (name == option) return &value;
  return nullptr;
}

ParamFile parse_param_file(std::string_view bytes, const std::string& param_file) {
  try {
    text::check_utf8(bytes);
  } catch (Error& e) {
    throw e.at(param_file);
  }
  ParamFile file;
  file.path = param_file;
  long line_no = 0;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    // One line, its end included: LF, CRLF or a lone CR.
    std::size_t end = bytes.find_first_of("\r\n", pos);
    std::size_t next = end == std::string_view::npos ? bytes.size()
                       : (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? end + 2
                                                                                                  : end + 1;
    std::string_view line = text::strip(bytes.substr(pos, next - pos));
    ++line_no;
    pos = next;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      // Blank lines and comments (a "#" line without "=") say nothing.
      if (line.empty() || line[0] == '#') continue;
      throw Error::index("list index out of range: parameter line has no \"=\"").at(param_file, line_no);
    }
    std::size_t eq2 = line.find('=', eq + 1);
    std::string_view option = text::strip(line.substr(0, eq));
    std::string_view value = text::strip(line.substr(eq + 1, eq2 == std::string_view::npos ? eq2 : eq2 - eq - 1));
    bool found = false;
    for (std::size_t k = 0; k < file.params.size(); ++k) {
      if (file.params[k].first == option) {
        file.repeats.push_back({std::string(option), file.lines[k], line_no});
        file.params[k].second = value;
        file.lines[k] = line_no;
        found = true;
        break;
      }
    }
    if (!found) {
      file.params.emplace_back(option, value);
      file.lines.push_back(line_no);
    }
  }
  return file;
}

Params parse_params(std::string_view bytes, const std::string& param_file) {
  return parse_param_file(bytes, param_file).params;
}

ParamFile read_param_file(const std::string& param_file) { return parse_param_file(read_whole_file(param_file), param_file); }

Params read_param(const std::string& param_file) { return read_param_file(param_file).params; }

}  // namespace isotope
