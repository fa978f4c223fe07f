#include "filter.h"

#include <cstdint>

namespace incmap {

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

void t_lineRewriter::rewrite(std::string_view line, std::string &out) const {
  const std::string_view deck = side_.deckName;
  if (deck.empty()) {
    out.append(line);
    return;
  }
  std::size_t copied = 0; // line[0, copied) is already in `out`
  std::size_t from = 0;   // where the next search starts
  for (;;) {
    const std::size_t hit = line.find(deck, from);
    if (hit == std::string_view::npos) break;
    from = hit + 1;
    if (hit > 0 && continuesFileName(line[hit - 1])) continue;

    // DECK ":" digits ":"
    std::size_t p = hit + deck.size();
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

    out.append(line.substr(copied, hit - copied));
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
