// cDatabase on SQLite. Every statement is parsed in the Jet dialect and rendered for SQLite
// (src/dialect); nothing reaches the engine unparsed, so text after a first statement never
// runs. Decisions:
// - Transactions nest: each BeginTrans opens a savepoint, CommitTrans releases the innermost,
//   RollbackTrans undoes and closes the innermost; the outermost commit makes changes
//   permanent. Commit or rollback with none open raises kDbErrNoTransaction.
// - Stored views (CreateView) are temporary views of the connection: they can read link
//   tables, and a call that fails leaves nothing behind in the file.
// - `select ... into T` creates T with the source columns' declared types and NOT NULL
//   flags (no key, no index) and copies the rows, in one savepoint.
// - A link file is attached as schema kLinkSchema; ORULINK_X names its table X.
// - A column declared COUNTER or AUTOINCREMENT in a table made by another program is no rowid
//   alias, and the engine never fills it: an insert through the connection gives the rows it
//   left Null the next numbers after the column's largest.
// - GetTableType: 0 when the table has columns UniqueKey and RecStatus, else 1 when it has
//   Name, Type, PageNumber and DataTable, else 2; a missing table raises kDbErrNoTable.
// - Statement cache: SELECT, INSERT, UPDATE and DELETE are rendered with their literals as
//   parameters and the prepared statement is kept by shape (common::StatementCache); the next
//   statement of that shape binds its own literals and runs it without parsing, rendering or
//   preparing. Before every use the schema versions of main, temp and the link file are read:
//   any change (by this connection or another) empties the cache. A lifted rendering that does
//   not prepare is dropped and the statement runs with its literals, so errors read as ever.
//   The trace shows the statement as received, the prepared text and the bound values.
// - Kept query results: a query that reads only tables (of main or the link file), through
//   columns, literals and operators, keeps its result by its exact text (kept_, a few small
//   results); the same text again is answered from it, traced as its run was, with a recordset
//   of its own. A result goes when a statement of the connection writes a table it read; all
//   go when rows change that the connection cannot name (triggers, foreign-key actions, its
//   SQL run as a script, a recordset's update), on any rollback or failure, any schema change,
//   and when another connection commits to the file or the link file (PRAGMA data_version).
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "ovtbldiff/runtime/text.h"
#include "dbcomp/common.h"
#include "dialect/antijoin.h"
#include "sqlite/connection.h"

namespace ovt::db::sqlite {

namespace {

// Steps each version pragma of `readers` once into `versions`; true when every one is as it was.
bool readVersions(std::vector<Stmt>& readers, std::vector<int64_t>& versions) {
  bool same = versions.size() == readers.size();
  versions.resize(readers.size());
  for (size_t i = 0; i < readers.size(); ++i) {
    readers[i].step();
    const int64_t version = sqlite3_column_int64(readers[i].get(), 0);
    readers[i].reset();
    same = same && versions[i] == version;
    versions[i] = version;
  }
  return same;
}

// Kept query results: at most this many, of at most this many rows each.
constexpr size_t kKeptResults = 32;
constexpr size_t kKeptRows = 1024;

// The folded name of the table a statement names, as the engine finds it in any schema.
std::string tableKey(std::string_view name, std::string_view linkSchema) {
  return foldCase(dialect::resolveTable(name, linkSchema).table);
}

// The table an INSERT, UPDATE or DELETE writes ("" for other statements).
const dialect::Name* writtenTable(const dialect::Statement& st) {
  if (const auto* i = std::get_if<dialect::Insert>(&st.body)) return &i->table;
  if (const auto* u = std::get_if<dialect::Update>(&st.body)) return &u->table;
  if (const auto* d = std::get_if<dialect::Delete>(&st.body)) return &d->table;
  return nullptr;
}

// Expressions whose value depends on nothing but the row and the statement's text: columns,
// literals and operators. Subqueries read other tables; functions are left out as well (an
// aggregate reads other rows; none of the dialect's reads anything else, but the list may grow).
bool plainExpr(const dialect::Expr& e) {
  using K = dialect::ExprKind;
  switch (e.kind) {
    case K::Number: case K::String: case K::Date: case K::Boolean: case K::Null: case K::Column:
    case K::Unary: case K::Binary: case K::Concat: case K::IsNull: case K::InList: case K::Between: case K::Like:
      break;
    default: return false;
  }
  if (e.select) return false;
  for (const auto& a : e.args)
    if (!a || !plainExpr(*a)) return false;
  return true;
}

// Appends `text` as an SQL text literal.
void appendQuoted(std::string& out, const std::string& text) {
  out += '\'';
  size_t from = 0;
  for (size_t q; (q = text.find('\'', from)) != std::string::npos; from = q + 1) {
    out.append(text, from, q + 1 - from);
    out += '\'';
  }
  out.append(text, from, std::string::npos);
  out += '\'';
}

}  // namespace

int32_t typeCodeOf(std::string_view declared) {
  if (int32_t code = dialect::jetTypeCode(declared)) return code;
  std::string t;
  for (char c : declared) t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (t.find_first_not_of(' ') == std::string::npos) return adVarWChar;
  if (t.find("INT") != std::string::npos) return adInteger;
  if (t.find("CHAR") != std::string::npos || t.find("CLOB") != std::string::npos || t.find("TEXT") != std::string::npos)
    return adVarWChar;
  if (t.find("BLOB") != std::string::npos) return adLongVarBinary;
  if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos || t.find("DOUB") != std::string::npos)
    return adDouble;
  return adNumeric;
}

