// Rewriting compiler messages about the deck into messages about the sources.
//
// In a line of text, every occurrence of DECK:N: (DECK being the deck's name exactly as the side
// file records it, N a deck line number in decimal) becomes FILE:LINE:, the input file and line
// that deck line came from. An occurrence counts only when the deck name is not glued to a
// preceding character that could belong to a longer file name (a letter, a digit, a byte above
// 127 or one of . _ - / \ ~ + $ # @ %): "MYPROG.DEK:3:" and "dir/PROG.DEK:3:" are not
// occurrences of PROG.DEK. A line number that the table does not describe, or whose row leads to
// no source line, leaves the occurrence as it is. Everything else is copied unchanged.
#pragma once

#include <string>
#include <string_view>

#include "deckmap.h"
#include "sidefile.h"

namespace incmap {

class t_lineRewriter {
public:
  /// Both must outlive the rewriter.
  t_lineRewriter(const t_sideFile &side, const t_deckMap &map) : side_(side), map_(map) {}

  /// Appends `line` to `out` with every occurrence rewritten.
  void rewrite(std::string_view line, std::string &out) const;

private:
  const t_sideFile &side_;
  const t_deckMap &map_;
};

/// True for a byte that may be part of a file name, so that a deck name right after it is only
/// the tail of a longer name.
[[nodiscard]] bool continuesFileName(char c);

} // namespace incmap
