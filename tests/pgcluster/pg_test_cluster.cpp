// The PostgreSQL cluster a test run shares: `pg_test_cluster start FILE` before the first test,
// `pg_test_cluster stop FILE` after the last (CTest runs them as the fixture of every test).
#include <iostream>
#include <string>

#include "support/pg_cluster.h"

int main(int argc, char** argv) {
  const std::string verb = argc == 3 ? argv[1] : "";
  if (verb == "start") return ovt::test::PgCluster::startShared(argv[2]);
  if (verb == "stop") return ovt::test::PgCluster::stopShared(argv[2]);
  std::cerr << "usage: pg_test_cluster start|stop FILE\n";
  return 2;
}
