#include "tool_runner.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace maptest {

namespace fs = std::filesystem;

t_scratchDir::t_scratchDir() {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/incprep-map-test-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

t_scratchDir::~t_scratchDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::string t_scratchDir::write(const std::string &name, const std::string &content) const {
  const fs::path file = path_ / name;
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  stream << content;
  return file.string();
}

std::string readWhole(const fs::path &file) {
  std::ifstream stream(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

t_toolResult runTool(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input, const std::string &stdoutPath,
                     const std::string &workDir) {
  t_toolResult result;
  const t_scratchDir io;
  if (io.path().empty()) return result;
  const std::string inFile = io.write("stdin", input);
  const std::string outFile = stdoutPath.empty() ? (io.path() / "stdout").string() : stdoutPath;
  const std::string errFile = (io.path() / "stderr").string();

  std::vector<std::string> argvTexts{program};
  argvTexts.insert(argvTexts.end(), args.begin(), args.end());
  std::vector<char *> argvPtrs;
  for (auto &text : argvTexts)
    argvPtrs.push_back(text.data());
  argvPtrs.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    const int in = open(inFile.c_str(), O_RDONLY);
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
      _exit(126);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
    execv(program.c_str(), argvPtrs.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  result.started =
      !(WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127));
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (stdoutPath.empty()) result.out = readWhole(outFile);
  result.err = readWhole(errFile);
  return result;
}

std::string findProgram(const std::string &name) {
  const char *path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::stringstream dirs(path);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

} // namespace maptest
