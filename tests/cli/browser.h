// A headless chromium driven through its DevTools protocol over a pipe (--remote-debugging-pipe:
// commands on the browser's fd 3, answers on its fd 4, each message ending with a NUL byte),
// for tests that click and type on a page the way a person does.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace ovt::test {

// The chromium on the PATH ("" when there is none).
inline std::string chromium() {
  for (const char* b : {"chromium", "chromium-browser"})
    if (std::system((std::string("command -v ") + b + " >/dev/null 2>&1").c_str()) == 0) return b;
  return "";
}

// Runs headless `browser` on the page file `page` (a fresh profile in `profile`) and writes the
// DOM its scripts leave into `dom`; true when the browser ran.
inline bool dumpDom(const std::string& browser, const std::string& page, const std::string& profile,
                    const std::string& dom) {
  const std::string cmd = browser + " --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run "
                          "--user-data-dir='" + profile + "' --dump-dom 'file://" + page + "' > '" + dom +
                          "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

class Browser {
 public:
  using Json = nlohmann::json;

  // Starts chromium on a fresh profile in `profileDir`; throws when it cannot be started.
  explicit Browser(const std::string& profileDir) {
    int toBrowser[2], fromBrowser[2];
    if (pipe(toBrowser) != 0 || pipe(fromBrowser) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
      // fds 3 and 4 of the browser: its commands and its answers.
      int in = dup(toBrowser[0]), out = dup(fromBrowser[1]);
      dup2(in, 3);
      dup2(out, 4);
      int devnull = ::open("/dev/null", O_RDWR);
      dup2(devnull, 1);
      dup2(devnull, 2);
      for (int fd = 5; fd < 1024; ++fd) close(fd);
      const std::string profile = "--user-data-dir=" + profileDir;
      execlp("chromium", "chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--remote-debugging-pipe", profile.c_str(), "about:blank", nullptr);
      _exit(127);
    }
    close(toBrowser[0]);
    close(fromBrowser[1]);
    out_ = toBrowser[1];
    in_ = fromBrowser[0];
  }

  ~Browser() {
    try {
      call("Browser.close");
    } catch (const std::exception&) {
    }
    close(out_);
    close(in_);
    for (int i = 0; i < 50; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

  // Sends a command (to the page's session when one is open) and returns its result.
  Json call(const std::string& method, Json params = Json::object(), bool onPage = false) {
    Json msg = {{"id", ++id_}, {"method", method}, {"params", std::move(params)}};
    if (onPage) msg["sessionId"] = session_;
    const std::string text = msg.dump() + std::string(1, '\0');
    if (write(out_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      throw std::runtime_error("cannot write to the browser");
    for (;;) {
      Json answer = read(20000);
      if (answer.contains("id") && answer["id"] == id_) {
        if (answer.contains("error")) throw std::runtime_error(method + ": " + answer["error"].dump());
        return answer["result"];
      }
    }
  }

  // Opens `url` in a new page and attaches to it.
  void open(const std::string& url) {
    Json t = call("Target.createTarget", {{"url", url}});
    Json s = call("Target.attachToTarget", {{"targetId", t["targetId"]}, {"flatten", true}});
    session_ = s["sessionId"];
  }

  // The value of a script expression on the page (awaiting a promise).
  Json eval(const std::string& expression) {
    Json r = call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}}, true);
    if (r.contains("exceptionDetails")) throw std::runtime_error("script failed: " + r["exceptionDetails"].dump());
    return r["result"].contains("value") ? r["result"]["value"] : Json();
  }

  // Waits until the expression is true (a script error, as while the page is still loading,
  // counts as not yet); false after `ms` milliseconds.
  bool waitFor(const std::string& expression, int ms = 15000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      Json v = eval("(() => { try { return !!(" + expression + "); } catch (e) { return false; } })()");
      if (v.is_boolean() && v.get<bool>()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // A mouse click in the middle of the element the selector finds.
  void click(const std::string& selector) {
    Json box = eval("(() => { const e = document.querySelector(" + Json(selector).dump() +
                    "); if (!e) return null; e.scrollIntoView({block: 'center'}); const r = e.getBoundingClientRect();"
                    " return {x: r.x + r.width / 2, y: r.y + r.height / 2}; })()");
    if (box.is_null()) throw std::runtime_error("nothing to click at " + selector);
    for (const char* type : {"mousePressed", "mouseReleased"})
      call("Input.dispatchMouseEvent",
           {{"type", type}, {"x", box["x"]}, {"y", box["y"]}, {"button", "left"}, {"clickCount", 1}}, true);
  }

  // A key pressed and released: a character ("1", "n") or "Enter".
  void key(const std::string& k) {
    Json down = {{"type", "keyDown"}, {"key", k}};
    if (k == "Enter") {
      down["code"] = "Enter";
      down["windowsVirtualKeyCode"] = 13;
      down["text"] = "\r";
    } else {
      down["text"] = k;
      down["windowsVirtualKeyCode"] = static_cast<int>(std::toupper(static_cast<unsigned char>(k[0])));
    }
    call("Input.dispatchKeyEvent", down, true);
    Json up = down;
    up["type"] = "keyUp";
    up.erase("text");
    call("Input.dispatchKeyEvent", up, true);
  }

  // Text typed into the focused element.
  void type(const std::string& text) { call("Input.insertText", {{"text", text}}, true); }

 private:
  Json read(int ms) {
    for (;;) {
      size_t nul = buffer_.find('\0');
      if (nul != std::string::npos) {
        std::string one = buffer_.substr(0, nul);
        buffer_.erase(0, nul + 1);
        return Json::parse(one);
      }
      pollfd p{in_, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) throw std::runtime_error("the browser did not answer");
      char buf[65536];
      ssize_t n = ::read(in_, buf, sizeof buf);
      if (n <= 0) throw std::runtime_error("the browser closed its pipe");
      buffer_.append(buf, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int out_ = -1, in_ = -1;
  int id_ = 0;
  std::string session_, buffer_;
};

}  // namespace ovt::test
