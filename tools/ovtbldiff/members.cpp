#include "members.h"

#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <unistd.h>

#include "ovtbldiff/runtime/text.h"

namespace ovt::tool {

Variant callMember(Session& s, const std::string& name, std::vector<com::DispArg> args) {
  return s.gateway().call(name, std::move(args));
}

StringArray stringList(const std::vector<std::string>& items) {
  return StringArray::of(items.empty() ? std::vector<std::string>{""} : items);
}

std::vector<std::string> fromList(const StringArray& a) {
  std::vector<std::string> out;
  if (!a.allocated() || a.dims() != 1) return out;
  for (int32_t i = a.lbound(1); i <= a.ubound(1); ++i) out.push_back(a.at(i));
  if (out.size() == 1 && out[0].empty()) out.clear();
  return out;
}

std::vector<std::string> splitList(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(text);
  while (std::getline(in, item, ','))
    if (!trimBlanks(item).empty()) out.push_back(trimBlanks(item));
  return out;
}

std::string joinList(const std::vector<std::string>& items, const std::string& sep) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : sep) + s;
  return out;
}

Rows readRows(const Variant& recordset) {
  Rows r;
  if (!recordset.isObject()) return r;
  auto rs = std::dynamic_pointer_cast<db::cRecordset>(recordset.object());
  if (!rs) return r;
  auto fs = rs->Recordset();
  for (int32_t i = 0; i < deref(fs).Count(); ++i) r.columns.push_back(fs->Name(i));
  if (rs->IsBOF() && rs->IsEOF()) return r;
  VariantArray all = rs->GetRows();  // column first, then record
  if (!all.allocated() || all.dims() != 2) return r;
  for (int32_t rec = all.lbound(2); rec <= all.ubound(2); ++rec) {
    std::vector<Variant> row;
    for (int32_t c = all.lbound(1); c <= all.ubound(1); ++c) row.push_back(all.at(c, rec));
    r.rows.push_back(std::move(row));
  }
  return r;
}

int32_t columnType(const db::DatabaseRef& conn, const std::string& table, const std::string& column) {
  db::TableRef t = Session::table(conn, table);
  for (const db::FieldRef& f : deref(t->Fields()).Items())
    if (f && textEqual(f->Name(), column)) return f->DataType();
  throw UsageError("no column \"" + column + "\" in table " + table);
}

bool formTables(const db::DatabaseRef& conn, const std::string& t1, const std::string& t2) {
  std::string a = t1, b = t2;
  // A table that does not exist is no form table; the member called next names it.
  if (!conn->TableExists(a) || !conn->TableExists(b)) return false;
  return conn->GetTableType(a) == db::kTableTypeOru && conn->GetTableType(b) == db::kTableTypeOru;
}

std::string viewOf(const std::string& table) {
  if (table.size() >= 8 && textEqual(table.substr(0, 8), "ORULINK_")) return "ORULINK_view" + table.substr(8);
  return "view" + table;
}

void addDatabaseArgument(CLI::App* cmd, std::string& db) {
  cmd->add_option("db", db, "Database file, or a PostgreSQL location (postgresql://...?schema=NAME)")->required();
}

void addSessionOptions(CLI::App* cmd, Globals& g) {
  cmd->add_option("--lang", g.session.lang, "Phrase language of error texts (e.g. English, German)");
  cmd->add_option("--trace", g.session.traceFile, "Write every statement sent to the database into FILE");
}

void addCommonOptions(CLI::App* cmd, Globals& g) {
  addSessionOptions(cmd, g);
  cmd->add_option("--link", g.session.linkFile, "Attach FILE (or, for a PostgreSQL database, another schema of it) as the link tables (prefix ORULINK_)");
  cmd->add_option("--format", g.format, "Output format: table (default), csv, json or html")
      ->check(CLI::IsMember({"table", "csv", "json", "html"}));
}

void addKeysOption(CLI::App* cmd, std::string& keys, const std::string& name) {
  cmd->add_option(name, keys, "Match key columns, separated by commas")->required();
}

void addGridKeyOptions(CLI::App* cmd, std::string& parentKeys, std::string& childKey) {
  cmd->add_option("--parent-keys", parentKeys, "Match keys of the parent, separated by commas")->required();
  cmd->add_option("--child-key", childKey, "The grid column that identifies a record within its parent")->required();
}

