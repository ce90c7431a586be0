// The error-reporting control's stand-in: it reads the application's INI configuration file.
#pragma once

#include <string>
#include <string_view>

#include "ovtbldiff/runtime/variant.h"

namespace ovt::glossary {

// Where the configuration lies: $OVT_CONFIG when set and not empty, else
// $XDG_CONFIG_HOME/ovtbldiff/ovtbldiff.ini, else $HOME/.config/ovtbldiff/ovtbldiff.ini.
std::string configPath();

// Stand-in for the Fendle1 control of the library's hidden form.
class ErrorReportingControl {
 public:
  explicit ErrorReportingControl(std::string path = configPath()) : path_(std::move(path)) {}

  // The value of `key` in `[section]` (both case-insensitive), else `defaultValue`. A missing
  // or unreadable file gives the default, as the platform's profile reading does.
  // $OVT_LANGUAGE, when set and not empty, overrides [Variables] Language.
  Variant IniRead(const std::string& section, const std::string& key, const std::string& defaultValue) const;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The value of key in [section] of INI text, or false when absent (the rules of inifile/ini.h,
// the same as the registry file's).
bool findIniValue(std::string_view text, std::string_view section, std::string_view key, std::string& value);

}  // namespace ovt::glossary
