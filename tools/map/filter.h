// Rewriting compiler messages about the deck into messages about the sources.
//
// In a line of text, every occurrence of DECK:N: (DECK a spelling of the deck's name, N a deck
// line number in decimal) becomes FILE:LINE:, the input file and line that deck line came from.
// The deck is recognised as the side file records it and as a compiler prints it when given
// another path to the same file: with "./", as an absolute path, or with a directory in front.
// When the spelling and the deck both exist, they name the deck only when they are the same
// file; otherwise the names are compared after "./" and the working directory are taken off,
// one may carry directories the other lacks. The deck's name must not be glued to a preceding
// character that could belong to a longer file name (a letter, a digit, a byte above 127 or one
// of . _ - \ ~ + $ # @ %): "MYPROG.DEK:3:" is not an occurrence of PROG.DEK. A line number
// that the table does not describe, or whose row leads to no source line, leaves the occurrence
// as it is. Everything else is copied unchanged.
//
// A context line, such as cobc's "PROG.DEK: in paragraph 'MAIN':", names the deck without a
// line number; it takes the file of the message that follows it (see `contextName`).
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "deckmap.h"
#include "sidefile.h"

namespace incmap {

class t_lineRewriter {
public:
  /// Both must outlive the rewriter. `sideFilePath` is where the side file was read: a deck
  /// name relative to it is looked for there too.
  t_lineRewriter(const t_sideFile &side, const t_deckMap &map, std::string sideFilePath = {});

  /// Appends `line` to `out` with every occurrence rewritten. `firstFile`, when given, receives
  /// the source file of the first occurrence rewritten ("" for none).
  void rewrite(std::string_view line, std::string &out, std::string *firstFile = nullptr) const;

  /// True when `line` is a context line: a spelling of the deck's name at its start, followed by
  /// ": " and no line number. `nameLength` receives the length of that spelling.
  [[nodiscard]] bool contextName(std::string_view line, std::size_t &nameLength) const;

  /// True when `token` is a spelling of the deck's name.
  [[nodiscard]] bool namesDeck(std::string_view token) const;

private:
  const t_sideFile &side_;
  const t_deckMap &map_;
  std::string base_;                                // the deck name's last component
  std::vector<std::string> deckPaths_;              // where the deck may lie
  std::string cwd_;                                 // the working directory, with a final "/"
  mutable std::map<std::string, bool, std::less<>> known_; // spellings already judged
};

/// True for a byte that may be part of a file name, so that a deck name right after it is only
/// the tail of a longer name.
[[nodiscard]] bool continuesFileName(char c);

} // namespace incmap
