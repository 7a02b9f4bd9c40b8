// Text helpers with Python's rules: UTF-8 decoding with Python's error
// reports, Unicode white space as str.strip() sees it, Unicode decimal
// digits as the regular expression \d and int() see them, and int() itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace isotope::text {

// Decodes the code point starting at text[pos]; returns its value and sets
// len to its length in bytes. The text must be valid UTF-8 (check_utf8).
char32_t code_point_at(std::string_view text, std::size_t pos, std::size_t& len);

// Throws a decode Error at the first byte sequence that is not UTF-8, with
// the offsets and the reason that Python's decoder reports.
void check_utf8(std::string_view bytes);
// The offset of the first invalid sequence, or npos.
std::size_t find_invalid_utf8(std::string_view bytes);

// True for the characters that str.isspace() accepts.
bool is_space(char32_t cp);
// str.strip() with no argument.
std::string_view strip(std::string_view text);

// The value 0 to 9 of a Unicode decimal digit (category Nd), or -1.
int digit_value(char32_t cp);
// Length in bytes of the run of Unicode decimal digits starting at pos.
std::size_t digit_run(std::string_view text, std::size_t pos);

// Python's int(text) for text: surrounding white space, an optional sign,
// decimal digits (any script) with single underscores between them.
// Returns nullopt when the text is not such a number; throws a value Error
// when it is one but does not fit in 64 bits.
std::optional<std::int64_t> parse_int(std::string_view text);

// The value of a run of decimal digits (any script), as int() gives it;
// throws a value Error when it does not fit in 64 bits.
std::int64_t digits_value(std::string_view digits);

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
