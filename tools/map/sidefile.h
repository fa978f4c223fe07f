// Reading the XML side file that incprep writes beside the expanded deck: the input file names by
// number, the deck's name, the number of diagnostics, and the statement table, which holds one
// row per deck line. The document is read with libxml2's streaming reader; its structure is
// checked element by element, and the statement table's text is parsed as it arrives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace incmap {

/// One statement-table row as far as mapping needs it: the input line and the input file number.
/// Rows whose input file number is 0 stand for lines that have no source line of their own (the
/// commented include lines written under CMT(ON)).
struct t_stmtRow {
  std::uint32_t line = 0;
  std::uint32_t file = 0;
  friend bool operator==(const t_stmtRow &, const t_stmtRow &) = default;
};

/// A stretch of consecutive rows of one file whose input lines rise by one from row to row, or
/// a stretch of rows with input file 0 (their line stays as given). Decks are mostly long runs of
/// consecutive lines, so a table of millions of rows needs only a few runs.
struct t_rowRun {
  std::uint32_t firstRow = 0;  // 1-based row (deck line) number of the run's first row
  std::uint32_t firstLine = 0; // input line of the first row
  std::uint32_t file = 0;      // input file number; 0 for rows without a source line
};

/// The statement table, stored as runs. Row k describes deck line k (k from 1).
class t_stmtTable {
public:
  /// Appends the next row. Returns false when the table already holds the largest number of rows
  /// it can count (2^32 - 1).
  bool append(std::uint32_t line, std::uint32_t file);
  /// Number of rows, i.e. deck lines described.
  [[nodiscard]] std::uint32_t rowCount() const { return rows_; }
  /// Row `k`, 1 <= k <= rowCount().
  [[nodiscard]] t_stmtRow row(std::uint32_t k) const;
  /// Index in runs() of the run holding row `k`, 1 <= k <= rowCount().
  [[nodiscard]] std::size_t runIndexOf(std::uint32_t k) const;
  /// Number of rows in run `i`.
  [[nodiscard]] std::uint32_t runLength(std::size_t i) const;
  [[nodiscard]] const std::vector<t_rowRun> &runs() const { return runs_; }

private:
  std::vector<t_rowRun> runs_;
  std::uint32_t rows_ = 0;
};

/// Parses the text of the statement table: entries "(oln,ofn,iln,ifn);" with any XML white space
/// between entries and none inside them; numbers are decimal, 0 to 2147483647. The text may be
/// handed over in pieces cut anywhere.
class t_stmtTextParser {
public:
  explicit t_stmtTextParser(t_stmtTable &table) : table_(table) {}
  /// Parses the next piece. Returns false and fills `error` at the first fault; later calls
  /// after a fault also return false.
  bool feed(std::string_view piece, std::string &error);
  /// Call at the end of the text: false when an entry was left unfinished.
  bool finish(std::string &error);

private:
  bool fail(std::string &error, const std::string &what);

  t_stmtTable &table_;
  int field_ = -1;          // -1 between entries; 0..3 inside the numbers; 4 after ")"
  bool haveDigit_ = false;  // the current number has at least one digit
  std::uint64_t value_ = 0; // the current number
  std::uint32_t values_[4] = {0, 0, 0, 0};
  bool failed_ = false;
};

/// What incprep-map knows after reading a side file.
struct t_sideFile {
  std::uint32_t fileCount = 0;                              // FILECOUNT
  std::unordered_map<std::uint32_t, std::string> fileNames; // FILENUMBER -> FILENAME
  std::size_t messageCount = 0;                             // MESSAGE elements
  std::uint32_t deckNumber = 0;                             // OUTFILENUMBER
  std::string deckName;                                     // OUTFILENAME
  t_stmtTable statements;                                   // STATEMENTTABLE

  /// The name of input file `number`, or nullptr when the side file names no such file.
  [[nodiscard]] const std::string *fileName(std::uint32_t number) const;
};

/// Reads the side file at `path` into `out`. Returns true on success. On failure `error` holds a
/// one-line explanation that starts with the file name (and the line number in the document when
/// known): the file cannot be opened or read, is not well-formed XML, or does not have the
/// elements and contents of a side file.
bool loadSideFile(const std::string &path, t_sideFile &out, std::string &error);

/// The same for a document held in memory (`name` is used in messages only).
bool loadSideFileFromMemory(std::string_view document, const std::string &name, t_sideFile &out,
                            std::string &error);

} // namespace incmap
