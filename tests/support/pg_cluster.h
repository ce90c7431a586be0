// A throwaway PostgreSQL cluster for the tests: initdb and pg_ctl in a temporary folder, the
// server listening only on a Unix socket there, run as an unprivileged user when the tests run
// as root.
//
// A test run shares one cluster: CTest starts it before the first test (`pg_test_cluster start`)
// and stops it after the last, and names it to every test through OVT_PG_SHARED_CLUSTER (a
// file holding the cluster's folder). Each test program then works in a database of its own,
// made from a template that already holds the component's setup, and drops it when it ends.
// A test program run on its own (no such file, or its server gone) starts a cluster of its own
// and removes it when it ends.
#pragma once

#include <string>
#include <vector>

namespace ovt::test {

class PgCluster {
 public:
  // The program's cluster, started or joined on first use. When the server programs are missing
  // or the cluster does not start, connectionString() is empty and why() says what went wrong.
  static PgCluster& instance();

  const std::string& connectionString() const { return conninfo_; }
  const std::string& why() const { return why_; }
  // Whether a missing cluster fails the test instead of skipping it (OVT_REQUIRE_PG=1, as CI sets).
  static bool required();

  // The shared cluster of a test run, named by `file`: started (with the template database
  // prepared) or stopped and removed. Answer a process exit code; messages go to stderr.
  static int startShared(const std::string& file);
  static int stopShared(const std::string& file);

  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

 private:
  PgCluster() = default;
  bool start();
  bool join(const std::string& file);
  bool run(const std::string& program, const std::vector<std::string>& args);

  std::string bin_, dir_, conninfo_, why_, database_;
  bool started_ = false;  // this program started the server (and removes it)
};

}  // namespace ovt::test

// Skips the test (or fails it where a cluster is required) when there is no cluster.
#define OVT_NEED_PG()                                                                        \
  do {                                                                                       \
    if (::ovt::test::PgCluster::instance().connectionString().empty()) {                     \
      if (::ovt::test::PgCluster::required())                                                \
        FAIL() << "no PostgreSQL cluster: " << ::ovt::test::PgCluster::instance().why();     \
      GTEST_SKIP() << "no PostgreSQL cluster: " << ::ovt::test::PgCluster::instance().why(); \
    }                                                                                        \
  } while (0)
