#include "calls/calls.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>

#include <fmt/format.h>

#include "ovtbldiff/dbcomp/postgres.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::calls {
namespace {

std::string isoDate(Date d) {
  std::string s = formatDate(d);
  if (s.size() > 10) s[10] = 'T';
  return s;
}

template <class T>
Json elementJson(const T& e) {
  if constexpr (std::is_same_v<T, std::string>) return Json(e);
  else return toJson(e);
}

template <class T>
Json arrayJson(const SafeArray<T>& a) {
  if (!a.allocated()) return Json{{"unallocated", true}};
  Json out = Json::array();
  // 64-bit counters: an upper bound of 2147483647 must not overflow the loop.
  auto at = [](int64_t i) { return static_cast<int32_t>(i); };
  if (a.dims() == 1) {
    for (int64_t i = a.lbound(1); i <= a.ubound(1); ++i) out.push_back(elementJson(a.at(at(i))));
  } else {
    for (int64_t i = a.lbound(1); i <= a.ubound(1); ++i) {
      Json row = Json::array();
      for (int64_t j = a.lbound(2); j <= a.ubound(2); ++j) row.push_back(elementJson(a.at(at(i), at(j))));
      out.push_back(std::move(row));
    }
  }
  bool zeroBased = a.lbound(1) == 0 && (a.dims() == 1 || a.lbound(2) == 0);
  if (zeroBased) return out;
  Json lb = a.dims() == 1 ? Json(a.lbound(1)) : Json::array({a.lbound(1), a.lbound(2)});
  return Json{{"array", std::move(out)}, {"lbound", std::move(lb)}};
}

Json recordsetJson(db::cRecordset& rs) {
  Json fields = Json::array();
  auto fs = rs.Recordset();
  int32_t n = deref(fs).Count();
  for (int32_t i = 0; i < n; ++i) fields.push_back(Json{{"name", fs->Name(i)}, {"type", fs->Type(i)}});
  Json rows = Json::array();
  if (!(rs.IsBOF() && rs.IsEOF())) {
    VariantArray all = rs.GetRows();  // column first, then record
    if (all.allocated() && all.dims() == 2) {
      for (int32_t r = all.lbound(2); r <= all.ubound(2); ++r) {
        Json row = Json::array();
        for (int32_t c = all.lbound(1); c <= all.ubound(1); ++c) row.push_back(toJson(all.at(c, r)));
        rows.push_back(std::move(row));
      }
    }
  }
  return Json{{"fields", std::move(fields)}, {"rows", std::move(rows)}};
}


const com::MemberInfo* findMember(const com::TypeLibraryInfo& info, const std::string& name, bool put) {
  for (const com::MemberInfo& m : info.members) {
    if (!textEqual(m.name, name)) continue;
    if (m.kind == com::MemberKind::PropertyPutRef && !put) continue;
    if (m.kind == com::MemberKind::PropertyGet && put) continue;
    return &m;
  }
  return nullptr;
}

}  // namespace

db::DatabaseRef openLocation(const std::string& location, const std::string& link, const LocationOptions& options) {
  // A PostgreSQL location names a schema of a server database; its link tables are another
  // schema of the same database.
  if (db::IsPostgresLocation(location)) {
    if (!link.empty() && !db::IsPostgresLocation(link))
      throw UsageError("the link tables of a PostgreSQL database must be another schema of it, not " + link);
    db::PostgresOptions o;
    o.link = link;
    o.traceFile = options.traceFile;
    o.traceListener = options.traceListener;
    o.binaryCompare = options.binaryCompare;
    return db::OpenPostgres(location, o);
  }
  if (db::IsPostgresLocation(link))
    throw UsageError("a SQLite database file cannot take PostgreSQL link tables: " + link);
  db::SqliteOptions o;
  o.linkFile = link;
  o.traceFile = options.traceFile;
  o.traceListener = options.traceListener;
  o.walJournal = options.walJournal;
  o.binaryCompare = options.binaryCompare;
  if (!std::filesystem::exists(location)) throw UsageError("database file not found: " + location);
  return db::OpenSqlite(location, o);
}

