// The rows a recordset holds, read back in any order: cells of every kind and size, rows
// revisited, fields named in any case, two columns whose names differ only in case.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dbcomp/stored_recordset.h"
#include "ovtbldiff/runtime/variant.h"

namespace ovt::db::stored {
namespace {

// The value each cell was stored with, by kind.
struct Stored {
  RowStore::Cell::Kind kind = RowStore::Cell::Null;
  int64_t i = 0;
  double d = 0;
  std::string bytes;
};
Stored null() { return {}; }
Stored integer(int64_t i) { return {RowStore::Cell::Int, i, 0, {}}; }
Stored real(double d) { return {RowStore::Cell::Real, 0, d, {}}; }
Stored text(std::string t) { return {RowStore::Cell::Text, 0, 0, std::move(t)}; }
Stored blob(std::string b) { return {RowStore::Cell::Blob, 0, 0, std::move(b)}; }

void add(RowStore& rows, const Stored& s) {
  switch (s.kind) {
    case RowStore::Cell::Null: rows.addNull(); break;
    case RowStore::Cell::Int: rows.addInt(s.i); break;
    case RowStore::Cell::Real: rows.addReal(s.d); break;
    case RowStore::Cell::Text: rows.addText(s.bytes); break;
    case RowStore::Cell::Blob: rows.addBlob(s.bytes); break;
  }
}

void check(const RowStore& rows, const std::vector<std::vector<Stored>>& table);

TEST(StoredRows, EveryCellReadsBackInAnyOrder) {
  const std::vector<std::vector<Stored>> table = {
      {integer(5), text("short"), null(), real(0.25), blob(std::string("\0\xff", 2))},
      {integer(100000), text(std::string(300, 'y')), integer(-128), null(), text("")},
      {integer(9000000000), text("é"), real(-1e300), integer(127), null()},
      {null(), null(), null(), null(), blob(std::string(70000, 'b'))},
  };
  // Rows spread over several blocks (the long blob gets one of its own), read from the store and
  // from copies of it, a copy of a copy outliving the store it came from.
  auto original = std::make_unique<RowStore>();
  for (const auto& row : table) {
    for (const Stored& s : row) add(*original, s);
    original->endRow();
  }
  const RowStore copied = original->copy();
  RowStore again = copied.copy();
  check(*original, table);
  original.reset();
  check(copied, table);
  check(again, table);
  EXPECT_EQ(RowStore().copy().rows(), 0u);
}

void check(const RowStore& rows, const std::vector<std::vector<Stored>>& table) {
  using K = RowStore::Cell::Kind;
  ASSERT_EQ(rows.rows(), table.size());
  std::vector<std::pair<size_t, size_t>> order;
  for (size_t r = 0; r < table.size(); ++r)
    for (size_t c = 0; c < table[r].size(); ++c) order.emplace_back(r, c);
  std::mt19937 random(7);
  for (int pass = 0; pass < 3; ++pass) {
    std::shuffle(order.begin(), order.end(), random);
    for (auto [r, c] : order) {
      SCOPED_TRACE("row " + std::to_string(r) + ", column " + std::to_string(c));
      const Stored& want = table[r][c];
      const RowStore::Cell got = rows.cell(r, c);
      ASSERT_EQ(got.kind, want.kind);
      if (want.kind == K::Int) {
        EXPECT_EQ(got.i, want.i);
      } else if (want.kind == K::Real) {
        EXPECT_EQ(got.d, want.d);
      } else if (want.kind == K::Text || want.kind == K::Blob) {
        EXPECT_EQ(got.bytes, want.bytes);
      }
    }
  }
}

// Over columns of its own and over a column set shared by several results (found from the
// column after the last one read, which must still give the first column of a name).
TEST(StoredRecordset, FieldsByNameInAnyCaseAndRowsRevisited) {
  std::vector<ResultColumn> columns(4);
  columns[0].name = "ID";
  columns[1].name = "Name";
  columns[2].name = "NAME";  // the same name for the recordset: the first column answers
  columns[3].name = "Größe";
  RowStore rows;
  for (int r = 0; r < 3; ++r) {
    rows.addInt(r + 1);
    rows.addText("first " + std::to_string(r));
    rows.addText("second " + std::to_string(r));
    rows.addText(std::string(r * 200, 'g'));
    rows.endRow();
  }
  const auto shared = std::make_shared<const ColumnSet>(columns);
  for (RecordsetRef rs : {makeRecordset(columns, rows.copy(), nullptr), makeRecordset(shared, rows.copy(), nullptr),
                          makeRecordset(shared, rows.copy(), nullptr)}) {
    for (int pass = 0; pass < 2; ++pass) {
      rs->MoveFirst();
      for (int r = 0; r < 3; ++r, rs->MoveNext()) {
        const std::string first = "first " + std::to_string(r);
        EXPECT_EQ(rs->FieldValue("GRÖSSE"), Variant(std::string(r * 200, 'g')));
        EXPECT_EQ(rs->FieldValue("NAME"), Variant(first));
        EXPECT_EQ(rs->FieldValue("name"), Variant(first));
        EXPECT_EQ(rs->FieldValue("Name"), Variant(first));
        EXPECT_EQ(rs->FieldValue("NAME"), Variant(first));
        EXPECT_EQ(rs->FieldValue("id"), Variant(int32_t{r + 1}));
        EXPECT_EQ(rs->FieldValue("Name"), Variant(first));
        EXPECT_EQ(rs->FieldValue("Größe"), Variant(std::string(r * 200, 'g')));
      }
      EXPECT_TRUE(rs->IsEOF());
    }
  }
}

}  // namespace
}  // namespace ovt::db::stored
