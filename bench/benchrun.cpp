// incprep_benchrun: runs one command several times and reports its wall-clock time (best and
// median), its processor time (user + system, best) and its peak resident memory, as the
// operating system accounts them for the child. Processor time is the steadier figure on a
// machine that other work shares.
// bench/run.sh uses it for incprep, cobc -E and cat alike, so all three are timed the same way.
//
//   incprep_benchrun [-n RUNS] [-o STDOUT_FILE] [-e STDERR_FILE] [-r FILE]... -- COMMAND [ARG...]
// Each -r FILE is removed before every run, outside the timed span, so that every run writes
// its outputs afresh as in a clean build rather than first freeing the previous run's.
//
// Prints one line on standard output:
//   runs=N best_s=S median_s=S best_cpu_s=S median_cpu_s=S user_s=S sys_s=S maxrss_kib=K status=C
// where median_cpu_s is the median of the runs' processor times (user + system), user_s and
// sys_s split the processor time of the run with the best best_cpu_s,
// and status is the first non-zero exit status met (or 0); the exit code is 0 only when every
// run ended normally with status 0.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: incprep_benchrun [-n RUNS] [-o STDOUT_FILE] [-e STDERR_FILE] "
                       "[-r FILE]... -- "
                       "COMMAND [ARG...]\n");
  std::exit(2);
}

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double toSeconds(const timeval &tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

/// Redirects descriptor fd of the child to path (created or truncated); "" leaves it alone.
void redirect(const std::string &path, int fd) {
  if (path.empty()) return;
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || dup2(out, fd) < 0) {
    std::fprintf(stderr, "incprep_benchrun: cannot open %s: %s\n", path.c_str(),
                 std::strerror(errno));
    _exit(127);
  }
  close(out);
}

struct RunResult {
  double seconds = 0.0;
  double userSeconds = 0.0;
  double sysSeconds = 0.0;
  long maxrssKib = 0;
  int status = 0; // exit status, or 128 + signal number
};

RunResult runOnce(char **argv, const std::string &outPath, const std::string &errPath) {
  RunResult r;
  const double start = now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("incprep_benchrun: fork");
    std::exit(2);
  }
  if (pid == 0) {
    redirect(outPath, STDOUT_FILENO);
    redirect(errPath, STDERR_FILENO);
    execvp(argv[0], argv);
    std::fprintf(stderr, "incprep_benchrun: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int wstatus = 0;
  rusage usage{};
  while (wait4(pid, &wstatus, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("incprep_benchrun: wait4");
      std::exit(2);
    }
  }
  r.seconds = now() - start;
  r.userSeconds = toSeconds(usage.ru_utime);
  r.sysSeconds = toSeconds(usage.ru_stime);
  r.maxrssKib = usage.ru_maxrss; // kibibytes on Linux
  if (WIFEXITED(wstatus))
    r.status = WEXITSTATUS(wstatus);
  else if (WIFSIGNALED(wstatus))
    r.status = 128 + WTERMSIG(wstatus);
  return r;
}

/// The median of values (not empty); sorts them.
double median(std::vector<double> &values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

} // namespace

int main(int argc, char **argv) {
  int runs = 1;
  std::string outPath;
  std::string errPath;
  std::vector<std::string> removeBefore;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) usage();
    if (a == "-n")
      runs = std::atoi(argv[++i]);
    else if (a == "-o")
      outPath = argv[++i];
    else if (a == "-e")
      errPath = argv[++i];
    else if (a == "-r")
      removeBefore.emplace_back(argv[++i]);
    else
      usage();
  }
  if (i >= argc || runs < 1) usage();

  std::vector<double> times;
  std::vector<double> cpuTimes;
  RunResult bestCpu;
  long maxrss = 0;
  int status = 0;
  for (int n = 0; n < runs; ++n) {
    for (const std::string &path : removeBefore)
      if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        std::fprintf(stderr, "incprep_benchrun: cannot remove %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return 2;
      }
    const RunResult r = runOnce(argv + i, outPath, errPath);
    times.push_back(r.seconds);
    cpuTimes.push_back(r.userSeconds + r.sysSeconds);
    if (n == 0 || r.userSeconds + r.sysSeconds < bestCpu.userSeconds + bestCpu.sysSeconds)
      bestCpu = r;
    maxrss = std::max(maxrss, r.maxrssKib);
    if (status == 0) status = r.status;
  }
  std::sort(times.begin(), times.end());
  std::printf("runs=%d best_s=%.6f median_s=%.6f best_cpu_s=%.6f median_cpu_s=%.6f user_s=%.6f "
              "sys_s=%.6f maxrss_kib=%ld status=%d\n",
              runs, times.front(), median(times), bestCpu.userSeconds + bestCpu.sysSeconds,
              median(cpuTimes), bestCpu.userSeconds, bestCpu.sysSeconds, maxrss, status);
  return status == 0 ? 0 : 1;
}
