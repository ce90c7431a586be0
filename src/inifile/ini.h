// INI text as the library's configuration and registry files hold it. One set of rules for
// both: "[section]" lines, "name=value" lines (the first '=' separates), blanks around
// section names, names and values removed, lines starting with ';' or '#' are comments, one
// pair of double quotes around a value is removed. Lines may be of any length. Section and
// value names compare case-insensitively.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ovt::ini {

struct Entry {
  std::string section, name, value;
};

struct Parsed {
  std::vector<Entry> entries;  // in file order; values before the first section have section ""
  int firstBadLine = 0;        // the first line that is neither section, value nor comment (0: none)
};

// Parses INI text.
Parsed parse(std::string_view text);
// Reads and parses a file; false (and nothing parsed) when it cannot be read.
bool parseFile(const std::string& path, Parsed& out);

// The first value of `name` in `[section]`, or false when there is none.
bool find(const Parsed& p, std::string_view section, std::string_view name, std::string& value);

// A value as a line writes it so that parse() gives it back: quoted when it has blanks at an
// end or starts and ends with a double quote. False when no line can hold it (a line break).
bool quoteValue(std::string_view value, std::string& out);

}  // namespace ovt::ini
