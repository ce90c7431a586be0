// Text helpers with the platform's "Text" comparison: case-insensitive by full Unicode
// case folding (not ASCII only), so "straße" equals "STRASSE" and "é" equals "É"; no other
// normalisation (a precomposed "é" differs from "e" + combining accent). Ordering is by the
// code points of the folded texts. Malformed UTF-8 bytes compare as they are.
// Every name and text comparison in the library uses these.
#pragma once

#include <string>
#include <string_view>

#include "ovtbldiff/runtime/variant.h"

namespace ovt {

// True when a and b are equal under Unicode case folding ("UniqueKey" == "UNIQUEKEY", "é" == "É").
bool textEqual(std::string_view a, std::string_view b);
// <0, 0, >0 ordering under case folding.
int textCompare(std::string_view a, std::string_view b);
// The case-folded form of a UTF-8 text.
std::string foldCase(std::string_view s);
// Position (in bytes) of the first case-insensitive occurrence of needle, or npos; a match
// covers whole characters of haystack ("s" is not found in "ß"). An empty needle is at 0.
size_t findText(std::string_view haystack, std::string_view needle);
// True when s begins with prefix, case-insensitively.
bool startsWithText(std::string_view s, std::string_view prefix);
// Trim: removes blanks (U+0020 only) at both ends.
std::string trimBlanks(std::string_view s);
// Split: every part kept, empty ones too; splitting "" gives an array with upper bound -1.
// The delimiter matches exactly (binary); an empty delimiter gives the whole text as one part.
StringArray splitText(std::string_view s, std::string_view delimiter);
// Removes the last n bytes (the library only removes ASCII fragments it appended);
// fewer than n present raises "Invalid procedure call or argument" (5), as Left$ with a
// negative length does.
std::string dropLast(const std::string& s, size_t n);

}  // namespace ovt