db::TableRef findTable(const db::DatabaseRef& conn, const std::string& name) {
  for (const db::TableRef& t : deref(conn).Tables())
    if (t && textEqual(t->Name(), name)) return t;
  throw UsageError("no table \"" + name + "\" in " + conn->Describe());
}

Json toJson(const Variant& v) {
  if (v.isEmpty()) return Json{{"empty", true}};
  if (v.isNull()) return nullptr;
  if (auto p = v.get<int16_t>()) return *p;
  if (auto p = v.get<int32_t>()) return *p;
  if (auto p = v.get<uint8_t>()) return *p;
  if (auto p = v.get<bool>()) return *p;
  if (auto p = v.get<std::string>()) return *p;
  if (auto p = v.get<double>()) return std::isfinite(*p) ? Json(*p) : Json(formatDouble(*p));
  if (auto p = v.get<Currency>()) return static_cast<double>(p->scaled) / 10000.0;
  if (auto p = v.get<Date>()) return isoDate(*p);
  if (v.type() == VarType::StringArray) return arrayJson(v.stringArray());
  if (v.type() == VarType::VariantArray) return arrayJson(v.variantArray());
  if (v.isObject()) {
    const ObjectRef& o = v.object();
    if (!o) return nullptr;
    if (auto rs = std::dynamic_pointer_cast<db::cRecordset>(o)) return recordsetJson(*rs);
    if (auto conn = std::dynamic_pointer_cast<db::cDatabase>(o)) return conn->Location();
    if (auto t = std::dynamic_pointer_cast<db::cTable>(o)) return Json{{"table", t->Name()}};
    return Json{{"object", true}};
  }
  return nullptr;
}

Json errorJson(const ComError& e) {
  return Json{{"number", e.number()},
              {"hex", fmt::format("0x{:08X}", static_cast<uint32_t>(e.number()))},
              {"source", e.source()},
              {"description", e.description()}};
}

Variant CallRunner::connection(const Json& j) {
  if (!j.is_object() || !j.contains("database"))
    throw UsageError("a connection must be {\"database\": FILE or PostgreSQL location} or {\"database\": null}");
  for (auto it = j.begin(); it != j.end(); ++it)
    if (it.key() != "database" && it.key() != "link" && it.key() != "same" && it.key() != "view")
      throw UsageError("unknown key \"" + it.key() + "\" in a connection");
  const Json& file = j["database"];
  if (file.is_null()) return Variant(ObjectRef());
  if (!file.is_string()) throw UsageError("\"database\" must be a file name or null");
  if (j.contains("view") && !j["view"].is_string()) throw UsageError("\"view\" must be a view name");
  std::string link;  // the host's own link tables
  if (j.contains("link")) {
    if (!j["link"].is_string()) throw UsageError("\"link\" must be a file name");
    link = j["link"].get<std::string>();
  }
  if (j.contains("same")) {
    if (!j["same"].is_string()) throw UsageError("\"same\" must be a name");
    auto& slot = named_[j["same"].get<std::string>()];
    if (!slot) slot = host_.open(file.get<std::string>(), link);
    if (j.contains("view")) slot->SetViewName(j["view"].get<std::string>());
    return Variant(ObjectRef(slot));
  }
  db::DatabaseRef conn = host_.open(file.get<std::string>(), link);
  // The view name the structure and grid members read from the connection.
  if (j.contains("view")) conn->SetViewName(j["view"].get<std::string>());
  return Variant(ObjectRef(conn));
}

Variant CallRunner::table(const Json& j) {
  if (!j["table"].is_string()) throw UsageError("\"table\" must be a table name");
  Json conn;
  if (j.contains("in")) conn = j["in"];
  else if (j.contains("database")) {
    conn = Json::object();
    for (auto it = j.begin(); it != j.end(); ++it)
      if (it.key() != "table") conn[it.key()] = it.value();
  } else {
    throw UsageError("a table needs \"database\" or \"in\"");
  }
  Variant c = connection(conn);
  auto db = std::dynamic_pointer_cast<db::cDatabase>(c.object());
  if (!db) throw UsageError("a table needs a connection, not Nothing");
  return Variant(ObjectRef(findTable(db, j["table"].get<std::string>())));
}