void addDryRunOption(CLI::App* cmd, bool& dry) {
  cmd->add_flag("--dry-run", dry, "Print the statements inside a transaction that is rolled back");
}

void Mode::addOptions(CLI::App* cmd) {
  cmd->add_flag("--oru", oru, "The tables are data tables of forms (UniqueKey, RecStatus); default: asked of the database");
  cmd->add_flag("--plain", plain, "The tables are ordinary tables (no record status)");
}

bool Mode::resolve(const db::DatabaseRef& conn, const std::string& t1, const std::string& t2) const {
  if (oru && plain) throw UsageError("--oru and --plain exclude each other");
  if (oru) return true;
  if (plain) return false;
  return formTables(conn, t1, t2);
}

void KeySource::addOptions(CLI::App* cmd) {
  cmd->add_option("--value", values, "Key values of one record, separated by commas (repeat for more records)");
  cmd->add_option("--from", file, "Take the records from a csv or json result of diff / grid-diff (- = standard input)");
}

namespace {

// A csv line split into fields (quotes as the csv output writes them).
std::vector<std::string> csvLine(std::istream& in, bool& ok) {
  std::vector<std::string> out;
  std::string field, line;
  ok = static_cast<bool>(std::getline(in, line));
  if (!ok) return out;
  bool quoted = false;
  for (size_t i = 0;; ++i) {
    if (i == line.size()) {
      if (!quoted) break;
      std::string more;
      if (!std::getline(in, more)) break;
      field += '\n';
      line = more;
      i = static_cast<size_t>(-1);
      continue;
    }
    char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') field += '"', ++i;
      else if (c == '"') quoted = false;
      else field += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      out.push_back(field);
      field.clear();
    } else if (c != '\r') {
      field += c;
    }
  }
  out.push_back(field);
  return out;
}

Variant jsonValue(const Json& v) {
  if (v.is_null()) return Variant(Null{});
  if (v.is_string()) return Variant(v.get<std::string>());
  if (v.is_boolean()) return Variant(v.get<bool>());
  if (v.is_number_integer()) {
    int64_t n = v.get<int64_t>();
    if (n >= INT32_MIN && n <= INT32_MAX) return Variant(static_cast<int32_t>(n));
    return Variant(static_cast<double>(n));
  }
  if (v.is_number()) return Variant(v.get<double>());
  return Variant(v.dump());
}

size_t findColumn(const std::vector<std::string>& header, const std::string& name, const std::string& file) {
  for (const std::string& n : {name, name + "~Main", name + "~Grid"})
    for (size_t i = 0; i < header.size(); ++i)
      if (textEqual(header[i], n)) return i;
  throw UsageError("no column \"" + name + "\" in " + file + " (columns: " + joinList(header) + ")");
}

}  // namespace

