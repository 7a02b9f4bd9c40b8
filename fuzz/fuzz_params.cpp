// The parameter-file reader on arbitrary bytes.
//
// parse_params either fails with an isotope::Error or returns options in
// which neither name nor value holds '=' or surrounding white space, each
// name once.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_support.hpp"
#include "isotope/run/params.hpp"
#include "isotope/base/text.hpp"

namespace {

void check_piece(const std::string& piece, const char* what) {
  FUZZ_CHECK(piece.find('=') == std::string::npos, std::string(what) + " holds '=': " + isotope::py_repr(piece));
  FUZZ_CHECK(isotope::text::strip(piece) == piece, std::string(what) + " is not stripped: " + isotope::py_repr(piece));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  isotope::Params params;
  const bool parsed = fuzz::only_isotope_errors(
      "parse_params", [&] { params = isotope::parse_params(fuzz::as_text(data, size), "params.txt"); });
  if (!parsed) return 0;
  std::set<std::string> names;
  for (const auto& [option, value] : params) {
    check_piece(option, "option");
    check_piece(value, "value");
    FUZZ_CHECK(names.insert(option).second, "option listed twice: " + isotope::py_repr(option));
  }
  return 0;
}
