#include "glossary/config.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ovtbldiff/runtime/text.h"

namespace ovt::glossary {
namespace {

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string_view trimmed(std::string_view s) {
  const char* ws = " \t\r";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  size_t e = s.find_last_not_of(ws);
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string configPath() {
  if (std::string p = envOr("OVT_CONFIG"); !p.empty()) return p;
  if (std::string x = envOr("XDG_CONFIG_HOME"); !x.empty()) return x + "/ovtbldiff/ovtbldiff.ini";
  return envOr("HOME") + "/.config/ovtbldiff/ovtbldiff.ini";
}

bool findIniValue(std::string_view text, std::string_view section, std::string_view key, std::string& value) {
  bool inSection = false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trimmed(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      inSection = close != std::string_view::npos && textEqual(trimmed(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos || !textEqual(trimmed(line.substr(0, eq)), key)) continue;
    std::string_view v = trimmed(line.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    value = std::string(v);
    return true;
  }
  return false;
}

Variant ErrorReportingControl::IniRead(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) const {
  if (textEqual(section, "Variables") && textEqual(key, "Language")) {
    if (std::string lang = envOr("OVT_LANGUAGE"); !lang.empty()) return Variant(lang);
  }
  std::ifstream in(path_, std::ios::binary);
  if (!in) return Variant(defaultValue);
  std::ostringstream text;
  text << in.rdbuf();
  std::string value;
  if (findIniValue(text.str(), section, key, value)) return Variant(value);
  return Variant(defaultValue);
}

}  // namespace ovt::glossary
