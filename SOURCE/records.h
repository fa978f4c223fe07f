// The records that pass between the subsystems of one preprocessor run, the scanner's state
// values and the tables' capacities. Names, paths and lines are growable strings so that no
// value is ever cut; fields whose values always fit (message identifiers and texts) keep their
// fixed widths. This header includes no other module.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include <sys/mman.h>

namespace incprep {

using int16 = std::int16_t;
using int32 = std::int32_t;

// ---------------------------------------------------------------------------------------------
// Fixed widths and table capacities
// ---------------------------------------------------------------------------------------------
inline constexpr int32 kMsgIdWidth = 16;    // message identifier field, NUL included
inline constexpr int32 kMsgTextWidth = 200; // message text field, NUL included

inline constexpr int32 kInitialSources = 1000;   // source stack nodes; grows when needed
inline constexpr int32 kInitialResources = 100;  // resource table rows
inline constexpr int32 kResourceGrowth = 100;    // resource table growth step
inline constexpr int32 kErrMsgRows = 100;        // diagnostic table rows; never grows
inline constexpr int32 kInitialStmtRows = 1000;  // statement table rows
inline constexpr int32 kStmtGrowth = 10000;      // statement table growth step
inline constexpr int32 kInitialStateStack = 100; // state stack entries; grows when needed

/// Clears `field` (width `width`, NUL included) and copies what fits of `text`.
/// Returns false when `text` did not fit whole; the field then holds its first width-1 bytes.
[[nodiscard]] inline bool copyField(char *field, std::size_t width, std::string_view text) {
  std::memset(field, 0, width);
  const std::size_t n = text.size() < width ? text.size() : width - 1;
  std::memcpy(field, text.data(), n);
  return n == text.size();
}

// ---------------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------------

/// The options of the run: filled from the command line, read by every subsystem.
struct t_optionsNode {
  std::string thisPreproc; // first command-line token: the name the program was started under
  std::string fileName;    // second token: the primary source (SYSIN)
  std::string sysPUNCH;    // name of the expanded deck (SYSPUNCH)
  std::string sysXML;      // name of the XML side file (SYSXMLSD)
  std::string extension;   // EXT(...) list: ";"-separated extensions without period; "" = default
  std::string sysDEPS;     // DEPS(...) name of the make-style dependency file; "" = none
  char optSuffix[3] = {};  // not used by any operation
  int16 optLANG = 0;       // 3 COBOL, 2 PL/I, 0 none
  int16 optTRACE = 0;
  int16 optMDECK = 0;
  int16 optSUBFILE = 0;
  int16 optUPPERCASE = 0;
  int16 optCOMPRESSSTMTTBL = 0; // FORMAT(ON): six statement entries a line in the side file
  int16 optNOCOPY = 0;
  int16 optZEM = 0;
  int16 optCMT = 0;
  int16 optMSGSOFF = 0; // MSGS(OFF): no warnings or notes on standard error
  int16 optWARNRC = 0;  // WARNRC(ON): a completed run that raised a diagnostic returns 4
  std::vector<std::string> ignoredTokens; // later tokens that are no known keyword
  int16 optSQLINC = 0; // SQLINC(ON): EXEC SQL INCLUDE statements are expanded too
};

inline constexpr int16 kLangCOBOL = 3;
inline constexpr int16 kLangPLI = 2;

/// An open source stream read through its own buffer. The end-of-file indicator is set only by
/// the read that meets the end of the stream, as for a stdio stream read one character at a time.
/// A member may instead be served from its whole text held in memory (`mem`), shared with the
/// scanner's memory of members, which may let go of it while the member is still open.
struct t_sourceStream {
  std::FILE *fp = nullptr;
  std::shared_ptr<const std::string> mem; // the member's whole text, when served from memory
  bool memReadError = false;              // reading that text from its file failed part-way
  bool memServed = false;                 // the text has been handed out
  std::vector<char> buf;                  // read buffer
  std::size_t pos = 0;                    // next unread byte in bytes()
  std::size_t len = 0;                    // bytes in bytes()
  bool eof = false;                       // end-of-file indicator
  bool readError = false;                 // a read failed; the stream was treated as ended
  /// The bytes being read: the held text's once served, else the read buffer's. Worked out
  /// afresh each time, so that a copy of the stream (the source stack grows by copying its
  /// nodes) reads its own buffer, never the one it was copied from.
  [[nodiscard]] const char *bytes() const { return mem != nullptr ? mem->data() : buf.data(); }
};

/// A source line read ahead of the scan: its stored bytes, the bytes it consumed from the stream
/// (carriage returns and NULs included) and whether it ends with the end-of-file mark.
struct t_heldLine {
  std::string text;
  std::int64_t count = 0;
  bool eofMark = false;
};

/// One open source: the primary (node 0) or an include member (nodes 1 and up).
struct t_sourceInputNode {
  t_sourceStream src;               // the open stream; the scanner closes members when they end
  std::string sourcefn;             // the file's name as opened
  std::string sourcedsn;            // the data set name: the key for numbering and recursion checks
  std::string savbuffer1;           // the line that held the include statement being expanded
  int32 sourcefilenum = 0;          // the file's number in the resource table (1-based)
  int32 sourcelinenum = 0;          // the last line read from this file; 0 when just opened
  int32 buffix = 0;                 // index in savbuffer1 just past the completed statement
  std::int64_t resumeix = -1;       // index from which the rest of savbuffer1 is scanned again
                                    // when the member ends; -1 when nothing of the line is left
  int32 resumeState = 1;            // the state in which that scan starts: AT_START, or the next
                                    // member name of a "%INCLUDE A, B;" list
  bool savEofMark = false;          // savbuffer1 ends with the end-of-file mark
  bool readFailureNoted = false;    // a failed read of this file has been recorded
  std::vector<t_heldLine> heldLines; // read ahead by a statement and not taken by it: the scan
                                     // reads these first (a few lines at most)
};
// The source stack grows by moving its nodes, never copying them (a deep chain of members would
// copy every open node each time it grows).
static_assert(std::is_nothrow_move_constructible_v<t_sourceInputNode>);

/// One row of the input file reference table.
struct t_ppResourceNode {
  std::string sourcefn;
  std::string sourcedsn;   // the lookup key
  int32 sourcefilenum = 0; // the row's index plus 1
};

/// One diagnostic.
struct t_ppErrMsgNode {
  int32 sourcefilenum = 0;
  int32 srcstmtnum = 0;
  char msgid[kMsgIdWidth] = {};
  int16 severity = 0;
  char msgtxt[kMsgTextWidth] = {};
  std::string
      detail; // what standard error says in place of msgtxt ("" = msgtxt); not in the side file
};

/// One generated output file: the deck.
struct t_ppGendFileNode {
  std::FILE *osourcefp = nullptr;
  std::string osourcefn;
  std::string osourcedsn;
  int32 osourcefilenum = 0;
};

/// One statement-table row: deck line `oln` of output file `ofn` came from input line `iln` of
/// input file `ifn`. Rows of zeros stand for commented-include lines.
struct t_ppStmtTblNode {
  int32 oln = 0;
  int32 ofn = 0;
  int32 iln = 0;
  int32 ifn = 0;
};

/// A hash index over the resource table's data set names, so that numbering a file and the
/// recursion check take constant time however many files a run meets. Slots hold row index + 1
/// (0: empty), open addressing with linear probing; the names themselves stay in the rows.
struct t_resourceIndex {
  std::vector<int32> slots;
  /// Per row: the source-stack node into which the file was last pushed (0: never). A member is
  /// never pushed while it is open (that would recurse), so when its file is open in nodes 1..n,
  /// this is that node.
  std::vector<int32> openAt;
  int32 used = 0;

