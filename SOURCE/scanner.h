// The run over the sources: line input from a stack of open sources, the character state
// machine, include recognition and expansion, the deck and its statement table. Ends by handing
// the tables to the side-file writer.
#pragma once

#include "records.h"

#include <cstdint>

namespace incprep {

/// Runs the whole scan of the primary source `streamSOURCE` (left open for the caller), writes
/// the deck to `streamSYSPUNCH` and, as its last step, the side file to `streamSYSXMLSD`.
/// `inputFileName` is not consulted: the primary's names come from `optParm->fileName`.
/// Reports write and read failures and run-ending failures in the result; closes every member.
[[nodiscard]] t_runResult incFSMPLI(std::FILE *streamSOURCE, std::FILE *streamSYSPUNCH,
                                    std::FILE *streamSYSXMLSD, const char *inputFileName,
                                    const t_optionsNode *optParm, int32 loglvl);

/// What the scanner reads at a position past the stored text of its line (where the carriage
/// return of a carriage return and newline stood): the line's end. Every byte of the text, NUL
/// and carriage return included, reads as itself.
inline constexpr int kPastLine = -1;

/// Reads the next line of `node`'s stream into `buffer1`: every byte up to and including the
/// newline, except a carriage return right before the newline. A read at the end of the stream
/// stores the end-of-file mark 0xFF and sets the stream's end-of-file indicator (and
/// `*eofMark`). Returns the bytes read, that carriage return and the end-of-file mark included;
/// 0 when the node has no stream.
[[nodiscard]] std::int64_t getCurrentSourceLine(std::string &buffer1, t_sourceInputNode &node,
                                                bool *eofMark, int32 loglvl);

/// The same line as getCurrentSourceLine reads (without its trace), set in `line`: a view of the
/// stream's read buffer when the line lies there whole and does not end in a carriage return and
/// newline, valid until the node's next read; otherwise assembled in `store`. Returns the same count.
[[nodiscard]] std::int64_t readSourceLine(t_sourceInputNode &node, std::string &store,
                                          std::string_view &line, bool *eofMark);

/// 1 for blank, tab, carriage return and newline; else 0.
[[nodiscard]] int32 white_space(int c);

/// 1 when `text` (a NUL-terminated string from the current character on) holds at least
/// `lookaheadcount` characters.
[[nodiscard]] int32 ok2lookAhead(const char *text, int32 lookaheadcount);

/// 1 when `buffer1` holds "/" at `currentindex` followed by "*".
[[nodiscard]] int32 embeddedComment(std::string_view buffer1, std::int64_t currentindex,
                                    int32 loglvl);

/// 1 for newline and for the position past the line's text (kPastLine); NUL is text.
[[nodiscard]] int32 endingChar(int c);

/// The state a new line starts in: identifiers and COBOL comment lines end at the line end, an
/// unfinished "-INC" member name ends too.
[[nodiscard]] int32 adjustCurrentState(int32 cs);

/// Case-sensitive comparison of `numofchars` characters of `buffer1` from `currentindex` with
/// the first `numofchars` of `buffer2`; traces the whole line, the keyword and the count.
[[nodiscard]] int32 matchIdent(std::string_view buffer1, const char *buffer2,
                               std::int64_t currentindex, int32 numofchars, int32 loglvl);

/// Case-insensitive match of keyword `expected` at the start of `actual`, which must end there
/// or continue with white space. Traces a match.
[[nodiscard]] int32 ic_matchIdent(std::string_view actual, const char *expected, int32 loglvl);

/// Removes one pair of enclosing apostrophes or quotation marks from `buffer` in place.
void trimQuotes(std::string &buffer);

/// 0-based offset of the first `srchkey` in `charsToSearch`, or -1.
[[nodiscard]] std::int64_t findStr(std::string_view srchkey, std::string_view charsToSearch);

/// Upper-cases a to z; every other byte is unchanged.
[[nodiscard]] std::string strUpper(std::string_view buf1);
[[nodiscard]] inline char upperOf(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace incprep
