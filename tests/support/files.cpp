// Temporary folders, tree copies and snapshots, and the readable byte-exact comparison used by
// the end-to-end runners.
#include "files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace e2e {

std::optional<std::string> readFile(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(content).str();
}

bool writeFile(const fs::path &file, std::string_view content) {
  std::error_code ec;
  if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return !out.fail();
}

t_tempDir::t_tempDir(const std::string &prefix) {
  const char *base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

t_tempDir::~t_tempDir() {
  const char *keepAll = std::getenv("E2E_KEEP");
  if (path_.empty() || keep_ || (keepAll != nullptr && std::string(keepAll) == "1")) return;
  // A case may have taken permissions away (chmod 000); give them back so that removal works.
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(path_, ec);
}

std::string copyTree(const fs::path &from, const fs::path &to) {
  std::error_code ec;
  fs::copy(from, to,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks |
               fs::copy_options::overwrite_existing,
           ec);
  if (ec) return "cannot copy " + from.string() + " to " + to.string() + ": " + ec.message();
  return {};
}

namespace {

// 64-bit FNV-1a: enough to notice that a file changed, without keeping its bytes.
std::uint64_t fnv1a(const fs::path &file, bool &readable, std::uintmax_t &size) {
  std::uint64_t hash = 14695981039346656037ULL;
  std::ifstream in(file, std::ios::binary);
  readable = static_cast<bool>(in);
  size = 0;
  char chunk[65536];
  while (in) {
    in.read(chunk, sizeof chunk);
    const std::streamsize n = in.gcount();
    for (std::streamsize i = 0; i < n; ++i) {
      hash ^= static_cast<unsigned char>(chunk[i]);
      hash *= 1099511628211ULL;
    }
    size += static_cast<std::uintmax_t>(n);
  }
  if (in.bad()) readable = false;
  return hash;
}

} // namespace

t_treeSnapshot snapshotTree(const fs::path &root) {
  t_treeSnapshot snapshot;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::file_status status = it->symlink_status(ec);
    if (fs::is_directory(status)) continue;
    t_treeEntry entry;
    if (fs::is_symlink(status)) {
      entry.kind = 'l';
      entry.linkTarget = fs::read_symlink(it->path(), ec).string();
    } else if (fs::is_regular_file(status)) {
      entry.kind = 'f';
      entry.hash = fnv1a(it->path(), entry.readable, entry.size);
    } else if (fs::is_fifo(status)) {
      entry.kind = 'p';
    } else {
      entry.kind = 'o';
    }
    snapshot[fs::relative(it->path(), root, ec).generic_string()] = entry;
  }
  return snapshot;
}

std::string kindName(const t_treeEntry &entry) {
  switch (entry.kind) {
  case 'f': return "file";
  case 'l': return "symlink";
  case 'p': return "FIFO";
  default: return "special file";
  }
}

std::vector<std::string_view> splitAtNewlines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  for (size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n', start)) {
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  lines.push_back(text.substr(start));
  return lines;
}

std::string escapeBytes(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
    case '\r': out += "\\r"; break;
    case '\t': out += "\\t"; break;
    case '\0': out += "\\0"; break;
    case '\\': out += "\\\\"; break;
    default:
      if (u < 0x20 || u > 0x7E) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", u);
        out += hex;
      } else {
        out += c;
      }
    }
  }
  return out;
}

namespace {

constexpr size_t contextLines = 3;
constexpr size_t shownWidth = 160;

// One line for display: escaped, and cut to a window around `column` when it is long.
std::string showLine(std::string_view line, size_t column) {
  if (line.size() <= shownWidth) return escapeBytes(line);
  const size_t from = column > shownWidth / 2 ? std::min(column - shownWidth / 2, line.size()) : 0;
  const size_t to = std::min(from + shownWidth, line.size());
  return (from > 0 ? "..." : "") + escapeBytes(line.substr(from, to - from)) +
         (to < line.size() ? "..." : "") + " [" + std::to_string(line.size()) + " bytes]";
}

void showContext(std::ostringstream &out, std::string_view label, std::string_view text,
                 size_t diffLine, size_t column) {
  const std::vector<std::string_view> lines = splitAtNewlines(text);
  // The element after the last newline is a line only when it holds something.
  const size_t lineCount = lines.back().empty() ? lines.size() - 1 : lines.size();
  const size_t first = diffLine > contextLines ? diffLine - contextLines : 1;
  const size_t last = diffLine + contextLines;
  out << "--- " << label << " (" << lineCount << " lines, " << text.size() << " bytes):\n";
  for (size_t n = first; n <= last; ++n) {
    const char *marker = n == diffLine ? ">" : " ";
    if (n > lineCount) {
      out << marker << std::string(6, ' ') << "| <end of text>\n";
      break;
    }
    out << marker << std::string(6 - std::min<size_t>(6, std::to_string(n).size()), ' ') << n
        << "| " << showLine(lines[n - 1], n == diffLine ? column : 0);
    if (n == lineCount && !lines.back().empty()) out << "   <no newline at end>";
    out << "\n";
  }
}

} // namespace

std::string describeDifference(std::string_view what, std::string_view expected,
                               std::string_view actual) {
  if (expected == actual) return {};
  const size_t common = std::min(expected.size(), actual.size());
  size_t offset = 0;
  while (offset < common && expected[offset] == actual[offset])
    ++offset;
  const size_t lineStart = expected.substr(0, offset).rfind('\n');
  const size_t column = lineStart == std::string_view::npos ? offset : offset - lineStart - 1;
  const auto diffLine =
      static_cast<size_t>(std::count(
          expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(offset), '\n')) +
      1;

  std::ostringstream out;
  out << what << " differs: expected " << expected.size() << " bytes, actual " << actual.size()
      << " bytes; first difference at line " << diffLine << ", column " << column + 1
      << " (byte offset " << offset << ")";
  if (offset == common)
    out << "; " << (expected.size() < actual.size() ? "actual" : "expected")
        << " has extra bytes at the end";
  out << "\n";
  showContext(out, "expected", expected, diffLine, column);
  showContext(out, "actual", actual, diffLine, column);
  return out.str();
}

} // namespace e2e