Variant CallRunner::value(const Json& j, const std::string& type) {
  switch (j.type()) {
    case Json::value_t::null: return Variant(Null{});
    case Json::value_t::boolean: return Variant(j.get<bool>());
    case Json::value_t::string: return Variant(j.get<std::string>());
    case Json::value_t::number_float: return Variant(j.get<double>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: {
      // A whole number takes the parameter's integer type; one that does not fit overflows
      // as the platform's conversion does.
      bool isInt16 = textEqual(type, "Integer");
      if (j.is_number_unsigned() && j.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        raiseRuntime(RuntimeError::Overflow);
      int64_t n = j.get<int64_t>();
      if (isInt16) return Variant(toInt16Checked(n));
      if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
        raiseRuntime(RuntimeError::Overflow);
      return Variant(static_cast<int32_t>(n));
    }
    case Json::value_t::array: break;
    case Json::value_t::object: {
      if (j.contains("table")) return table(j);
      if (j.contains("database")) return connection(j);
      if (j.size() == 1 && j.contains("empty") && j["empty"] == true) return Variant();
      bool strings = textEqual(type, "String()");
      if (j.size() == 1 && j.contains("unallocated") && j["unallocated"] == true)
        return strings ? Variant(StringArray()) : Variant(VariantArray());
      if (!j.contains("array") || !j["array"].is_array())
        throw UsageError("unknown value object " + j.dump() +
                         " (expected empty, unallocated, array, database or table)");
      break;
    }
    default: throw UsageError("unsupported JSON value " + j.dump());
  }
  // Arrays: a JSON array, or {"array": [...], "lbound": n | [n1, n2]}.
  const Json& items = j.is_array() ? j : j["array"];
  int32_t lb1 = 0, lb2 = 0;
  if (j.is_object()) {
    for (auto it = j.begin(); it != j.end(); ++it)
      if (it.key() != "array" && it.key() != "lbound") throw UsageError("unknown key \"" + it.key() + "\" in an array");
    if (j.contains("lbound")) {
      const Json& lb = j["lbound"];
      // A bound outside the 32-bit range overflows, as the runtime's conversion does.
      auto bound = [](const Json& n) {
        if (n.is_number_unsigned() && n.get<uint64_t>() > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
          raiseRuntime(RuntimeError::Overflow);
        const int64_t v = n.get<int64_t>();
        if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
          raiseRuntime(RuntimeError::Overflow);
        return static_cast<int32_t>(v);
      };
      if (lb.is_number_integer()) lb1 = lb2 = bound(lb);
      else if (lb.is_array() && lb.size() == 2 && lb[0].is_number_integer() && lb[1].is_number_integer()) {
        lb1 = bound(lb[0]);
        lb2 = bound(lb[1]);
      } else {
        throw UsageError("\"lbound\" must be a whole number or two of them");
      }
    }
  }
  size_t nested = 0;
  for (const Json& e : items) nested += e.is_array() ? 1 : 0;
  if (nested != 0 && nested != items.size()) throw UsageError("an array mixes rows and scalars");
  const bool twoDims = nested > 0;
  size_t cols = twoDims ? items[0].size() : 0;
  for (const Json& e : items)
    if (twoDims && e.size() != cols) throw UsageError("the rows of a two-dimensional array differ in length");
  // The upper bounds (lower bound + count - 1) must stay in the 32-bit range.
  auto upper = [](int32_t lb, size_t count) {
    const int64_t ub = static_cast<int64_t>(lb) + static_cast<int64_t>(count) - 1;
    if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max()) || ub > std::numeric_limits<int32_t>::max() ||
        ub < std::numeric_limits<int32_t>::min())
      raiseRuntime(RuntimeError::Overflow);
    return static_cast<int32_t>(ub);
  };
  const int32_t ub1 = upper(lb1, items.size());
  const int32_t ub2 = twoDims ? upper(lb2, cols) : 0;
  const int32_t rows = static_cast<int32_t>(items.size());
  auto fill = [&](auto& arr, auto convert) {
    if (twoDims) {
      arr.redim(lb1, ub1, lb2, ub2);
      for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < static_cast<int32_t>(cols); ++c) arr.at(lb1 + r, lb2 + c) = convert(items[r][c]);
    } else {
      arr.redim(lb1, ub1);
      for (int32_t r = 0; r < rows; ++r) arr.at(lb1 + r) = convert(items[r]);
    }
  };
  if (textEqual(type, "String()")) {
    StringArray a;
    fill(a, [&](const Json& e) {
      if (e.is_array() || e.is_object()) throw UsageError("a string array holds only scalars");
      return toText(value(e, "String"));
    });
    return Variant(std::move(a));
  }
  VariantArray a;
  fill(a, [&](const Json& e) {
    if (e.is_array()) throw UsageError("arrays of more than two dimensions are not supported");
    return value(e, "Variant");
  });
  return Variant(std::move(a));
}

