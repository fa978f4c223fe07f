// File helpers for the end-to-end tests: temporary work directories, tree copies and snapshots,
// and a byte-exact comparison that explains its first difference in readable form. What a case
// expects is decided by the runners, not here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

/// The whole content of a file, byte for byte; nullopt when it cannot be opened or read.
[[nodiscard]] std::optional<std::string> readFile(const fs::path &file);

/// Writes `content` to `file`, replacing it and creating missing parent folders; false on failure.
[[nodiscard]] bool writeFile(const fs::path &file, std::string_view content);

/// A fresh directory made by mkdtemp under $TMPDIR (or /tmp); removed with everything in it when
/// the object dies, unless keep() was called or E2E_KEEP=1 is set in the environment.
class t_tempDir {
public:
  explicit t_tempDir(const std::string &prefix);
  ~t_tempDir();
  t_tempDir(const t_tempDir &) = delete;
  t_tempDir &operator=(const t_tempDir &) = delete;
  [[nodiscard]] const fs::path &path() const { return path_; }
  [[nodiscard]] bool ok() const { return !path_.empty(); }
  void keep() { keep_ = true; }

private:
  fs::path path_;
  bool keep_ = false;
};

/// Copies the tree under `from` into the existing folder `to`: folders, regular files (with their
/// permission bits) and symbolic links (as links). Returns "" or a description of the failure.
[[nodiscard]] std::string copyTree(const fs::path &from, const fs::path &to);

/// One entry of a tree snapshot. Folders are not entries; their contents are.
struct t_treeEntry {
  char kind = 'f';         // 'f' regular file, 'l' symbolic link, 'p' FIFO, 'o' anything else
  bool readable = true;    // false for a regular file that could not be read
  std::uintmax_t size = 0; // regular file: its size
  std::uint64_t hash = 0;  // regular file: FNV-1a of its bytes
  std::string linkTarget;  // symbolic link: where it points (never followed)

  friend bool operator==(const t_treeEntry &, const t_treeEntry &) = default;
};

/// Relative path with "/" separators -> entry.
using t_treeSnapshot = std::map<std::string, t_treeEntry>;

/// Every non-folder entry under `root`, without following symbolic links and without opening
/// FIFOs or devices.
[[nodiscard]] t_treeSnapshot snapshotTree(const fs::path &root);

/// A short word for an entry's kind: "file", "symlink", "FIFO", "special file".
[[nodiscard]] std::string kindName(const t_treeEntry &entry);

/// Splits at each "\n"; the text after the last "\n" is the last element (empty when the text
/// ends with "\n"), so the result always has (number of "\n") + 1 elements.
[[nodiscard]] std::vector<std::string_view> splitAtNewlines(std::string_view text);

/// The bytes of `text` with control bytes, backslash and bytes above 0x7E written as escapes
/// (\r, \t, \0, \\, \xNN), so that every difference is visible.
[[nodiscard]] std::string escapeBytes(std::string_view text);

/// "" when the two texts are equal byte for byte. Otherwise a readable account: both lengths,
/// the first differing line and column, a few lines of context from each side with control bytes
/// escaped, and whether each side ends with a newline.
[[nodiscard]] std::string describeDifference(std::string_view what, std::string_view expected,
                                             std::string_view actual);

} // namespace e2e
