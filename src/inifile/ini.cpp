#include "inifile/ini.h"

#include <fstream>
#include <sstream>

#include "ovtbldiff/runtime/text.h"

namespace ovt::ini {
namespace {

std::string_view trimmed(std::string_view s) {
  const char* ws = " \t\r";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

}  // namespace

Parsed parse(std::string_view text) {
  Parsed p;
  std::string section;
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimmed(text.substr(pos, end - pos));
    pos = end + 1;
    ++lineNo;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    size_t close = line.rfind(']');
    if (line[0] == '[' && close != std::string_view::npos) {
      section = std::string(trimmed(line.substr(1, close - 1)));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      if (p.firstBadLine == 0) p.firstBadLine = lineNo;
      continue;
    }
    std::string_view v = trimmed(line.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    p.entries.push_back(Entry{section, std::string(trimmed(line.substr(0, eq))), std::string(v)});
  }
  return p;
}

bool parseFile(const std::string& path, Parsed& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  out = parse(text.str());
  return true;
}

bool find(const Parsed& p, std::string_view section, std::string_view name, std::string& value) {
  for (const Entry& e : p.entries) {
    if (textEqual(e.section, section) && textEqual(e.name, name)) {
      value = e.value;
      return true;
    }
  }
  return false;
}

bool quoteValue(std::string_view value, std::string& out) {
  if (value.find_first_of("\r\n") != std::string_view::npos) return false;
  const bool blankEnds = !value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                            value.back() == ' ' || value.back() == '\t');
  const bool quotedLook = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  out = blankEnds || quotedLook ? "\"" + std::string(value) + "\"" : std::string(value);
  return true;
}

}  // namespace ovt::ini
