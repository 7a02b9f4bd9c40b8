// Numbers written and read the way Python and pandas do.
//
// append_float_repr lays out a double exactly as Python's repr(float) does.
// parse_float accepts exactly the float cells that pandas' C parser accepts
// (read_csv with its default "high" float precision), but gives the
// correctly rounded value where pandas' own conversion is slightly off.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace isotope {

// Appends Python's repr() of v: the shortest digits that read back to v,
// positional when the decimal exponent is in [-4, 16) ("0.0001", "2.0",
// "1000000000000000.0"), scientific otherwise ("1e-05", "1e+16",
// "1.5e+300"), and "inf", "-inf", "nan". Negative zero is "-0.0".
void append_float_repr(std::string& out, double v);
std::string float_repr(double v);

// The value of a float cell, or nullopt when pandas would not read the
// cell as a float. Accepted: optional ASCII white space (space, \t, \n,
// \v, \f, \r) around an optional sign, digits with an optional '.', at
// least one digit, and an optional exponent "e"/"E", sign, 1 to 17 digits
// ("1.", ".5", "+.5e-3", "1E+05"); or, with no white space, one of inf,
// +inf, -inf, Infinity, +Infinity, -Infinity in any letter case. Rejected
// besides: "1e", "1_0", "0x10", "1d5", "nan" (a missing marker, not a
// number) and the literals pandas refuses as out of range: those whose
// value overflows, and those whose decimal exponent, as pandas counts it
// (only the first 17 digits are significant to it), exceeds 308, such as
// "0e309". Tiny values underflow to a signed zero or a subnormal.
// The value is correctly rounded, even for long or extreme literals (pandas
// can be off in the last bits there, and it misreads exponents of 10 or
// more digits, e.g. "1e4294967297" as 10.0: here that is inf).
std::optional<double> parse_float(std::string_view text);

}  // namespace isotope
