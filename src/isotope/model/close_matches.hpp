// The "did you mean" choice of names: Python's difflib.get_close_matches,
// ported with its SequenceMatcher (no junk function, the automatic junk
// heuristic on), so that a hint names exactly the words Python would.
// Texts are compared as sequences of code points; every input is valid
// UTF-8 (names read from checked tables and parameter files).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace isotope {

// SequenceMatcher(None, a, b).ratio(): 2 * M / (len(a) + len(b)), M the
// size of the matching blocks found by recursive longest matches.
double sequence_ratio(std::u32string_view a, std::u32string_view b);

// difflib.get_close_matches(word, possibilities, n, cutoff): the at most n
// possibilities whose ratio against word is at least cutoff, best first,
// ties broken by the larger text. n must be > 0 and cutoff in [0, 1]
// (a value Error otherwise, as Python raises ValueError).
std::vector<std::string> close_matches(std::string_view word, const std::vector<std::string>& possibilities,
                                       std::size_t n = 3, double cutoff = 0.6);

// A hint naming close names: "(did you mean 'a'?)", "(did you mean 'a',
// 'b' or 'c'?)", or empty for none.
std::string did_you_mean(const std::vector<std::string>& names);

// The text as code points.
std::u32string code_points(std::string_view utf8);

}  // namespace isotope
