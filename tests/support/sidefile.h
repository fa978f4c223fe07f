// Reading the XML side file back, and the line-map check shared by the end-to-end runner and the
// corpus test: every deck line must be the input line that its statement row names. Byte layout
// of the side file is judged elsewhere (exact comparison, xmllint).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

/// One statement-table entry (oln,ofn,iln,ifn): deck line oln of output file ofn came from
/// line iln of input file ifn. All four are 0 for a commented-include line.
struct t_stmtRow {
  long oln = 0;
  long ofn = 0;
  long iln = 0;
  long ifn = 0;
  [[nodiscard]] bool isZero() const { return oln == 0 && ofn == 0 && iln == 0 && ifn == 0; }
};

/// One MESSAGE element.
struct t_sideFileMessage {
  std::string id;   // MSGNUMBER, e.g. "KVR0009-W"
  long line = 0;    // MSGLINE
  long file = 0;    // MSGFILE
  std::string text; // MSGTEXT without the line ends around it
};

/// What a side file says, with entity references resolved.
struct t_sideFile {
  long fileCount = -1;                     // FILECOUNT
  std::map<long, std::string> files;       // FILENUMBER -> FILENAME, as written (relative
                                           // to the run's working folder unless absolute)
  std::vector<t_sideFileMessage> messages; // in document order
  long outFileCount = -1;                  // OUTFILECOUNT
  long outFileNumber = -1;                 // OUTFILENUMBER
  std::string outFileName;                 // OUTFILENAME: the deck
  std::vector<t_stmtRow> rows;             // statement rows 1..n in order
};

/// Parses the side file's text into `sideFile`. Returns the problems found (unbalanced or
/// unknown elements, bad numbers or entries, unknown entity references); empty when it parsed.
[[nodiscard]] std::vector<std::string> parseSideFile(std::string_view text, t_sideFile &sideFile);

/// True when `line` holds an include keyword as the scanner could see it: "-INC" or "++INCLUDE"
/// (exact case) anywhere, or "COPY", "%INCLUDE", "%XINCLUDE" (any case) starting a word and
/// followed by white space or the end of the line, also with blanks after the "%", or a "%"
/// followed only by white space (the keyword on the next line); or a part of an SQL INCLUDE
/// statement (the words EXEC, INCLUDE, END-EXEC in any case).
[[nodiscard]] bool holdsIncludeKeyword(std::string_view line);

/// The line-map check of one completed run in `workDir`. Returns human-readable problems, empty
/// when the map holds:
///  (a) one statement row per deck line, and the deck ends with a newline;
///  (b) each row is (0,0,0,0) or has ofn 1, an input file number the side file lists, and
///      1 <= iln <= (lines of that file + 1, the "+1" only when the file ends with a newline);
///      the non-zero rows carry oln 1, 2, 3, ... in order (commented lines take no number);
///  (c) each non-zero row's deck line equals its input line byte for byte (NULs and carriage
///      returns included; only the carriage return before a newline is left out); only when the
///      input line holds an include keyword (or is a later line of a COPY statement) may the
///      deck line instead be a non-blank
///      copy of it with some characters blanked and/or its end cut off (text kept before or
///      after an expanded statement); in a run with COPY ... REPLACING, a deck line may also
///      be its input line changed by replacement: the same sequence area (columns 1 to 6), and
///      a first text word taken from that line or from a REPLACING phrase;
///  (d) each input line without an include keyword appears in the deck, unless it carries the
///      member name of a statement whose keyword ended the previous non-blank line, or it is a
///      later line of a COPY statement that goes on over several lines;
///  (e) consecutive non-zero rows of one input file go on with the same line, the next line,
///      or line 1 (the member again);
///  (f) each group of (0,0,0,0) rows ends on an empty deck line and shows an include keyword,
///      or follows the deck line whose keyword left the member name to a later line;
///  (g) each message names a listed file and a line of it (or the line after its last, for a
///      statement ended by the end of the file) that holds an include keyword, or whose previous
///      non-blank line does.
[[nodiscard]] std::vector<std::string> checkLineMap(const std::filesystem::path &workDir,
                                                    const t_sideFile &sideFile);

/// Reads and parses `sideFilePath` and runs checkLineMap on it; parse problems are returned too.
[[nodiscard]] std::vector<std::string>
checkSideFileLineMap(const std::filesystem::path &workDir,
                     const std::filesystem::path &sideFilePath);

} // namespace e2e
