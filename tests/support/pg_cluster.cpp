#include "support/pg_cluster.h"

#include <fcntl.h>
#include <cerrno>
#include <glob.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>

#include "dialect/dialect.h"
#include "ovtbldiff/runtime/error.h"
#include "pgsql/session.h"

namespace ovt::test {
namespace {

// The newest server programs Debian installed, unless OVT_PG_BIN names a folder.
std::string serverBin() {
  if (const char* b = std::getenv("OVT_PG_BIN"); b && *b) return b;
  glob_t g{};
  std::string found;
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0 && g.gl_pathc > 0)
    found = std::filesystem::path(g.gl_pathv[g.gl_pathc - 1]).parent_path().string();
  globfree(&g);
  return found;
}

// Whether the server of a cluster folder runs: its postmaster.pid names a live process.
bool serverRunning(const std::string& dir) {
  std::ifstream pidFile(dir + "/data/postmaster.pid");
  long pid = 0;
  if (!(pidFile >> pid) || pid <= 0) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// The database every test program's own database is copied from: the component's setup done.
constexpr const char* kTemplate = "ovt_template";

}  // namespace

bool PgCluster::required() {
  const char* r = std::getenv("OVT_REQUIRE_PG");
  return r && std::string(r) == "1";
}

PgCluster& PgCluster::instance() {
  static PgCluster cluster;
  static const bool ready = [] {
    const char* shared = std::getenv("OVT_PG_SHARED_CLUSTER");
    if (shared && *shared && cluster.join(shared)) return true;
    return cluster.start();
  }();
  (void)ready;
  return cluster;
}

// Runs a server program, as `nobody` when we are root (the server refuses to run as root),
// with its output going to the cluster's log.
bool PgCluster::run(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> all{bin_ + "/" + program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string log = dir_ + "/setup.log";
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (geteuid() == 0) {
      const passwd* pw = getpwnam("nobody");
      if (!pw || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0) _exit(126);
    }
    if (chdir(dir_.c_str()) != 0) _exit(126);
    int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool PgCluster::start() {
  bin_ = serverBin();
  if (bin_.empty() || access((bin_ + "/initdb").c_str(), X_OK) != 0) {
    why_ = "no PostgreSQL server programs (initdb) under " + (bin_.empty() ? "/usr/lib/postgresql/*/bin" : bin_);
    return false;
  }
  char tmpl[] = "/tmp/ovt-pg-XXXXXX";  // short: the socket path has a length limit
  if (!mkdtemp(tmpl)) {
    why_ = "cannot make a temporary folder";
    return false;
  }
  dir_ = tmpl;
  if (geteuid() == 0) {
    const passwd* pw = getpwnam("nobody");
    if (!pw || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      why_ = "cannot hand the cluster folder to user nobody";
      return false;
    }
  }
  if (!run("initdb", {"-D", dir_ + "/data", "-U", "ovt", "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"})) {
    why_ = "initdb failed, see " + dir_ + "/setup.log";
    return false;
  }
  const std::string options = "-k " + dir_ + " -c listen_addresses= -F -c fsync=off -c full_page_writes=off";
  if (!run("pg_ctl", {"-D", dir_ + "/data", "-o", options, "-l", dir_ + "/server.log", "-w", "-s", "start"})) {
    why_ = "the server did not start, see " + dir_ + "/server.log";
    return false;
  }
  started_ = true;
  conninfo_ = "host=" + dir_ + " user=ovt dbname=postgres";
  return true;
}

// Joins the run's shared cluster: a database of this program's own, copied from the template
// that start-up prepared. False when the file names no running server.
bool PgCluster::join(const std::string& file) {
  std::ifstream in(file);
  std::string dir;
  if (!std::getline(in, dir) || dir.empty() || !serverRunning(dir)) return false;
  const std::string host = "host=" + dir + " user=ovt dbname=";
  std::random_device random;
  const std::string name = "t" + std::to_string(getpid()) + "_" + std::to_string(random() % 1000000);
  try {
    db::pgsql::Session admin(host + "postgres");
    admin.execute("CREATE DATABASE " + name + " TEMPLATE " + kTemplate + " STRATEGY FILE_COPY");
  } catch (const ComError& e) {
    why_ = "cannot make a database in the shared cluster " + dir + ": " + e.description();
    return false;
  }
  dir_ = dir;
  database_ = name;
  conninfo_ = host + name;
  return true;
}

PgCluster::~PgCluster() {
  if (!database_.empty()) {
    try {
      db::pgsql::Session admin("host=" + dir_ + " user=ovt dbname=postgres");
      admin.execute("DROP DATABASE IF EXISTS " + database_ + " WITH (FORCE)");
    } catch (const ComError&) {
      // The database goes with the cluster at the end of the run.
    }
    return;
  }
  if (started_) run("pg_ctl", {"-D", dir_ + "/data", "-m", "immediate", "-w", "-s", "stop"});
  if (!dir_.empty() && (started_ || why_.empty())) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

int PgCluster::startShared(const std::string& file) {
  std::filesystem::remove(file);
  PgCluster c;
  if (!c.start()) {
    // The tests then try a cluster of their own, and skip or fail as OVT_REQUIRE_PG says.
    std::cerr << "no shared PostgreSQL cluster: " << c.why() << "\n";
    return 0;
  }
  try {
    {
      db::pgsql::Session admin(c.conninfo_);
      admin.execute(std::string("CREATE DATABASE ") + kTemplate);
    }
    db::pgsql::Session tmpl("host=" + c.dir_ + " user=ovt dbname=" + kTemplate);
    for (const std::string& statement : dialect::postgresSessionSetup()) tmpl.execute(statement);
  } catch (const ComError& e) {
    std::cerr << "the shared PostgreSQL cluster cannot be prepared: " << e.description() << "\n";
    return 1;
  }
  const std::string partial = file + ".part";
  {
    std::ofstream out(partial);
    out << c.dir_ << "\n";
    if (!out) {
      std::cerr << "cannot write " << partial << "\n";
      return 1;
    }
  }
  std::filesystem::rename(partial, file);
  c.started_ = false;  // it outlives this program; stopShared removes it
  c.dir_.clear();
  std::cout << "PostgreSQL test cluster started, named in " << file << "\n";
  return 0;
}

int PgCluster::stopShared(const std::string& file) {
  std::ifstream in(file);
  std::string dir;
  if (!std::getline(in, dir) || dir.empty()) return 0;
  in.close();
  PgCluster c;
  c.bin_ = serverBin();
  c.dir_ = dir;
  c.started_ = true;  // the destructor stops the server and removes the folder
  std::filesystem::remove(file);
  return 0;
}

}  // namespace ovt::test
