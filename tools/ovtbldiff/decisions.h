// What resolve and review share: the members reached through the component object, and the
// connections of a target (entry 1, entry 2 or a new verified copy).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "members.h"
#include "ovtbldiff/decide.h"

namespace ovt::tool {

// The members the decisions use, called by name on the session's component object.
class ComponentMembers : public decide::Members {
 public:
  explicit ComponentMembers(Session& s) : s_(s) {}
  void SetDB(const db::DatabaseRef& conn) override;
  bool CopyRec(std::string SourceTableName, std::string DestTableName, StringArray& MatchFld,
               VariantArray& MatchFldValue, StringArray& CommonFldName, bool& OruType, StringArray& CommonGridViews,
               StringArray& ErrMsg, db::DatabaseRef* oDB) override;
  bool CopyChild(std::string SourceTblName, std::string DestTblName, std::string SrcChildTblName,
                 std::string DestChildTblName, std::string& ChildViewName, StringArray& ParentMatchKeys,
                 VariantArray& ParentMatchValues, StringArray& ChildMatchKey, StringArray& ChildMatchValues,
                 StringArray& ErrMsg) override;
  bool DeleteRec(std::string TableName, StringArray& MatchFld, VariantArray& MatchFldValue, bool& OruType,
                 StringArray& ErrMsg, db::DatabaseRef* oExtDB) override;
  db::RecordsetRef GetTblDiffRecRS(std::string Table1Name, std::string Table2Name, StringArray& MatchKeys,
                                   StringArray& CompareFields, int32_t eSqlType, bool OruType,
                                   db::DatabaseRef* oDB) override;
  db::RecordsetRef GetTblDiffGridRS(std::string ParentTbl1Name, std::string ChildTbl1Name, std::string ParentTbl2Name,
                                    std::string ChildTbl2Name, std::string ChildMatchKey, StringArray& ParentMatchKeys,
                                    int32_t eSqlType) override;
  bool GetOruGridList(std::string ViewName, StringArray& GridList, db::DatabaseRef* DB) override;
  std::string GetOruDataTable(std::string ViewName, db::DatabaseRef* DB) override;

 private:
  Session& s_;
};

// The two entries of a review and its match keys, as the command line gives them.
struct Entries {
  std::string entry1, entry2;
  std::vector<std::string> keys;  // TABLE=COL[,COL]
  std::string survey;             // a survey file giving keys (--survey)
  std::string surveyRead;         // the survey file takeSurveyKeys read ("" when none)
  void addOptions(CLI::App* cmd);
  // Adds the keys of the survey file to `keys` (--keys wins for a table it names); a
  // UsageError for a bad file or when no keys are given at all.
  void takeSurveyKeys();
};

// Opens the connections for applying into `into` ("1", "2" or a new file / schema, made
// first as a copy of entry 1).
decide::Sides openTarget(Session& s, const Entries& e, const std::string& into);
// Entry 1 with entry 2 attached as its link tables.
db::DatabaseRef openBoth(Session& s, const Entries& e);
// The survey's tables and keys read from entry 1 (a UsageError for a bad setting).
decide::Survey surveyOf(decide::Members& m, const db::DatabaseRef& conn, const Entries& e);
// --reviewer, else the operating-system user.
std::string reviewerName(const std::string& given);

void addResolveCommand(CLI::App& app, Globals& g, std::function<int()>& run);
void addReviewCommand(CLI::App& app, Globals& g, std::function<int()>& run);

}  // namespace ovt::tool
