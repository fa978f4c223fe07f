// Helpers shared by the unit tests: capturing what a routine prints on standard output or
// standard error, reading back a stream the routine wrote, scratch directories and files, an
// environment variable restored after the test, and a bound to one processor.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sched.h>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace unit {

/// Everything `fp` holds, from its first byte (the stream is flushed first).
inline std::string readStream(std::FILE *fp) {
  std::fflush(fp);
  std::rewind(fp);
  std::string text;
  char chunk[4096];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, fp)) > 0)
    text.append(chunk, n);
  return text;
}

/// What `body` writes to descriptors 1 and 2, captured through temporary files so that
/// formatted prints, block writes and the system error report are all seen.
struct t_output {
  std::string out;
  std::string err;
};

template <typename F> t_output captureOutput(F &&body) {
  std::fflush(nullptr);
  std::FILE *outTmp = std::tmpfile();
  std::FILE *errTmp = std::tmpfile();
  const int savedOut = ::dup(1);
  const int savedErr = ::dup(2);
  ::dup2(::fileno(outTmp), 1);
  ::dup2(::fileno(errTmp), 2);
  std::forward<F>(body)();
  std::fflush(nullptr);
  ::dup2(savedOut, 1);
  ::dup2(savedErr, 2);
  ::close(savedOut);
  ::close(savedErr);
  t_output captured{readStream(outTmp), readStream(errTmp)};
  std::fclose(outTmp);
  std::fclose(errTmp);
  return captured;
}

/// Standard output of `body` alone.
template <typename F> std::string captureStdout(F &&body) {
  return captureOutput(std::forward<F>(body)).out;
}

/// A fresh directory under the system's temporary directory, removed with all it holds.
class t_scratchDir {
public:
  t_scratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "incprep_unit_XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
  }
  t_scratchDir(const t_scratchDir &) = delete;
  t_scratchDir &operator=(const t_scratchDir &) = delete;
  ~t_scratchDir() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  [[nodiscard]] const std::string &path() const { return root_; }
  /// Creates the directory `rel` (and its parents) inside the scratch directory; returns its path.
  std::string makeDir(const std::string &rel) const {
    const std::string p = root_ + "/" + rel;
    std::filesystem::create_directories(p);
    return p;
  }
  /// Writes `bytes` to the file `rel` inside the scratch directory; returns its path.
  std::string writeFile(const std::string &rel, std::string_view bytes) const {
    const std::string p = root_ + "/" + rel;
    std::FILE *fp = std::fopen(p.c_str(), "wb");
    if (fp != nullptr) {
      std::fwrite(bytes.data(), 1, bytes.size(), fp);
      std::fclose(fp);
    }
    return p;
  }

private:
  std::string root_;
};

/// Sets (or unsets) an environment variable for the life of the guard, then restores it.
class t_envGuard {
public:
  explicit t_envGuard(std::string name) : name_(std::move(name)) {
    if (const char *old = std::getenv(name_.c_str()); old != nullptr) old_ = old;
  }
  t_envGuard(const t_envGuard &) = delete;
  t_envGuard &operator=(const t_envGuard &) = delete;
  ~t_envGuard() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  void set(const std::string &value) const { ::setenv(name_.c_str(), value.c_str(), 1); }
  void unset() const { ::unsetenv(name_.c_str()); }

private:
  std::string name_;
  std::optional<std::string> old_;
};

/// Bounds the calling thread to one of its processors for the life of the guard, then gives it
/// back all of them.
class t_oneProcessor {
public:
  t_oneProcessor() {
    CPU_ZERO(&all_);
    if (sched_getaffinity(0, sizeof all_, &all_) != 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    for (std::size_t c = 0; c < static_cast<std::size_t>(CPU_SETSIZE); ++c) {
      if (CPU_ISSET(c, &all_)) {
        CPU_SET(c, &one);
        bound_ = sched_setaffinity(0, sizeof one, &one) == 0;
        break;
      }
    }
  }
  t_oneProcessor(const t_oneProcessor &) = delete;
  t_oneProcessor &operator=(const t_oneProcessor &) = delete;
  ~t_oneProcessor() {
    if (bound_) (void)sched_setaffinity(0, sizeof all_, &all_);
  }
  [[nodiscard]] bool bound() const { return bound_; }

private:
  cpu_set_t all_;
  bool bound_ = false;
};

/// The number of descriptors this process has open.
inline int openDescriptorCount() {
  int n = 0;
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++n;
  return n;
}

} // namespace unit
