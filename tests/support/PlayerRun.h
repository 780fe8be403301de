// Scratch directories, environment guards and runs of sonavel-play, for the
// tests of the player and its slave modules.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace sn::test {

// A fresh directory under the system's temporary directory, removed with the object.
struct TempDir {
  std::filesystem::path path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

// Restores an environment variable when the scope ends.
struct EnvGuard {
  std::string name;
  bool had;
  std::string old;
  explicit EnvGuard(std::string n);
  ~EnvGuard();
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;
};

struct RunResult {
  int status = -1;      // exit status, or -1 when the program did not exit
  int signal = 0;       // the signal that ended it, if one did
  bool timedOut = false;
  std::string output;   // standard output and error together
};

// Runs build/bin/sonavel-play with `args`, its output going to a pipe.
RunResult RunPlay(const std::vector<std::string>& args);

// Runs it on a pseudo-terminal (80 columns), so that it sees a terminal on
// standard output. `watch` is called with the output so far whenever more
// arrives; it may return bytes to type at the terminal (each time at most
// once: "\x03" is Ctrl-C). A run that outlives `limitSeconds` is killed.
RunResult RunPlayOnPty(const std::vector<std::string>& args,
                       const std::function<std::string(const std::string&)>& watch = {},
                       int limitSeconds = 120);

}  // namespace sn::test