  /// The row of `dsn` among `rows`, or -1.
  [[nodiscard]] int32 find(const std::vector<t_ppResourceNode> &rows, std::string_view dsn) const;
  /// Records that row `row` of `rows` is in use. False when out of memory.
  [[nodiscard]] bool add(const std::vector<t_ppResourceNode> &rows, int32 row);
};

/// What the library searches of a run found out beyond their results: the library directories
/// in which some search failed (every directory searched for a member not found; for a member
/// found, those searched before its hit), each once, in the order first met. A file created in
/// one of them could change the run's result.
struct t_searchNotes {
  std::vector<std::string> missedDirectories;
  std::unordered_set<std::string> noted; // the same directories, to look them up
};

/// The bundle of table addresses. Only `resArray` is kept current: numbering a file stores the
/// resource table's address there whenever the table moves. `resIndex`, when set, indexes the
/// resource table's names (without it, look-ups scan the rows).
struct t_commArrayNode {
  t_sourceInputNode *sourceArray = nullptr;
  t_ppErrMsgNode *errmsgArray = nullptr;
  t_ppResourceNode *resArray = nullptr;
  t_ppGendFileNode *gendfileArray = nullptr;
  t_ppStmtTblNode *stmttblArray = nullptr;
  t_resourceIndex *resIndex = nullptr;
  t_searchNotes *searchNotes = nullptr; // where library searches note their misses; may be null
};

/// Maps `bytes` (a multiple of `align`, a power of two) of zero-filled memory at an address
/// that is a multiple of `align`; nullptr when the system has none.
inline void *mapAligned(std::size_t bytes, std::size_t align) {
  void *raw =
      mmap(nullptr, bytes + align, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto base = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = (base + align - 1) & ~(align - 1);
  // The unaligned head and the tail beyond `bytes` go back to the system.
  if (start > base) munmap(raw, start - base);
  munmap(reinterpret_cast<void *>(start + bytes), base + align - start);
  return reinterpret_cast<void *>(start);
}

/// A zero-filled table of plain rows in memory of its own, mapped in 2 MiB units and grown by
/// the kernel's page remapping, so that a large table is never copied or cleared by the
/// program. Memory past the first 2 MiB (or all of it, when a large table is expected) is
/// offered for huge pages: a table of hundreds of thousands of rows then costs a few page
/// faults rather than one per 4 KiB, while a small table touches only the pages it uses.
template <typename Row> class t_plainTable {
  static_assert(std::is_trivially_copyable_v<Row>);
  static constexpr std::size_t kMapUnit = std::size_t{2} << 20U;
  static constexpr std::size_t kHugeWorthIt = std::size_t{256} << 10U;

public:
  t_plainTable() = default;
  t_plainTable(const t_plainTable &) = delete;
  t_plainTable &operator=(const t_plainTable &) = delete;
  ~t_plainTable() {
    if (rows_ != nullptr) munmap(rows_, mapped_);
  }

  /// A hint, before the first resize: about `n` rows are expected. From about 256 KiB of rows,
  /// huge pages are worth having from the start.
  void expectRows(std::size_t n) {
    if (n >= kHugeWorthIt / sizeof(Row)) hugeFrom_ = 0;
  }

  /// Sets the capacity to `n` rows (n >= current); the added rows are zero (they were never
  /// written). False when memory cannot be had; the table is then unchanged.
  [[nodiscard]] bool resize(std::size_t n) {
    if (n <= cap_) return true;
    if (n > (SIZE_MAX - kMapUnit) / sizeof(Row)) return false;
    const std::size_t want = (n * sizeof(Row) + kMapUnit - 1) / kMapUnit * kMapUnit;
    if (want > mapped_) {
      void *p = rows_ == nullptr ? mapAligned(want, kMapUnit)
                                 : mremap(rows_, mapped_, want, MREMAP_MAYMOVE);
      if (p == nullptr || p == MAP_FAILED) return false;
      // Advice for the whole mapping, so that it stays one mapping that mremap can grow; pages
      // already in use stay as they are.
      if (want > hugeFrom_) (void)madvise(p, want, MADV_HUGEPAGE);
      rows_ = static_cast<Row *>(p);
      mapped_ = want;
    }
    cap_ = n;
    return true;
  }
  Row &operator[](std::size_t i) { return rows_[i]; }
  const Row &operator[](std::size_t i) const { return rows_[i]; }
  Row *data() { return rows_; }
  const Row *data() const { return rows_; }
  std::size_t capacity() const { return cap_; }

private:
  Row *rows_ = nullptr;
  std::size_t cap_ = 0;
  std::size_t mapped_ = 0;
  std::size_t hugeFrom_ = kMapUnit; // offset from which the memory is offered for huge pages
};

// ---------------------------------------------------------------------------------------------
// Scanner states
// ---------------------------------------------------------------------------------------------
enum t_scanState : int32 {
  AT_START = 1,
  AT_EOL = 2,
  AT_EOF = 3,
  AT_ENDOFSTMT = 100,
  INCOMMENT = 101,
  INAPOS = 102,
  INQUOTE = 103,
  INCOBCOMMENT = 104,
  CONTINUE_APOS = 105,
  CONTINUE_QUOTE = 106,
  IDENTIFIER_BEG = 200,
  INIDENTIFIER = 201,
  ABRUPT_EOF = 255,
  BEG_DASHINC = 300,
  INDASHINC = 301,
  END_DASHINC = 302,
  MEMBEG_DASHINC = 303,
  INMEMDASHINC = 304,
  MEMEND_DASHINC = 305,
  MEMCOMPLETE_DASHINC = 306,
  DASHINC_COMPLETE = 307,
  BEG_PLUSINC = 400,
  MEMBEG_PLUSINC = 403,
  INMEMPLUSINC = 404,
  MEMEND_PLUSINC = 405,
  PLUSINC_COMPLETE = 407,
  PERCENT_PLIINCLUDE = 501, // "%" ended its line: "INCLUDE" or "XINCLUDE" may begin the next
  MEMBEG_PLIINCLUDE = 503,
  INMEMPLIINCLUDE = 504,
  MEMEND_PLIINCLUDE = 505,
  PLIINCLUDE_COMPLETE = 507,
  MEMBEG_COBOLCOPY = 603,
  INMEMCOBOLCOPY = 604,
  MEMEND_COBOLCOPY = 605,
  COBOLCOPY_COMPLETE = 607,
  EXEC_SQLINCLUDE = 701, // "EXEC" seen: "SQL" may follow
  SQL_SQLINCLUDE = 702,  // "EXEC SQL" seen: "INCLUDE" may follow
  MEMBEG_SQLINCLUDE = 703,
  INMEMSQLINCLUDE = 704,
  MEMEND_SQLINCLUDE = 705, // the name has ended: "END-EXEC" (COBOL) or ";" (PL/I) completes it
  SQLINCLUDE_COMPLETE = 707,
};

/// The name the state trace prints for a state, or nullptr for a value without a name (then the
/// trace says "default clause"). INMEMPLIINCLUDE deliberately has no name in the trace.
[[nodiscard]] inline const char *stateName(int32 s) {
  switch (s) {
  case AT_START: return "AT_START";
  case AT_EOL: return "AT_EOL";
  case AT_EOF: return "AT_EOF";
  case AT_ENDOFSTMT: return "AT_ENDOFSTMT";
  case INCOMMENT: return "INCOMMENT";
  case INAPOS: return "INAPOS";
  case INQUOTE: return "INQUOTE";
  case INCOBCOMMENT: return "INCOBCOMMENT";
  case CONTINUE_APOS: return "CONTINUE_APOS";
  case CONTINUE_QUOTE: return "CONTINUE_QUOTE";
  case IDENTIFIER_BEG: return "IDENTIFIER_BEG";
  case INIDENTIFIER: return "INIDENTIFIER";
  case ABRUPT_EOF: return "ABRUPT_EOF";
  case BEG_DASHINC: return "BEG_DASHINC";
  case INDASHINC: return "INDASHINC";
  case END_DASHINC: return "END_DASHINC";
  case MEMBEG_DASHINC: return "MEMBEG_DASHINC";
  case INMEMDASHINC: return "INMEMDASHINC";
  case MEMEND_DASHINC: return "MEMEND_DASHINC";
  case MEMCOMPLETE_DASHINC: return "MEMCOMPLETE_DASHINC";
  case DASHINC_COMPLETE: return "DASHINC_COMPLETE";
  case BEG_PLUSINC: return "BEG_PLUSINC";
  case MEMBEG_PLUSINC: return "MEMBEG_PLUSINC";
  case INMEMPLUSINC: return "INMEMPLUSINC";
  case MEMEND_PLUSINC: return "MEMEND_PLUSINC";
  case PLUSINC_COMPLETE: return "PLUSINC_COMPLETE";
  case PERCENT_PLIINCLUDE: return "PERCENT_PLIINCLUDE";
  case MEMBEG_PLIINCLUDE: return "MEMBEG_PLIINCLUDE";
  case MEMEND_PLIINCLUDE: return "MEMEND_PLIINCLUDE";
  case PLIINCLUDE_COMPLETE: return "PLIINCLUDE_COMPLETE";
  case MEMBEG_COBOLCOPY: return "MEMBEG_COBOLCOPY";
  case INMEMCOBOLCOPY: return "INMEMCOBOLCOPY";
  case MEMEND_COBOLCOPY: return "MEMEND_COBOLCOPY";
  case COBOLCOPY_COMPLETE: return "COBOLCOPY_COMPLETE";
  case EXEC_SQLINCLUDE: return "EXEC_SQLINCLUDE";
  case SQL_SQLINCLUDE: return "SQL_SQLINCLUDE";
  case MEMBEG_SQLINCLUDE: return "MEMBEG_SQLINCLUDE";
  case INMEMSQLINCLUDE: return "INMEMSQLINCLUDE";
  case MEMEND_SQLINCLUDE: return "MEMEND_SQLINCLUDE";
  case SQLINCLUDE_COMPLETE: return "SQLINCLUDE_COMPLETE";
  default: return nullptr;
  }
}

/// How a run ended when it did not complete normally.
enum class t_runFailure : int32 {
  none = 0,
  outOfMemory,     // a table could not be allocated or grown
  tooManyOpenFiles // the descriptors ran out while opening a member
};

/// What the scanner hands back to the driver.
struct t_runResult {
  t_runFailure failure = t_runFailure::none;
  std::string failureDetail;                  // the member path being opened, for tooManyOpenFiles
  bool deckWriteFailed = false;               // some deck write did not complete
  bool xmlWriteFailed = false;                // some side-file write did not complete
  std::vector<std::string> readFailures;      // sources whose reading failed part-way
  std::vector<std::string> inputFiles;        // the resource table's names, in file-number order
  std::vector<std::string> missedDirectories; // library directories searched without success
  int32 diagnostics = 0;                      // diagnostic rows the run added
};

} // namespace incprep
