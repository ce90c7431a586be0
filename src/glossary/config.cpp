#include "glossary/config.h"

#include <cstdlib>

#include "inifile/ini.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::glossary {
namespace {

std::string envOr(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

}  // namespace

std::string configPath() {
  if (std::string p = envOr("OVT_CONFIG"); !p.empty()) return p;
  if (std::string x = envOr("XDG_CONFIG_HOME"); !x.empty()) return x + "/ovtbldiff/ovtbldiff.ini";
  return envOr("HOME") + "/.config/ovtbldiff/ovtbldiff.ini";
}

bool findIniValue(std::string_view text, std::string_view section, std::string_view key, std::string& value) {
  return ini::find(ini::parse(text), section, key, value);
}

Variant ErrorReportingControl::IniRead(const std::string& section, const std::string& key,
                                       const std::string& defaultValue) const {
  if (textEqual(section, "Variables") && textEqual(key, "Language")) {
    if (std::string lang = envOr("OVT_LANGUAGE"); !lang.empty()) return Variant(lang);
  }
  ini::Parsed parsed;
  std::string value;
  if (ini::parseFile(path_, parsed) && ini::find(parsed, section, key, value)) return Variant(value);
  return Variant(defaultValue);
}

}  // namespace ovt::glossary