// Column types for the renderer, read from the engine's catalogue on demand and kept for
// one statement.
class SqliteDatabase::Schema : public dialect::SchemaInfo {
 public:
  explicit Schema(const SqliteDatabase& db) : db_(db) {}
  std::optional<std::string> columnType(std::string_view table, std::string_view column) const override {
    const std::string key = foldCase(table);
    auto it = cache_.find(key);
    if (it == cache_.end()) {
      std::vector<ColumnInfo> cols;
      dialect::TableTarget t = dialect::resolveTable(table, db_.linked() ? kLinkSchema : "");
      std::string sql = t.schema.empty() ? "SELECT name, type FROM pragma_table_info(?1)"
                                         : "SELECT name, type FROM pragma_table_info(?1, ?2)";
      Stmt st(db_.handle(), sql);
      sqlite3_bind_text(st.get(), 1, t.table.c_str(), -1, SQLITE_TRANSIENT);
      if (!t.schema.empty()) sqlite3_bind_text(st.get(), 2, t.schema.c_str(), -1, SQLITE_TRANSIENT);
      while (st.step() == SQLITE_ROW) {
        ColumnInfo c;
        c.name = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
        const unsigned char* ty = sqlite3_column_text(st.get(), 1);
        c.type = ty ? reinterpret_cast<const char*>(ty) : "";
        cols.push_back(std::move(c));
      }
      it = cache_.emplace(key, std::move(cols)).first;
    }
    for (const auto& c : it->second)
      if (textEqual(c.name, column)) return c.type;
    return std::nullopt;
  }

 private:
  const SqliteDatabase& db_;
  mutable std::map<std::string, std::vector<ColumnInfo>> cache_;
};

SqliteDatabase::SqliteDatabase(const std::string& path, const SqliteOptions& options)
    : path_(path), linkFile_(options.linkFile), binary_(options.binaryCompare),
      literal_(options.literalStatements) {
  sqlite3* raw = nullptr;
  // A connection is used by one thread at a time (the object that owns it belongs to one):
  // without the engine's per-call lock.
  int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK)
    raise(kErrFailure, "Cannot open the database file '" + path + "': " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
  // A double-quoted word is never a text literal for the engine: the dialect's literals are
  // rendered in single quotes, and a misspelt name must fail, not become a text.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_busy_timeout(raw, 5000);
  caching_ = options.statementCache > 0;
  cache_ = common::StatementCache<Plan>(options.statementCache);
  registerDialectFunctions(raw, binary_);
  if (!linkFile_.empty()) {
    if (!std::filesystem::exists(linkFile_)) raise(kErrFailure, "The link file '" + linkFile_ + "' does not exist");
    Stmt st(raw, std::string("ATTACH DATABASE ?1 AS ") + kLinkSchema);
    sqlite3_bind_text(st.get(), 1, linkFile_.c_str(), -1, SQLITE_TRANSIENT);
    st.step();
  }
  if (options.walJournal) {
    exec(raw, "PRAGMA main.journal_mode = WAL");
    if (!linkFile_.empty()) exec(raw, std::string("PRAGMA ") + kLinkSchema + ".journal_mode = WAL");
  }
  trace_ = std::make_unique<common::StatementTrace>(options.traceFile, options.traceListener);
  // A transaction rolled back, by a call or by the engine after a failure, takes back rows
  // that kept results may hold.
  sqlite3_rollback_hook(raw, [](void* self) { static_cast<const SqliteDatabase*>(self)->forgetResults(); }, this);
  sqlite3_commit_hook(raw, [](void* self) {
    ++static_cast<const SqliteDatabase*>(self)->looks_;
    return 0;
  }, this);
  knownChanges_ = sqlite3_total_changes64(raw);
}

SqliteDatabase::~SqliteDatabase() {
  if (db_) {
    sqlite3_rollback_hook(db_.get(), nullptr, nullptr);
    sqlite3_commit_hook(db_.get(), nullptr, nullptr);
  }
}

std::string SqliteDatabase::Describe() const {
  return "SQLite database " + path_ + (linkFile_.empty() ? "" : " linked to " + linkFile_);
}

void SqliteDatabase::trace(const std::string& operation, const std::string& received, const std::string& run,
                           const std::string& outcome) {
  trace_->write(operation, received, run, outcome);
}

dialect::SqliteRenderOptions SqliteDatabase::renderOptions(const Schema& schema) const {
  dialect::SqliteRenderOptions o;
  o.caseInsensitive = !binary_;
  o.linkSchema = linked() ? kLinkSchema : "";
  o.schema = &schema;
  return o;
}

