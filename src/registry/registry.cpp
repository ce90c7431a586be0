#include "registry/registry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "inifile/ini.h"

#include "ovtbldiff/component.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::com {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

[[noreturn]] void cannotUse(const std::string& path, const std::string& why) {
  raiseError(kSelfRegClass, "", "Cannot use the registry file " + path + ": " + why);
}

}  // namespace

std::string registryPath() {
  if (std::string p = env("OVT_REGISTRY"); !p.empty()) return p;
  if (std::string x = env("XDG_CONFIG_HOME"); !x.empty()) return x + "/ovtbldiff/registry.ini";
  return env("HOME") + "/.config/ovtbldiff/registry.ini";
}

std::vector<std::string> systemRegistryPaths() {
  if (const char* p = std::getenv("OVT_SYSTEM_REGISTRY")) {
    if (*p == '\0') return {};
    return {p};
  }
  // The file installed with the libraries, found from where this library lies.
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&systemRegistryPaths), &info) == 0 || !info.dli_fname) return {};
  std::error_code ec;
  std::filesystem::path lib = std::filesystem::canonical(info.dli_fname, ec);
  if (ec) return {};
  return {(lib.parent_path() / OVT_SYSTEM_REGISTRY_FROM_LIBDIR).lexically_normal().string()};
}

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)) {
  ini::Parsed parsed;
  if (!ini::parseFile(path_, parsed)) return;  // a missing file is an empty registry
  for (ini::Entry& e : parsed.entries) {
    Key* k = find(e.section);
    if (!k) k = &keys_.emplace_back(Key{e.section, {}});
    k->values.emplace_back(std::move(e.name), std::move(e.value));
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
  std::string text;
  for (const Key& k : keys_) {
    text += '[' + k.name + "]\n";
    for (const auto& [n, v] : k.values) {
      std::string line;
      if (!ini::quoteValue(v, line)) cannotUse(path_, "the value " + n + " of [" + k.name + "] cannot be written");
      text += n + '=' + line + '\n';
    }
    text += '\n';
  }
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
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
