// Mutation fuzzer of the `call` JSON reader: script lines (member, connection, arguments by
// name or position, arrays with lower bounds, table objects) mutated and run through the
// tool's script runner on a scratch form in two SQLite files.
//
//   call_fuzz [--seconds N] [--seed S]
//
// Every output line must be JSON; a malformed line is reported and the script goes on. An
// exception other than the component's errors, a crash or a sanitizer report is a finding;
// the input is printed and the program exits non-zero.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "calls/calls.h"
#include "session.h"
#include "mutation.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/host.h"

namespace {

const char* kForm =
    "CREATE TABLE House (UniqueKey INTEGER PRIMARY KEY AUTOINCREMENT, RecStatus INTEGER, HouseNo INTEGER, Head TEXT);"
    "CREATE TABLE viewHouse (Name TEXT, Type TEXT, PageNumber INTEGER, DataTable TEXT);"
    "INSERT INTO viewHouse VALUES ('DATA1','SOURCE',0,'House'),('Head','TEXT',1,''),('G','GRID',1,'DATA2'),"
    "('DATA2','SOURCE',0,'gvMember');"
    "CREATE TABLE Member (UniqueKey INTEGER PRIMARY KEY AUTOINCREMENT, RecStatus INTEGER, FKey INTEGER, LineNo INTEGER, "
    "Name TEXT);"
    "CREATE TABLE gvMember (Name TEXT, Type TEXT, PageNumber INTEGER, DataTable TEXT);"
    "INSERT INTO gvMember VALUES ('DATA1','SOURCE',0,'Member'),('LineNo','LONG',1,''),('Name','TEXT',1,'');"
    "INSERT INTO House (RecStatus, HouseNo, Head) VALUES (1, 101, 'Ann'), (1, 102, 'Bob'), (0, 103, NULL);"
    "INSERT INTO Member (RecStatus, FKey, LineNo, Name) VALUES (1, 1, 1, 'Ann'), (1, 1, 2, 'Al'), (1, 2, 1, 'Bob');";

const std::vector<std::string> kSeeds = {
    R"({"member": "DB", "db": {"database": "e1.db", "link": "e2.db", "same": "a", "view": "viewHouse"}})",
    R"({"member": "GetFldType", "args": {"eDataType": 202}})",
    R"({"member": "GetFldType", "args": [3]})",
    R"({"member": "IsQualifiedMatchKey", "args": {"ColumnName": "HouseNo", "TableName": "House", "OruType": true}})",
    R"({"member": "TotalMatchedRec", "args": {"Table1Name": "House", "Table2Name": "ORULINK_House", "MatchKeys": ["HouseNo"], "OruType": true, "oDB": {"database": null}}})",
    R"({"member": "GetTblDiffRecRS", "args": {"Table1Name": "House", "Table2Name": "ORULINK_House", "MatchKeys": ["HouseNo"], "CompareFields": ["Head"], "eSqlType": 1, "OruType": true}})",
    R"({"member": "GetTblDiffGridRS", "args": ["House", "Member", "ORULINK_House", "ORULINK_Member", "LineNo", ["HouseNo"], 2]})",
    R"({"member": "ShowParent", "args": {"ParentTableName": "House", "MatchKeys": ["HouseNo"], "CommonFlds": ["Head"], "FkeyValue": "1", "ParentInfo": {"unallocated": true}}})",
    R"({"member": "CompareTablesStructure", "args": {"oTable1": {"table": "House", "in": {"database": "e1.db"}}, "oTable2": {"table": "Member", "database": "e2.db"}, "CommonFields": {"array": ["x"], "lbound": 1}, "eSelectFields": 2}})",
    R"({"member": "CompareViewsStructure", "db": {"database": "e1.db", "view": "viewHouse"}, "args": {"extDB": {"database": "e2.db", "view": "viewHouse"}, "CommonFields": {"unallocated": true}}})",
    R"({"member": "GetOruGridList", "args": {"ViewName": "viewHouse", "GridList": {"empty": true}}})",
    R"({"member": "GetOruComparableGridTblList", "args": {"ComparableGridDataTblList": {"array": [["a", "b"]], "lbound": [2, 3]}, "extDB": {"database": "e2.db", "view": "viewHouse"}}})",
    R"({"member": "DeleteRec", "args": {"TableName": "ORULINK_House", "MatchFld": [["HouseNo", "3"]], "MatchFldValue": [[101], [null]], "OruType": true, "ErrMsg": ["", ""]}})",
    R"({"member": "CopyRec", "args": {"SourceTableName": "House", "DestTableName": "ORULINK_House", "MatchFld": [["HouseNo", "3"]], "MatchFldValue": {"array": [[102]], "lbound": [0, 0]}, "CommonFldName": ["Head"], "OruType": true, "CommonGridViews": [["gvMember", "Member"]], "ErrMsg": [""]}})",
    R"({"member": "CopyChild", "args": ["House", "ORULINK_House", "Member", "ORULINK_Member", "gvMember", [["HouseNo", "3"]], [[101]], [["LineNo", "3"], ["FKey", "3"]], [["2", "1"]], [""]]})",
    R"({"member": "BackupTable", "args": {"SourceTableName": "Member", "BackupTableName": "Member_bk"}})",
    R"({"member": "GetOruDataTable", "args": {"ViewName": "viewHouse"}})",
    R"({"member": "GetOruViewVarList", "args": {"ViewName": "gvMember", "VariableList": {"unallocated": true}}})",
};

const std::vector<std::string> kTokens = {
    "{", "}", "[", "]", ",", ":", "\"", "null", "true", "false", "0", "-1", "2147483647", "-2147483648", "2147483648",
    "4294967296", "1e400", "-0.0", "32767", "32768", "\"lbound\": ", "\"array\": ", "{\"unallocated\": true}",
    "{\"empty\": true}", "{\"database\": null}", "{\"table\": \"House\", \"in\": {\"database\": \"e1.db\"}}",
    "\"same\": \"a\"", "\"link\": \"e2.db\"", "\"view\": \"gvMember\"", "[[", "]]", "\\u0000", "\\ud800", "\xff",
    "\xc3", "\xe2\x82", "é", "\"args\": ", "\"member\": ", "\"db\": ", "[[1, 2], [3]]", "[[[1]]]", "\n",
};

}  // namespace

