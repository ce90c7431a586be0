#include "host/registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "ovtbldiff/component.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::com {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string_view trimmed(std::string_view s) {
  const char* ws = " \t\r";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

}  // namespace

std::string registryPath() {
  if (std::string p = env("OVT_REGISTRY"); !p.empty()) return p;
  if (std::string x = env("XDG_CONFIG_HOME"); !x.empty()) return x + "/ovtbldiff/registry.ini";
  return env("HOME") + "/.config/ovtbldiff/registry.ini";
}

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string line;
  Key* current = nullptr;
  while (std::getline(in, line)) {
    std::string_view l = trimmed(line);
    if (l.empty() || l[0] == ';' || l[0] == '#') continue;
    if (l.front() == '[' && l.back() == ']') {
      std::string name(trimmed(l.substr(1, l.size() - 2)));
      current = find(name);
      if (!current) current = &keys_.emplace_back(Key{name, {}});
      continue;
    }
    size_t eq = l.find('=');
    if (!current || eq == std::string_view::npos) continue;
    current->values.emplace_back(std::string(trimmed(l.substr(0, eq))), std::string(trimmed(l.substr(eq + 1))));
  }
}

RegistryFile::Key* RegistryFile::find(std::string_view key) {
  for (Key& k : keys_)
    if (textEqual(k.name, key)) return &k;
  return nullptr;
}

const RegistryFile::Key* RegistryFile::find(std::string_view key) const {
  return const_cast<RegistryFile*>(this)->find(key);
}

std::optional<std::string> RegistryFile::value(std::string_view key, std::string_view name) const {
  if (const Key* k = find(key))
    for (const auto& [n, v] : k->values)
      if (textEqual(n, name)) return v;
  return std::nullopt;
}

bool RegistryFile::hasKey(std::string_view key) const { return find(key) != nullptr; }

void RegistryFile::setValue(std::string_view key, std::string_view name, std::string value) {
  Key* k = find(key);
  if (!k) k = &keys_.emplace_back(Key{std::string(key), {}});
  for (auto& [n, v] : k->values) {
    if (textEqual(n, name)) {
      v = std::move(value);
      return;
    }
  }
  k->values.emplace_back(std::string(name), std::move(value));
}

bool RegistryFile::removeKey(std::string_view key) {
  for (auto it = keys_.begin(); it != keys_.end(); ++it) {
    if (textEqual(it->name, key)) {
      keys_.erase(it);
      return true;
    }
  }
  return false;
}

void RegistryFile::save() const {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path target(path_);
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  const std::string temp = path_ + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const Key& k : keys_) {
      out << '[' << k.name << "]\n";
      for (const auto& [n, v] : k.values) out << n << '=' << v << '\n';
      out << '\n';
    }
    out.flush();
    if (!out) {
      fs::remove(temp, ec);
      raiseError(kSelfRegClass, "", "Cannot write the registry file " + path_);
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    raiseError(kSelfRegClass, "", "Cannot write the registry file " + path_);
  }
}

}  // namespace ovt::com