// Key columns compare alike by their declared types. The engine makes no index for a correlated
// subquery (NOT EXISTS would scan T2 once per record), so the anti-join is a left join where
// T2's key is indexed and one probed list of T2's keys where it is not. Measured at 1,000,000
// records (SQLite 3.40): with an index the list takes about 1.4x the left join; without one it
// is as fast or faster than the left join through the index the engine makes for it.
void SqliteDatabase::rewriteMissingKeys(dialect::Statement& st, const Schema& schema) const {
  if (literal_) return;
  auto classOf = [&](std::string_view table, std::string_view column) {
    return dialect::sqliteKeyClass(schema.columnType(table, column));
  };
  auto form = [&](std::string_view table, std::string_view column) {
    auto self = std::const_pointer_cast<SqliteDatabase>(shared_from_this());
    return SqliteKeyIndexed(self, std::string(table), {std::string(column)}).value_or(false) ? dialect::AntiJoinForm::LeftJoin
                                                                                                : dialect::AntiJoinForm::KeyList;
  };
  dialect::rewriteMissingKeys(st, dialect::KeyFactsOf(classOf, form));
}

std::optional<TableLocation> SqliteDatabase::findTable(const std::string& name) const {
  dialect::TableTarget t = dialect::resolveTable(name, linked() ? kLinkSchema : "");
  const std::string schema = t.schema.empty() ? "main" : t.schema;
  // The tables of each schema, read once while the schema stays as it is.
  const bool keep = checkSchema();
  auto known = keep ? tableNames_.find(schema) : tableNames_.end();
  std::vector<std::string> read;
  if (known == tableNames_.end()) {
    // One prepared look-up per schema, kept: the engine prepares it again itself when the
    // schema changes, so it always reads the current list.
    auto it = tableLookups_.find(schema);
    if (it == tableLookups_.end())
      it = tableLookups_.emplace(schema, Stmt(db_.get(), "SELECT name FROM [" + schema + "].sqlite_master WHERE type = 'table'")).first;
    Stmt& st = it->second;
    // Reset however the look-up ends: a statement left stepping would keep a read transaction open.
    struct Reset {
      Stmt& st;
      ~Reset() { st.reset(); }
    } reset{st};
    while (st.step() == SQLITE_ROW) read.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
    if (keep) known = tableNames_.insert_or_assign(schema, std::move(read)).first;
  }
  for (const std::string& n : known != tableNames_.end() ? known->second : read)
    if (textEqual(n, t.table)) return TableLocation{name, schema, n};
  return std::nullopt;
}

