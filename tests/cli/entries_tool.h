// The tool run on the two entries of one engine (SQLite files or PostgreSQL locations): the
// entries' locations, a folder to run it in, and what the tests read back from the entries.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/tool_run.h"
#include "support/engines.h"
#include "support/form.h"
#include "support/temp_dir.h"

namespace ovt::test {

class EntriesTool : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    first_ = entries().firstLocation();
    second_ = entries().secondLocation();
  }

  ToolRun tool(const std::string& args, const std::string& input = "") { return runTool(dir_.path(), args, input); }
  // `args` with the second entry attached as the link tables of the first.
  ToolRun linked(const std::string& args, const std::string& input = "") {
    return tool(args + " --link '" + second_ + "'", input);
  }
  // Both entries, quoted for the shell.
  std::string both() const { return "'" + first_ + "' '" + second_ + "'"; }
  // The demo survey written into the folder (d/) and its two entries copied into this engine's.
  void demo() {
    ToolRun r = tool("demo d");
    ASSERT_EQ(r.code, 0) << r.err;
    copyTables(dir_.file("d/entry1.db"), openLocation(first_));
    copyTables(dir_.file("d/entry2.db"), openLocation(second_));
  }

  void fill(const std::string& location, const Statements& statements) { runAll(openLocation(location), statements); }
  std::string rows(const std::string& location, const std::string& sql) { return rowsText(openLocation(location), sql); }
  std::vector<std::string> column(const std::string& location, const std::string& sql) {
    return test::column(openLocation(location), sql);
  }

  TempDir dir_;
  std::string first_, second_;
};

}  // namespace ovt::test
