// The PepSeq tokenizer and the modification-string reader on arbitrary
// text.
//
// - split_peptide gives what a plain reading of the token pattern
//   [A-Z]\[.+?\]|[A-Z] gives: seq holds only A-Z, one letter per token;
//   mods has one "pos,letter,name" entry per bracketed token, joined by
//   "/", with pos the token's 1-based place in seq, increasing;
// - split_peptide into reused buffers gives the same as into fresh ones;
// - mods_counter counts one name per entry (when no name holds "/", which
//   would make the string ambiguous), and mods_counter and calc_pep_comp
//   with the reference tables fail with nothing but isotope::Error, and
//   so do calc_mod_comp and calc_seq_comp of the raw text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.hpp"
#include "isotope/model/composition.hpp"
#include "isotope/model/formula.hpp"
#include "isotope/model/peptide.hpp"
#include "isotope/model/reference_tables.hpp"
#include "isotope/base/text.hpp"

namespace {

using isotope::py_repr;

bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }

struct Modification {
  std::size_t pos;
  char letter;
  std::string name;
};

struct Tokens {
  std::string seq;
  std::vector<Modification> mods;
};

// Tokens of the pattern read the obvious way: a capital letter, then the
// shortest "[...]" of at least one character other than a line feed.
Tokens reference_tokens(std::string_view s) {
  Tokens t;
  for (std::size_t p = 0; p < s.size(); ++p) {
    if (!is_upper(s[p])) continue;
    t.seq += s[p];
    if (p + 1 >= s.size() || s[p + 1] != '[') continue;
    for (std::size_t k = p + 2; k < s.size() && s[k] != '\n'; ++k) {
      if (k >= p + 3 && s[k] == ']') {
        t.mods.push_back({t.seq.size(), s[p], std::string(s.substr(p + 2, k - p - 2))});
        p = k;
        break;
      }
    }
  }
  return t;
}

std::string joined(const std::vector<Modification>& mods) {
  std::string out;
  for (const Modification& m : mods) {
    if (!out.empty()) out += '/';
    out += std::to_string(m.pos) + "," + m.letter + "," + m.name;
  }
  return out;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (std::size_t at; (at = s.find(sep, start)) != std::string_view::npos; start = at + 1)
    out.push_back(s.substr(start, at - start));
  out.push_back(s.substr(start));
  return out;
}

// The structure of a mods string whose names hold no "/".
void check_entries(const isotope::PeptideParts& parts, std::size_t bracketed) {
  const std::vector<std::string_view> entries = split(parts.mods, '/');
  FUZZ_CHECK(entries.size() == bracketed, "mods " + py_repr(parts.mods) + " for " + std::to_string(bracketed) +
                                              " bracketed tokens");
  std::size_t last = 0;
  for (std::string_view e : entries) {
    const std::size_t c1 = e.find(','), c2 = c1 == std::string_view::npos ? c1 : e.find(',', c1 + 1);
    FUZZ_CHECK(c2 != std::string_view::npos && c2 == c1 + 2, "entry " + py_repr(e) + " is not pos,letter,name");
    std::size_t pos = 0;
    for (char d : e.substr(0, c1)) {
      FUZZ_CHECK(d >= '0' && d <= '9', "position of " + py_repr(e));
      pos = pos * 10 + static_cast<std::size_t>(d - '0');
    }
    FUZZ_CHECK(pos > last && pos <= parts.seq.size(), "positions must increase within seq: " + py_repr(e));
    FUZZ_CHECK(parts.seq[pos - 1] == e[c1 + 1], "letter of " + py_repr(e) + " is not seq's");
    last = pos;
  }
}

void check_mods_counter(const isotope::PeptideParts& parts, std::size_t entries) {
  isotope::Counts counts;
  fuzz::must_succeed("mods_counter", [&] { counts = isotope::mods_counter(parts.mods); });
  isotope::Count total = 0;
  for (const auto& [name, n] : counts) total += n;
  FUZZ_CHECK(total == static_cast<isotope::Count>(entries), "mods_counter of " + py_repr(parts.mods));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static isotope::PeptideParts reused;  // holds the previous input's parts
  const std::string_view text = fuzz::as_text(data, size);

  isotope::PeptideParts parts;
  fuzz::must_succeed("split_peptide", [&] {
    parts = isotope::split_peptide(text);
    isotope::split_peptide(text, reused);
  });
  FUZZ_CHECK(parts.seq == reused.seq && parts.mods == reused.mods, "reused buffers change the result");

  const Tokens expected = reference_tokens(text);
  FUZZ_CHECK(parts.seq == expected.seq, "seq " + py_repr(parts.seq) + ", expected " + py_repr(expected.seq));
  FUZZ_CHECK(parts.mods == joined(expected.mods),
             "mods " + py_repr(parts.mods) + ", expected " + py_repr(joined(expected.mods)));
  for (char c : parts.seq) FUZZ_CHECK(is_upper(c), "seq holds " + py_repr(std::string(1, c)));

  bool plain_names = true;
  for (const Modification& m : expected.mods) plain_names = plain_names && m.name.find('/') == std::string::npos;
  if (plain_names) {
    if (!expected.mods.empty()) check_entries(parts, expected.mods.size());
    check_mods_counter(parts, expected.mods.empty() ? 1 : expected.mods.size());
  }

  const isotope::ReferenceTables& tables = isotope::reference_tables();
  fuzz::only_isotope_errors("calc_pep_comp", [&] {
    isotope::calc_pep_comp(parts.seq, parts.mods, tables.aa_comp, tables.mod_comp);
  });
  // The raw text as a modification string and as a sequence, as the Python
  // module may pass them (a sequence is decoded, so only valid UTF-8).
  fuzz::only_isotope_errors("calc_mod_comp of the raw text", [&] { isotope::calc_mod_comp(text, tables.mod_comp); });
  if (isotope::text::find_invalid_utf8(text) == std::string_view::npos)
    fuzz::only_isotope_errors("calc_seq_comp of the raw text", [&] { isotope::calc_seq_comp(text, tables.aa_comp); });
  return 0;
}