std::vector<ColumnInfo> SqliteDatabase::columns(const TableLocation& t) const {
  const bool keep = checkSchema();
  std::string key = t.schema;
  key += '\0';
  key += t.table;
  if (keep)
    if (auto it = columnLists_.find(key); it != columnLists_.end()) return it->second;
  std::vector<ColumnInfo> out;
  Stmt st(db_.get(), "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1, ?2)");
  sqlite3_bind_text(st.get(), 1, t.table.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(st.get(), 2, t.schema.c_str(), -1, SQLITE_TRANSIENT);
  while (st.step() == SQLITE_ROW) {
    ColumnInfo c;
    c.name = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
    const unsigned char* ty = sqlite3_column_text(st.get(), 1);
    c.type = ty ? reinterpret_cast<const char*>(ty) : "";
    c.notNull = sqlite3_column_int(st.get(), 2) != 0;
    c.pk = sqlite3_column_int(st.get(), 3);
    out.push_back(std::move(c));
  }
  if (keep) columnLists_[key] = out;
  return out;
}

namespace {

// The shape of one statement, made in the buffers of an earlier one the connection kept, and
// given back to it when the statement is done. A statement sent while another is still running
// (from a trace listener) finds none spare and makes its own.
class SpareShape {
 public:
  SpareShape(std::vector<dialect::Shape>& spare, std::string_view sql) : spare_(spare) {
    if (!spare_.empty()) {
      shape_ = std::move(spare_.back());
      spare_.pop_back();
    }
    dialect::shapeOf(sql, shape_);
  }
  ~SpareShape() {
    if (spare_.size() < 2) spare_.push_back(std::move(shape_));
  }
  SpareShape(const SpareShape&) = delete;
  SpareShape& operator=(const SpareShape&) = delete;
  const dialect::Shape& get() const { return shape_; }

 private:
  std::vector<dialect::Shape>& spare_;
  dialect::Shape shape_;
};

}  // namespace

RecordsetRef SqliteDatabase::OpenRecordset(const std::string& sql, int32_t option, const std::string&) {
  // The four options of the interface all give the same kind of recordset: fully read, with
  // an exact count, updatable when the statement reads a single table.
  if (option < 0 || option > 3) raise(kErrFailure, "Invalid recordset option " + std::to_string(option));
  std::string rendered;
  try {
    if (!kept_.empty())
      if (RecordsetRef rs = keptResult(sql, rendered)) return rs;
    const SpareShape spare(spareShapes_, sql);
    const dialect::Shape& shape = spare.get();
    auto run = [&](Plan& plan) {
      rendered = runWhat(plan, shape);
      // Kept when the plan ran this very text last time too (a text read once is not worth
      // keeping), and only when what the result reads is known to be current before it is read.
      bool again = false;
      if (plan.keep) {
        again = plan.lastText == sql;
        if (!again) plan.lastText = sql;
      }
      const bool keep = again && resultsCurrent();
      KeptRows rows;
      std::string outcome;
      RecordsetRef rs = readPlan(plan, outcome, keep ? &rows : nullptr);
      trace("OpenRecordset", sql, rendered, outcome);
      if (keep && plan.columns->allDeclared() && rows.rows.rows() <= kKeptRows) {
        if (kept_.size() >= kKeptResults) kept_.clear();
        kept_[sql] = KeptResult{rendered, outcome, plan.columns, plan.rowIdAdded, plan.baseTable, std::move(rows), plan.reads};
      }
      return rs;
    };
    if (Plan* plan = cached("R", shape)) return run(*plan);
    dialect::Statement st = dialect::parse(sql);
    if (!st.isSelect()) raise(kErrSyntax, "OpenRecordset needs a SELECT statement: " + sql);
    Schema schema(*this);
    dialect::SqliteRenderOptions o = renderOptions(schema);
    const auto& select = std::get<dialect::Select>(st.body);
    if (select.from.size() == 1 && select.from[0]->kind == dialect::Source::Kind::Table &&
        findTable(select.from[0]->table.text))
      o.addRowId = true;
    rewriteMissingKeys(st, schema);
    if (caching_) {
      o.liftLiterals = true;
      dialect::SqliteRendering lifted = dialect::renderSqlite(st, o);
      // A statement that does not prepare (a table without rowid among others) takes the
      // usual way below.
      Plan* plan = prepareCached("R", shape, lifted);
      o.liftLiterals = false;
      if (plan) {
        plan->keep = keepable(select, plan->reads);
        return run(*plan);
      }
    }
    dialect::SqliteRendering r = dialect::renderSqlite(st, o);
    rendered = r.sql;
    Stmt stmt;
    std::string error;
    int code = 0;
    if (!Stmt::tryPrepare(db_.get(), r.sql, stmt, error, code)) {
      if (!r.rowIdAdded) raise(numberFor(code), error);
      // A table without rowid: read it as a plain, read-only result.
      o.addRowId = false;
      r = dialect::renderSqlite(st, o);
      rendered = r.sql;
      if (!Stmt::tryPrepare(db_.get(), r.sql, stmt, error, code)) raise(numberFor(code), error);
    }
    std::string outcome;
    RecordsetRef rs = makeRecordset(shared_from_this(), stmt, r.rowIdAdded, r.baseTable, outcome);
    trace("OpenRecordset", sql, rendered, outcome);
    return rs;
  } catch (const ComError& e) {
    forgetResults();  // a failure may have ended the transaction
    trace("OpenRecordset", sql, rendered, "error: " + e.description());
    throw;
  }
}

RecordsetRef SqliteDatabase::keptResult(const std::string& sql, std::string& rendered) {
  if (!kept_.count(sql) || !resultsCurrent()) return nullptr;
  auto it = kept_.find(sql);  // still there once brought up to date?
  if (it == kept_.end()) return nullptr;
  const KeptResult& k = it->second;
  rendered = k.rendered;
  RecordsetRef rs = keptRecordset(shared_from_this(), k.columns, k.rows, k.rowIdAdded, k.baseTable);
  trace("OpenRecordset", sql, k.rendered, k.outcome);
  return rs;
}

bool SqliteDatabase::keepable(const dialect::Select& select, std::vector<std::string>& reads) const {
  reads.clear();
  if (select.into) return false;
  const std::string_view link = linked() ? kLinkSchema : "";
  // Names of main tables are rendered unqualified, so a temporary table or view of the same
  // name would be read instead.
  std::vector<std::string> temp;
  {
    Stmt st(db_.get(), "SELECT name FROM temp.sqlite_master");
    while (st.step() == SQLITE_ROW)
      temp.push_back(foldCase(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0))));
  }
  auto table = [&](const dialect::Name& n) {
    const std::string key = tableKey(n.text, link);
    if (key.rfind("sqlite_", 0) == 0 || !findTable(n.text)) return false;
    if (dialect::resolveTable(n.text, link).schema.empty() && std::find(temp.begin(), temp.end(), key) != temp.end()) return false;
    reads.push_back(key);
    return true;
  };
  std::function<bool(const dialect::Source&)> source = [&](const dialect::Source& s) {
    switch (s.kind) {
      case dialect::Source::Kind::Table: return table(s.table);
      case dialect::Source::Kind::Join:
        return s.left && s.right && source(*s.left) && source(*s.right) && (!s.on || plainExpr(*s.on));
      default: return false;
    }
  };
  for (const auto& item : select.items)
    if (item.expr && !plainExpr(*item.expr)) return false;
  for (const auto& s : select.from)
    if (!s || !source(*s)) return false;
  if (select.where && !plainExpr(*select.where)) return false;
  for (const auto& g : select.groupBy)
    if (!g || !plainExpr(*g)) return false;
  if (select.having && !plainExpr(*select.having)) return false;
  for (const auto& o : select.orderBy)
    if (!o.expr || !plainExpr(*o.expr)) return false;
  return !reads.empty();
}

bool SqliteDatabase::resultsCurrent() {
  sqlite3* db = db_.get();
  const int64_t total = sqlite3_total_changes64(db);
  if (total != knownChanges_) {
    kept_.clear();
    knownChanges_ = total;
  }
  if (held(dataLook_)) return true;
  try {
    if (dataVersionReaders_.empty()) {
      dataVersionReaders_.emplace_back(db, "PRAGMA main.data_version");
      if (linked()) dataVersionReaders_.emplace_back(db, std::string("PRAGMA ") + kLinkSchema + ".data_version");
    }
    if (!readVersions(dataVersionReaders_, dataVersions_)) kept_.clear();
    dataLook_ = sqlite3_get_autocommit(db) ? kNoLook : looks_;
    return true;
  } catch (const ComError&) {
    kept_.clear();
    dataLook_ = kNoLook;
    dataVersionReaders_.clear();
    dataVersions_.clear();
    return false;
  }
}

