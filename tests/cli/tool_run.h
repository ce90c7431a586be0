// Running the built ovtbldiff executable from a test: arguments, standard input, exit code and
// standard output (standard error optionally kept apart).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace ovt::test {

struct ToolRun {
  int code = -1;
  std::string out;
  std::string err;
  std::string args;  // as run

  std::vector<std::string> lines() const {
    std::vector<std::string> v;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
  }
};

// Runs `ovtbldiff ARGS` (ARGS already quoted for the shell) in `dir` with `input` on standard
// input; standard error goes to ToolRun::err.
inline ToolRun runTool(const std::filesystem::path& dir, const std::string& args, const std::string& input = "") {
  std::filesystem::path in = dir / "stdin.txt", err = dir / "stderr.txt";
  std::ofstream(in) << input;
  std::string cmd = "cd '" + dir.string() + "' && '" OVT_BINARY_DIR "/ovtbldiff' " + args + " < '" + in.string() +
                    "' 2>'" + err.string() + "'";
  ToolRun r;
  r.args = args;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(err);
  std::stringstream ss;
  ss << e.rdbuf();
  r.err = ss.str();
  return r;
}

// Checks a run's exit code and its standard output, naming the run's arguments on failure.
inline void expectRun(const ToolRun& r, int code, const std::string& out) {
  EXPECT_EQ(r.code, code) << r.args << "\n" << r.out << r.err;
  EXPECT_EQ(r.out, out) << r.args;
}

}  // namespace ovt::test
