// The state of one scan, shared by the source loop (scanner.cpp) and the state machine
// (scanner_states.cpp). Not part of the scanner's contract: other modules use scanner.h.
#pragma once

#include "blockwriter.h"
#include "copystmt.h"
#include "libsearch.h"
#include "records.h"
#include "tables.h"

#include <array>
#include <cstdint>
#include <memory>

namespace incprep {

/// Deck bytes gathered per write, and the room for kept expansions after them in the same
/// memory: 2 MiB in all, one huge page. The members' texts held give up the tape's room.
inline constexpr std::size_t kDeckBlockSize = 256 * 1024;
inline constexpr std::size_t kTapeRoom = (std::size_t{2} << 20U) - kDeckBlockSize;
/// The records of kept expansions (without their deck bytes, which are on the tape), and the
/// list of the files nested in them. The members' texts held give up this room too.
inline constexpr std::size_t kKeptRecordRoom = std::size_t{256} << 10U;
inline constexpr std::size_t kNestedFilesRoom = (std::size_t{256} << 10U) / sizeof(int32);

/// The byte line input stores where a stream ends. Only the stored mark (the last byte of a line
/// read at the end of its stream) acts as end of file; a 0xFF byte read from a file is text.
inline constexpr char kEofMark = '\xFF';

/// The include statement forms, by the state that completes them.
enum class t_includeForm { dashInc, plusInclude, pliInclude, cobolCopy, sqlInclude };

/// A member's expansion as the deck received it, kept so that a later expansion of the same
/// member in the same setting is copied rather than scanned again. Within one run a member's
/// text, and those of the members it includes, do not change; what it gives the deck depends
/// only on them and on the state stack below the include, which `stackBelow` records. Its deck
/// bytes stay on the scan's tape and its rows in the statement table, where they were written.
struct t_expansion {
  std::size_t tapeStart = 0;     // its deck bytes: tape[tapeStart, tapeStart + deckBytes)
  std::size_t deckBytes = 0;
  int32 rowStart = 0;            // its rows: statement rows rowStart + 1 to rowStart + rows
  int32 rows = 0;
  int32 lineStart = 0;           // the deck line number its first line had
  int32 lines = 0;               // the deck lines that it numbered
  std::size_t nestedFrom = 0;    // the files expanded within it: the scan's list of nested
  std::size_t nestedTo = 0;      // files from nestedFrom to nestedTo
  std::vector<int32> stackBelow; // the state stack under the include's own entry
  // What keeping it costs besides its deck bytes and its part of the list of nested files.
  [[nodiscard]] static std::size_t recordBytes(std::size_t stackDepth) {
    return sizeof(t_expansion) + stackDepth * sizeof(int32);
  }
  [[nodiscard]] std::size_t recordBytes() const { return recordBytes(stackBelow.size()); }
};

/// The plain lines one after another from `p` (see plainLines16 in scanner_states.cpp): their
/// count, the bytes they take through the last one's newline, and the last one's length.
struct t_plainLines {
  std::size_t lines = 0;
  std::size_t bytes = 0;
  std::size_t last = 0;
  bool operator==(const t_plainLines &) const = default;
};

/// The plain lines from `p` within `avail` bytes, classified sixteen bytes at a time (SSE2), or
/// thirty-two (AVX2, only where haveWideLineBlocks() tells that the processor has it); both
/// find the same lines.
[[nodiscard]] t_plainLines plainLines16(const char *p, std::size_t avail, bool pli);
[[nodiscard]] t_plainLines plainLines32(const char *p, std::size_t avail, bool pli);
[[nodiscard]] bool haveWideLineBlocks();

/// An expansion being kept as it is written: its member is open in node `node`. What the deck
/// receives from then on is on the scan's tape from `tapeStart`.
struct t_recording {
  int32 node = 0;
  int32 fileNum = 0;
  std::size_t tapeStart = 0;
  int32 rowStart = 0;          // statement rows before its first
  int32 lineStart = 0;         // the deck line number of its first line
  int32 msgStart = 0;          // diagnostics raised before it
  std::size_t readFailStart = 0;
  std::size_t nestedStart = 0; // files expanded before it, on the scan's list of them
  std::size_t keptStart = 0;   // expansions kept before it began (see keptOrder)
  std::size_t recordsAtStart = 0; // and the bytes of their records
  std::vector<int32> stackBelow;
};

struct t_scanRun {
  t_scanRun(const t_optionsNode &options, std::FILE *deck, int32 trace);