std::vector<std::vector<Variant>> KeySource::read(const std::vector<std::string>& columns) const {
  if (!file.empty() && !values.empty()) throw UsageError("--value and --from exclude each other");
  std::vector<std::vector<Variant>> out;
  std::set<std::vector<std::string>> seen;
  auto add = [&](std::vector<Variant> row) {
    std::vector<std::string> k;
    for (const Variant& v : row) k.push_back(concatText(v));
    if (seen.insert(k).second) out.push_back(std::move(row));
  };
  if (file.empty()) {
    for (const std::string& v : values) {
      std::vector<std::string> parts;
      std::string item;
      std::istringstream in(v);
      while (std::getline(in, item, ',')) parts.push_back(trimBlanks(item));
      if (!v.empty() && v.back() == ',') parts.push_back("");
      if (parts.size() != columns.size())
        throw UsageError("--value \"" + v + "\" needs " + std::to_string(columns.size()) + " value(s): " + joinList(columns));
      std::vector<Variant> row;
      for (const std::string& p : parts) row.push_back(Variant(p));
      add(std::move(row));
    }
    if (out.empty()) throw UsageError("no records given: use --value or --from (see --help)");
    return out;
  }
  std::ifstream f;
  std::istream* in = &std::cin;
  if (file != "-") {
    f.open(file);
    if (!f) throw UsageError("cannot read " + file);
    in = &f;
  }
  std::stringstream all;
  all << in->rdbuf();
  std::string text = all.str();
  std::string head = trimBlanks(text.substr(0, 64));
  if (!head.empty() && head[0] == '{') {
    Json j;
    try {
      j = Json::parse(text);
    } catch (const Json::exception& e) {
      throw UsageError("malformed JSON in " + file + ": " + e.what());
    }
    if (!j.is_object() || !j.contains("columns") || !j.contains("rows"))
      throw UsageError(file + " is no diff result (no columns and rows)");
    // A file written by hand may hold anything: columns are texts, rows are lists of values.
    if (!j["columns"].is_array() || !j["rows"].is_array())
      throw UsageError(file + " is no diff result: \"columns\" and \"rows\" must be lists");
    std::vector<std::string> header;
    for (const Json& c : j["columns"]) {
      if (!c.is_string()) throw UsageError(file + " is no diff result: a column name is not a text: " + c.dump(-1, ' ', false, Json::error_handler_t::replace));
      header.push_back(c.get<std::string>());
    }
    std::vector<size_t> pos;
    for (const std::string& c : columns) pos.push_back(findColumn(header, c, file));
    for (const Json& row : j["rows"]) {
      if (!row.is_array()) throw UsageError(file + " is no diff result: a row is not a list: " + row.dump(-1, ' ', false, Json::error_handler_t::replace));
      std::vector<Variant> r;
      for (size_t p : pos) r.push_back(p < row.size() ? jsonValue(row[p]) : Variant(Null{}));
      add(std::move(r));
    }
  } else {
    std::istringstream csv(text);
    bool ok = false;
    std::vector<std::string> header = csvLine(csv, ok);
    if (!ok) throw UsageError(file + " is empty");
    std::vector<size_t> pos;
    for (const std::string& c : columns) pos.push_back(findColumn(header, c, file));
    for (;;) {
      std::vector<std::string> fields = csvLine(csv, ok);
      if (!ok) break;
      if (fields.size() == 1 && fields[0].empty()) continue;
      std::vector<Variant> r;
      for (size_t p : pos) r.push_back(Variant(p < fields.size() ? fields[p] : std::string()));
      add(std::move(r));
    }
  }
  return out;
}

void dryRun(const db::DatabaseRef& conn, const std::string& trace, std::ostream& out,
            const std::function<void()>& work) {
  conn->BeginTrans();
  try {
    work();
  } catch (...) {
    conn->RollbackTrans();
    throw;
  }
  conn->RollbackTrans();
  // The trace entries are "-- operation", "jet: text", "sql: text", "=> outcome".
  std::ifstream in(trace);
  std::string line, op, jet;
  out << "Dry run: the statements below ran inside a transaction that was rolled back.\n";
  // Entries before the dry run's own BeginTrans are the look-ups that prepared the call.
  int depth = 0;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.rfind("-- ", 0) == 0) {
      op = line.substr(3);
      jet.clear();
    } else if (line.rfind("jet: ", 0) == 0) {
      jet = line.substr(5);
    } else if (line.rfind("=> ", 0) == 0) {
      // The dry run's own transaction is not part of what the member did.
      if (!inside) {
        inside = op == "BeginTrans";
        if (inside) ++depth;
        continue;
      }
      if (op == "BeginTrans" && depth++ == 0) continue;
      if ((op == "CommitTrans" || op == "RollbackTrans") && --depth == 0) continue;
      // A record's own transaction commits nothing inside the dry run: only its statements show.
      if (op == "BeginTrans" || op == "CommitTrans") continue;
      out << "  " << op << (jet.empty() ? "" : ": " + jet) << "  => " << line.substr(3) << "\n";
    }
  }
  out << "Rolled back: none of these statements changed the database.\n";
}

Progress::Progress(std::string what, size_t total)
    : what_(std::move(what)), total_(total), shown_(total > 1 && isatty(STDERR_FILENO)) {}

Progress::~Progress() {
  if (shown_) std::cerr << "\r\x1b[K" << std::flush;
}

void Progress::update(size_t done) {
  if (!shown_) return;
  std::cerr << "\r" << what_ << ": " << done << " of " << total_ << " records" << std::flush;
}

}  // namespace ovt::tool
