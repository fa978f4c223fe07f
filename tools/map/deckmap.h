// Translating deck line numbers back to source lines.
//
// Deck line k is described by statement-table row k. A row with a file number names the input
// file and line directly. Rows of zeros stand for the lines of a commented include statement,
// which incprep writes under CMT(ON) in place of a successful include statement: two lines for
// COBOL (the statement turned into a comment, then an empty line) and four for PL/I (" /*", the
// statement, " */", an empty line). The member's own lines follow right after them. Such lines
// are mapped to the include statement they comment, found as follows.
//
//  * Commented lines per include. A stretch of zero rows holds one block per include statement
//    (several blocks in a row when a member's first line is itself an include statement). The
//    side file does not record the language: when some stretch has a length that is not a
//    multiple of four, the blocks are two rows long (COBOL); otherwise four-row blocks (PL/I)
//    are assumed unless they contradict the rest of the table (see below), in which case two-row
//    blocks are taken.
//  * Where the statement is. The table is replayed in order while a stack of the files being
//    read is kept, each with the last line read from it. The statement of the first block of a
//    stretch is the line after the last line read from the file being read at that point; the
//    statement of each further block is line 1 of the member brought in by the block before it.
//    The file being read is the innermost file of the stack once every file that has already
//    reached its highest line number recorded in the table (its end) has been left. Every block
//    opens a member: its file becomes known from the first row that follows from a file not on
//    the stack. A row from a file lower on the stack means that the files above it have ended.
//  * A row from a file that is neither on the stack nor an expected member contradicts the
//    four-row assumption; with two-row blocks it is tolerated (such a member is put on the
//    stack as it appears).
//  * When the statement's file cannot be told (a member that ended before showing any line of
//    its own after its first), the lines have no source line.
//
// One case is beyond the table: a member whose last line is an include statement without a
// final line end. Its statement is attributed to the file that included the member, at the
// line after that file's include statement.
#pragma once

#include <cstdint>
#include <vector>

#include "sidefile.h"

namespace incmap {

enum class t_mapStatus {
  found,        // file and line are set
  outOfRange,   // the deck line is 0 or beyond the last row
  noSourceLine, // the row does not lead to a source line
};

struct t_mapResult {
  t_mapStatus status = t_mapStatus::outOfRange;
  std::uint32_t file = 0;
  std::uint32_t line = 0;
};

class t_deckMap {
public:
  /// Prepares the mapping of `table`, which must outlive the map.
  explicit t_deckMap(const t_stmtTable &table);

  /// The source of deck line `deckLine` (1-based).
  [[nodiscard]] t_mapResult map(std::uint64_t deckLine) const;

  /// Rows per commented include as decided for this table: 0 when it has no rows of zeros,
  /// else 2 (COBOL) or 4 (PL/I).
  [[nodiscard]] unsigned commentedLinesPerInclude() const { return blockSize_; }

private:
  struct t_zeroStretch {
    std::uint32_t firstRow = 0;
    std::uint32_t length = 0;
    std::size_t firstBlock = 0; // index in blocks_ of its first block
    std::size_t blockCount = 0;
  };

  // Replays the table with blocks of `blockSize` rows; returns false when the table contradicts
  // that block size.
  bool replay(unsigned blockSize, std::vector<t_zeroStretch> &stretches,
              std::vector<t_stmtRow> &blocks) const;

  const t_stmtTable &table_;
  unsigned blockSize_ = 0;
  std::vector<t_zeroStretch> stretches_; // ordered by firstRow
  std::vector<t_stmtRow> blocks_;        // statement of each block; file 0 when unknown
};

} // namespace incmap