void SqliteDatabase::accountWrites(const std::string& writes, int64_t before) {
  sqlite3* db = db_.get();
  const int64_t total = sqlite3_total_changes64(db);
  if (!kept_.empty()) {
    if (writes.empty() || before != knownChanges_ || total - before != sqlite3_changes64(db)) {
      kept_.clear();
    } else if (total != before) {
      std::erase_if(kept_, [&](const auto& k) {
        return std::find(k.second.reads.begin(), k.second.reads.end(), writes) != k.second.reads.end();
      });
    }
  }
  knownChanges_ = total;
}

RecordsetRef SqliteDatabase::readPlan(Plan& plan, std::string& outcome, KeptRows* keep) {
  struct Reset {
    sqlite3_stmt* s;
    ~Reset() { sqlite3_reset(s); }
  } reset{plan.stmt.get()};
  if (!plan.columns) plan.columns = std::make_shared<const stored::ColumnSet>(describeColumns(plan.stmt, plan.rowIdAdded));
  return makeRecordset(shared_from_this(), plan.stmt, plan.rowIdAdded, plan.baseTable, outcome, plan.columns, keep);
}

void SqliteDatabase::forgetPlans() const {
  cache_.clear();
  columnLists_.clear();
  tableNames_.clear();
  forgetResults();
}

bool SqliteDatabase::checkSchema() const {
  if (held(schemaLook_)) return true;
  try {
    if (versionReaders_.empty()) {
      std::vector<std::string> schemas{"main", "temp"};
      if (linked()) schemas.emplace_back(kLinkSchema);
      for (const std::string& name : schemas) versionReaders_.emplace_back(db_.get(), "PRAGMA " + name + ".schema_version");
    }
    if (!readVersions(versionReaders_, versions_)) forgetPlans();
    schemaLook_ = sqlite3_get_autocommit(db_.get()) ? kNoLook : looks_;
    return true;
  } catch (const ComError&) {
    // Whatever keeps the versions from being read, nothing cached is used.
    forgetPlans();
    versions_.clear();
    schemaLook_ = kNoLook;
    return false;
  }
}

SqliteDatabase::Plan* SqliteDatabase::cached(std::string_view operation, const dialect::Shape& shape) {
  if (!caching_ || !checkSchema()) return nullptr;
  Plan* plan = cache_.find(operation, shape);
  return plan && bind(*plan, shape) ? plan : nullptr;
}

SqliteDatabase::Plan* SqliteDatabase::prepareCached(std::string_view operation, const dialect::Shape& shape,
                                                    const dialect::SqliteRendering& r) {
  Plan plan;
  std::string error;
  int code = 0;
  if (!Stmt::tryPrepare(db_.get(), r.sql, plan.stmt, error, code)) return nullptr;
  plan.sql = r.sql;
  plan.parameters = r.parameters;
  plan.rowIdAdded = r.rowIdAdded;
  plan.baseTable = r.baseTable;
  if (!bind(plan, shape)) return nullptr;
  return &cache_.store(operation, shape, r.parameters, std::move(plan));
}

bool SqliteDatabase::bind(Plan& plan, const dialect::Shape& shape) {
  sqlite3_stmt* s = plan.stmt.get();
  sqlite3_reset(s);
  for (size_t n : plan.parameters) {
    if (n == 0 || n > shape.literals.size()) return false;
    const dialect::Literal& l = shape.literals[n - 1];
    const int at = static_cast<int>(n);
    int rc = SQLITE_OK;
    switch (l.kind) {
      case 'N': {
        int64_t v = 0;
        auto r = std::from_chars(l.text.data(), l.text.data() + l.text.size(), v);
        if (r.ec != std::errc()) return false;
        rc = sqlite3_bind_int64(s, at, v);
        break;
      }
      case 'B': rc = sqlite3_bind_int64(s, at, l.text == "-1" ? -1 : 0); break;
      case 'Z': rc = sqlite3_bind_null(s, at); break;
      // The shape outlives the run (step and reset) the value is bound for, and every run binds
      // all of its values again first: no copy is needed.
      case 'S': case 'D':
        rc = sqlite3_bind_text64(s, at, l.text.data(), l.text.size(), SQLITE_STATIC, SQLITE_UTF8);
        break;
      default: return false;
    }
    if (rc != SQLITE_OK) return false;
  }
  return true;
}

std::string SqliteDatabase::runWhat(const Plan& plan, const dialect::Shape& shape) const {
  if (!trace_->showsRunText()) return {};
  if (plan.parameters.empty()) return plan.sql;
  size_t size = plan.sql.size() + 4;
  for (size_t n : plan.parameters) size += shape.literals[n - 1].text.size() + 16;
  std::string out;
  out.reserve(size);
  out += plan.sql;
  out += " -- ";
  for (size_t i = 0; i < plan.parameters.size(); ++i) {
    const size_t n = plan.parameters[i];
    const dialect::Literal& l = shape.literals[n - 1];
    out += i ? ", ?" : "?";
    char number[24];
    out.append(number, std::to_chars(number, number + sizeof number, n).ptr);
    out += " = ";
    if (l.kind == 'Z') out += "NULL";
    else if (l.kind == 'N' || l.kind == 'B') out += l.text;
    else appendQuoted(out, l.text);
  }
  return out;
}