Json CallRunner::run(const Json& line, bool& raised) {
  raised = false;
  if (!line.is_object()) throw UsageError("a line must be a JSON object");
  for (auto it = line.begin(); it != line.end(); ++it)
    if (it.key() != "member" && it.key() != "db" && it.key() != "args")
      throw UsageError("unknown key \"" + it.key() + "\" (expected member, db, args)");
  if (!line.contains("member") || !line["member"].is_string()) throw UsageError("\"member\" must name a member");
  const std::string name = line["member"].get<std::string>();
  Json args = line.contains("args") ? line["args"] : Json::object();
  if (args.is_null()) args = Json::object();
  if (!args.is_object() && !args.is_array()) throw UsageError("\"args\" must be an object or an array");
  if (line.contains("db") && !line["db"].is_null() && !line["db"].is_object())
    throw UsageError("\"db\" must be a connection or null");

  com::AutomationObject& g = host_.gateway();
  const bool put = textEqual(name, "DB") && !args.empty();
  const com::MemberInfo* m = findMember(g.typeInfo(), name, put);
  if (!m) throw UsageError("unknown member \"" + name + "\" (see ovtbldiff call --list)");

  // Positions of the given arguments.
  std::vector<const Json*> given(m->params.size(), nullptr);
  if (args.is_array()) {
    if (args.size() > m->params.size())
      throw UsageError(fmt::format("{} takes at most {} arguments, {} given", m->name, m->params.size(), args.size()));
    for (size_t i = 0; i < args.size(); ++i) given[i] = &args[i];
  } else {
    for (auto it = args.begin(); it != args.end(); ++it) {
      size_t k = 0;
      while (k < m->params.size() && !textEqual(m->params[k].name, it.key())) ++k;
      if (k == m->params.size()) throw UsageError("unknown parameter \"" + it.key() + "\" of " + m->name);
      if (given[k]) throw UsageError("parameter \"" + it.key() + "\" given twice");
      given[k] = &it.value();
    }
  }

  Json out = Json::object();
  out["member"] = m->name;
  out["result"] = nullptr;
  std::vector<Variant> vars(m->params.size());
  try {
    if (line.contains("db")) g.putRef("DB", line["db"].is_null() ? Variant(ObjectRef()) : connection(line["db"]));
    for (size_t i = 0; i < given.size(); ++i)
      if (given[i]) vars[i] = value(*given[i], m->params[i].type);
    Variant result;
    if (m->kind == com::MemberKind::PropertyGet) {
      result = g.get(m->name);
    } else if (m->kind == com::MemberKind::PropertyPutRef) {
      g.putRef(m->name, vars[0]);
    } else {
      size_t last = given.size();
      while (last > 0 && !given[last - 1]) --last;
      std::vector<com::DispArg> dispArgs;
      for (size_t i = 0; i < last; ++i) {
        if (!given[i]) dispArgs.push_back(com::omitted());
        else if (m->params[i].byRef) dispArgs.push_back(com::byRef(vars[i]));
        else dispArgs.push_back(com::byVal(vars[i]));
      }
      result = g.call(m->name, std::move(dispArgs));
    }
    out["result"] = toJson(result);
    out["error"] = nullptr;
  } catch (const ComError& e) {
    out["error"] = errorJson(e);
    raised = true;
  }
  Json byref = Json::object();
  for (size_t i = 0; i < m->params.size(); ++i) {
    if (!m->params[i].byRef) continue;
    byref[m->params[i].name] = given[i] ? toJson(vars[i]) : Json{{"omitted", true}};
  }
  // Keep the documented key order: member, result, byref, error.
  Json ordered = Json::object();
  ordered["member"] = out["member"];
  ordered["result"] = out["result"];
  ordered["byref"] = std::move(byref);
  ordered["error"] = out["error"];
  return ordered;
}

