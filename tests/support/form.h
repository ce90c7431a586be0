// The statements that make a form in an entry: its catalogue (the table of items a form's
// pages hold) beside its data table, and the lists of statements a fixture runs on each entry.
#pragma once

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace ovt::test {

using Statements = std::vector<std::string>;

// The parts one after the other.
inline Statements statements(std::initializer_list<Statements> parts) {
  Statements out;
  for (const Statements& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The catalogue `view` of the data table `table`: its source row, then a row per item written
// "Name TYPE" (page 1) or "Name TYPE PAGE"; a grid, "Name GRID CATALOGUE" or "Name GRID PAGE
// CATALOGUE", is followed by the source row that names the grid's catalogue (DATA2, DATA3, ...).
inline Statements catalogue(const std::string& view, const std::string& table, std::initializer_list<std::string> items) {
  Statements out{"create table " + view + " (Name text(50), Type text(20), PageNumber long, DataTable text(50))",
                 "insert into " + view + " values ('DATA1', 'SOURCE', 0, '" + table + "')"};
  auto row = [&](const std::string& name, const std::string& type, const std::string& page, const std::string& data) {
    out.push_back("insert into " + view + " values ('" + name + "', '" + type + "', " + page + ", '" + data + "')");
  };
  int sources = 1;
  for (const std::string& item : items) {
    std::istringstream in(item);
    std::string name, type;
    std::vector<std::string> rest;
    in >> name >> type;
    for (std::string w; in >> w;) rest.push_back(w);
    if (type != "GRID") {
      row(name, type, rest.empty() ? "1" : rest[0], "");
      continue;
    }
    const std::string source = "DATA" + std::to_string(++sources);
    row(name, type, rest.size() == 2 ? rest[0] : "1", source);
    row(source, "SOURCE", "0", rest.back());
  }
  return out;
}

}  // namespace ovt::test