std::string SqliteDatabase::runAction(Stmt& stmt, const std::optional<TableLocation>& target,
                                      const std::vector<std::string>& counters) {
  if (counters.empty()) {
    stmt.step();
    stmt.reset();
    return std::to_string(sqlite3_changes(db_.get())) + " rows changed";
  }
  // The insert and the keys given to its new rows succeed or fail together.
  exec(db_.get(), "SAVEPOINT ovt_counter");
  try {
    stmt.step();
    stmt.reset();
    std::string outcome = std::to_string(sqlite3_changes(db_.get())) + " rows changed";
    fillCounters(*target, counters);
    exec(db_.get(), "RELEASE ovt_counter");
    return outcome;
  } catch (const ComError&) {
    exec(db_.get(), "ROLLBACK TO ovt_counter");
    exec(db_.get(), "RELEASE ovt_counter");
    throw;
  }
}

bool SqliteDatabase::makeTable(const dialect::SqliteRendering& r, std::string& outcome) {
  sqlite3* db = db_.get();
  exec(db, "SAVEPOINT ovt_make_table");
  try {
    std::string create = "CREATE TABLE " + r.intoTable + " (";
    {
      Stmt source(db, r.sql);
      const int n = sqlite3_column_count(source.get());
      for (int i = 0; i < n; ++i) {
        std::string name = sqlite3_column_name(source.get(), i);
        std::string quoted = "\"";
        for (char c : name) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        quoted += "\"";
        const char* decl = sqlite3_column_decltype(source.get(), i);
        create += (i ? ", " : "") + quoted + (decl && *decl ? std::string(" ") + decl : std::string());
        const char* dbName = sqlite3_column_database_name(source.get(), i);
        const char* table = sqlite3_column_table_name(source.get(), i);
        const char* origin = sqlite3_column_origin_name(source.get(), i);
        int notNull = 0, pk = 0, autoinc = 0;
        if (dbName && table && origin &&
            sqlite3_table_column_metadata(db, dbName, table, origin, nullptr, nullptr, &notNull, &pk, &autoinc) == SQLITE_OK &&
            notNull)
          create += " NOT NULL";
      }
    }
    create += ")";
    exec(db, create);
    Stmt insert(db, "INSERT INTO " + r.intoTable + " " + r.sql);
    insert.step();
    outcome = std::to_string(sqlite3_changes(db)) + " rows copied";
    exec(db, "RELEASE ovt_make_table");
    return true;
  } catch (const ComError&) {
    try {
      exec(db, "ROLLBACK TO ovt_make_table");
      exec(db, "RELEASE ovt_make_table");
    } catch (const ComError&) {
      // The engine's own failure is the one to report.
    }
    throw;
  }
}

std::optional<TableLocation> SqliteDatabase::insertTarget(const dialect::Statement& st) const {
  if (!std::holds_alternative<dialect::Insert>(st.body)) return std::nullopt;
  return findTable(std::get<dialect::Insert>(st.body).table.text);
}

std::vector<std::string> SqliteDatabase::unfilledCounters(const TableLocation& t) const {
  // A column the component creates as COUNTER is the engine's rowid alias (declared INTEGER);
  // one declared COUNTER or AUTOINCREMENT by another program is an ordinary column.
  std::vector<std::string> out;
  for (const ColumnInfo& c : columns(t))
    if (startsWithText(c.type, "COUNTER") || startsWithText(c.type, "AUTOINCREMENT")) out.push_back(c.name);
  return out;
}

void SqliteDatabase::fillCounters(const TableLocation& t, const std::vector<std::string>& counters) {
  const std::string table = t.qualified();
  for (const std::string& name : counters) {
    std::string column = "[";
    for (char ch : name) column += ch == ']' ? std::string("]]") : std::string(1, ch);
    column += "]";
    Stmt top(db_.get(), "SELECT coalesce(max(" + column + "), 0) FROM " + table);
    top.step();
    sqlite3_int64 next = sqlite3_column_int64(top.get(), 0);
    std::vector<sqlite3_int64> rows;
    Stmt empty(db_.get(), "SELECT rowid FROM " + table + " WHERE " + column + " IS NULL ORDER BY rowid");
    while (empty.step() == SQLITE_ROW) rows.push_back(sqlite3_column_int64(empty.get(), 0));
    for (sqlite3_int64 row : rows) {
      Stmt set(db_.get(), "UPDATE " + table + " SET " + column + " = ?1 WHERE rowid = ?2");
      sqlite3_bind_int64(set.get(), 1, ++next);
      sqlite3_bind_int64(set.get(), 2, row);
      set.step();
    }
  }
}

