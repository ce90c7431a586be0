// The registry file of the component model: keys (sections) holding named values, kept as
// INI text ("[CLSID\{...}]", "name=value", "@" for a key's default value). Key and value
// names compare case-insensitively, as the platform's registry does.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ovt::com {

class RegistryFile {
 public:
  // Loads the file; a missing file is an empty registry.
  explicit RegistryFile(std::string path);

  std::optional<std::string> value(std::string_view key, std::string_view name) const;
  bool hasKey(std::string_view key) const;
  // Creates the key when needed and sets the value.
  void setValue(std::string_view key, std::string_view name, std::string value);
  // Removes a key with its values; false when there was none.
  bool removeKey(std::string_view key);
  // Writes the file (creating its folder) through a temporary file renamed into place.
  // Raises ComError when it cannot be written.
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
