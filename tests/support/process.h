// Spawning a program for the end-to-end tests: fixed argv[0], chosen working directory and
// environment, no stdin, captured stdout and stderr, and a hard timeout. Comparing what the
// program produced is left to the callers.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

/// How one child process ended and what it wrote.
struct t_runResult {
  bool started = false;  // false when the program could not be started at all
  bool timedOut = false; // true when the timeout killed it (its process group got SIGKILL)
  bool exited = false;   // true when it ended through exit(); exitCode is then valid
  int exitCode = -1;     // exit status, 0 to 255
  int signalNumber = 0;  // the signal that ended it when !exited
  std::string out;       // everything written to stdout
  std::string err;       // everything written to stderr
  std::string failure;   // why it could not be started, when !started

  /// "0", "16", "signal 11", "timeout", ... : the status as one stable word for messages and
  /// for the expected.rc file.
  [[nodiscard]] std::string statusText() const;
};

/// Environment changes for a child: a name mapped to a value sets it, to nullopt removes it.
using t_envChanges = std::map<std::string, std::optional<std::string>>;

/// Runs `program` with argv[0] = `argv0` and the given arguments, in `workDir`, with the current
/// environment changed by `env`, stdin from /dev/null. The child leads its own process group;
/// after `timeout` the whole group is killed. Never throws; `started` tells whether it ran.
[[nodiscard]] t_runResult runProgram(const std::string &program, const std::string &argv0,
                                     const std::vector<std::string> &args,
                                     const std::string &workDir, const t_envChanges &env,
                                     std::chrono::seconds timeout);

/// The full path of `name` found on PATH as an executable, or an empty string.
[[nodiscard]] std::string findOnPath(const std::string &name);

} // namespace e2e