bool SqliteDatabase::Execute(const std::string& sql) {
  lastFailure_.clear();
  std::string rendered, outcome;
  const int64_t before = sqlite3_total_changes64(db_.get());
  try {
    const SpareShape spare(spareShapes_, sql);
    const dialect::Shape& shape = spare.get();
    if (Plan* plan = cached("X", shape)) {
      rendered = runWhat(*plan, shape);
      outcome = runAction(plan->stmt, plan->target, plan->counters);
      accountWrites(plan->counters.empty() ? plan->writes : std::string(), before);
      trace("Execute", sql, rendered, outcome);
      return true;
    }
    dialect::Statement st = dialect::parse(sql);
    if (st.isSelect()) raise(kErrSyntax, "Execute cannot run a SELECT statement; use OpenRecordset");
    Schema schema(*this);
    dialect::SqliteRenderOptions o = renderOptions(schema);
    const bool action = std::holds_alternative<dialect::Insert>(st.body) ||
                        std::holds_alternative<dialect::Update>(st.body) ||
                        std::holds_alternative<dialect::Delete>(st.body);
    // A table, an index or their absence is what plans stand on: forgotten before and after.
    struct Forget {
      const SqliteDatabase* db;
      ~Forget() {
        if (db) db->forgetPlans();
      }
    } forget{action ? nullptr : this};
    if (!action) forgetPlans();
    Plan* plan = nullptr;
    std::optional<TableLocation> target;
    std::vector<std::string> counters;
    std::string writes;
    if (action) {
      writes = tableKey(writtenTable(st)->text, linked() ? kLinkSchema : "");
      target = insertTarget(st);
      if (target) counters = unfilledCounters(*target);
      if (counters.empty()) target.reset();
      if (caching_) {
        o.liftLiterals = true;
        plan = prepareCached("X", shape, dialect::renderSqlite(st, o));
        o.liftLiterals = false;
        if (plan) {
          plan->target = target;
          plan->counters = counters;
          plan->writes = writes;
        }
      }
    }
    if (plan) {
      rendered = runWhat(*plan, shape);
      outcome = runAction(plan->stmt, plan->target, plan->counters);
    } else {
      dialect::SqliteRendering r = dialect::renderSqlite(st, o);
      if (st.isSelectInto()) {
        rendered = "CREATE TABLE " + r.intoTable + " (...); INSERT INTO " + r.intoTable + " " + r.sql;
        makeTable(r, outcome);
      } else {
        rendered = r.sql;
        Stmt stmt(db_.get(), r.sql);
        outcome = runAction(stmt, target, counters);
      }
    }
    // Other statements than INSERT, UPDATE and DELETE (writes "") let no kept result stay.
    accountWrites(counters.empty() ? writes : std::string(), before);
    trace("Execute", sql, rendered, outcome);
    return true;
  } catch (const ComError& e) {
    forgetResults();  // the statement may have changed rows before it failed, or ended the transaction
    lastFailure_ = e.description();
    trace("Execute", sql, rendered, "error: " + e.description());
    return false;
  }
}

namespace {

// Forgets the connection's plans when it goes.
struct PlansForgotten {
  const SqliteDatabase& db;
  ~PlansForgotten() { db.forgetPlansNow(); }
};

}  // namespace

bool SqliteDatabase::CreateView(const std::string& viewName, const std::string& sql) {
  // Plans may stand on what changes here: forgotten before and after (checkSchema would see it too).
  forgetPlans();
  const PlansForgotten after{*this};
  lastFailure_.clear();
  std::string rendered;
  try {
    dialect::Statement st = dialect::parse(sql);
    if (!st.isSelect()) raise(kErrSyntax, "A view needs a SELECT statement");
    Schema schema(*this);
    dialect::SqliteRendering r = dialect::renderSqlite(st, renderOptions(schema));
    rendered = r.sql;
    Stmt check(db_.get(), r.sql);  // the view is checked before it is stored
    exec(db_.get(), "CREATE TEMP VIEW [" + viewName + "] AS " + r.sql);
    trace("CreateView " + viewName, sql, rendered, "view stored");
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    trace("CreateView " + viewName, sql, rendered, "error: " + e.description());
    return false;
  }
}

bool SqliteDatabase::DropView(const std::string& viewName) {
  // Plans may stand on what changes here: forgotten before and after (checkSchema would see it too).
  forgetPlans();
  const PlansForgotten after{*this};
  try {
    for (const char* schema : {"temp", "main"}) {
      Stmt st(db_.get(), std::string("SELECT name FROM [") + schema + "].sqlite_master WHERE type = 'view'");
      std::vector<std::string> names;
      while (st.step() == SQLITE_ROW) names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
      for (const auto& n : names)
        if (textEqual(n, viewName)) exec(db_.get(), std::string("DROP VIEW [") + schema + "].[" + n + "]");
    }
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    return false;
  }
}

bool SqliteDatabase::DropTable(const std::string& tableName) {
  // Plans may stand on what changes here: forgotten before and after (checkSchema would see it too).
  forgetPlans();
  const PlansForgotten after{*this};
  lastFailure_.clear();
  try {
    auto t = findTable(tableName);
    if (!t) raise(kErrSyntax, "Table '" + tableName + "' does not exist");
    exec(db_.get(), "DROP TABLE " + t->qualified());
    trace("DropTable", tableName, "DROP TABLE " + t->qualified(), "dropped");
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    trace("DropTable", tableName, "", "error: " + e.description());
    return false;
  }
}

bool SqliteDatabase::TableExists(const std::string& tableName) { return findTable(tableName).has_value(); }

int32_t SqliteDatabase::GetTableType(std::string& tableName) {
  auto t = findTable(tableName);
  if (!t) raise(kDbErrNoTable, "Table '" + tableName + "' does not exist");
  std::vector<std::string> names;
  for (const auto& c : columns(*t)) names.push_back(c.name);
  return common::tableKindOf(names);
}

