// Readers of text with Python's rules that report malformed input as
// isotope::Error: the UTF-8 check with Python's decode errors, int() of a
// text, and the value of a run of decimal digits. Everything of unicode.hpp
// comes with this header.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "isotope/base/unicode.hpp"

namespace isotope::text {

// A blank: a space or a tab (what separates the fields of a whitespace-split
// table, and what a blank line holds).
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// ASCII white space as pandas' C parser skips it around numbers (and C's
// isspace in the "C" locale): space, \t, \n, \v, \f, \r.
inline bool is_ascii_space(char c) { return c == ' ' || static_cast<unsigned char>(c - '\t') < 5; }

// True when every byte is ASCII (tested eight bytes at a time).
bool is_ascii(std::string_view bytes);

// Throws a decode Error at the first byte sequence that is not UTF-8, with
// the offsets and the reason that Python's decoder reports.
void check_utf8(std::string_view bytes);

// Python's int(text) for text: surrounding white space, an optional sign,
// decimal digits (any script) with single underscores between them.
// Returns nullopt when the text is not such a number; throws a value Error
// when it is one but does not fit in 64 bits.
std::optional<std::int64_t> parse_int(std::string_view text);

// The value of a run of decimal digits (any script), as int() gives it;
// throws a value Error when it does not fit in 64 bits.
std::int64_t digits_value(std::string_view digits);

}  // namespace isotope::text
