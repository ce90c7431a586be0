// cDatabase on PostgreSQL. Every statement is parsed in the Jet dialect and rendered for
// PostgreSQL from the same parse as on SQLite (src/dialect); the session sends one statement
// per call through the extended protocol, so text after a first statement never runs. Decisions:
// - An entry's tables live in one schema of the database (the location's `schema`, "public"
//   by default); the link tables are the tables of a second schema of the same database, so a
//   statement can join both. Both schemas are created when missing.
// - Names resolve to stored tables and columns case-insensitively (the rendering asks this
//   connection); tables made through the component keep the case the statement wrote.
// - Transactions: the outermost BeginTrans starts a SERIALIZABLE transaction, so two
//   supervisors writing the same records cannot interleave a record's parent and grid writes:
//   one of them fails that record instead; inner levels are savepoints. Inside a transaction
//   every statement runs in a savepoint of its own, so that a failing statement undoes only
//   itself and the transaction goes on, as on SQLite. The commands that open and close an inner
//   level travel with the next statement (Session::defer; a level in which nothing was sent is
//   never opened), except in a failed transaction or after SQL of the host's, where each is
//   sent, and fails, in its own call.
// - Stored views (CreateView) are temporary views of the session; they shadow tables of the
//   same name, as on SQLite.
// - `select ... into T` is CREATE TABLE AS (the source columns' types), then NOT NULL for the
//   columns copied from NOT NULL columns, in one transaction or savepoint.
// - Statement cache: SELECT, INSERT, UPDATE and DELETE renderings are kept by shape with their
//   literals marked (common::StatementCache); the next statement of that shape writes its own
//   literals into the kept text, as the renderer would, and is sent without parsing, rendering
//   or the catalogue look-ups of rendering. The text sent is the one rendered afresh, so
//   results and errors are the same. Before every use one query reads a fingerprint of the
//   tables and views of the entry's schemas and the session's temporary ones (their OIDs and
//   the row versions of their catalogue and column entries): any change empties the cache.
//   Inside a transaction that holds its tables, a cached statement runs prepared on the server
//   with its literals as parameters (PgDatabase::serverForm), with the text's results and errors.
// - GetTableType: 0 when the table has columns UniqueKey and RecStatus, else 1 when it has
//   Name, Type, PageNumber and DataTable, else 2; a missing table raises kDbErrNoTable.
#include <cstdlib>

#include "dialect/antijoin.h"
#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"
#include "pgsql/connection.h"

namespace ovt::db::pgsql {
namespace {

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

bool truth(const Cell& c) { return c && (*c == "t" || *c == "true"); }

std::string relationKey(std::string_view schema, std::string_view table) {
  std::string key(schema);
  key += '\x1f';
  key += table;
  return key;
}

}  // namespace

// Stored names and types for the renderer, read from the catalogue on demand and kept for one
// statement.
class PgDatabase::Schema : public dialect::PgSchemaInfo {
 public:
  explicit Schema(PgDatabase& db) : db_(db) {}

  std::optional<dialect::TableTarget> table(std::string_view name) const override {
    const std::string key = lowered(name);
    auto it = tables_.find(key);
    if (it != tables_.end()) return it->second;
    dialect::TableTarget t = dialect::resolveTable(name, db_.linkSchema_);
    const bool link = !t.schema.empty();
    // Session views first (they shadow tables), then the entry's own schema.
    auto rows = db_.session().rows(
        "SELECT n.nspname, c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND lower(c.relname) = lower($1) AND "
        "(n.nspname = $2 OR ($3 = 'temp' AND n.oid = pg_my_temp_schema())) "
        "ORDER BY (n.oid = pg_my_temp_schema()) DESC, (c.relname = $1) DESC LIMIT 1",
        {t.table, link ? t.schema : db_.schema_, std::string(link ? "link" : "temp")});
    std::optional<dialect::TableTarget> found;
    if (!rows.empty()) found = dialect::TableTarget{*rows[0][0], *rows[0][1]};
    tables_.emplace(key, found);
    note(found, t.table);
    return found;
  }

  // A relation the rendering stands on, found under the name `asked`: kept in relations(); a
  // name that found none, or found one spelt otherwise, makes the rendering not lockable().
  void note(const std::optional<dialect::TableTarget>& found, std::string_view asked) const {
    if (!found || found->table != asked) exactOnly_ = false;
    if (found) relations_.push_back(relationKey(found->schema, found->table));
  }
  // The relations every name of the rendering resolved to.
  const std::vector<std::string>& relations() const { return relations_; }
  // True when every name resolved to a relation of exactly that spelling: no relation another
  // session makes can then take a name's place while this one exists.
  bool lockable() const { return exactOnly_ && !relations_.empty(); }

