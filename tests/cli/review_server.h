// `ovtbldiff review` started from a test: the address of its first line (port and token), plain
// HTTP requests to it, and the server stopped when the test ends.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

namespace ovt::test {

struct HttpAnswer {
  std::string status;  // "HTTP/1.1 200 OK", or why there is none
  std::string body;
};

// One request to 127.0.0.1:port; a body is sent as JSON.
inline HttpAnswer httpRequest(int port, const std::string& method, const std::string& target,
                              const std::string& body = "") {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return {"no connection", ""};
  }
  std::string req = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!body.empty())
    req += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  req += "\r\n" + body;
  if (write(s, req.data(), req.size()) < 0) {
    close(s);
    return {"write failed", ""};
  }
  std::string resp;
  char buf[4096];
  ssize_t n;
  while ((n = read(s, buf, sizeof buf)) > 0) resp.append(buf, static_cast<size_t>(n));
  close(s);
  const size_t head = resp.find("\r\n\r\n");
  return {resp.substr(0, resp.find("\r\n")), head == std::string::npos ? "" : resp.substr(head + 4)};
}

// A review server run in `dir` with `args` after "review"; stopped when destroyed.
class ReviewServer {
 public:
  // Starts the server and reads its first line; "" when it started, else what went wrong.
  std::string start(const std::string& dir, const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return "pipe";
    pid_ = fork();
    if (pid_ < 0) return "fork";
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv = {const_cast<char*>("ovtbldiff"), const_cast<char*>("review")};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(OVT_BINARY_DIR "/ovtbldiff", argv.data());
      _exit(127);
    }
    close(out[1]);
    out_ = fdopen(out[0], "r");
    char line[512] = {0};
    if (!fgets(line, sizeof line, out_)) return "the review printed nothing";
    url = line;
    url.erase(url.find_last_not_of("\r\n") + 1);
    std::smatch m;
    if (!std::regex_match(url, m, std::regex(R"(http://127\.0\.0\.1:(\d+)/\?token=([0-9a-f]{32}))")))
      return "unexpected first line: " + url;
    port = std::stoi(m[1]);
    token = m[2];
    return "";
  }
  ~ReviewServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_) fclose(out_);
  }

  // A request to an /api path with the token.
  HttpAnswer api(const std::string& path, const std::string& body = "") const {
    return httpRequest(port, body.empty() ? "GET" : "POST", path + "?token=" + token, body);
  }

  std::string url, token;
  int port = 0;

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

}  // namespace ovt::test
