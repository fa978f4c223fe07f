// Running incprep-map (or xmllint) from the tests: arguments, standard input from a string,
// standard output and standard error captured through files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace maptest {

struct t_toolResult {
  bool started = false; // false when the program could not be run at all
  int exitCode = -1;    // exit status when it ended through exit(), else -1
  std::string out;
  std::string err;
};

/// Runs `program` with `args`, feeding `input` on standard input. When `stdoutPath` is not empty
/// standard output goes to that file (for example /dev/full) and `out` stays empty. When
/// `workDir` is not empty the program runs there.
t_toolResult runTool(const std::string &program, const std::vector<std::string> &args,
                     const std::string &input = {}, const std::string &stdoutPath = {},
                     const std::string &workDir = {});

/// A fresh directory under the system's temporary directory, removed with its contents at the
/// end of its life.
class t_scratchDir {
public:
  t_scratchDir();
  ~t_scratchDir();
  t_scratchDir(const t_scratchDir &) = delete;
  t_scratchDir &operator=(const t_scratchDir &) = delete;
  [[nodiscard]] const std::filesystem::path &path() const { return path_; }
  /// Writes `content` to a file named `name` in the directory and returns its path.
  std::string write(const std::string &name, const std::string &content) const;

private:
  std::filesystem::path path_;
};

/// The whole content of a file ("" when it cannot be read).
std::string readWhole(const std::filesystem::path &file);

/// The full path of an executable found on PATH, or "".
std::string findProgram(const std::string &name);

} // namespace maptest