  [[nodiscard]] bool setUp(std::FILE *streamSOURCE);
  void run();

  // Options of the run.
  const t_optionsNode &opt;
  const int32 loglvl;
  const int16 lang;
  std::FILE *deckfp;

  // The run's tables and their counters.
  std::vector<t_sourceInputNode> sources;
  int32 sourceStackCounter = 0; // index of the top node: 0 while only the primary is open
  std::vector<t_ppResourceNode> resArray;
  int32 resourcectr = 0;
  int32 maxresourcectr = 0;
  std::vector<t_ppErrMsgNode> errmsgArray;
  int32 msgcounter = 0;
  t_ppGendFileNode gendfile;
  t_stmtTable stmt;
  t_commArrayNode comm;
  t_resourceIndex resIndex;
  t_runResult result;
  t_memberCache memberCache; // used only without trace
  t_searchNotes searchNotes; // directories where library searches failed
  int32 echoed = 0;          // diagnostic rows already written to standard error
  // Deck bytes not yet handed to the deck's stream.
  // The deck's block, then the tape of kept expansions: one mapping, which a large run offers
  // for huge pages from the start.
  t_plainTable<char> deckOut;
  std::size_t deckOutUsed = 0;
  [[nodiscard]] char *tapeStart() { return deckOut.data() + kDeckBlockSize; }
  // The block being filled: deckOut's own, or, once the deck has outgrown one block (without
  // trace), the one the writer gave back, which writes full blocks on a thread of its own.
  char *deckBlock = nullptr;
  std::unique_ptr<t_blockWriter> writer;
  // The writer pays for its thread from a deck of about 2 MB. A primary source of 512 KiB or
  // more gives such a deck: its writer starts at the first full block; otherwise the run writes
  // the deck's first 1 MiB itself, and a smaller deck never starts one.
  std::size_t deckBlocksAlone = 4;
  std::size_t deckBlocksWritten = 0; // full blocks so far, before the writer starts
  bool deckHandedFailed = false; // a block the writer wrote was not taken whole
  // Kept expansions copied since the last block was handed: the writer writes them from the
  // tape, where they stay for the whole run, among the block's bytes.
  std::array<t_blockWriter::t_span, t_blockWriter::kSpans> deckSpans;
  std::size_t deckSpanCount = 0;
  std::size_t deckSpanBytes = 0;

  // Expansions kept for reuse (by file number - 1; null: none), and files whose expansion is
  // not kept because it raised a diagnostic, ran past the room for it or changed the state
  // stack below it. `keptOrder` lists the kept ones in the order they were kept: those kept
  // while a member was open lie within its expansion, and give way to it when room is short.
  std::vector<std::unique_ptr<t_expansion>> expansions;
  std::vector<bool> expansionRefused;
  std::vector<std::size_t> keptOrder;
  std::size_t keptRecordBytes = 0;     // within kKeptRecordRoom
  std::vector<t_recording> recordings; // innermost last
  // The deck bytes of expansions kept or being kept, each written once, on the tape: the
  // deck memory after its block (see tapeStart). A kept expansion's bytes stay where they are;
  // those of one not kept are taken back when nothing kept follows.
  std::size_t tapeUsed = 0;
  std::size_t tapeKeptEnd = 0;   // the end of the last kept expansion's bytes
  bool tapeOverflow = false;     // the tape or the list of nested files ran past its room:
                                 // the open recordings fail
  // The files expanded within kept expansions and open recordings, in the order they were
  // met (within kNestedFilesRoom entries); each expansion's are a stretch of it.
  std::vector<int32> nestedFiles;
  std::size_t nestedKeptEnd = 0; // the end of the last kept expansion's stretch

