#include "support/pg_cluster.h"

#include <fcntl.h>
#include <glob.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

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

}  // namespace

bool PgCluster::required() {
  const char* r = std::getenv("OVT_REQUIRE_PG");
  return r && std::string(r) == "1";
}

PgCluster& PgCluster::instance() {
  static PgCluster cluster;
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

PgCluster::PgCluster() {
  bin_ = serverBin();
  if (bin_.empty() || access((bin_ + "/initdb").c_str(), X_OK) != 0) {
    why_ = "no PostgreSQL server programs (initdb) under " + (bin_.empty() ? "/usr/lib/postgresql/*/bin" : bin_);
    return;
  }
  char tmpl[] = "/tmp/ovt-pg-XXXXXX";  // short: the socket path has a length limit
  if (!mkdtemp(tmpl)) {
    why_ = "cannot make a temporary folder";
    return;
  }
  dir_ = tmpl;
  if (geteuid() == 0) {
    const passwd* pw = getpwnam("nobody");
    if (!pw || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      why_ = "cannot hand the cluster folder to user nobody";
      return;
    }
  }
  if (!run("initdb", {"-D", dir_ + "/data", "-U", "ovt", "-A", "trust", "-E", "UTF8", "--locale=C", "--no-sync"})) {
    why_ = "initdb failed, see " + dir_ + "/setup.log";
    return;
  }
  const std::string options = "-k " + dir_ + " -c listen_addresses= -F -c fsync=off -c full_page_writes=off";
  if (!run("pg_ctl", {"-D", dir_ + "/data", "-o", options, "-l", dir_ + "/server.log", "-w", "-s", "start"})) {
    why_ = "the server did not start, see " + dir_ + "/server.log";
    return;
  }
  started_ = true;
  conninfo_ = "host=" + dir_ + " user=ovt dbname=postgres";
}

PgCluster::~PgCluster() {
  if (started_) run("pg_ctl", {"-D", dir_ + "/data", "-m", "immediate", "-w", "-s", "stop"});
  if (!dir_.empty() && (started_ || why_.empty())) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

}  // namespace ovt::test
