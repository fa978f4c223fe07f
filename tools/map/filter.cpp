#include "filter.h"

#include <climits>
#include <cstdint>
#include <sys/stat.h>
#include <unistd.h>

namespace incmap {
namespace {

bool fileIdentity(const std::string &path, dev_t &dev, ino_t &ino) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  dev = st.st_dev;
  ino = st.st_ino;
  return true;
}

// `path` without leading "./", inner "/./" and, for an absolute path under `cwd`, that prefix.
std::string normalised(std::string path, const std::string &cwd) {
  if (!cwd.empty() && path.size() > cwd.size() && path.compare(0, cwd.size(), cwd) == 0)
    path.erase(0, cwd.size());
  for (std::size_t at; (at = path.find("/./")) != std::string::npos;)
    path.erase(at, 2);
  while (path.size() > 2 && path.compare(0, 2, "./") == 0)
    path.erase(0, 2);
  return path;
}

// True when `longer` is `shorter` with directories in front.
bool endsWithComponents(const std::string &longer, const std::string &shorter) {
  return longer.size() > shorter.size() && shorter.front() != '/' &&
         longer.compare(longer.size() - shorter.size(), shorter.size(), shorter) == 0 &&
         longer[longer.size() - shorter.size() - 1] == '/';
}

} // namespace

bool continuesFileName(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x80) return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
  case '.':
  case '_':
  case '-':
  case '/':
  case '\\':
  case '~':
  case '+':
  case '$':
  case '#':
  case '@':
  case '%': return true;
  default: return false;
  }
}

t_lineRewriter::t_lineRewriter(const t_sideFile &side, const t_deckMap &map,
                               std::string sideFilePath)
    : side_(side), map_(map) {
  const std::string &deck = side_.deckName;
  const std::size_t slash = deck.rfind('/');
  base_ = slash == std::string::npos ? deck : deck.substr(slash + 1);
  if (base_.empty()) base_ = deck;
  deckPaths_.push_back(deck);
  const std::size_t sideSlash = sideFilePath.rfind('/');
  if (!deck.empty() && deck.front() != '/' && sideSlash != std::string::npos)
    deckPaths_.push_back(sideFilePath.substr(0, sideSlash + 1) + deck);
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) != nullptr) {
    cwd_ = buffer;
    if (cwd_.back() != '/') cwd_ += '/';
  }
}

bool t_lineRewriter::namesDeck(std::string_view token) const {
  const std::string &deck = side_.deckName;
  if (token.empty() || deck.empty()) return false;
  if (token == deck) return true;
  const auto seen = known_.find(token);
  if (seen != known_.end()) return seen->second;
  const std::string name(token);
  bool verdict = false;
  dev_t dev = 0;
  ino_t ino = 0;
  bool deckExists = false;
  if (fileIdentity(name, dev, ino)) {
    for (const std::string &path : deckPaths_) {
      dev_t d = 0;
      ino_t i = 0;
      if (!fileIdentity(path, d, i)) continue;
      deckExists = true;
      if (d == dev && i == ino) verdict = true;
    }
  }
  if (!deckExists) {
    // Nothing on disk to tell: the spellings are compared.
    const std::string a = normalised(name, cwd_);
    const std::string b = normalised(deck, cwd_);
    verdict = a == b || endsWithComponents(a, b) || endsWithComponents(b, a);
  }
  known_.emplace(name, verdict);
  return verdict;
}

bool t_lineRewriter::contextName(std::string_view line, std::size_t &nameLength) const {
  const std::size_t colon = line.find(": ");
  if (colon == std::string_view::npos || colon < base_.size()) return false;
  const std::string_view token = line.substr(0, colon);
  if (token.substr(token.size() - base_.size()) != base_) return false;
  if (!namesDeck(token)) return false;
  nameLength = colon;
  return true;
}

void t_lineRewriter::rewrite(std::string_view line, std::string &out,
                             std::string *firstFile) const {
  if (firstFile != nullptr) firstFile->clear();
  const std::string_view base = base_;
  if (base.empty()) {
    out.append(line);
    return;
  }
  std::size_t copied = 0; // line[0, copied) is already in `out`
  std::size_t from = 0;   // where the next search starts
  for (;;) {
    const std::size_t hit = line.find(base, from);
    if (hit == std::string_view::npos) break;
    from = hit + 1;
    // The spelling of the deck: the name with whatever path stands before it.
    std::size_t start = hit;
    if (hit > 0 && continuesFileName(line[hit - 1])) {
      if (line[hit - 1] != '/') continue;
      while (start > copied && continuesFileName(line[start - 1]))
        --start;
    }
    if (!namesDeck(line.substr(start, hit + base.size() - start))) continue;

    // DECK ":" digits ":"
    std::size_t p = hit + base.size();
    if (p >= line.size() || line[p] != ':') continue;
    ++p;
    const std::size_t digitsStart = p;
    std::uint64_t number = 0;
    bool tooBig = false;
    while (p < line.size() && line[p] >= '0' && line[p] <= '9') {
      if (!tooBig) number = number * 10 + static_cast<unsigned>(line[p] - '0');
      if (number > UINT32_MAX) tooBig = true;
      ++p;
    }
    if (p == digitsStart || tooBig || p >= line.size() || line[p] != ':') continue;

    const t_mapResult where = map_.map(number);
    if (where.status != t_mapStatus::found) continue;
    const std::string *name = side_.fileName(where.file);
    if (name == nullptr) continue;

    if (firstFile != nullptr && firstFile->empty()) *firstFile = *name;
    out.append(line.substr(copied, start - copied));
    out.append(*name);
    out.push_back(':');
    out.append(std::to_string(where.line));
    out.push_back(':');
    copied = p + 1;
    from = copied;
  }
  out.append(line.substr(copied));
}

} // namespace incmap
