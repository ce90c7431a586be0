// The registry file of the component model: keys (sections) holding named values, kept as
// INI text ("[CLSID\{...}]", "name=value", "@" for a key's default value). Key and value
// names compare case-insensitively, as the platform's registry does. The component writes it
// when it registers; the host side reads it when it creates an object.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovt::com {

// The registry files installed with the libraries, read after the user's own file
// (registryPath()): $OVT_SYSTEM_REGISTRY when set (empty: none), else etc/ovtbldiff/registry.ini
// of the prefix the library is installed under.
std::vector<std::string> systemRegistryPaths();

class RegistryFile {
 public:
  // Loads the file (the rules of inifile/ini.h); a missing file is an empty registry.
  explicit RegistryFile(std::string path);

  std::optional<std::string> value(std::string_view key, std::string_view name) const;
  bool hasKey(std::string_view key) const;
  // Creates the key when needed and sets the value.
  void setValue(std::string_view key, std::string_view name, std::string value);
  // Removes a key with its values; false when there was none.
  bool removeKey(std::string_view key);
  // Writes the file (creating its folder) through a temporary file renamed into place.
  // Raises ComError when it cannot be written, or a value cannot be held by a line.
  void save() const;

  const std::string& path() const { return path_; }

 private:
  struct Key {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
  };
  Key* find(std::string_view key);
  const Key* find(std::string_view key) const;

  std::string path_;
  std::vector<Key> keys_;
};

}  // namespace ovt::com
