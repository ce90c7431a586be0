// `ovtbldiff demo DIR`: two entries of a household survey (form House with the member grid
// Members) in DIR/entry1.db and DIR/entry2.db, written through the database component, with a
// few conflicts, missing records and grid differences to try every subcommand on.
#include <filesystem>
#include <fstream>
#include <iostream>

#include <fmt/format.h>

#include "members.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/verify.h"

namespace ovt::tool {
namespace {

struct House {
  int key, no;
  const char *head, *village;
  int rooms;
  const char* water;
};
struct Member {
  int house, line;
  const char *name, *sex;
  int age;
};

const char* kForm[] = {
    "create table House (UniqueKey counter, RecStatus long, HouseNo long, HeadName text(60), Village text(40), "
    "Rooms long, WaterSource text(20))",
    "create table Member (UniqueKey counter, RecStatus long, FKey long, LineNo long, MemberName text(60), "
    "Sex text(1), Age long)",
    "create table viewHouse (Name text(50), Type text(20), PageNumber long, DataTable text(50))",
    "insert into viewHouse values ('DATA1', 'SOURCE', 0, 'House')",
    "insert into viewHouse values ('HouseNo', 'NUMBER', 1, '')",
    "insert into viewHouse values ('HeadName', 'TEXT', 1, '')",
    "insert into viewHouse values ('Village', 'TEXT', 1, '')",
    "insert into viewHouse values ('Rooms', 'NUMBER', 1, '')",
    "insert into viewHouse values ('WaterSource', 'TEXT', 1, '')",
    "insert into viewHouse values ('Members', 'GRID', 2, 'DATA2')",
    "insert into viewHouse values ('DATA2', 'SOURCE', 0, 'gvMember')",
    "create table gvMember (Name text(50), Type text(20), PageNumber long, DataTable text(50))",
    "insert into gvMember values ('DATA1', 'SOURCE', 0, 'Member')",
    "insert into gvMember values ('LineNo', 'NUMBER', 1, '')",
    "insert into gvMember values ('MemberName', 'TEXT', 1, '')",
    "insert into gvMember values ('Sex', 'TEXT', 1, '')",
    "insert into gvMember values ('Age', 'NUMBER', 1, '')",
};

// Entry 1 as the first clerk keyed it.
const House kHouses1[] = {
    {1, 101, "Achieng Otieno", "Kisumu Ndogo", 3, "Borehole"}, {2, 102, "Peter Mwangi", "Gatundu", 2, "Tap"},
    {3, 103, "Grace Wanjiru", "Gatundu", 4, "River"},          {4, 104, "Samuel Kiprop", "Eldama", 3, "Borehole"},
    {5, 105, "Fatuma Hassan", "Malindi", 2, "Tap"},            {6, 106, "John Ouma", "Kisumu Ndogo", 1, "Rain tank"},
    {7, 107, "Mary Njeri", "Thika", 3, "Tap"},                 {8, 108, "David Kamau", "Thika", 2, "River"},
};
const Member kMembers1[] = {
    {1, 1, "Achieng Otieno", "F", 34}, {1, 2, "Brian Otieno", "M", 12}, {2, 1, "Peter Mwangi", "M", 45},
    {2, 2, "Lucy Mwangi", "F", 41},    {2, 3, "Kevin Mwangi", "M", 9},  {3, 1, "Grace Wanjiru", "F", 52},
    {4, 1, "Samuel Kiprop", "M", 38},  {4, 2, "Ann Kiprop", "F", 35},   {4, 3, "Faith Kiprop", "F", 6},
    {5, 1, "Fatuma Hassan", "F", 29},  {6, 1, "John Ouma", "M", 61},    {7, 1, "Mary Njeri", "F", 27},
    {7, 2, "Joy Njeri", "F", 3},       {8, 1, "David Kamau", "M", 44},
};
// Entry 2, keyed by a second clerk from the same questionnaires: house 103 has 5 rooms, the
// head of 105 is spelt Fatma, 107 has another village and water source, 108 was never keyed,
// 109 only here; in the grid Kevin Mwangi (102) is 10, and Faith Kiprop (104) is missing.
const House kHouses2[] = {
    {501, 101, "Achieng Otieno", "Kisumu Ndogo", 3, "Borehole"}, {502, 102, "Peter Mwangi", "Gatundu", 2, "Tap"},
    {503, 103, "Grace Wanjiru", "Gatundu", 5, "River"},          {504, 104, "Samuel Kiprop", "Eldama", 3, "Borehole"},
    {505, 105, "Fatma Hassan", "Malindi", 2, "Tap"},             {506, 106, "John Ouma", "Kisumu Ndogo", 1, "Rain tank"},
    {507, 107, "Mary Njeri", "Thika Town", 3, "Borehole"},       {509, 109, "Rose Akinyi", "Kisumu Ndogo", 2, "Tap"},
};
const Member kMembers2[] = {
    {501, 1, "Achieng Otieno", "F", 34}, {501, 2, "Brian Otieno", "M", 12}, {502, 1, "Peter Mwangi", "M", 45},
    {502, 2, "Lucy Mwangi", "F", 41},    {502, 3, "Kevin Mwangi", "M", 10}, {503, 1, "Grace Wanjiru", "F", 52},
    {504, 1, "Samuel Kiprop", "M", 38},  {504, 2, "Ann Kiprop", "F", 35},   {505, 1, "Fatma Hassan", "F", 29},
    {506, 1, "John Ouma", "M", 61},      {507, 1, "Mary Njeri", "F", 27},   {507, 2, "Joy Njeri", "F", 3},
    {509, 1, "Rose Akinyi", "F", 30},
};

template <size_t H, size_t M>
void writeEntry(const std::string& file, const House (&houses)[H], const Member (&members)[M], int memberKey) {
  db::DatabaseRef db = db::OpenSqlite(file);
  auto exec = [&](const std::string& sql) {
    if (!db->Execute(sql)) throw ComError(db::kDbErrFailure, "ovtbldiff demo", sql + ": " + db->LastFailure());
  };
  db->BeginTrans();
  for (const char* s : kForm) exec(s);
  for (const House& h : houses)
    exec(fmt::format("insert into House (UniqueKey, RecStatus, HouseNo, HeadName, Village, Rooms, WaterSource) "
                     "values ({}, 1, {}, '{}', '{}', {}, '{}')",
                     h.key, h.no, h.head, h.village, h.rooms, h.water));
  for (const Member& m : members)
    exec(fmt::format("insert into Member (UniqueKey, RecStatus, FKey, LineNo, MemberName, Sex, Age) "
                     "values ({}, 1, {}, {}, '{}', '{}', {})",
                     memberKey++, m.house, m.line, m.name, m.sex, m.age));
  db->CommitTrans();
}

}  // namespace

void addDemoCommand(CLI::App& app, Globals& g, std::function<int()>& run) {
  struct A {
    std::string dir;
    bool force = false;
  };
  auto a = std::make_shared<A>();
  CLI::App* cmd = app.add_subcommand(
      "demo",
      "Write a small double-entry example into DIR: entry1.db, entry2.db and survey.toml, two entries of a household survey "
      "(form House with the member grid Members) with a few conflicts, missing records and grid differences.");
  cmd->add_option("dir", a->dir, "Directory to write into (created when missing)")->required();
  cmd->add_flag("--force", a->force, "Replace entry1.db and entry2.db when they exist");
  (void)g;
  cmd->callback([a, &run] {
    run = [a]() -> int {
      namespace fs = std::filesystem;
      fs::create_directories(a->dir);
      const std::string e1 = (fs::path(a->dir) / "entry1.db").string(), e2 = (fs::path(a->dir) / "entry2.db").string();
      for (const std::string& f : {e1, e2}) {
        if (!fs::exists(f)) continue;
        if (!a->force) throw UsageError(f + " exists (use --force to replace it)");
        fs::remove(f);
      }
      writeEntry(e1, kHouses1, kMembers1, 1);
      writeEntry(e2, kHouses2, kMembers2, 901);
      // The survey file: the match keys of the form's table and of its grid, written once.
      verify::Settings survey;
      survey.at("House").keys = {"HouseNo"};
      survey.at("Member").keys = {"LineNo"};
      const std::string surveyFile = (fs::path(a->dir) / "survey.toml").string();
      std::ofstream(surveyFile) << verify::surveyText(survey);
      std::cout << "Wrote " << e1 << " and " << e2 << ": the form House (catalogue viewHouse) with the grid Members\n"
                << "(grid view gvMember, table Member), 8 households in each entry, and the survey file " << surveyFile
                << ".\nTry:\n"
                << "  ovtbldiff verify " << e1 << " " << e2 << " --survey " << surveyFile << "\n"
                << "or one table at a time, with entry 2 attached as the link tables:\n"
                << "  ovtbldiff diff " << e1 << " House ORULINK_House --keys HouseNo --link " << e2 << "\n"
                << "  ovtbldiff grid-diff " << e1 << " House Member ORULINK_House ORULINK_Member --parent-keys HouseNo "
                << "--child-key LineNo --link " << e2 << "\n";
      return kExitOk;
    };
  });
}

}  // namespace ovt::tool
