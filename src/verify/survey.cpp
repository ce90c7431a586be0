// The survey file: the keys, ignored and compared fields of each data table, written once by a
// supervisor. TOML (toml++) or JSON (nlohmann-json), read with the libraries' own parsers.
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>
#include <toml++/toml.h>

#include "ovtbldiff/verify.h"

namespace ovt::verify {
namespace {

bool endsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "A, B" or ["A", "B"] as a list of names; `where` names the entry for errors.
std::vector<std::string> splitNames(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, ',')) {
    const size_t b = item.find_first_not_of(" \t"), e = item.find_last_not_of(" \t");
    if (b != std::string::npos) out.push_back(item.substr(b, e - b + 1));
  }
  return out;
}

void checkName(const std::string& name, const std::string& where) {
  if (name.empty() || name.find_first_of("[]") != std::string::npos)
    throw SettingsError(where + ": \"" + name + "\" is not a column name");
}

std::vector<std::string> tomlNames(const toml::node* n, const std::string& where) {
  std::vector<std::string> out;
  if (!n) return out;
  if (auto s = n->value<std::string>()) {
    out = splitNames(*s);
  } else if (const toml::array* a = n->as_array()) {
    for (const toml::node& item : *a) {
      auto s = item.value<std::string>();
      if (!s) throw SettingsError(where + ": every element must be a text (a column name)");
      out.push_back(*s);
    }
  } else {
    throw SettingsError(where + ": a list of column names, or a text of names separated by commas, is expected");
  }
  for (const std::string& s : out) checkName(s, where);
  return out;
}

std::vector<std::string> jsonNames(const nlohmann::json& j, const std::string& where) {
  std::vector<std::string> out;
  if (j.is_string()) {
    out = splitNames(j.get<std::string>());
  } else if (j.is_array()) {
    for (const auto& item : j) {
      if (!item.is_string()) throw SettingsError(where + ": every element must be a text (a column name)");
      out.push_back(item.get<std::string>());
    }
  } else {
    throw SettingsError(where + ": a list of column names, or a text of names separated by commas, is expected");
  }
  for (const std::string& s : out) checkName(s, where);
  return out;
}

const char* const kItems[] = {"keys", "ignore", "compare"};

std::vector<std::string>& item(TableSettings& t, const std::string& name) {
  return name == "keys" ? t.keys : name == "ignore" ? t.ignore : t.compare;
}

}  // namespace

Settings settingsFromJson(const nlohmann::json& tables, const std::string& where) {
  if (!tables.is_object()) throw SettingsError(where + ": tables: an object {TABLE: {\"keys\": [...]}} is expected");
  Settings out;
  for (const auto& [table, body] : tables.items()) {
    const std::string at = where + ": tables." + table;
    if (!body.is_object()) throw SettingsError(at + ": an object is expected");
    TableSettings& t = out.at(table);
    for (const auto& [name, value] : body.items()) {
      if (name != "keys" && name != "ignore" && name != "compare")
        throw SettingsError(at + ": unknown entry \"" + name + "\" (keys, ignore or compare)");
      item(t, name) = jsonNames(value, at + "." + name);
    }
  }
  return out;
}

Settings readSurvey(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw SettingsError("survey file not found: " + path);
  std::stringstream text;
  text << in.rdbuf();
  Settings out;
  if (endsWith(path, ".json")) {
    nlohmann::json j;
    try {
      j = nlohmann::json::parse(text.str());
    } catch (const nlohmann::json::exception& e) {
      throw SettingsError(path + ": not valid JSON: " + e.what());
    }
    if (!j.is_object() || !j.contains("tables") || !j["tables"].is_object())
      throw SettingsError(path + ": an object with \"tables\": {TABLE: {\"keys\": [...]}} is expected");
    return settingsFromJson(j["tables"], path);
  }
  toml::table doc;
  try {
    doc = toml::parse(text.str(), path);
  } catch (const toml::parse_error& e) {
    std::ostringstream msg;
    msg << path << ":" << e.source().begin.line << ": " << e.description();
    throw SettingsError(msg.str());
  }
  for (auto&& [key, node] : doc) {
    if (key.str() != "tables" || !node.is_table())
      throw SettingsError(path + ": unknown entry \"" + std::string(key.str()) + "\" (tables are given as [tables.NAME])");
  }
  if (const toml::table* tables = doc["tables"].as_table()) {
    for (auto&& [table, node] : *tables) {
      const std::string where = path + ": tables." + std::string(table.str());
      const toml::table* body = node.as_table();
      if (!body) throw SettingsError(where + ": a table [tables.NAME] is expected");
      TableSettings& t = out.at(std::string(table.str()));
      for (auto&& [name, value] : *body) {
        const std::string n(name.str());
        if (n != "keys" && n != "ignore" && n != "compare")
          throw SettingsError(where + ": unknown entry \"" + n + "\" (keys, ignore or compare)");
        item(t, n) = tomlNames(&value, where + "." + n);
      }
    }
  }
  return out;
}

std::string surveyText(const Settings& s) {
  toml::table tables;
  for (const auto& [folded, t] : s.all()) {
    toml::table body;
    for (const char* name : kItems) {
      const std::vector<std::string>& list = item(const_cast<TableSettings&>(t), name);
      if (list.empty() && std::string(name) != "keys") continue;
      toml::array a;
      for (const std::string& v : list) a.push_back(v);
      body.insert(name, a);
    }
    tables.insert(s.nameOf(folded), body);
  }
  toml::table doc;
  doc.insert("tables", tables);
  std::ostringstream out;
  out << doc << "\n";
  return out.str();
}

}  // namespace ovt::verify
