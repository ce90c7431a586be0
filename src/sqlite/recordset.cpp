// cRecordset on SQLite: the whole result is read when the recordset opens, into compact
// byte blocks (each row contiguous: per cell a tag byte and the shortest raw form of the
// value), so RecordCount is exact, memory stays near the size of the data, and values are
// turned into variants only when read. Values read by the declared type of their column:
// DATETIME text -> Date, YESNO -> Boolean, SHORT -> Integer, LONG -> Long, BYTE -> Byte,
// CURRENCY -> Currency, floating types -> Double; columns without a declared type by the
// stored value (integers as Long, or Double beyond 32 bits).
// A recordset over one table (see OpenRecordset) carries the rowid of each record, and
// Update writes the changed fields back to that row of the table.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "ovtbldiff/runtime/text.h"
#include "sqlite/connection.h"

namespace ovt::db::sqlite {
namespace {

enum Tag : uint8_t { kNull = 0, kInt = 1, kReal = 2, kText = 3, kBlob = 4, kInt8 = 5, kInt32 = 6, kShortText = 7 };

// Rows are appended to blocks of this size (a longer row gets a block of its own).
constexpr size_t kBlockSize = size_t{1} << 20;

std::string foldName(std::string_view s) {
  bool ascii = true;
  for (unsigned char c : s) ascii &= c < 0x80;
  if (!ascii) return foldCase(s);
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

struct Column {
  std::string name;
  int32_t code = adVarWChar;
  bool declared = false;
  std::string origin;  // column of the base table it comes from ("" when none)
};

// One stored cell, decoded.
struct Cell {
  Tag tag = kNull;
  int64_t i = 0;
  double d = 0;
  std::string_view bytes;
};

Variant byStorage(const Cell& c) {
  switch (c.tag) {
    case kNull: return Variant(Null{});
    case kInt:
      if (c.i >= INT32_MIN && c.i <= INT32_MAX) return Variant(static_cast<int32_t>(c.i));
      return Variant(static_cast<double>(c.i));
    case kReal: return Variant(c.d);
    default: return Variant(std::string(c.bytes));
  }
}

Variant toVariant(const Cell& c, const Column& col) {
  if (c.tag == kNull) return Variant(Null{});
  if (!col.declared) return byStorage(c);
  const double num = c.tag == kInt ? static_cast<double>(c.i) : c.d;
  const bool isNum = c.tag == kInt || c.tag == kReal;
  switch (col.code) {
    case adDate: {
      if (isNum) return Variant(Date{num});
      Date d;
      if (parseDate(std::string(c.bytes), d)) return Variant(d);
      return byStorage(c);
    }
    case adBoolean:
      if (isNum) return Variant(num != 0);
      return byStorage(c);
    case adSmallInt:
      if (c.tag == kInt && c.i >= INT16_MIN && c.i <= INT16_MAX) return Variant(static_cast<int16_t>(c.i));
      return byStorage(c);
    case adUnsignedTinyInt:
      if (c.tag == kInt && c.i >= 0 && c.i <= 255) return Variant(static_cast<uint8_t>(c.i));
      return byStorage(c);
    case adCurrency:
      if (isNum) return Variant(Currency{static_cast<int64_t>(std::llround(num * 10000.0))});
      return byStorage(c);
    case adSingle: case adDouble:
      if (isNum) return Variant(num);
      return byStorage(c);
    default:
      return byStorage(c);
  }
}

class Fields : public cRecordsetFields {
 public:
  explicit Fields(std::vector<std::pair<std::string, int32_t>> f) : f_(std::move(f)) {}
  int32_t Count() const override { return static_cast<int32_t>(f_.size()); }
  std::string Name(int32_t p) const override { return at(p).first; }
  int32_t Type(int32_t p) const override { return at(p).second; }

 private:
  const std::pair<std::string, int32_t>& at(int32_t p) const {
    if (p < 0 || p >= Count()) raiseRuntime(RuntimeError::SubscriptOutOfRange);
    return f_[static_cast<size_t>(p)];
  }
  std::vector<std::pair<std::string, int32_t>> f_;
};

class SqliteRecordset : public cRecordset {
 public:
  SqliteRecordset(std::shared_ptr<SqliteDatabase> db, Stmt& stmt, bool hasRowId, std::string baseTable)
      : db_(std::move(db)), hasRowId_(hasRowId), baseTable_(std::move(baseTable)) {
    sqlite3_stmt* s = stmt.get();
    const int n = sqlite3_column_count(s);
    first_ = hasRowId_ ? 1 : 0;
    for (int i = first_; i < n; ++i) {
      Column c;
      c.name = sqlite3_column_name(s, i);
      const char* decl = sqlite3_column_decltype(s, i);
      if (decl) {
        c.declared = true;
        c.code = typeCodeOf(decl);
      }
      const char* origin = sqlite3_column_origin_name(s, i);
      if (hasRowId_ && origin) c.origin = origin;
      columns_.push_back(std::move(c));
    }
    for (size_t i = 0; i < columns_.size(); ++i) byName_.emplace(foldName(columns_[i].name), i);
    std::vector<bool> typed(columns_.size(), false);
    while (stmt.step() == SQLITE_ROW) {
      if (hasRowId_) rowIds_.push_back(sqlite3_column_int64(s, 0));
      row_.clear();
      for (int i = first_; i < n; ++i) {
        store(s, i);
        // Columns without a declared type take the type of their first non-Null value.
        const size_t k = static_cast<size_t>(i - first_);
        if (!columns_[k].declared && !typed[k]) {
          switch (sqlite3_column_type(s, i)) {
            case SQLITE_INTEGER: columns_[k].code = adInteger, typed[k] = true; break;
            case SQLITE_FLOAT: columns_[k].code = adDouble, typed[k] = true; break;
            case SQLITE_TEXT: columns_[k].code = adVarWChar, typed[k] = true; break;
            case SQLITE_BLOB: columns_[k].code = adLongVarBinary, typed[k] = true; break;
            default: break;
          }
        }
      }
      keepRow();
    }
    count_ = rowStart_.size();
  }

  size_t count() const { return count_; }

  VariantArray GetRows() override {
    VariantArray a;
    a.redim(0, static_cast<int32_t>(columns_.size()) - 1, 0, static_cast<int32_t>(count_) - 1);
    for (size_t r = 0; r < count_; ++r)
      for (size_t c = 0; c < columns_.size(); ++c)
        a.at(static_cast<int32_t>(c), static_cast<int32_t>(r)) = value(r, c);
    return a;
  }

  void SetFieldValue(const std::string& field, const Variant& v) override {
    const size_t c = column(field);
    current();
    if (!hasRowId_)
      raise(kDbErrReadOnly, "Cannot update: the recordset does not hold the rows of a single table");
    if (columns_[c].origin.empty())
      raise(kDbErrReadOnly, "Cannot update: the field '" + field + "' is not a column of the table");
    if (v.isObject() || v.isArray()) raiseRuntime(RuntimeError::TypeMismatch);
    for (auto& p : pending_)
      if (p.first == c) {
        p.second = v;
        return;
      }
    pending_.emplace_back(c, v);
  }

  Variant FieldValue(const std::string& field) override {
    const size_t c = column(field);
    current();
    for (const auto& p : pending_)
      if (p.first == c) return p.second;
    return value(pos_, c);
  }

  bool IsBOF() const override { return count_ == 0; }
  bool IsEOF() const override { return pos_ >= count_; }
  int32_t RecordCount() const override { return static_cast<int32_t>(count_); }

  std::shared_ptr<cRecordsetFields> Recordset() override {
    std::vector<std::pair<std::string, int32_t>> f;
    for (const auto& c : columns_) f.emplace_back(c.name, c.code);
    return std::make_shared<Fields>(std::move(f));
  }

  void Update() override {
    if (pending_.empty()) return;
    current();
    std::string sql = "UPDATE " + baseTable_ + " SET ";
    for (size_t i = 0; i < pending_.size(); ++i) {
      std::string name = columns_[pending_[i].first].origin;
      std::string quoted;
      for (char ch : name) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      sql += (i ? ", \"" : "\"") + quoted + "\" = ?";
    }
    sql += " WHERE rowid = ?";
    std::string outcome;
    try {
      Stmt st(db_->handle(), sql);
      for (size_t i = 0; i < pending_.size(); ++i) bind(st.get(), static_cast<int>(i + 1), pending_[i].second);
      sqlite3_bind_int64(st.get(), static_cast<int>(pending_.size() + 1), rowIds_[pos_]);
      st.step();
      outcome = std::to_string(sqlite3_changes(db_->handle())) + " rows changed";
    } catch (const ComError& e) {
      db_->trace("Update", "(recordset update)", sql, "error: " + e.description());
      throw;
    }
    db_->trace("Update", "(recordset update)", sql, outcome);
    for (auto& p : pending_) overrides_[pos_ * columns_.size() + p.first] = std::move(p.second);
    pending_.clear();
  }

  void MoveNext() override {
    if (pos_ >= count_) raise(kDbErrNoCurrentRecord, "No current record.");
    pending_.clear();
    ++pos_;
  }

  void MoveFirst() override {
    pending_.clear();
    pos_ = 0;
  }

 private:
  void store(sqlite3_stmt* s, int i) {
    switch (sqlite3_column_type(s, i)) {
      case SQLITE_NULL: row_.push_back(kNull); break;
      case SQLITE_INTEGER: {
        int64_t v = sqlite3_column_int64(s, i);
        if (v >= INT8_MIN && v <= INT8_MAX) {
          row_.push_back(kInt8);
          row_.push_back(static_cast<uint8_t>(static_cast<int8_t>(v)));
        } else if (v >= INT32_MIN && v <= INT32_MAX) {
          row_.push_back(kInt32);
          int32_t w = static_cast<int32_t>(v);
          append(&w, sizeof w);
        } else {
          row_.push_back(kInt);
          append(&v, sizeof v);
        }
        break;
      }
      case SQLITE_FLOAT: {
        row_.push_back(kReal);
        double v = sqlite3_column_double(s, i);
        append(&v, sizeof v);
        break;
      }
      default: {
        const bool blob = sqlite3_column_type(s, i) == SQLITE_BLOB;
        const void* p = blob ? sqlite3_column_blob(s, i) : static_cast<const void*>(sqlite3_column_text(s, i));
        uint32_t len = static_cast<uint32_t>(sqlite3_column_bytes(s, i));
        if (!blob && len < 256) {
          row_.push_back(kShortText);
          row_.push_back(static_cast<uint8_t>(len));
        } else {
          row_.push_back(blob ? kBlob : kText);
          append(&len, sizeof len);
        }
        if (len) append(p, len);
      }
    }
  }
  void append(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    row_.insert(row_.end(), b, b + n);
  }
  // Moves the row just read into the blocks, so the storage never doubles while it grows.
  void keepRow() {
    if (blocks_.empty() || blockUsed_ + row_.size() > blockSizes_.back()) {
      const size_t size = std::max(kBlockSize, row_.size());
      blocks_.push_back(std::make_unique<uint8_t[]>(size));
      blockSizes_.push_back(size);
      blockUsed_ = 0;
    }
    if (!row_.empty()) std::memcpy(blocks_.back().get() + blockUsed_, row_.data(), row_.size());
    rowStart_.push_back(blocks_.back().get() + blockUsed_);
    blockUsed_ += row_.size();
  }

  Cell cell(size_t row, size_t col) const {
    const uint8_t* at = rowStart_[row];
    Cell c;
    for (size_t k = 0;; ++k) {
      c.tag = static_cast<Tag>(*at++);
      size_t size = 0;
      uint32_t len = 0;
      switch (c.tag) {
        case kInt8: size = 1; break;
        case kInt32: size = 4; break;
        case kInt: case kReal: size = 8; break;
        case kShortText: len = *at++; size = len; break;
        case kText: case kBlob:
          std::memcpy(&len, at, sizeof len);
          at += sizeof len;
          size = len;
          break;
        default: break;
      }
      if (k == col) {
        switch (c.tag) {
          case kInt8: c.i = static_cast<int8_t>(*at); c.tag = kInt; break;
          case kInt32: {
            int32_t w;
            std::memcpy(&w, at, 4);
            c.i = w;
            c.tag = kInt;
            break;
          }
          case kInt: std::memcpy(&c.i, at, 8); break;
          case kReal: std::memcpy(&c.d, at, 8); break;
          case kShortText: c.tag = kText; [[fallthrough]];
          case kText: case kBlob: c.bytes = std::string_view(reinterpret_cast<const char*>(at), len); break;
          default: break;
        }
        return c;
      }
      at += size;
    }
  }

  Variant value(size_t row, size_t col) const {
    if (!overrides_.empty()) {
      auto it = overrides_.find(row * columns_.size() + col);
      if (it != overrides_.end()) return it->second;
    }
    return toVariant(cell(row, col), columns_[col]);
  }

  size_t column(const std::string& field) const {
    auto it = byName_.find(foldName(field));
    if (it == byName_.end()) raise(kDbErrItemNotFound, "Item not found in this collection: " + field);
    return it->second;
  }

  void current() const {
    if (pos_ >= count_) raise(kDbErrNoCurrentRecord, "No current record.");
  }

  static void bind(sqlite3_stmt* st, int i, const Variant& v) {
    if (v.isNull() || v.isEmpty()) sqlite3_bind_null(st, i);
    else if (auto b = v.get<bool>()) sqlite3_bind_int(st, i, *b ? -1 : 0);
    else if (auto x = v.get<int16_t>()) sqlite3_bind_int(st, i, *x);
    else if (auto x = v.get<int32_t>()) sqlite3_bind_int(st, i, *x);
    else if (auto x = v.get<uint8_t>()) sqlite3_bind_int(st, i, *x);
    else if (auto x = v.get<double>()) sqlite3_bind_double(st, i, *x);
    else if (auto x = v.get<Currency>()) {
      if (x->scaled % 10000 == 0) sqlite3_bind_int64(st, i, x->scaled / 10000);
      else sqlite3_bind_double(st, i, static_cast<double>(x->scaled) / 10000.0);
    } else if (auto x = v.get<Date>()) {
      std::string t = formatDate(*x);
      sqlite3_bind_text(st, i, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    } else {
      std::string t = toText(v);
      sqlite3_bind_text(st, i, t.c_str(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    }
  }

  std::shared_ptr<SqliteDatabase> db_;
  bool hasRowId_;
  std::string baseTable_;
  int first_ = 0;
  std::vector<Column> columns_;
  std::unordered_map<std::string, size_t> byName_;
  std::vector<uint8_t> row_;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  std::vector<size_t> blockSizes_;
  size_t blockUsed_ = 0;
  std::vector<const uint8_t*> rowStart_;
  std::vector<int64_t> rowIds_;
  size_t count_ = 0;
  size_t pos_ = 0;
  std::vector<std::pair<size_t, Variant>> pending_;
  std::unordered_map<size_t, Variant> overrides_;
};

}  // namespace

RecordsetRef makeRecordset(std::shared_ptr<SqliteDatabase> db, Stmt& stmt, bool hasRowId,
                           const std::string& baseTable, std::string& outcome) {
  auto rs = std::make_shared<SqliteRecordset>(std::move(db), stmt, hasRowId, baseTable);
  outcome = std::to_string(rs->count()) + " rows";
  return rs;
}

}  // namespace ovt::db::sqlite
