// fork/exec with two output pipes drained through poll, so that a chatty child (a full trace)
// never blocks on a full pipe, and a deadline after which the child's process group is killed.
#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace e2e {

std::string t_runResult::statusText() const {
  if (!started) return "not started";
  if (timedOut) return "timeout";
  if (exited) return std::to_string(exitCode);
  return "signal " + std::to_string(signalNumber);
}

namespace {

// Builds NAME=VALUE strings: the current environment with `env` applied.
std::vector<std::string> childEnvironment(const t_envChanges &env) {
  std::vector<std::string> result;
  for (char **e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (env.find(name) == env.end()) result.push_back(entry);
  }
  for (const auto &[name, value] : env)
    if (value) result.push_back(name + "=" + *value);
  return result;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
  std::vector<char *> result;
  for (auto &t : texts)
    result.push_back(t.data());
  result.push_back(nullptr);
  return result;
}

void closeIfOpen(int &fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is available on `fd` into `sink`; closes the descriptor at end of file.
void drain(int &fd, std::string &sink) {
  char chunk[65536];
  const ssize_t n = read(fd, chunk, sizeof chunk);
  if (n > 0) {
    sink.append(chunk, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    closeIfOpen(fd);
  }
}

int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

void recordStatus(t_runResult &result, int status) {
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signalNumber = WTERMSIG(status);
  }
}

} // namespace

t_runResult runProgram(const std::string &program, const std::string &argv0,
                       const std::vector<std::string> &args, const std::string &workDir,
                       const t_envChanges &env, std::chrono::seconds timeout) {
  t_runResult result;
  std::vector<std::string> argvTexts{argv0};
  argvTexts.insert(argvTexts.end(), args.begin(), args.end());
  std::vector<std::string> envTexts = childEnvironment(env);
  std::vector<char *> argvPtrs = pointers(argvTexts);
  std::vector<char *> envPtrs = pointers(envTexts);

  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    result.failure = std::string("pipe: ") + std::strerror(errno);
    return result;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    result.failure = std::string("pipe: ") + std::strerror(errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }

  const pid_t pid = fork();
  if (pid < 0) {
    result.failure = std::string("fork: ") + std::strerror(errno);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
      close(fd);
    return result;
  }
  if (pid == 0) {
    // Child: only async-signal-safe calls from here to execve.
    setpgid(0, 0);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 || dup2(errPipe[1], 2) < 0 ||
        chdir(workDir.c_str()) != 0)
      _exit(126);
    execve(program.c_str(), argvPtrs.data(), envPtrs.data());
    static const char message[] = "e2e: execve failed\n";
    (void)!write(2, message, sizeof message - 1);
    _exit(127);
  }
  setpgid(pid, pid); // also here, so that a kill before the child ran its setpgid still works
  result.started = true;
  close(outPipe[1]);
  close(errPipe[1]);
  int outFd = outPipe[0];
  int errFd = errPipe[0];

  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    const int ready = poll(fds, 2, millisecondsLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      result.timedOut = true;
      break;
    }
    if (outFd >= 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
      drain(outFd, result.out);
    if (errFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0)
      drain(errFd, result.err);
  }

  // The pipes are closed (or time is up): wait for the child itself, still under the deadline.
  int status = 0;
  while (!result.timedOut) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      recordStatus(result, status);
      break;
    }
    if (millisecondsLeft(deadline) == 0) {
      result.timedOut = true;
      break;
    }
    usleep(2000);
  }
  if (result.timedOut) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  closeIfOpen(outFd);
  closeIfOpen(errFd);
  return result;
}

std::string findOnPath(const std::string &name) {
  const char *path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string dirs(path);
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      const std::string candidate = dir + "/" + name;
      struct stat st {};
      if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          access(candidate.c_str(), X_OK) == 0)
        return candidate;
    }
    start = end + 1;
  }
  return {};
}

} // namespace e2e