  std::optional<std::string> column(const dialect::TableTarget& t, std::string_view column) const override {
    for (const ColumnInfo& c : columns(t))
      if (textEqual(c.name, column)) return c.name;
    return std::nullopt;
  }

  std::optional<std::string> columnType(const dialect::TableTarget& t, std::string_view column) const override {
    for (const ColumnInfo& c : columns(t))
      if (textEqual(c.name, column)) return c.type;
    return std::nullopt;
  }

 private:
  const std::vector<ColumnInfo>& columns(const dialect::TableTarget& t) const {
    const std::string key = t.schema + "\x1f" + t.table;
    auto it = columns_.find(key);
    if (it == columns_.end()) it = columns_.emplace(key, db_.columns(t.schema, t.table)).first;
    return it->second;
  }

  PgDatabase& db_;
  mutable std::map<std::string, std::optional<dialect::TableTarget>> tables_;
  mutable std::map<std::string, std::vector<ColumnInfo>> columns_;
  mutable std::vector<std::string> relations_;
  mutable bool exactOnly_ = true;
};

PgDatabase::PgDatabase(const std::string& location, const PostgresOptions& options)
    : location_(location), binary_(options.binaryCompare),
      literal_(options.literalStatements) {
  const pgsql::Location loc = parseLocation(location);
  schema_ = loc.schema;
  if (!options.link.empty()) {
    const pgsql::Location link = IsPostgresLocation(options.link) ? parseLocation(options.link) : pgsql::Location{};
    if (!IsPostgresLocation(options.link) || link.conninfo != loc.conninfo)
      raiseError(kErrFailure, kSource,
                 "The link tables must be another schema of the same PostgreSQL database: " + options.link);
    if (link.schema == schema_)
      raiseError(kErrFailure, kSource, "The link tables must be another schema than the entry's own: " + link.schema);
    linkSchema_ = link.schema;
  }
  session_ = std::make_unique<Session>(loc.conninfo);
  for (const std::string& statement : dialect::postgresSessionSetup()) session_->execute(statement);
  for (const std::string& s : {schema_, linkSchema_}) {
    if (s.empty()) continue;
    try {
      session_->execute("CREATE SCHEMA IF NOT EXISTS " + quoted(s));
    } catch (const ComError&) {
      // Another session may have created it at the same moment; only a schema that is still
      // missing is an error.
      if (session_->rows("SELECT 1 FROM pg_namespace WHERE nspname = $1", {s}).empty()) throw;
    }
  }
  session_->execute("SET search_path TO " + quoted(schema_));
  // The missing-record statements are "key not in (select ...)": the server runs them as one
  // hashed lookup only when the keys' hash table fits in work_mem, else it rescans the
  // subquery for every record. A million keys need some tens of MiB.
  session_->execute("SET work_mem = '256MB'");
  // No JIT compilation: the statements the members send are wide expressions over many
  // columns, whose compilation (per parallel worker) costs more than it saves. Measured on
  // PostgreSQL 15 (1,000,000 records, 30 compared fields, server time): the conflict statement
  // 7.5 s with JIT, 3.9 to 5.3 s without.
  session_->execute("SET jit = off");
  // Statements prepared on the server are planned for each execution's values, as their text
  // would be (see serverForm).
  session_->execute("SET plan_cache_mode = force_custom_plan");
  // The commands sent around nearly every statement inside a transaction, and around a
  // record's statements (the first nested level), are parsed once.
  for (const char* command : {"SAVEPOINT ovt_statement", "RELEASE SAVEPOINT ovt_statement", "SAVEPOINT ovt_trans_1",
                              "RELEASE SAVEPOINT ovt_trans_1"})
    session_->keepPrepared(command);
  trace_ = std::make_unique<common::StatementTrace>(options.traceFile, options.traceListener);
  caching_ = options.statementCache > 0;
  cache_ = common::StatementCache<Plan>(options.statementCache);
}

// The fingerprint of the tables and views the renderings may stand on: those of the entry's
// schemas and the session's temporary ones, by OID, with the row versions of their catalogue
// and column entries. Any table or view made, dropped or altered changes it.
constexpr const char* kCatalogueMark = "ovt_catalogue_mark";
constexpr const char* kCatalogueMarkQuery =
    "SELECT md5(coalesce(string_agg(c.oid::text || ':' || c.xmin::text || ':' || coalesce(("
    "SELECT string_agg(a.attnum::text || '.' || a.xmin::text, ',' ORDER BY a.attnum) FROM pg_attribute a "
    "WHERE a.attrelid = c.oid AND a.attnum > 0), ''), ';' ORDER BY c.oid), '')) FROM pg_class c "
    "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND (c.relnamespace = pg_my_temp_schema() OR "
    "c.relnamespace IN (SELECT oid FROM pg_namespace WHERE nspname IN ($1, $2)))";

bool PgDatabase::checkSchema(bool openSavepoint) {
  const bool savepoint = openSavepoint && transactionDepth_ > 0 && !savepointOpen_;
  try {
    // Prepared once per session: the server then neither parses nor plans it at each check.
    if (!markPrepared_) {
      session_->prepare(kCatalogueMark, kCatalogueMarkQuery);
      markPrepared_ = true;
    }
    bool opened = false;
    std::vector<std::vector<Cell>> rows;
    try {
      rows = session_->rowsOf(kCatalogueMark, {schema_, linkSchema_}, savepoint ? "SAVEPOINT ovt_statement" : "", &opened);
    } catch (const ComError&) {
      savepointOpen_ = savepointOpen_ || opened;
      throw;
    }
    savepointOpen_ = savepointOpen_ || opened;
    std::optional<std::string> now = rows.empty() ? std::nullopt : rows[0][0];
    if (!now || now != catalogueMark_) forgetStatements();
    catalogueMark_ = now;
    if (now) ++checks_;
    return now.has_value();
  } catch (const DeferredFailed&) {
    cache_.clear();
    catalogueMark_.reset();
    throw;  // the failure of a command of the caller's, not of the check
  } catch (const ComError&) {
    cache_.clear();
    catalogueMark_.reset();
    return false;
  }
}

// Inside a transaction, every relation a rendering stands on that this transaction has locked
// (any statement on it takes a lock held to the end, unless its savepoint is rolled back) cannot
// be altered or dropped by another session: that needs a lock conflicting with every other. So
// a plan whose relations were all locked before the last catalogue check that found it valid
// (or let it be rendered) is still valid, and runs without a check of its own; the session's own
// changes to tables and views empty the cache directly.
bool PgDatabase::heldSinceCheck(const Plan& plan) const {
  if (transactionDepth_ == 0 || !plan.lockable) return false;
  for (const std::string& relation : plan.relations) {
    bool held = false;
    for (const auto& level : locks_) {
      auto it = level.find(relation);
      if (it != level.end() && it->second < checks_) {
        held = true;
        break;
      }
    }
    if (!held) return false;
  }
  return true;
}

void PgDatabase::noteLocks(const std::vector<std::string>& relations) {
  if (transactionDepth_ == 0 || locks_.empty()) return;
  for (const std::string& relation : relations) locks_.back().emplace(relation, checks_);
}

void PgDatabase::closeOpenSavepoint() {
  if (!savepointOpen_) return;
  savepointOpen_ = false;
  try {
    session_->execute("ROLLBACK TO SAVEPOINT ovt_statement");
    session_->execute("RELEASE SAVEPOINT ovt_statement");
  } catch (const ComError&) {
    // The failure that left it open is the one to report.
  }
}

PgDatabase::Plan* PgDatabase::cached(std::string_view operation, const dialect::Shape& shape, std::string& text) {
  // Without a plan of this shape there is nothing to check: the statement is rendered afresh,
  // and the next check compares with the older reading, which can only empty the cache more.
  // A plan is kept only after a reading of the fingerprint that came before its rendering.
  if (!caching_) return nullptr;
  if (!cache_.find(operation, shape)) {
    if (!catalogueMark_) checkSchema();
    return nullptr;
  }
  if (!heldSinceCheck(*cache_.find(operation, shape)) && !checkSchema(true)) return nullptr;
  Plan* plan = cache_.find(operation, shape);
  if (!plan) return nullptr;
  std::optional<std::string> spliced = dialect::spliceLiterals(plan->marked, shape.literals);
  if (!spliced) return nullptr;
  text = std::move(*spliced);
  return plan;
}

// Inside a transaction, a cached statement whose relations the transaction holds runs as a
// statement prepared on the server, its lifted literals bound as parameters of the types they
// have as literals (dialect::literalParameters), so that the server neither parses nor analyses
// it again. Its meaning is the text's:
// - A parameter of a literal's type is the same expression as the literal wherever the renderer
//   lifts one (never an ORDER BY or GROUP BY item or under a sign). An untyped parameter takes
//   the type its first use asks for, as a quoted literal is read as that type there. The server
//   fixes those types when it prepares the statement, so the statement is prepared while the
//   transaction holds every relation it stands on and used only while it still does (no lock
//   let go since, lockEpoch_): nothing it stands on can have changed since, so its types are
//   what the text's literals would be read as now.
// - Every execution is planned for its values (plan_cache_mode = force_custom_plan, set at
//   connection), which the planner folds as it folds literals: the plan, and any failure while
//   planning (a text too long for its column, a number out of range, also where no row is
//   touched), is the text's.
// - What is left differs only in failures before anything runs: a value its parameter's type
//   does not read fails at binding, and a statement the server analyses again may fail there;
//   both raise PreparedNotRun, and runCached() runs the text instead, whose failure names the
//   place in the statement as before. A statement the server cannot prepare this way (a
//   parameter whose type no use decides) is refused and runs as text.
// The prepared statements are named per plan, types and epoch, and all dropped (DEALLOCATE ALL)
// when more than twice the cache's capacity have been prepared since the last time.
std::optional<Prepared> PgDatabase::serverForm(Plan& plan, const dialect::Shape& shape) {
  if (transactionDepth_ == 0 || !heldSinceCheck(plan)) return std::nullopt;
  std::optional<std::vector<dialect::PgParameter>> parameters = dialect::literalParameters(plan.marked, shape.literals);
  if (!parameters) return std::nullopt;
  std::string types;
  for (const dialect::PgParameter& p : *parameters) types += std::to_string(p.type) + ",";
  auto it = plan.prepared.find(types);
  if (it == plan.prepared.end() || it->second.generation != preparedGeneration_ || it->second.epoch != lockEpoch_) {
    try {
      if (serverStatements_ >= 2 * cache_.capacity()) {
        session_->dropPrepared();
        ++preparedGeneration_;
        serverStatements_ = 0;
        markPrepared_ = false;
      }
      std::vector<uint32_t> declared;
      for (const dialect::PgParameter& p : *parameters) declared.push_back(p.type);
      std::string name = "ovt_plan_" + std::to_string(++planNumber_);
      // A statement the server refuses to prepare would abort the transaction: it is prepared
      // in a savepoint of its own.
      bool opened = false;
      try {
        session_->prepare(name, dialect::numberedParameters(plan.marked), declared, "SAVEPOINT ovt_prepare",
                          "RELEASE SAVEPOINT ovt_prepare", &opened);
        ++serverStatements_;
      } catch (const DeferredFailed&) {
        throw;
      } catch (const ComError&) {
        if (!opened) return std::nullopt;  // the statement's own run reports what is wrong
        name.clear();
        session_->execute("ROLLBACK TO SAVEPOINT ovt_prepare");
        session_->execute("RELEASE SAVEPOINT ovt_prepare");
      }
      it = plan.prepared.insert_or_assign(types, ServerStatement{name, preparedGeneration_, lockEpoch_}).first;
    } catch (const DeferredFailed&) {
      throw;  // the failure of a command of the caller's
    } catch (const ComError&) {
      return std::nullopt;  // the statement's own run reports what is wrong with the session
    }
  }
  if (it->second.name.empty()) return std::nullopt;
  Prepared prepared{it->second.name, {}};
  prepared.params.reserve(parameters->size());
  for (dialect::PgParameter& p : *parameters) prepared.params.push_back(std::move(p.value));
  return prepared;
}

void PgDatabase::keep(std::string_view operation, const dialect::Shape& shape, const dialect::Statement& st,
                      dialect::PgRenderOptions o, const dialect::PgRendering& plain, const Schema& schema) {
  if (!caching_) return;
  o.liftLiterals = true;
  dialect::PgRendering lifted = dialect::renderPostgres(st, o);
  size_t marks = 0;
  for (char c : lifted.sql) marks += c == dialect::kLiteralMark ? 1 : 0;
  if (marks != lifted.marks || dialect::spliceLiterals(lifted.sql, shape.literals) != plain.sql) return;
  cache_.store(operation, shape, lifted.parameters,
               Plan{std::move(lifted.sql), lifted.rowIdAdded, lifted.baseTable, schema.relations(), schema.lockable(), {}});
}

std::string PgDatabase::Describe() const {
  return "PostgreSQL database " + location_ + (linkSchema_.empty() ? "" : " linked to schema " + linkSchema_);
}

void PgDatabase::trace(const std::string& operation, const std::string& received, const std::string& run,
                       const std::string& outcome) {
  trace_->write(operation, received, run, outcome);
}

dialect::PgRenderOptions PgDatabase::renderOptions(const Schema& schema) const {
  dialect::PgRenderOptions o;
  o.caseInsensitive = !binary_;
  o.mainSchema = schema_;
  o.linkSchema = linkSchema_;
  o.schema = &schema;
  return o;
}

// Key columns compare alike by their stored types; the server plans the per-record look-ups
// of NOT EXISTS as a hashed anti-join, so they are always cheap here.
void PgDatabase::rewriteMissingKeys(dialect::Statement& st, const Schema& schema) const {
  if (literal_) return;
  auto classOf = [&](std::string_view table, std::string_view column) {
    auto t = schema.table(table);
    return dialect::postgresKeyClass(t ? schema.columnType(*t, column) : std::nullopt);
  };
  auto form = [](std::string_view, std::string_view) { return dialect::AntiJoinForm::NotExists; };
  dialect::rewriteMissingKeys(st, dialect::KeyFactsOf(classOf, form));
}

std::optional<TableLocation> PgDatabase::findTable(const std::string& name) {
  // Inside the transaction the catalogue reads as its snapshot has it, changed only by this
  // session's own statements (which forget what was found): an answer found in it stays.
  if (transactionDepth_ > 0)
    if (auto known = tablesFound_.find(name); known != tablesFound_.end()) return known->second;
  std::optional<TableLocation> found = lookUpTable(name);
  if (transactionDepth_ > 0) tablesFound_.emplace(name, found);
  return found;
}

std::optional<TableLocation> PgDatabase::lookUpTable(const std::string& name) {
  dialect::TableTarget t = dialect::resolveTable(name, linkSchema_);
  const std::string schema = t.schema.empty() ? schema_ : t.schema;
  auto rows = session_->rows(
      "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
      "WHERE c.relkind IN ('r', 'p') AND n.nspname = $1 AND lower(c.relname) = lower($2) "
      "ORDER BY (c.relname = $2) DESC LIMIT 1",
      {schema, t.table});
  if (rows.empty()) return std::nullopt;
  return TableLocation{name, schema, *rows[0][0]};
}

std::vector<ColumnInfo> PgDatabase::columns(const std::string& schema, const std::string& table) {
  // Kept for the rest of the transaction as findTable's answers are (see there).
  const std::string key = relationKey(schema, table);
  if (transactionDepth_ > 0)
    if (auto known = columnsFound_.find(key); known != columnsFound_.end()) return known->second;
  std::vector<ColumnInfo> out;
  auto rows = session_->rows(
      "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attnotnull, "
      "a.attidentity <> '' OR coalesce(pg_get_expr(d.adbin, d.adrelid), '') LIKE 'nextval(%' "
      "FROM pg_attribute a JOIN pg_class c ON c.oid = a.attrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
      "LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
      "WHERE n.nspname = $1 AND c.relname = $2 AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum",
      {schema, table});
  for (const auto& r : rows) out.push_back(ColumnInfo{*r[0], *r[1], truth(r[2]), truth(r[3])});
  if (transactionDepth_ > 0) columnsFound_.emplace(key, out);
  return out;
}

std::optional<ColumnInfo> PgDatabase::columnAt(uint32_t tableOid, int column) {
  const auto key = std::make_pair(tableOid, column);
  auto it = columnCache_.find(key);
  if (it != columnCache_.end()) return it->second;
  auto rows = session_->rows(
      "SELECT attname, format_type(atttypid, atttypmod), attnotnull FROM pg_attribute "
      "WHERE attrelid = $1 AND attnum = $2 AND NOT attisdropped",
      {std::to_string(tableOid), std::to_string(column)});
  std::optional<ColumnInfo> found;
  if (!rows.empty()) found = ColumnInfo{*rows[0][0], *rows[0][1], truth(rows[0][2]), false};
  return columnCache_.emplace(key, found).first->second;
}

RecordsetRef PgDatabase::OpenRecordset(const std::string& sql, int32_t option, const std::string&) {
  // The four options of the interface all give the same kind of recordset: fully read, with
  // an exact count, updatable when the statement reads a single table.
  if (option < 0 || option > 3) raiseError(kErrFailure, kSource, "Invalid recordset option " + std::to_string(option));
  std::string rendered;
  try {
    const dialect::Shape shape = dialect::shapeOf(sql);
    SavepointGuard close{*this};
    if (Plan* plan = cached("R", shape, rendered)) {
      const bool rowId = plan->rowIdAdded;
      const std::string base = plan->baseTable;
      std::string outcome;
      RecordsetRef rs;
      const std::vector<std::string> relations = plan->relations;
      const std::optional<Prepared> prepared = serverForm(*plan, shape);
      statementUnit([&](const std::string& before, const std::string& then) {
        runCached(prepared, before, then, [&](const std::string& b, const std::string& t, const Prepared* p) {
          rs = makeRecordset(shared_from_this(), rendered, rowId, base, outcome, t, b, p);
        });
      });
      noteLocks(relations);
      trace("OpenRecordset", sql, rendered, outcome);
      return rs;
    }
    dialect::Statement st = dialect::parse(sql);
    if (!st.isSelect()) raiseError(kErrSyntax, kSource, "OpenRecordset needs a SELECT statement: " + sql);
    Schema schema(*this);
    rewriteMissingKeys(st, schema);
    dialect::PgRenderOptions o = renderOptions(schema);
    const auto& select = std::get<dialect::Select>(st.body);
    if (select.from.size() == 1 && select.from[0]->kind == dialect::Source::Kind::Table) {
      // Whether the rows can be written back depends on this look-up too.
      const std::string& name = select.from[0]->table.text;
      std::optional<TableLocation> base = findTable(name);
      schema.note(base ? std::optional<dialect::TableTarget>(dialect::TableTarget{base->schema, base->table}) : std::nullopt,
                  dialect::resolveTable(name, linkSchema_).table);
      if (base) o.addRowId = true;
    }
    dialect::PgRendering r = dialect::renderPostgres(st, o);
    keep("R", shape, st, o, r, schema);
    rendered = r.sql;
    std::string outcome;
    RecordsetRef rs;
    unit(false, [&] { rs = makeRecordset(shared_from_this(), r.sql, r.rowIdAdded, r.baseTable, outcome); });
    if (schema.lockable()) noteLocks(schema.relations());
    trace("OpenRecordset", sql, rendered, outcome);
    return rs;
  } catch (const ComError& e) {
    trace("OpenRecordset", sql, rendered, "error: " + e.description());
    throw;
  }
}

bool PgDatabase::Execute(const std::string& sql) {
  lastFailure_.clear();
  std::string rendered, outcome;
  try {
    const dialect::Shape shape = dialect::shapeOf(sql);
    SavepointGuard close{*this};
    if (Plan* plan = cached("X", shape, rendered)) {
      const std::vector<std::string> relations = plan->relations;
      const std::optional<Prepared> prepared = serverForm(*plan, shape);
      statementUnit([&](const std::string& before, const std::string& then) {
        runCached(prepared, before, then, [&](const std::string& b, const std::string& t, const Prepared* p) {
          outcome = std::to_string(session_->execute(rendered, {}, t, b, p)) + " rows changed";
        });
      });
      noteLocks(relations);
      trace("Execute", sql, rendered, outcome);
      return true;
    }
    dialect::Statement st = dialect::parse(sql);
    if (st.isSelect()) raiseError(kErrSyntax, kSource, "Execute cannot run a SELECT statement; use OpenRecordset");
    Schema schema(*this);
    const dialect::PgRenderOptions o = renderOptions(schema);
    dialect::PgRendering r = dialect::renderPostgres(st, o);
    if (std::holds_alternative<dialect::Insert>(st.body) || std::holds_alternative<dialect::Update>(st.body) ||
        std::holds_alternative<dialect::Delete>(st.body))
      keep("X", shape, st, o, r, schema);
    else
      forgetStatements();  // a table, an index or their absence is what renderings stand on
    if (st.isSelectInto()) {
      rendered = "CREATE TABLE " + r.intoTable + " AS " + r.sql;
      unit(true, [&] {
        std::vector<Column> source = session_->describe(r.sql);
        const int64_t n = session_->execute(rendered);
        for (const Column& c : source) {
          if (!c.tableOid) continue;
          std::optional<ColumnInfo> from = columnAt(c.tableOid, c.tableColumn);
          if (from && from->notNull)
            session_->execute("ALTER TABLE " + r.intoTable + " ALTER COLUMN " + quoted(c.name) + " SET NOT NULL");
        }
        outcome = std::to_string(n) + " rows copied";
      });
    } else {
      rendered = r.sql;
      unit(false, [&] { outcome = std::to_string(session_->execute(r.sql)) + " rows changed"; });
      if (schema.lockable()) noteLocks(schema.relations());
    }
    trace("Execute", sql, rendered, outcome);
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    trace("Execute", sql, rendered, "error: " + e.description());
    return false;
  }
}

bool PgDatabase::CreateView(const std::string& viewName, const std::string& sql) {
  forgetStatements();  // renderings may stand on what changes here (checkSchema would see it too)
  lastFailure_.clear();
  std::string rendered;
  try {
    dialect::Statement st = dialect::parse(sql);
    if (!st.isSelect()) raiseError(kErrSyntax, kSource, "A view needs a SELECT statement");
    Schema schema(*this);
    dialect::PgRendering r = dialect::renderPostgres(st, renderOptions(schema));
    rendered = r.sql;
    unit(false, [&] { session_->execute("CREATE TEMP VIEW " + quoted(viewName) + " AS " + r.sql); });
    trace("CreateView " + viewName, sql, rendered, "view stored");
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    trace("CreateView " + viewName, sql, rendered, "error: " + e.description());
    return false;
  }
}

bool PgDatabase::DropView(const std::string& viewName) {
  forgetStatements();  // renderings may stand on what changes here (checkSchema would see it too)
  try {
    auto views = session_->rows(
        "SELECT n.nspname, c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind = 'v' AND lower(c.relname) = lower($1) AND (n.nspname = $2 OR n.oid = pg_my_temp_schema())",
        {viewName, schema_});
    for (const auto& v : views)
      unit(false, [&] { session_->execute("DROP VIEW " + quoted(*v[0]) + "." + quoted(*v[1])); });
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    return false;
  }
}

bool PgDatabase::DropTable(const std::string& tableName) {
  forgetStatements();  // renderings may stand on what changes here (checkSchema would see it too)
  lastFailure_.clear();
  try {
    auto t = findTable(tableName);
    if (!t) raiseError(kErrSyntax, kSource, "Table '" + tableName + "' does not exist");
    unit(false, [&] { session_->execute("DROP TABLE " + t->qualified()); });
    forgetStatements();  // the look-up above found the table
    trace("DropTable", tableName, "DROP TABLE " + t->qualified(), "dropped");
    return true;
  } catch (const ComError& e) {
    lastFailure_ = e.description();
    trace("DropTable", tableName, "", "error: " + e.description());
    return false;
  }
}

bool PgDatabase::TableExists(const std::string& tableName) { return findTable(tableName).has_value(); }

int32_t PgDatabase::GetTableType(std::string& tableName) {
  auto t = findTable(tableName);
  if (!t) raiseError(kDbErrNoTable, kSource, "Table '" + tableName + "' does not exist");
  std::vector<std::string> names;
  for (const auto& c : columns(t->schema, t->table)) names.push_back(c.name);
  return common::tableKindOf(names);
}

std::vector<TableRef> PgDatabase::Tables() {
  std::vector<TableRef> out;
  auto list = [&](const std::string& schema, const std::string& prefix) {
    auto rows = session_->rows(
        "SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p') AND n.nspname = $1 ORDER BY c.oid",
        {schema});
    for (const auto& r : rows) out.push_back(newTable(shared_from_this(), TableLocation{prefix + *r[0], schema, *r[0]}));
  };
  list(schema_, "");
  if (!linkSchema_.empty()) list(linkSchema_, std::string(dialect::kLinkPrefix));
  return out;
}

void PgDatabase::BeginTrans() {
  const std::string sql = transactionDepth_ == 0 ? std::string("BEGIN ISOLATION LEVEL SERIALIZABLE")
                                                 : "SAVEPOINT ovt_trans_" + std::to_string(transactionDepth_);
  if (transactionDepth_ == 0) {
    forgetLookUps();  // what another transaction found
    foreignStatements_ = false;  // also after a commit that failed
  }
  // A savepoint travels with the next exchange (see deferCommands).
  if (deferCommands()) session_->defer(sql);
  else session_->execute(sql);
  ++transactionDepth_;
  locks_.resize(static_cast<size_t>(transactionDepth_));
  trace("BeginTrans", "", sql, "level " + std::to_string(transactionDepth_));
}

void PgDatabase::CommitTrans() {
  if (transactionDepth_ == 0) raiseError(kDbErrNoTransaction, kSource, "Commit without an open transaction");
  --transactionDepth_;
  const std::string sql =
      transactionDepth_ == 0 ? std::string("COMMIT") : "RELEASE SAVEPOINT ovt_trans_" + std::to_string(transactionDepth_);
  try {
    if (transactionDepth_ == 0) {
      session_->execute(sql);
    } else if (deferCommands()) {
      // A level in which nothing was sent is not opened on the server at all.
      if (!session_->undefer("SAVEPOINT ovt_trans_" + std::to_string(transactionDepth_))) session_->defer(sql);
    } else {
      session_->execute(sql);
    }
  } catch (const ComError& e) {
    locks_.clear();  // whatever is still held, none is counted on
    ++lockEpoch_;
    trace("CommitTrans", "", sql, "error: " + e.description());
    throw;
  }
  // The level's locks are the enclosing level's now (all of them go at the end of the transaction).
  if (transactionDepth_ == 0) {
    locks_.clear();
    ++lockEpoch_;
    foreignStatements_ = false;
  } else if (locks_.size() > static_cast<size_t>(transactionDepth_)) {
    for (const auto& [relation, check] : locks_.back()) locks_[static_cast<size_t>(transactionDepth_) - 1].emplace(relation, check);
    locks_.pop_back();
  }
  trace("CommitTrans", "", sql, "level " + std::to_string(transactionDepth_));
}

void PgDatabase::RollbackTrans() {
  if (transactionDepth_ == 0) raiseError(kDbErrNoTransaction, kSource, "Rollback without an open transaction");
  --transactionDepth_;
  // Locks taken since the savepoint (or in the transaction) are given back with it, and what
  // was found since may have been undone.
  locks_.resize(static_cast<size_t>(transactionDepth_));
  ++lockEpoch_;
  forgetLookUps();
  if (transactionDepth_ == 0) {
    foreignStatements_ = false;
    session_->dropDeferred();  // whatever they would do is undone here
    session_->execute("ROLLBACK");
    trace("RollbackTrans", "", "ROLLBACK", "level 0");
    return;
  }
  const std::string name = "ovt_trans_" + std::to_string(transactionDepth_);
  // A level never opened on the server has nothing to undo; else the release goes with the
  // rollback, and runs only when the rollback succeeded.
  if (!session_->undefer("SAVEPOINT " + name)) session_->execute("ROLLBACK TO SAVEPOINT " + name, {}, "RELEASE SAVEPOINT " + name);
  trace("RollbackTrans", "", "ROLLBACK TO SAVEPOINT " + name + "; RELEASE SAVEPOINT " + name,
        "level " + std::to_string(transactionDepth_));
}

}  // namespace ovt::db::pgsql