std::vector<TableRef> SqliteDatabase::Tables() {
  std::vector<TableRef> out;
  auto list = [&](const std::string& schema, const std::string& prefix) {
    Stmt st(db_.get(), "SELECT name FROM [" + schema +
                           "].sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!' ORDER BY rowid");
    while (st.step() == SQLITE_ROW) {
      std::string n = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
      out.push_back(newTable(shared_from_this(), TableLocation{prefix + n, schema, n}));
    }
  };
  list("main", "");
  if (linked()) list(kLinkSchema, std::string(dialect::kLinkPrefix));
  return out;
}

void SqliteDatabase::runKept(Stmt& kept, const char* sql) {
  if (!kept) kept = Stmt(db_.get(), sql);
  kept.step();  // resets the statement when it raises
  kept.reset();
}

void SqliteDatabase::BeginTrans() {
  try {
    runKept(savepoint_, "SAVEPOINT ovt_trans");
  } catch (const ComError&) {
    forgetResults();
    throw;
  }
  ++transactionDepth_;
  trace("BeginTrans", "", "SAVEPOINT ovt_trans", "level " + std::to_string(transactionDepth_));
}

void SqliteDatabase::CommitTrans() {
  if (transactionDepth_ == 0) raise(kDbErrNoTransaction, "Commit without an open transaction");
  try {
    runKept(release_, "RELEASE ovt_trans");
  } catch (const ComError& e) {
    // Refused (a reader holds the file): the transaction stays open, to be committed again
    // or rolled back.
    forgetResults();
    trace("CommitTrans", "", "RELEASE ovt_trans", "error: " + e.description());
    throw;
  }
  --transactionDepth_;
  if (transactionDepth_ == 0) ++looks_;  // the transaction is over, if it wrote nothing as well
  trace("CommitTrans", "", "RELEASE ovt_trans", "level " + std::to_string(transactionDepth_));
}

void SqliteDatabase::RollbackTrans() {
  if (transactionDepth_ == 0) raise(kDbErrNoTransaction, "Rollback without an open transaction");
  forgetResults();  // they may hold rows the rollback takes back
  runKept(rollbackTo_, "ROLLBACK TO ovt_trans");
  try {
    runKept(release_, "RELEASE ovt_trans");
  } catch (const ComError&) {
    // The outermost release is a commit, which a reader can still refuse after a refused
    // commit; nothing is left to keep by then, and ROLLBACK always ends the transaction.
    if (transactionDepth_ != 1) throw;
    exec(db_.get(), "ROLLBACK");
  }
  --transactionDepth_;
  trace("RollbackTrans", "", "ROLLBACK TO ovt_trans; RELEASE ovt_trans", "level " + std::to_string(transactionDepth_));
}

}  // namespace ovt::db::sqlite

namespace ovt::db {

DatabaseRef OpenSqlite(const std::string& path, const SqliteOptions& options) {
  return std::make_shared<sqlite::SqliteDatabase>(path, options);
}

bool SqliteQuietMemoryStatistics() {
  // sqlite3_config is refused (SQLITE_MISUSE) once the engine is initialised.
  return sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
}

std::optional<size_t> SqliteCachedStatements(const DatabaseRef& db) {
  auto* conn = dynamic_cast<sqlite::SqliteDatabase*>(db.get());
  if (!conn) return std::nullopt;
  return conn->cachedStatements();
}

std::optional<size_t> SqliteKeptResults(const DatabaseRef& db) {
  auto* conn = dynamic_cast<sqlite::SqliteDatabase*>(db.get());
  if (!conn) return std::nullopt;
  return conn->keptResults();
}

std::optional<bool> SqliteKeyIndexed(const DatabaseRef& db, const std::string& table,
                                     const std::vector<std::string>& columns) {
  auto* conn = dynamic_cast<sqlite::SqliteDatabase*>(db.get());
  if (!conn) return std::nullopt;
  auto where = conn->findTable(table);
  if (!where) return std::nullopt;
  auto isKey = [&](const std::string& column) {
    for (const std::string& k : columns)
      if (textEqual(k, column)) return true;
    return false;
  };
  sqlite3* h = conn->handle();
  // The pragma functions take the schema as their last argument.
  auto bind = [&](sqlite::Stmt& st) {
    sqlite3_bind_text(st.get(), 1, where->table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st.get(), 2, where->schema.c_str(), -1, SQLITE_TRANSIENT);
  };
  // The integer primary key is the table's own order.
  {
    sqlite::Stmt info(h, "SELECT name, type, pk FROM pragma_table_info(?1, ?2)");
    bind(info);
    int pks = 0;
    bool integerKey = false;
    while (info.step() == SQLITE_ROW) {
      if (sqlite3_column_int(info.get(), 2) == 0) continue;
      ++pks;
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0));
      const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1));
      integerKey = isKey(name ? name : "") && type && textEqual(type, "INTEGER");
    }
    if (pks == 1 && integerKey) return true;
  }
  sqlite::Stmt first(h, "SELECT ii.name FROM pragma_index_list(?1, ?2) AS il, pragma_index_info(il.name, ?2) AS ii "
                        "WHERE ii.seqno = 0");
  bind(first);
  while (first.step() == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(first.get(), 0));
    if (name && isKey(name)) return true;
  }
  return false;
}

}  // namespace ovt::db
