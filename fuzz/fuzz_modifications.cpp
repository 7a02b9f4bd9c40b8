// Modification definitions and names (parse_modification_formula,
// ModificationResolver, close_matches: src/isotope/model/modifications.cpp,
// close_matches.cpp) on arbitrary text.
//
// - reading a formula fails with nothing but a value Error; a formula read
//   holds only keys with known masses, and written back with every count
//   signed it reads back unchanged;
// - resolving any UTF-8 name fails with nothing but a lookup Error keyed
//   by that name (the "did you mean" search runs on every unknown name);
// - close_matches returns at most n of the possibilities.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.hpp"
#include "isotope/base/unicode.hpp"
#include "isotope/model/close_matches.hpp"
#include "isotope/model/modifications.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/model/unimod.hpp"

using namespace isotope;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  Composition comp;
  if (fuzz::only_isotope_errors("parse_modification_formula", [&] { comp = parse_modification_formula(text); })) {
    std::string written;
    for (const auto& [key, n] : comp) {
      FUZZ_CHECK(key == "H" || key == "C" || key == "N" || key == "O" || key == "P" || key == "S" || key == "Se" ||
                     key == "C[13]" || key == "N[15]",
                 "key without a mass: " + key);
      written += key + (n >= 0 ? "+" : "") + std::to_string(n);
    }
    if (!written.empty()) {
      Composition back;
      fuzz::must_succeed("read back", [&] { back = parse_modification_formula(written); });
      FUZZ_CHECK(back == comp, "formula " + written + " reads back differently");
    }
  }
  if (text::find_invalid_utf8(text) != std::string_view::npos) return 0;
  static const ModificationResolver resolver(reference_tables().mod_comp, {}, UnimodDb::load());
  try {
    (void)resolver.resolve(text);
  } catch (const Error& e) {
    FUZZ_CHECK(e.kind() == ErrorKind::Lookup && e.key() == text, "resolve failed otherwise than a lookup of the name");
  }
  const std::size_t half = text.size() / 2;
  std::vector<std::string> words = {std::string(text.substr(0, half)), std::string(text.substr(half)), "Oxidation"};
  if (text::find_invalid_utf8(words[0]) == std::string_view::npos)
    FUZZ_CHECK(close_matches(words[0], words, 2, 0.0).size() <= 2, "more than n matches");
  return 0;
}