namespace ovt::db {

DatabaseRef OpenPostgres(const std::string& location, const PostgresOptions& options) {
  return std::make_shared<pgsql::PgDatabase>(location, options);
}

std::optional<bool> PostgresKeyIndexed(const DatabaseRef& db, const std::string& table,
                                       const std::vector<std::string>& columns) {
  auto* conn = dynamic_cast<pgsql::PgDatabase*>(db.get());
  if (!conn) return std::nullopt;
  auto where = conn->findTable(table);
  if (!where) return std::nullopt;
  for (const std::string& column : columns) {
    auto rows = conn->session().rows(
        "SELECT 1 FROM pg_index i JOIN pg_class c ON c.oid = i.indrelid JOIN pg_namespace n ON n.oid = c.relnamespace "
        "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = i.indkey[0] "
        "WHERE n.nspname = $1 AND c.relname = $2 AND lower(a.attname) = lower($3) LIMIT 1",
        {where->schema, where->table, column});
    if (!rows.empty()) return true;
  }
  return false;
}

std::optional<size_t> PostgresCachedStatements(const DatabaseRef& db) {
  auto* conn = dynamic_cast<pgsql::PgDatabase*>(db.get());
  if (!conn) return std::nullopt;
  return conn->cachedStatements();
}

std::optional<uint64_t> PostgresRoundTrips(const DatabaseRef& db) {
  auto* conn = dynamic_cast<pgsql::PgDatabase*>(db.get());
  if (!conn) return std::nullopt;
  return conn->session().roundTrips();
}

void RunPostgresStatement(const DatabaseRef& db, const std::string& sql) {
  auto* conn = dynamic_cast<pgsql::PgDatabase*>(db.get());
  if (!conn) raiseError(pgsql::kErrFailure, pgsql::kSource, "RunPostgresStatement needs a connection made by OpenPostgres");
  conn->forgetStatements();  // the statement may change what the cached renderings stand on
  conn->noteForeignStatement();
  conn->unit(false, [&] { conn->session().execute(sql); });
}

}  // namespace ovt::db
