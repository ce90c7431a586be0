// Values read by the type code of their column: adDate from text (ISO) or a day number,
// adBoolean from a number (non-zero is True), adSmallInt / adUnsignedTinyInt / adCurrency /
// adSingle / adDouble from numbers in range; anything else, and columns read by the stored
// value, as stored: integers as Long (Double beyond 32 bits), reals as Double, text as String.
#include "dbcomp/stored_recordset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "ovtbldiff/runtime/error.h"
#include "ovtbldiff/runtime/text.h"

namespace ovt::db::stored {
namespace {

enum Tag : uint8_t { kNull = 0, kInt = 1, kReal = 2, kText = 3, kBlob = 4, kInt8 = 5, kInt32 = 6, kShortText = 7 };

// Rows are appended to blocks of this size (a longer row gets a block of its own).
constexpr size_t kBlockSize = size_t{1} << 20;
constexpr size_t kFirstBlockSize = size_t{1} << 10;

constexpr const char* kSource = "OVDB";

std::string foldName(std::string_view s) {
  bool ascii = true;
  for (unsigned char c : s) ascii &= c < 0x80;
  if (!ascii) return foldCase(s);
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

// True when `name` folds to `folded` (a foldName result), without a copy for ASCII names.
bool foldsTo(std::string_view name, const std::string& folded) {
  if (name.size() != folded.size()) {
    for (unsigned char c : name)
      if (c >= 0x80) return foldName(name) == folded;
    return false;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) return foldName(name) == folded;
    if (static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c) != folded[i]) return false;
  }
  return true;
}

// Results of up to this many columns are searched by name column by column (comparing a name
// mostly stops at its length or first letters) until they have been read by name about twice
// over (row after row, then); wider ones scan for a few look-ups. After that, an index by name,
// and one by spelling that finds a name written as its column is without folding it.
constexpr size_t kScannedColumns = 64;
constexpr size_t kScannedLookups = 4;

Variant byStorage(const RowStore::Cell& c) {
  switch (c.kind) {
    case RowStore::Cell::Null: return Variant(Null{});
    case RowStore::Cell::Int:
      if (c.i >= INT32_MIN && c.i <= INT32_MAX) return Variant(static_cast<int32_t>(c.i));
      return Variant(static_cast<double>(c.i));
    case RowStore::Cell::Real: return Variant(c.d);
    default: return Variant(std::string(c.bytes));
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

class StoredRecordset : public cRecordset {
 public:
  StoredRecordset(std::vector<ResultColumn> columns, RowStore rows, std::unique_ptr<RowWriter> writer)
      : own_(std::move(columns)), columns_(own_), rows_(std::move(rows)), writer_(std::move(writer)), count_(rows_.rows()) {}
  StoredRecordset(std::shared_ptr<const ColumnSet> shared, RowStore rows, std::unique_ptr<RowWriter> writer)
      : shared_(std::move(shared)), columns_(shared_->columns()), rows_(std::move(rows)), writer_(std::move(writer)),
        count_(rows_.rows()) {}
  StoredRecordset(const StoredRecordset&) = delete;  // columns_ refers into the object itself
  StoredRecordset& operator=(const StoredRecordset&) = delete;

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
    if (!writer_) raiseError(kDbErrReadOnly, kSource, "Cannot update: the recordset does not hold the rows of a single table");
    if (columns_[c].origin.empty())
      raiseError(kDbErrReadOnly, kSource, "Cannot update: the field '" + field + "' is not a column of the table");
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
    if (shared_) return shared_->fields();
    std::vector<std::pair<std::string, int32_t>> f;
    for (const auto& c : columns_) f.emplace_back(c.name, c.code);
    return std::make_shared<Fields>(std::move(f));
  }

  void Update() override {
    if (pending_.empty()) return;
    current();
    std::vector<std::pair<std::string, Variant>> changes;
    for (const auto& p : pending_) changes.emplace_back(columns_[p.first].origin, p.second);
    writer_->write(pos_, changes);
    for (auto& p : pending_) overrides_[pos_ * columns_.size() + p.first] = std::move(p.second);
    pending_.clear();
  }

  void MoveNext() override {
    if (pos_ >= count_) raiseError(kDbErrNoCurrentRecord, kSource, "No current record.");
    pending_.clear();
    ++pos_;
  }

  void MoveFirst() override {
    pending_.clear();
    pos_ = 0;
  }

 private:
  Variant value(size_t row, size_t col) const {
    if (!overrides_.empty()) {
      auto it = overrides_.find(row * columns_.size() + col);
      if (it != overrides_.end()) return it->second;
    }
    return toVariant(rows_.cell(row, col), columns_[col]);
  }

  // The first column of that name, case-insensitively.
  size_t column(const std::string& field) const {
    if (shared_) {
      // Fields are mostly read in their order: the column after the last one read is tried first.
      const size_t next = hint_;
      size_t c;
      if (next < columns_.size() && columns_[next].name == field && shared_->firstOfName(next)) c = next;
      else c = shared_->find(field);
      if (c == SIZE_MAX) notFound(field);
      hint_ = c + 1;
      return c;
    }
    const size_t scanned = columns_.size() <= kScannedColumns ? 2 * columns_.size() + kScannedLookups : kScannedLookups;
    if (index_.empty() && lookups_ < scanned) {
      ++lookups_;
      const std::string folded = foldName(field);
      for (size_t i = 0; i < columns_.size(); ++i)
        if (foldsTo(columns_[i].name, folded)) return i;
      notFound(field);
    }
    if (index_.empty()) index_.build(columns_);
    const size_t c = index_.find(field);
    if (c == SIZE_MAX) notFound(field);
    return c;
  }

  [[noreturn]] static void notFound(const std::string& field) {
    raiseError(kDbErrItemNotFound, kSource, "Item not found in this collection: " + field);
  }

  void current() const {
    if (pos_ >= count_) raiseError(kDbErrNoCurrentRecord, kSource, "No current record.");
  }

  std::shared_ptr<const ColumnSet> shared_;  // the columns, when shared with other results
  std::vector<ResultColumn> own_;             // else this result's own
  const std::vector<ResultColumn>& columns_;  // whichever of the two
  RowStore rows_;
  std::unique_ptr<RowWriter> writer_;
  mutable NameIndex index_;  // for own columns, once they are read by name often
  mutable size_t lookups_ = 0;
  mutable size_t hint_ = 0;  // the column after the one last found by name (shared columns)
  size_t count_ = 0;
  size_t pos_ = 0;
  std::vector<std::pair<size_t, Variant>> pending_;
  std::unordered_map<size_t, Variant> overrides_;
};

}  // namespace

void NameIndex::build(const std::vector<ResultColumn>& columns) {
  for (size_t i = 0; i < columns.size(); ++i) byName_.emplace(foldName(columns[i].name), i);
  for (const ResultColumn& c : columns) asNamed_.emplace(c.name, byName_.at(foldName(c.name)));
}

size_t NameIndex::find(const std::string& name) const {
  if (auto exact = asNamed_.find(name); exact != asNamed_.end()) return exact->second;
  auto it = byName_.find(foldName(name));
  return it == byName_.end() ? SIZE_MAX : it->second;
}

ColumnSet::ColumnSet(std::vector<ResultColumn> columns) : columns_(std::move(columns)) {
  std::vector<std::pair<std::string, int32_t>> f;
  for (const ResultColumn& c : columns_) {
    allDeclared_ = allDeclared_ && c.declared;
    f.emplace_back(c.name, c.code);
  }
  index_.build(columns_);
  for (size_t i = 0; i < columns_.size(); ++i) first_.push_back(index_.find(columns_[i].name) == i);
  fields_ = std::make_shared<Fields>(std::move(f));
}

void RowStore::append(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  row_.insert(row_.end(), b, b + n);
}

void RowStore::reserveRow(size_t bytes) {
  row_.reserve(bytes);
}

void RowStore::addNull() {
  row_.push_back(kNull);
  ++cells_;
}

void RowStore::addInt(int64_t v) {
  ++cells_;
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
}

void RowStore::addReal(double v) {
  ++cells_;
  row_.push_back(kReal);
  append(&v, sizeof v);
}

void RowStore::addText(std::string_view v) {
  ++cells_;
  const uint32_t len = static_cast<uint32_t>(v.size());
  if (len < 256) {
    // Tag, length and bytes written in one step.
    const size_t at = row_.size();
    row_.resize(at + 2 + len);
    uint8_t* p = row_.data() + at;
    p[0] = kShortText;
    p[1] = static_cast<uint8_t>(len);
    if (len) std::memcpy(p + 2, v.data(), len);
    return;
  }
  row_.push_back(kText);
  append(&len, sizeof len);
  append(v.data(), len);
}

void RowStore::addBlob(std::string_view v) {
  ++cells_;
  const uint32_t len = static_cast<uint32_t>(v.size());
  row_.push_back(kBlob);
  append(&len, sizeof len);
  if (len) append(v.data(), len);
}

// Moves the row just built into the blocks, so the storage never doubles while it grows.
// Blocks start small and double up to kBlockSize: most results the members read are a record
// or a few, and a full block per recordset (allocated and cleared) cost more than the
// statement itself; a first block of 1 KiB comes from the allocator's per-thread cache. Blocks are not cleared; only the bytes copied in are ever read.
void RowStore::endRow() {
  if (blocks_.empty() || blockUsed_ + row_.size() > blocks_.back().size) {
    const size_t next = blocks_.empty() ? kFirstBlockSize : std::min(kBlockSize, blocks_.back().size * 2);
    const size_t size = std::max(next, row_.size());
    blocks_.push_back(Block{std::make_unique_for_overwrite<uint8_t[]>(size), size});
    blockUsed_ = 0;
  }
  uint8_t* at = blocks_.back().bytes.get() + blockUsed_;
  if (!row_.empty()) std::memcpy(at, row_.data(), row_.size());
  rows_.push_back(Row{at, cells_});
  cells_ = 0;
  blockUsed_ += row_.size();
  row_.clear();
}

// The bytes after a cell's tag that hold its value (a length prefix included).
size_t cellSize(const uint8_t* tagAt) {
  switch (static_cast<Tag>(*tagAt)) {
    case kInt8: return 1;
    case kInt32: return 4;
    case kInt: case kReal: return 8;
    case kShortText: return 1 + size_t{tagAt[1]};
    case kText: case kBlob: {
      uint32_t len;
      std::memcpy(&len, tagAt + 1, sizeof len);
      return sizeof len + len;
    }
    default: return 0;
  }
}

// One block holding all the rows, each row's bytes copied as they are.
RowStore RowStore::copy() const {
  RowStore out;
  const size_t n = rows();
  std::vector<size_t> sizes(n);
  size_t total = 0;
  for (size_t r = 0; r < n; ++r) {
    const uint8_t* end = rows_[r].start;
    for (uint32_t c = 0; c < rows_[r].cells; ++c) end += 1 + cellSize(end);
    sizes[r] = static_cast<size_t>(end - rows_[r].start);
    total += sizes[r];
  }
  if (n == 0) return out;
  const size_t size = std::max<size_t>(total, 1);
  out.blocks_.push_back(Block{std::make_unique_for_overwrite<uint8_t[]>(size), size});
  uint8_t* at = out.blocks_.back().bytes.get();
  out.rows_.reserve(n);
  for (size_t r = 0; r < n; ++r) {
    if (sizes[r]) std::memcpy(at, rows_[r].start, sizes[r]);
    out.rows_.push_back(Row{at, rows_[r].cells});
    at += sizes[r];
  }
  out.blockUsed_ = total;
  return out;
}

void RowStore::locate(size_t row) const {
  if (located_ == row) return;
  const uint8_t* at = rows_[row].start;
  cellStart_.resize(rows_[row].cells);
  for (const uint8_t*& start : cellStart_) {
    start = at;
    at += 1 + cellSize(at);
  }
  located_ = row;
}

RowStore::Cell RowStore::cell(size_t row, size_t col) const {
  locate(row);
  const uint8_t* at = cellStart_[col];
  const Tag tag = static_cast<Tag>(*at++);
  Cell c;
  switch (tag) {
    case kNull: c.kind = Cell::Null; break;
    case kInt8: c.i = static_cast<int8_t>(*at); c.kind = Cell::Int; break;
    case kInt32: {
      int32_t w;
      std::memcpy(&w, at, 4);
      c.i = w;
      c.kind = Cell::Int;
      break;
    }
    case kInt: std::memcpy(&c.i, at, 8); c.kind = Cell::Int; break;
    case kReal: std::memcpy(&c.d, at, 8); c.kind = Cell::Real; break;
    case kShortText:
      c.kind = Cell::Text;
      c.bytes = std::string_view(reinterpret_cast<const char*>(at + 1), *at);
      break;
    case kText: case kBlob: {
      uint32_t len;
      std::memcpy(&len, at, sizeof len);
      c.kind = tag == kText ? Cell::Text : Cell::Blob;
      c.bytes = std::string_view(reinterpret_cast<const char*>(at + sizeof len), len);
      break;
    }
  }
  return c;
}

Variant toVariant(const RowStore::Cell& c, const ResultColumn& col) {
  if (c.kind == RowStore::Cell::Null) return Variant(Null{});
  if (!col.declared) return byStorage(c);
  const bool isNum = c.kind == RowStore::Cell::Int || c.kind == RowStore::Cell::Real;
  const double num = c.kind == RowStore::Cell::Int ? static_cast<double>(c.i) : c.d;
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
      if (c.kind == RowStore::Cell::Int && c.i >= INT16_MIN && c.i <= INT16_MAX) return Variant(static_cast<int16_t>(c.i));
      return byStorage(c);
    case adUnsignedTinyInt:
      if (c.kind == RowStore::Cell::Int && c.i >= 0 && c.i <= 255) return Variant(static_cast<uint8_t>(c.i));
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

RecordsetRef makeRecordset(std::vector<ResultColumn> columns, RowStore rows, std::unique_ptr<RowWriter> writer) {
  return std::make_shared<StoredRecordset>(std::move(columns), std::move(rows), std::move(writer));
}

RecordsetRef makeRecordset(std::shared_ptr<const ColumnSet> columns, RowStore rows, std::unique_ptr<RowWriter> writer) {
  return std::make_shared<StoredRecordset>(std::move(columns), std::move(rows), std::move(writer));
}

}  // namespace ovt::db::stored
