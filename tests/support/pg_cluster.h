// A throwaway PostgreSQL cluster for the tests: initdb and pg_ctl in a temporary folder, the
// server listening only on a Unix socket there, run as an unprivileged user when the tests run
// as root, stopped and removed when the test program ends.
#pragma once

#include <string>
#include <vector>

namespace ovt::test {

class PgCluster {
 public:
  // The program's cluster, started on first use. When the server programs are missing or the
  // cluster does not start, connectionString() is empty and why() says what went wrong.
  static PgCluster& instance();

  const std::string& connectionString() const { return conninfo_; }
  const std::string& why() const { return why_; }
  // Whether a missing cluster fails the test instead of skipping it (OVT_REQUIRE_PG=1, as CI sets).
  static bool required();

  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

 private:
  PgCluster();
  bool run(const std::string& program, const std::vector<std::string>& args);

  std::string bin_, dir_, conninfo_, why_;
  bool started_ = false;
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
