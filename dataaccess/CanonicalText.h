#pragma once

// The pieces of the canonical cell text (Column.h) that more than one backend
// has to produce itself, because its engine hands over a binary value or a
// text of another shape. Kept in one place so that every backend writes the
// same text for the same value.

#include <array>
#include <string>
#include <string_view>

namespace tarnwell::db {

// Room for any finite double in canonical form, and for the special values.
using NumberBuffer = std::array<char, 40>;

// A floating-point value in canonical form: the fewest significant digits
// that read back as the same value, in plain notation when the decimal
// exponent lies in [-4, 15) ([-4, 6) for single precision), otherwise as
// "1.2345e+17" with at least two exponent digits; "Infinity", "-Infinity",
// "NaN" for the special values. (This is how PostgreSQL prints its float8
// and float4, so its text needs no conversion.)
std::string_view canonicalDouble(double value, NumberBuffer& buffer) noexcept;
std::string_view canonicalSingle(float value, NumberBuffer& buffer) noexcept;

// Brings the seconds of a time of day at `pos` ("HH:MM:SS", optionally a
// fraction, then anything, such as a time zone offset) to canonical form:
// the fraction without trailing zeros, no fraction at all when it is zero.
// "HH:MM" at the end of the text gains ":00". Returns false, with the text
// unchanged, when the text has another shape or a fraction finer than
// microseconds (the value is then kept as the engine gave it).
bool canonicalizeTimeAt(std::string& text, std::size_t pos);

// True when the text needs canonicalizeTimeAt() at `pos` at all: a cheap
// test that lets the common "HH:MM:SS" pass without a copy.
bool timeNeedsCanonicalizing(std::string_view text, std::size_t pos) noexcept;

// A GUID written as 8-4-4-4-12 hexadecimal digits in lower case; any other
// text stays as it is.
void lowerCaseGuid(std::string& text) noexcept;
bool isUpperCaseGuid(std::string_view text) noexcept;

}  // namespace tarnwell::db