  // REPLACING in force: the replacer of each node whose member was copied with REPLACING (null
  // for the others), and how many there are. A member's lines, and those of members nested in
  // it, pass through every replacer from their node down to node 1 before they reach the deck.
  std::vector<std::unique_ptr<t_replacer>> replacers;
  int32 replacersOpen = 0;
  int32 lineNode = 0; // the node whose line is the current line

  // Statement-row values of the next deck line.
  int32 tblInLineNum = 0;
  int32 tblInFileNum = 0;
  int32 tblOutLineNum = 0;
  int32 tblOutFileNum = 0;

  // The current line. The output line is always the consumed part of it (every consumed
  // character is copied unchanged), so it is kept as the index `ix` alone; positions from
  // `lineEnd` up to `numread1` (a carriage return not stored before the newline) read as kPastLine.
  // The line is looked at where it lies in its source's read buffer when it lies there whole
  // and clean; otherwise it is assembled in `lineStore`.
  std::string_view buffer1;
  std::string lineStore;
  std::int64_t numread1 = 0;
  std::int64_t lineEnd = 0; // stored length of buffer1
  std::int64_t ix = 0;      // next character to consume; also the output line's length
  bool lineEofMark = false; // the line ends with the end-of-file mark
  bool lineEndsInNewline = false;
  bool outCleared = false; // the output line was dropped (an include was expanded)
  bool needAnotherLine = false;
  std::int64_t keywordIx = 0; // where the include keyword of this line began (0: none)

  // The rest of an include statement's line, handed back when its member ends.
  std::string rebuiltLine;
  bool rebuiltEofMark = false;
  int32 rebuiltState = AT_START;
  bool lineIsListRest = false; // the line is the rest of a "%INCLUDE A, B;" list after a member
  bool pendingRebuild = false;

  // The line that ended in "%" (PERCENT_PLIINCLUDE), and blank lines after it: held back from
  // the deck until a later line shows whether an include statement follows. Written before any
  // other deck line when none does, or when its member is not taken; part of the statement
  // (dropped, code before the "%" kept, and in the commented copy) when its member is expanded.
  struct t_heldDeckLine {
    std::string text;
    int32 inLine = 0;
    int32 inFile = 0;
  };
  std::vector<t_heldDeckLine> heldDeck;
  std::int64_t heldKeywordIx = 0; // where the "%" stands in the first held line
  bool holding = false;
  bool heldInStatement = false; // the held lines belong to the statement being commented

  // The state machine.
  int32 currentstate = AT_START;
  std::vector<int32> stateStack;
  int32 stateStackNdx = 0;
  std::int64_t identifierLen = 0;

  // The include statement being collected.
  std::string ddIncMem;
  int32 dashincmemLen = 0;
  int32 plusincmemLen = 0;

  // --- source loop (scanner.cpp) ---
  t_sourceInputNode &top() { return sources[static_cast<std::size_t>(sourceStackCounter)]; }
  void handleLine();
  void echoNewDiagnostics();
  void beginLine(bool rebuilt);
  void endOfSource();
  void closeNode(t_sourceInputNode &node);
  void noteReadFailure(t_sourceInputNode &node);
  void writeDeckText(std::string_view text);
  void writeDeckKept(std::string_view text);
  void flushDeck(bool last);
  void writeDeckLine(std::string_view text, std::string_view ending);
  void writeZeroRowLine(std::string_view text);
  void passDown(std::size_t node, std::string_view line, t_lineOrigin origin);
  void writeFinalLine(std::string_view line, t_lineOrigin origin);
  void takeHeldLine();
  [[nodiscard]] bool peekLine(std::size_t n);
  void appendDeckLine(std::string_view text, std::string_view ending, int32 inLine, int32 inFile);
  void holdLine();
  void releaseHeldLine();
  void skipStmtRows(int32 n);
  void fail(t_runFailure why);
  [[nodiscard]] bool hasOutput() const { return !outCleared && std::min(ix, lineEnd) > 0; }
  [[nodiscard]] std::string_view outputLine() const {
    return std::string_view(buffer1).substr(0, static_cast<std::size_t>(std::min(ix, lineEnd)));
  }

