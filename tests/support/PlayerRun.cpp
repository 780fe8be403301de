#include "support/PlayerRun.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <cstdio>

#include "support/Paths.h"

namespace sn::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  const std::string made = MakeTempDir();
  if (!made.empty()) path = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path.empty()) fs::remove_all(path, ec);
}

EnvGuard::EnvGuard(std::string n) : name(std::move(n)) {
  const char* v = std::getenv(name.c_str());
  had = v != nullptr;
  if (had) old = v;
}

EnvGuard::~EnvGuard() {
  if (had) setenv(name.c_str(), old.c_str(), 1);
  else unsetenv(name.c_str());
}

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void Decode(int st, RunResult& r) {
  if (WIFEXITED(st)) r.status = WEXITSTATUS(st);
  if (WIFSIGNALED(st)) r.signal = WTERMSIG(st);
}

}  // namespace

RunResult RunPlay(const std::vector<std::string>& args) {
  std::string cmd = Quote(BinDir() + "/sonavel-play");
  for (const auto& a : args) cmd += " " + Quote(a);
  cmd += " 2>&1";
  RunResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0) r.output.append(buf, n);
  Decode(pclose(p), r);
  return r;
}

RunResult RunPlayOnPty(const std::vector<std::string>& args,
                       const std::function<std::string(const std::string&)>& watch, int limitSeconds) {
  RunResult r;
  const std::string program = BinDir() + "/sonavel-play";
  std::vector<std::string> argv_s = {program};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);

  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return r;
  if (pid == 0) {
    execv(program.c_str(), argv.data());
    _exit(127);
  }

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
  std::vector<std::string> typed;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      r.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{master, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char buf[4096];
    const ssize_t got = read(master, buf, sizeof buf);
    if (got <= 0) break;  // EIO: the program closed the terminal
    r.output.append(buf, static_cast<size_t>(got));
    if (watch) {
      const std::string keys = watch(r.output);
      if (!keys.empty() && std::find(typed.begin(), typed.end(), keys) == typed.end()) {
        typed.push_back(keys);
        (void)!write(master, keys.data(), keys.size());
      }
    }
  }
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
  }
  close(master);
  Decode(st, r);
  return r;
}

}  // namespace sn::test
