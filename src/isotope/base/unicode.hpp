// Text as Python sees it, with no failure reports: UTF-8 code points and the
// first byte sequence that is not UTF-8 (with the reason Python's decoder
// gives), Unicode white space as str.strip() sees it, Unicode decimal digits
// as the regular expression \d and int() see them, str.isprintable() and
// repr(). This unit is the bottom of the core: it throws nothing and
// includes nothing of ours, so that errors.hpp can use repr() and text.hpp
// can report malformed text as isotope::Error.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace isotope::text {

// Decodes the code point starting at text[pos]; returns its value and sets
// len to its length in bytes. The text must be valid UTF-8.
char32_t code_point_at(std::string_view text, std::size_t pos, std::size_t& len);

// The offset of the first invalid UTF-8 sequence, or npos.
std::size_t find_invalid_utf8(std::string_view bytes);

// The first invalid UTF-8 sequence: its byte range [start, end) and the
// reason as Python words it ("invalid start byte", "invalid continuation
// byte", "unexpected end of data").
struct Utf8Problem {
  std::size_t start = 0, end = 0;
  const char* reason = "";
};
std::optional<Utf8Problem> utf8_problem(std::string_view bytes);

// True for the characters that str.isspace() accepts.
bool is_space(char32_t cp);
// str.strip() with no argument.
std::string_view strip(std::string_view text);

// The value 0 to 9 of a Unicode decimal digit (category Nd), or -1.
int digit_value(char32_t cp);
// Length in bytes of the run of Unicode decimal digits starting at pos.
std::size_t digit_run(std::string_view text, std::size_t pos);

// The character at pos and its length in bytes, as Python decodes text with
// "surrogateescape" (the command line, file names): a byte that does not
// start a valid UTF-8 sequence is one character, U+DC00 plus the byte.
char32_t char_at(std::string_view text, std::size_t pos, std::size_t& len);

// str.isprintable() for one character (Unicode 14).
bool is_printable(char32_t cp);

// Python's repr() of a str: quotes chosen as Python chooses them, escapes
// for quotes, backslashes, control and other unprintable characters.
std::string repr(std::string_view text);

// Appends value as `digits` lower-case hexadecimal digits.
void append_hex(std::string& out, char32_t value, int digits);

// Appends the UTF-8 bytes of a code point.
void append_utf8(std::string& out, char32_t cp);

// True when text equals `lower` (all lower-case ASCII) ignoring ASCII case.
bool equals_ascii_lower(std::string_view text, std::string_view lower);

}  // namespace isotope::text
