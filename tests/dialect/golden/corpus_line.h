// A line of render_corpus.txt back to its statement: \\, \n, \r and \0 are escaped there.
#pragma once

#include <string>
#include <string_view>

namespace ovt::dialect::golden {

inline std::string statementOf(std::string_view line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
      continue;
    }
    const char e = line[++i];
    out += e == 'n' ? '\n' : e == 'r' ? '\r' : e == '0' ? '\0' : e;
  }
  return out;
}

}  // namespace ovt::dialect::golden