  // --- state stack ---
  void setCurrentState(int32 s) { currentstate = s; }
  void pushState(int32 s);
  void popState();
  void replaceState(int32 s);

  // --- character loop and states (scanner_states.cpp) ---
  [[nodiscard]] int charAt(std::int64_t i) const {
    return i < lineEnd ? static_cast<unsigned char>(buffer1[static_cast<std::size_t>(i)])
                       : kPastLine;
  }
  [[nodiscard]] bool isEofMarkAt(std::int64_t i) const { return lineEofMark && i == lineEnd - 1; }
  void moveBothBuffs() { ++ix; }
  void moveBothBuffers(std::int64_t n) {
    if (n > 0) ix += n;
  }
  // The current line needs no more scanning: its newline is reached, or all it read.
  [[nodiscard]] bool lineConsumed() const {
    return (lineEndsInNewline && ix >= lineEnd) || ix >= numread1;
  }
  void endCobolLiteralUnlessContinued();
  void runCharacterLoop();
  void runGeneralLoop();
  [[nodiscard]] bool passPlainLines();
  void traceState() const;
  void stepCode();
  [[nodiscard]] bool runCodeFast();
  void stepLexical();
  void passLiteralText(int delim, bool stopAtColumn7);
  void passCommentText();
  void stepIdentifier();
  [[nodiscard]] bool tryIncludeKeyword();
  void stepDashInc();
  void stepPlusInc();
  void stepPliInclude();
  void stepCobolCopy();
  void stepSqlInclude();
  [[nodiscard]] bool matchWordAt(std::int64_t at, const char *word) const;
  [[nodiscard]] bool inIdentificationArea(int c) const;
  void beginName(int32 &nameLen, int32 collecting);
  void collectName(int32 &nameLen, int32 memend, int c, bool endsName);
  void stallDashInc();
  void completeStatement(t_includeForm form);
  [[nodiscard]] std::int64_t resumeIndexAfter(t_includeForm form) const;
  [[nodiscard]] std::int64_t nextListName() const;
  [[nodiscard]] bool tryPercentKeyword(std::int64_t from);
  [[nodiscard]] bool holdsCode(std::string_view line, bool eofMark, std::int64_t from,
                               std::int64_t to) const;
  [[nodiscard]] std::int64_t codeAreaStart() const;
  [[nodiscard]] std::int64_t codeAreaEnd() const;
  void writeCommentedInclude();
  [[nodiscard]] static std::string commentedCobolLine(std::string_view line, bool eofMark);
  void keepLineInStore();

  // --- reuse of member expansions (scanner_reuse.cpp) ---
  void beginMember();
  void finishRecording();
  void replayExpansion(const t_expansion &e);
  [[nodiscard]] bool sameStackBelow(const std::vector<int32> &below) const;
  [[nodiscard]] bool anyNestedOpen(const t_expansion &e) const;
  void noteNestedFile(int32 file);
  void keepExpansion(t_recording &rec);
  void tapeDeckText(std::string_view text);

  // --- the COPY statement over several lines (scanner_copy.cpp) ---
  [[nodiscard]] bool copyNameOnLaterLine() const;
  [[nodiscard]] bool copyStatementGoesOn();
  void copyStatementOverLines();
  void expandCopy(const t_copyStatement &statement, std::size_t lastLine, std::size_t endIndex);
  void attachReplacer(const t_copyStatement &statement);
  void leaveStatementInDeck(std::size_t lastLine, std::int64_t resumeAt);
  void writeCommentedStatement(std::size_t lastLine);
  std::vector<t_heldLine> statementLines; // the statement's lines after its first, taken from
                                          // the held lines
};

} // namespace incprep
