// The demo database written by `ovtbldiff demo` into a fresh directory, and what the tests read
// back from its files.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "cli/tool_run.h"
#include "ovtbldiff/dbcomp/sqlite.h"
#include "ovtbldiff/runtime/variant.h"
#include "support/engines.h"
#include "support/temp_dir.h"

namespace ovt::test {

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ToolRun r = run("demo d");
    ASSERT_EQ(r.code, 0) << r.out << r.err;
  }

  ToolRun run(const std::string& args, const std::string& input = "") { return runTool(dir_.path(), args, input); }
  // A subcommand on entry 1 with entry 2 attached as the link tables.
  ToolRun linked(const std::string& args, const std::string& input = "") {
    return run(args + " --link d/entry2.db", input);
  }

  // Every row of a query on a demo file, one line per row, values separated by "|".
  std::string rows(const std::string& file, const std::string& sql) {
    return rowsText(ovt::db::OpenSqlite(dir_.file("d/" + file)), sql);
  }
  // The contents of both demo tables of a file.
  std::string contents(const std::string& file) {
    return rows(file, "select * from House order by UniqueKey") + "--\n" +
           rows(file, "select * from Member order by UniqueKey");
  }

  TempDir dir_;
};

}  // namespace ovt::test
