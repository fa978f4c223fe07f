// The COBOL COPY statement below the scanner: reading a whole statement over fixed-form lines
// (text-name, library-name, SUPPRESS, REPLACING), and applying its REPLACING phrase to a member's
// lines, laid out again as fixed-form deck lines. Finding the statement in the source, the library
// search and the deck itself are the scanner's.
#pragma once

#include "records.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace incprep {

/// One COBOL text-word of a REPLACING operand, as written.
struct t_textWord {
  std::string text;     // the word's bytes; a literal with its quotes, a continued one joined
  bool literal = false; // a nonnumeric literal: compared byte for byte
  bool glued = false;   // written right after the previous word, with no separator between
};

/// How a REPLACING pair matches.
enum class t_replaceMode : std::uint8_t {
  whole,   // operand-1's text-words, in order
  leading, // the start of one text-word
  trailing // the end of one text-word
};

/// One "operand-1 BY operand-2" of a REPLACING phrase.
struct t_replacingPair {
  t_replaceMode mode = t_replaceMode::whole;
  std::vector<t_textWord> from; // never empty; exactly one word for leading and trailing
  std::vector<t_textWord> by;   // may be empty
};

/// A parsed COPY statement.
struct t_copyStatement {
  std::string name;            // text-name, quotes of a literal removed
  std::string library;         // library-name, "" when none; quotes of a literal removed
  bool libraryLiteral = false; // the library was written as a literal: one directory
  bool suppress = false;
  bool hasReplacing = false;
  std::size_t endLine = 0;  // 0-based index of the fed line where the statement ends
  std::size_t endIndex = 0; // index just after its last character in that line (after the
                            // period, or after the name / last operand when no period follows)
  std::vector<t_replacingPair> pairs; // the REPLACING pairs in written order
};

enum class t_stmtStatus { needMore, complete, bad };

/// One lexical unit of fixed-form text (columns 8 to 72), as the statement parser and the replacer
/// see it. Positions are indexes into the line the token begins on.
struct t_sourceToken {
  enum t_kind : std::uint8_t { word, literal, period, pseudo };
  std::uint32_t begin = 0;   // index of the first byte in its line
  std::uint32_t end = 0;     // index just past the last byte, in the line where it ends
  std::uint32_t endLine = 0; // lines after its own where it ends (a continued literal)
  t_kind kind = word;
  bool glued = false;          // follows the previous token of its line with no separator
  bool open = false;           // a literal not closed by the end of the lines seen so far
  std::uint8_t status = 0;     // replacer: kept, replaced here, removed
  std::uint16_t pairIndex = 0; // replacer: the pair that replaced it
  std::string joined;          // a continued literal's whole text; empty otherwise
  std::string newText;         // replacer: a partially replaced word's new text
};

/// Reads a COPY statement over fixed-form lines (columns 1-6 sequence, 7 indicator, 8-72 text,
/// 73 on ignored; "*", "/" or "D" in column 7 is a comment line; "-" a continuation line; blank
/// lines).
class t_copyStatementParser {
public:
  /// The statement's first line (without its newline); the keyword COPY ends at index `from`.
  t_stmtStatus begin(std::string_view line, std::size_t from);
  /// The statement's next line, whatever it holds (comment and blank lines too).
  t_stmtStatus next(std::string_view line);
  /// The source ended inside the statement: complete if the statement can end there (e.g. after
  /// the name), else bad.
  t_stmtStatus end();
  const t_copyStatement &statement() const { return stmt_; }
  /// For bad: a short reason (e.g. "unterminated pseudo-text").
  const std::string &why() const { return why_; }

private:
  struct t_tok {
    t_sourceToken tok;
    std::uint32_t line = 0; // index of the fed line the token begins on
  };
  t_stmtStatus feed(std::string_view line, std::size_t from);
  t_stmtStatus parse(bool atEnd);

  std::vector<std::string> lines_;
  std::vector<t_tok> toks_;
  t_copyStatement stmt_;
  std::string why_;
  t_stmtStatus status_ = t_stmtStatus::needMore;
  bool waitingForPseudoEnd_ = false; // the last parse stopped inside pseudo-text
};

/// Where a deck line came from.
struct t_lineOrigin {
  int32 filenum = 0;
  int32 linenum = 0;
};

/// Applies a statement's REPLACING to a member's lines and lays the result out as fixed-form deck
/// lines. Lines untouched by a replacement are emitted byte for byte with their own origin.
class t_replacer {
public:
  /// One piece of a changed line's text as it is laid out again.
  struct t_item {
    std::string_view gap; // the bytes before the text: kept from the line, or one blank
    std::string_view text;
    bool literal = false;
    bool comment = false; // a "*>" comment to the line's end
  };
  using t_emit =
      std::function<void(std::string_view deckLine /* without newline */, t_lineOrigin origin)>;
  /// Keeps a copy of the statement's pairs; `emit` is called for every deck line.
  t_replacer(const t_copyStatement &statement, t_emit emit);
  /// For a member nested in the member that `enclosing` serves: the statement's own pairs, then
  /// the enclosing ones, tried at each position as one list, so that text one pair replaced is
  /// not examined again by another (as the compiler does). Lines go to the enclosing replacer's
  /// emit, not through its matching: call `enclosing.finish()` before the nested member's first
  /// line, so that the lines it holds come first. `statement` may have no REPLACING phrase.
  t_replacer(const t_copyStatement &statement, const t_replacer &enclosing);
  /// One member line, without its newline, and where it came from. Lines may be held back until
  /// a match is decided; each is emitted exactly once, in order.
  void line(std::string_view text, t_lineOrigin origin);
  /// The member ended: emit everything held. The replacer may take further lines after it, as
  /// if a new member began.
  void finish();

private:
  struct t_held {
    std::string text;
    t_lineOrigin origin;
    std::vector<t_sourceToken> toks;
    std::uint32_t contEnd = 0; // end of a literal continued from an earlier line; 0 for none
    bool comment = false;      // comment or blank line: no text-words
    bool changed = false;      // a replacement touched the line: it is laid out again
  };
  struct t_pos {
    std::size_t line = 0;
    std::size_t tok = 0;
  };

  void indexPairs();
  bool surelyUntouched(std::string_view text) const;
  t_sourceToken *openLiteral();
  void normalise(t_pos &p) const;
  int matchAt(std::size_t pair, t_pos at, bool final, t_pos &after) const;
  void advance(bool final);
  void apply(std::size_t pair, t_pos after);
  void emitDecided(bool final);
  void layOut(t_held &held, bool previousRelaid);

  std::vector<t_replacingPair> pairs_;
  t_emit emit_;
  bool firstChar_[256] = {}; // bytes (both cases) that can begin a whole or leading match
  bool lastChar_[256] = {};  // bytes (both cases) that can end a trailing match
  bool anyTrailing_ = false;
  std::vector<std::string> keys_; // each pair's first text-word (partial word), upper-cased
  bool literalOperands_ = false;
  bool keyStart_[256] = {}; // bytes (both cases) that begin a key
  std::vector<std::string>
      partialBy_; // per pair: a partial word's replacement text  // some operand-1 holds a literal
  std::vector<t_held> held_; // held_[first_ .. count_) are the lines held back
  std::size_t first_ = 0;
  std::size_t count_ = 0;
  t_pos cursor_;              // the first token not yet decided
  bool lastRelaid_ = false;   // the last emitted line was laid out again
  std::string deck_;          // the deck line being built
  std::vector<t_item> items_; // the pieces of the changed line being laid out
};

} // namespace incprep