int main(int argc, char** argv) {
  const ovt::fuzz::Options opt = ovt::fuzz::options(argc, argv);
  std::mt19937_64 rng(opt.seed);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("call_fuzz-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  setenv("OVT_REGISTRY", (dir / "registry.ini").c_str(), 1);
  // A location a mutation turns into a PostgreSQL one fails at once instead of waiting.
  setenv("PGHOST", (dir / "no-server").c_str(), 1);
  setenv("PGCONNECT_TIMEOUT", "1", 1);
  ovt::com::registerServer(OVT_COMPONENT_LIBRARY);
  auto fresh = [&] {
    for (const char* f : {"e1.db", "e2.db"}) {
      std::filesystem::remove(dir / f);
      ovt::db::RunSqliteScript(ovt::db::OpenSqlite((dir / f).string()), kForm);
    }
  };
  fresh();
  auto session = std::make_unique<ovt::tool::Session>(ovt::tool::SessionOptions{});
  const auto start = std::chrono::steady_clock::now();
  long runs = 0, lines = 0, malformed = 0, raised = 0, escaped = 0;
  std::string input;
  auto finding = [&](const std::string& what) {
    std::cerr << "FINDING (seed " << opt.seed << ", run " << runs << "): " << what << "\ninput: " << input << "\n";
    std::exit(2);
  };
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < opt.seconds) {
    ++runs;
    input.clear();
    const int n = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < n; ++i) {
      std::string line = kSeeds[rng() % kSeeds.size()];
      if (rng() % 8 != 0) line = ovt::fuzz::mutate(rng, line, kSeeds, kTokens);
      input += line + "\n";
    }
    std::istringstream in(input);
    std::ostringstream out;
    try {
      const int code = ovt::calls::runScript(*session, in, out);
      if (code != 0 && code != 2 && code != 3) finding("exit code " + std::to_string(code));
    } catch (const ovt::ComError&) {
      ++escaped;  // the tool reports it with exit code 3
    } catch (const std::exception& e) {
      finding(std::string("unexpected exception: ") + e.what());
    }
    std::istringstream back(out.str());
    for (std::string l; std::getline(back, l);) {
      ++lines;
      nlohmann::json j;
      try {
        j = nlohmann::json::parse(l);
      } catch (const std::exception& e) {
        finding("output line is no JSON: " + l);
      }
      if (j.contains("malformed")) ++malformed;
      else if (!j.contains("error")) finding("output line without \"error\": " + l);
      else if (!j["error"].is_null()) ++raised;
    }
    if (runs % 300 == 0) {
      session = std::make_unique<ovt::tool::Session>(ovt::tool::SessionOptions{});
      fresh();
    }
  }
  session.reset();
  std::filesystem::current_path(std::filesystem::temp_directory_path());
  std::filesystem::remove_all(dir);
  std::cout << "seed " << opt.seed << ": " << runs << " scripts, " << lines << " output lines, " << malformed
            << " malformed, " << raised << " raised, " << escaped << " errors outside a call, 0 findings\n";
  return 0;
}
