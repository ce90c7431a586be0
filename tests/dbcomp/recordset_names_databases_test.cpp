// Fields of a recordset found by name on real databases of both engines: in any case, accented
// names included, the first of two fields of one name, a missing name refused; the same answers
// for a narrow result asked many times and for a result wider than the component searches
// field by field.
#include <gtest/gtest.h>

#include <string>

#include "support/engines.h"

namespace ovt::test {
namespace {

class RecordsetNames : public EngineTest {};

// The text of a field's value, or the error number when it cannot be read.
std::string value(db::cRecordset& rs, const std::string& name) {
  try {
    return toText(rs.FieldValue(name));
  } catch (const ComError& e) {
    return "error " + std::to_string(e.number());
  }
}

TEST_P(RecordsetNames, FieldsAreFoundInAnyCaseFirstOfTwoFirst) {
  db::DatabaseRef db = entries().first(false);
  // 70 columns: wider than the field-by-field search; the narrow query reads five of them.
  std::string ddl = "create table W (ID long, [Größe] text(10), Name text(10)", values = "1, 'g', 'n'";
  for (int c = 0; c < 67; ++c) {
    ddl += ", C" + std::to_string(c) + " long";
    values += ", " + std::to_string(100 + c);
  }
  runAll(db, {ddl + ")", "insert into W values (" + values + ")", "create table Other (ID long, Name text(10))",
              "insert into Other values (1, 'other')"});
  for (const std::string& select : {std::string("select W.ID, [Größe], W.Name, Other.Name, C66 from W, Other where W.ID = Other.ID"),
                                    std::string("select *, Other.Name from W, Other where W.ID = Other.ID")}) {
    db::RecordsetRef rs = db->OpenRecordset(select, 2, "");
    // Each name asked several times, so that any index by name is built and used as well.
    for (int pass = 0; pass < 3; ++pass) {
      EXPECT_EQ(value(*rs, "id"), "1") << select;
      EXPECT_EQ(value(*rs, "GRÖßE"), "g") << select;
      EXPECT_EQ(value(*rs, "größe"), "g") << select;
      EXPECT_EQ(value(*rs, "NAME"), "n") << select;  // W's Name comes first
      EXPECT_EQ(value(*rs, "c66"), "166") << select;
      EXPECT_EQ(value(*rs, "Missing"), "error " + std::to_string(db::kDbErrItemNotFound)) << select;
    }
  }
}

OVT_ON_EVERY_ENGINE(RecordsetNames);

}  // namespace
}  // namespace ovt::test