void printMemberList(std::ostream& out, const com::TypeLibraryInfo& info) {
  out << fmt::format("{} {}.{} class {} interface {}\n", info.name, info.majorVersion, info.minorVersion,
                     info.className, info.interfaceName);
  for (const com::MemberInfo& m : info.members) {
    std::string params;
    for (const com::ParamInfo& p : m.params) {
      if (!params.empty()) params += ", ";
      if (p.optional) params += "Optional ";
      params += p.byRef ? "ByRef " : "ByVal ";
      params += p.name + " As " + p.type;
      if (p.optional && !p.defaultText.empty()) params += " = " + p.defaultText;
    }
    std::string kind = m.kind == com::MemberKind::Method ? (m.resultType.empty() ? "Sub" : "Function")
                       : m.kind == com::MemberKind::PropertyGet ? "Property Get"
                                                                : "Property Set";
    std::string result = m.resultType.empty() ? "" : " As " + m.resultType;
    out << fmt::format("{:>2}  {:08X}  {} {}({}){}\n", m.position, static_cast<uint32_t>(m.dispId), kind, m.name,
                       params, result);
  }
}

Json memberListJson(const com::TypeLibraryInfo& info) {
  Json members = Json::array();
  for (const com::MemberInfo& m : info.members) {
    Json params = Json::array();
    for (const com::ParamInfo& p : m.params)
      params.push_back(Json{{"name", p.name}, {"type", p.type}, {"byref", p.byRef}, {"optional", p.optional}});
    const char* kind = m.kind == com::MemberKind::Method        ? "method"
                       : m.kind == com::MemberKind::PropertyGet ? "get"
                                                                : "putref";
    members.push_back(Json{{"name", m.name}, {"kind", kind}, {"result", m.resultType}, {"params", std::move(params)}});
  }
  return members;
}

int runScript(CallHost& host, std::istream& in, std::ostream& out) {
  CallRunner runner(host);
  std::string text;
  int lineNo = 0;
  bool anyRaised = false, anyMalformed = false;
  while (std::getline(in, text)) {
    ++lineNo;
    if (trimBlanks(text).empty()) continue;
    try {
      Json line = Json::parse(text);
      bool raised = false;
      out << runner.run(line, raised).dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
      anyRaised = anyRaised || raised;
    } catch (const Json::exception& e) {
      anyMalformed = true;
      std::string msg = fmt::format("line {}: malformed JSON: {}", lineNo, e.what());
      std::cerr << "ovtbldiff call: " << msg << "\n";
      out << Json{{"line", lineNo}, {"malformed", msg}}.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
    } catch (const UsageError& e) {
      anyMalformed = true;
      std::string msg = fmt::format("line {}: {}", lineNo, e.what());
      std::cerr << "ovtbldiff call: " << msg << "\n";
      out << Json{{"line", lineNo}, {"malformed", msg}}.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
    } catch (const ComError&) {
      throw;
    } catch (const std::exception& e) {
      // Whatever else a line provokes is reported with it; the script goes on.
      anyMalformed = true;
      std::string msg = fmt::format("line {}: cannot be run: {}", lineNo, e.what());
      std::cerr << "ovtbldiff call: " << msg << "\n";
      out << Json{{"line", lineNo}, {"malformed", msg}}.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n";
    }
    out.flush();
  }
  return anyMalformed ? kScriptMalformed : anyRaised ? kScriptRaised : kScriptOk;
}

}  // namespace ovt::calls
