// The source loop: set-up of the run's tables, line input from the stack of open sources, the
// deck and its statement rows, the end of each source, and the character-level helpers the
// state machine uses. The states themselves are in scanner_states.cpp.
#include "scanner.h"

#include "diagnostics.h"

#include "scanner_impl.h"
#include "tables.h"
#include "xmlwriter.h"

#include <cinttypes>

#include <sys/stat.h>

namespace incprep {

namespace {
constexpr std::size_t kReadBufferSize = 64 * 1024;
constexpr std::size_t kStateStackGrowth = 100;
constexpr std::size_t kShortestTypicalLine = 32;    // bytes per source line, for estimates
constexpr std::size_t kLargePrimary = std::size_t{512} << 10U; // its deck is worth a thread
} // namespace

// ---------------------------------------------------------------------------------------------
// Character helpers
// ---------------------------------------------------------------------------------------------

int32 white_space(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' ? 1 : 0;
}

int32 ok2lookAhead(const char *text, int32 lookaheadcount) {
  for (int32 i = 0; i < lookaheadcount; ++i)
    if (text[i] == '\0') return 0;
  return 1;
}

int32 embeddedComment(std::string_view buffer1, std::int64_t currentindex, int32 /*loglvl*/) {
  const auto i = static_cast<std::size_t>(currentindex);
  return i + 1 < buffer1.size() && buffer1[i] == '/' && buffer1[i + 1] == '*' ? 1 : 0;
}

int32 endingChar(int c) {
  return c == kPastLine || c == '\n' ? 1 : 0;
}

int32 adjustCurrentState(int32 cs) {
  switch (cs) {
  case INIDENTIFIER:
  case INCOBCOMMENT: return AT_START;
  case INMEMDASHINC: return MEMEND_DASHINC;
  default: return cs;
  }
}

int32 matchIdent(std::string_view buffer1, const char *buffer2, std::int64_t currentindex,
                 int32 numofchars, int32 loglvl) {
  if (loglvl > 0) {
    std::fputs("Comparing buffer1:  ", stdout);
    std::fwrite(buffer1.data(), 1, buffer1.size(), stdout);
    std::fputs(" \n", stdout);
    std::printf("%s %s\n", "Comparing buffer2: ", buffer2);
    std::printf("%s %d \n", "bytes to compare ==> ", numofchars);
  }
  const auto from = static_cast<std::size_t>(currentindex);
  const auto n = static_cast<std::size_t>(numofchars);
  if (from > buffer1.size()) return std::strlen(buffer2) == 0 ? 1 : 0;
  const std::string_view actual = buffer1.substr(from, n);
  const std::string_view expected = std::string_view(buffer2).substr(0, n);
  return actual == expected ? 1 : 0;
}


int32 ic_matchIdent(std::string_view actual, const char *expected, int32 loglvl) {
  const std::string_view kw(expected);
  if (actual.size() < kw.size()) return 0;
  for (std::size_t i = 0; i < kw.size(); ++i)
    if (upperOf(actual[i]) != upperOf(kw[i])) return 0;
  if (actual.size() > kw.size() && white_space(static_cast<unsigned char>(actual[kw.size()])) == 0)
    return 0;
  if (loglvl != 0) {
    std::fputs("Matched:  ", stdout);
    std::fwrite(actual.data(), 1, actual.size(), stdout);
    std::printf("%s %s \n", "With: ", expected);
    std::printf("%s %d \n", "bytes to compared ==> ", static_cast<int>(kw.size()));
  }
  return 1;
}

void trimQuotes(std::string &buffer) {
  if (buffer.empty()) return;
  const char first = buffer.front();
  if (first != '\'' && first != '"') return;
  if (buffer.size() == 1) {
    buffer.clear();
    return;
  }
  if (buffer.back() == first) buffer = buffer.substr(1, buffer.size() - 2);
}

std::int64_t findStr(std::string_view srchkey, std::string_view charsToSearch) {
  const std::size_t at = charsToSearch.find(srchkey);
  return at == std::string_view::npos ? -1 : static_cast<std::int64_t>(at);
}

std::string strUpper(std::string_view buf1) {
  std::string up(buf1);
  for (char &c : up)
    c = upperOf(c);
  return up;
}

// ---------------------------------------------------------------------------------------------
// Line input
// ---------------------------------------------------------------------------------------------

namespace {

// Refills the stream's buffer; false at the end of the stream (or when a read fails, which ends
// the stream too and is remembered).
bool refill(t_sourceStream &s) {
  s.pos = 0;
  if (s.mem != nullptr) {
    s.len = s.memServed ? 0 : s.mem->size();
    s.memServed = true;
    if (s.len == 0 && s.memReadError) s.readError = true;
    return s.len > 0;
  }
  if (s.buf.size() < kReadBufferSize) s.buf.resize(kReadBufferSize);
  s.len = std::fread(s.buf.data(), 1, s.buf.size(), s.fp);
  if (s.len == 0) {
    if (std::ferror(s.fp) != 0) s.readError = true;
    return false;
  }
  return true;
}

} // namespace

namespace {

// Reads the rest of the current line into `line` (cleared first), across refills; a carriage
// return right before the newline is left out (it may lie in the previous read). At the end of
// the stream the end-of-file mark is stored. Returns the number of bytes consumed.
std::int64_t assembleLine(std::string &line, t_sourceStream &s, bool *eofMark) {
  line.clear();
  std::int64_t count = 0;
  for (;;) {
    if (s.pos == s.len && !refill(s)) {
      s.eof = true;
      line += kEofMark;
      ++count;
      *eofMark = true;
      break;
    }
    const char *start = s.bytes() + s.pos;
    const std::size_t avail = s.len - s.pos;
    const auto *nl = static_cast<const char *>(std::memchr(start, '\n', avail));
    const std::size_t n = nl != nullptr ? static_cast<std::size_t>(nl - start) + 1 : avail;
    line.append(start, n);
    count += static_cast<std::int64_t>(n);
    s.pos += n;
    if (nl != nullptr) break;
  }
  if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n')
    line.erase(line.size() - 2, 1);
  return count;
}

} // namespace

namespace {
void traceLineRead(std::int64_t count, std::string_view line) {
  std::printf("%s %" PRId64 " \n", "read this many characters ==> ", count);
  std::fputs("Line read ==>  ", stdout);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputs(" \n", stdout);
}
} // namespace

std::int64_t getCurrentSourceLine(std::string &buffer1, t_sourceInputNode &node, bool *eofMark,
                                  int32 loglvl) {
  *eofMark = false;
  if (node.src.fp == nullptr && node.src.mem == nullptr) {
    if (loglvl > 0) std::printf("%s %s \n", "unexpected file pointer error=> ", "fperrormsg");
    return 0;
  }
  const std::int64_t count = assembleLine(buffer1, node.src, eofMark);
  if (loglvl > 0) traceLineRead(count, buffer1);
  return count;
}

namespace {

// Takes the next line of the stream in place when it lies whole in the buffer and does not end
// in a carriage return and newline (whose carriage return is left out of the line).
bool nextLineInPlace(t_sourceStream &s, std::string_view &line) {
  if (s.pos >= s.len) return false;
  const char *start = s.bytes() + s.pos;
  const auto *nl = static_cast<const char *>(std::memchr(start, '\n', s.len - s.pos));
  if (nl == nullptr || (nl != start && nl[-1] == '\r')) return false;
  const std::size_t n = static_cast<std::size_t>(nl - start) + 1;
  line = std::string_view(start, n);
  s.pos += n;
  return true;
}

} // namespace

std::int64_t readSourceLine(t_sourceInputNode &node, std::string &store, std::string_view &line,
                            bool *eofMark) {
  t_sourceStream &s = node.src;
  *eofMark = false;
  if (s.fp == nullptr && s.mem == nullptr) {
    line = {};
    return 0;
  }
  if (nextLineInPlace(s, line)) return static_cast<std::int64_t>(line.size());
  const std::int64_t count = assembleLine(store, s, eofMark);
  line = store;
  return count;
}

// ---------------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------------

t_scanRun::t_scanRun(const t_optionsNode &options, std::FILE *deck, int32 trace)
    : opt(options), loglvl(trace), lang(options.optLANG), deckfp(deck) {}

bool t_scanRun::setUp(std::FILE *streamSOURCE) {
  try {
    // Room for the first 1000 nodes is reserved; nodes are made as members are pushed, so a run
    // touches only as many as it nests.
    sources.reserve(kInitialSources);
    sources.resize(1);
    resArray.resize(kInitialResources);
    errmsgArray.resize(kErrMsgRows);
    stateStack.assign(kInitialStateStack, 0);
  } catch (const std::bad_alloc &) {
    return false;
  }
  // A large primary source makes a large statement table and a large deck: their memory is
  // then offered for huge pages from the start (a first touch of fresh memory is costly, and
  // one huge page costs about as much as a few small ones).
  struct stat info {};
  if (fstat(fileno(streamSOURCE), &info) == 0 && S_ISREG(info.st_mode)) {
    const auto size = static_cast<std::size_t>(info.st_size);
    stmt.rows.expectRows(size / kShortestTypicalLine);
    deckOut.expectRows(size);
    if (size >= kLargePrimary) deckBlocksAlone = 1;
  }
  // Without trace, members met again may be copied from the tape.
  if (!deckOut.resize(loglvl == 0 ? kDeckBlockSize + kTapeRoom : kDeckBlockSize) ||
      !initStmtTable(stmt))
    return false;
  deckBlock = deckOut.data();
  if (loglvl == 0)
    memberCache.budget = t_memberCache::kDefaultBudget - kTapeRoom - kKeptRecordRoom -
                         kNestedFilesRoom * sizeof(int32);
  maxresourcectr = kInitialResources;
  comm.errmsgArray = errmsgArray.data();
  comm.searchNotes = &searchNotes;
  comm.resArray = resArray.data();
  comm.resIndex = &resIndex;
  comm.stmttblArray = stmt.rows.data();

  const int32 firstFile = 1;
  (void)loadSrcNode(&sources[0], streamSOURCE, &opt, &firstFile, loglvl);
  (void)loadOutputFileNode(&gendfile, deckfp, &opt, loglvl);

  resourcectr = 0;
  if (loglvl > 0) {
    std::printf("%s\n", "=========================================");
    std::printf("%s %d\n", "=  Loading resource #", resourcectr);
    std::printf("%s\n", "=========================================");
  }
  sources[0].sourcefilenum =
      loadResourceArrayInfo(resArray, &sources[0], &resourcectr, &maxresourcectr, &comm, loglvl);
  sources[0].sourcelinenum = 0;
  return true;
}

// Writes the diagnostic rows added since the last call to standard error, each under the chain
// of includes that led to its file. Every raiser adds rows through the collector, so rows are
// picked up here, right after the line that raised them, whatever raised them. The file of a
// row is open on the stack unless it was refused; the nodes below it are its includers.
void t_scanRun::echoNewDiagnostics() {
  if (echoed == msgcounter) return;
  for (; echoed < msgcounter; ++echoed) {
    if (opt.optMSGSOFF != 0) continue;
    const t_ppErrMsgNode &row = errmsgArray[static_cast<std::size_t>(echoed)];
    std::vector<t_includeStep> chain;
    std::string file;
    for (int32 k = sourceStackCounter; k >= 0; --k) {
      const t_sourceInputNode &node = sources[static_cast<std::size_t>(k)];
      if (!file.empty())
        chain.push_back({node.sourcefn, node.sourcelinenum});
      else if (node.sourcefilenum == row.sourcefilenum)
        file = node.sourcefn;
    }
    if (file.empty() && row.sourcefilenum >= 1 && row.sourcefilenum <= resourcectr) {
      file = resArray[static_cast<std::size_t>(row.sourcefilenum - 1)].sourcefn;
      chain.clear();
    }
    const std::string text = diagnosticEchoText(row, file, chain);
    std::fflush(stdout); // the trace and the messages stay in the order they happened
    std::fputs(text.c_str(), stderr);
  }
}

void t_scanRun::writeDeckText(std::string_view text) {
  if (text.empty()) return;
  if (!recordings.empty()) tapeDeckText(text);
  if (deckOutUsed + text.size() > kDeckBlockSize) {
    flushDeck(false);
    if (text.size() >= kDeckBlockSize) {
      // Too long for a block: written where it lies, after the blocks before it.
      if (writer) {
        writer->drain();
        if (!writeAll(fileno(deckfp), text.data(), text.size())) result.deckWriteFailed = true;
      } else if (std::fwrite(text.data(), 1, text.size(), deckfp) != text.size()) {
        result.deckWriteFailed = true;
      }
      return;
    }
  }
  std::memcpy(deckBlock + deckOutUsed, text.data(), text.size());
  deckOutUsed += text.size();
}

// Text that stays on the tape for the whole run (a kept expansion): handed to the writer where
// it lies when there is one and the text is worth a piece of its own, else copied.
void t_scanRun::writeDeckKept(std::string_view text) {
  constexpr std::size_t kWorthAPiece = 512;
  if (!writer || text.size() < kWorthAPiece) {
    writeDeckText(text);
    return;
  }
  if (!recordings.empty()) tapeDeckText(text);
  deckSpans[deckSpanCount++] = t_blockWriter::t_span{deckOutUsed, text.data(), text.size()};
  deckSpanBytes += text.size();
  if (deckSpanCount == deckSpans.size() || deckSpanBytes >= kDeckBlockSize) flushDeck(false);
}

void t_scanRun::flushDeck(bool last) {
  if (deckOutUsed == 0 && deckSpanCount == 0) return;
  // Without trace, a large deck is written on a thread of its own, and from then on through the
  // file's descriptor alone: what the stream still holds goes first.
  // Tried once: at the block that reaches deckBlocksAlone.
  if (!writer && !last && loglvl == 0 && ++deckBlocksWritten == deckBlocksAlone) {
    if (std::fflush(deckfp) != 0) result.deckWriteFailed = true;
    writer = t_blockWriter::start(deckBlock, kDeckBlockSize);
  }
  if (writer) {
    deckBlock = writer->hand(fileno(deckfp), deckOutUsed, &deckHandedFailed,
                             std::span(deckSpans.data(), deckSpanCount));
    deckSpanCount = 0;
    deckSpanBytes = 0;
  } else if (std::fwrite(deckBlock, 1, deckOutUsed, deckfp) != deckOutUsed)
    result.deckWriteFailed = true;
  deckOutUsed = 0;
}

void t_scanRun::writeDeckLine(std::string_view text, std::string_view ending) {
  if (holding) releaseHeldLine();
  appendDeckLine(text, ending, tblInLineNum, tblInFileNum);
}

void t_scanRun::appendDeckLine(std::string_view text, std::string_view ending, int32 inLine,
                               int32 inFile) {
  if (replacersOpen > 0) {
    std::string line;
    line.reserve(text.size() + ending.size());
    line.append(text).append(ending);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    passDown(static_cast<std::size_t>(lineNode), line, t_lineOrigin{inFile, inLine});
    return;
  }
  if (!appendStmtRow(stmt, tblOutLineNum, tblOutFileNum, inLine, inFile)) {
    fail(t_runFailure::outOfMemory);
    return;
  }
  writeDeckText(text);
  writeDeckText(ending);
  ++tblOutLineNum;
}

// A line the scan writes itself (a commented include): its row stays zero.
void t_scanRun::writeZeroRowLine(std::string_view text) {
  if (replacersOpen > 0) {
    passDown(static_cast<std::size_t>(lineNode), text, t_lineOrigin{});
    return;
  }
  writeFinalLine(text, t_lineOrigin{});
}

// A line of node `node` goes to the nearest replacer at or below that node, or to the deck.
void t_scanRun::passDown(std::size_t node, std::string_view line, t_lineOrigin origin) {
  for (std::size_t j = std::min(node + 1, replacers.size()); j-- > 1;) {
    if (replacers[j] != nullptr) {
      replacers[j]->line(line, origin);
      return;
    }
  }
  writeFinalLine(line, origin);
}

// A finished deck line and its statement row; a line of no input file gets a zero row.
void t_scanRun::writeFinalLine(std::string_view line, t_lineOrigin origin) {
  if (origin.filenum == 0) {
    writeDeckText(line);
    writeDeckText("\n");
    skipStmtRows(1);
    return;
  }
  if (!appendStmtRow(stmt, tblOutLineNum, tblOutFileNum, origin.linenum, origin.filenum)) {
    fail(t_runFailure::outOfMemory);
    return;
  }
  writeDeckText(line);
  writeDeckText("\n");
  ++tblOutLineNum;
}

void t_scanRun::holdLine() {
  if (!holding) {
    heldDeck.clear();
    heldKeywordIx = keywordIx;
    holding = true;
  }
  heldDeck.push_back(t_heldDeckLine{std::string(outputLine()), tblInLineNum, tblInFileNum});
}

void t_scanRun::releaseHeldLine() {
  holding = false;
  for (const t_heldDeckLine &line : heldDeck)
    appendDeckLine(line.text, {}, line.inLine, line.inFile);
  heldDeck.clear();
}

void t_scanRun::skipStmtRows(int32 n) {
  stmt.outstmtct += n;
  if (!reserveStmtRow(stmt)) fail(t_runFailure::outOfMemory);
}

void t_scanRun::fail(t_runFailure why) {
  if (result.failure == t_runFailure::none) result.failure = why;
}

void t_scanRun::pushState(int32 s) {
  currentstate = s;
  ++stateStackNdx;
  if (static_cast<std::size_t>(stateStackNdx) >= stateStack.size())
    stateStack.resize(stateStack.size() + kStateStackGrowth, 0);
  stateStack[static_cast<std::size_t>(stateStackNdx)] = s;
}

void t_scanRun::popState() {
  if (stateStackNdx > 0) --stateStackNdx;
  currentstate = stateStack[static_cast<std::size_t>(stateStackNdx)];
}

void t_scanRun::replaceState(int32 s) {
  currentstate = s;
  stateStack[static_cast<std::size_t>(stateStackNdx)] = s;
}

// Reads the next line of the top source, or takes the rest of an include statement's line that
// the member's end handed back; numbers it and runs the character loop over it.
void t_scanRun::handleLine() {
  const bool rebuilt = pendingRebuild;
  if (rebuilt) {
    lineStore.swap(rebuiltLine);
    buffer1 = lineStore;
    lineEofMark = rebuiltEofMark;
    numread1 = static_cast<std::int64_t>(buffer1.size());
    pendingRebuild = false;
  } else if (!top().heldLines.empty()) {
    takeHeldLine();
  } else {
    if (loglvl > 0) {
      numread1 = getCurrentSourceLine(lineStore, top(), &lineEofMark, loglvl);
      buffer1 = lineStore;
    } else {
      numread1 = readSourceLine(top(), lineStore, buffer1, &lineEofMark);
    }
    if (top().src.readError) noteReadFailure(top());
  }
  if (loglvl > 0) {
    std::printf("%s %d \n", "Output Line Number => ", tblOutLineNum);
    std::printf("%s %d \n", "Input Line Number => ", tblInLineNum);
  }
  beginLine(rebuilt);
  if (rebuilt) currentstate = rebuiltState;
  lineIsListRest = rebuilt && rebuiltState == MEMBEG_PLIINCLUDE;
  endCobolLiteralUnlessContinued();
  if (numread1 > 0) runCharacterLoop();
}

// The next line is one read ahead: it is taken as if read now.
void t_scanRun::takeHeldLine() {
  t_heldLine &held = top().heldLines.front();
  lineStore.swap(held.text);
  buffer1 = lineStore;
  numread1 = held.count;
  lineEofMark = held.eofMark;
  top().heldLines.erase(top().heldLines.begin());
  if (loglvl > 0) traceLineRead(numread1, buffer1);
}

// Makes sure the top source has at least `n` lines read ahead; false when it ends before them
// (a line of the end-of-file mark alone is no line).
bool t_scanRun::peekLine(std::size_t n) {
  t_sourceInputNode &node = top();
  while (node.heldLines.size() < n) {
    if (node.src.eof || (node.src.fp == nullptr && node.src.mem == nullptr)) return false;
    t_heldLine held;
    std::string_view line;
    held.count = readSourceLine(node, held.text, line, &held.eofMark);
    if (line.data() != held.text.data()) held.text.assign(line);
    if (node.src.readError) noteReadFailure(node);
    node.heldLines.push_back(std::move(held));
  }
  const t_heldLine &last = node.heldLines[n - 1];
  return !(last.eofMark && last.text.size() == 1);
}

// The scan starts on the line now in buffer1: nothing of it consumed, its statement row from
// the top source's next line (a rebuilt remainder belongs to the statement's own line, so its
// number does not move).
void t_scanRun::beginLine(bool rebuilt) {
  lineEnd = static_cast<std::int64_t>(buffer1.size());
  lineEndsInNewline = !buffer1.empty() && buffer1.back() == '\n';
  ix = 0;
  outCleared = false;
  keywordIx = 0;
  lineIsListRest = false;
  if (!rebuilt) ++top().sourcelinenum;
  lineNode = sourceStackCounter;
  tblInLineNum = top().sourcelinenum;
  tblInFileNum = top().sourcefilenum;
}

// Without tracing, in AT_START: the lines that lie whole in the top source's buffer are taken
// one after another as handleLine would take them. Those the code state's fast path passes
// over whole go to the deck as one span, each with its statement row. Returns true when a line
// needed the general rules (its output line is then pending, as after handleLine); false when
// the next line must be read by handleLine.
bool t_scanRun::passPlainLines() {
  t_sourceInputNode &node = top();
  const char *span = nullptr;
  std::size_t spanLen = 0;
  bool pending = false;
  std::string_view line;
  // A plain line is known as such, and its end found, in one pass; "EXEC" may begin an include
  // statement too, so with SQLINC(ON) every line goes through the rules.
  const bool plainLines = opt.optSQLINC == 0;
  const bool pli = lang == kLangPLI;
  const auto findPlainLines = haveWideLineBlocks() ? plainLines32 : plainLines16;
  t_sourceStream &src = node.src;
  // The scan's state for a line taken from the buffer, as handleLine sets it.
  const auto enterLine = [this](std::string_view taken) {
    buffer1 = taken;
    numread1 = static_cast<std::int64_t>(taken.size());
    lineEofMark = false;
    beginLine(false);
    stateStack[static_cast<std::size_t>(stateStackNdx)] = currentstate;
  };
  while (result.failure == t_runFailure::none) {
    const t_plainLines run = plainLines && src.pos < src.len
                                 ? findPlainLines(src.bytes() + src.pos, src.len - src.pos, pli)
                                 : t_plainLines{};
    if (run.lines != 0) {
      // They go to the deck as they stand, each with its row; the scan is left as the last of
      // them leaves it, in AT_START at its end.
      if (span == nullptr) span = src.bytes() + src.pos;
      spanLen += run.bytes;
      line = std::string_view(src.bytes() + src.pos + run.bytes - run.last, run.last);
      src.pos += run.bytes;
      const auto lines = static_cast<int32>(std::min<std::size_t>(run.lines, INT32_MAX));
      const int32 firstInLine = top().sourcelinenum + 1;
      top().sourcelinenum += lines - 1; // and beginLine counts the last
      enterLine(line);
      ix = lineEnd;
      if (static_cast<std::size_t>(lines) != run.lines ||
          !appendStmtRun(stmt, tblOutLineNum, tblOutFileNum, firstInLine, tblInFileNum, lines))
        fail(t_runFailure::outOfMemory);
      tblOutLineNum += lines;
      outCleared = true;
      continue;
    }
    if (!nextLineInPlace(src, line)) break;
    enterLine(line);
    if (runCodeFast() && ix >= lineEnd && currentstate == AT_START) {
      if (span == nullptr) span = line.data();
      spanLen += line.size();
      if (!appendStmtRow(stmt, tblOutLineNum, tblOutFileNum, tblInLineNum, tblInFileNum))
        fail(t_runFailure::outOfMemory);
      ++tblOutLineNum;
      outCleared = true;
      continue;
    }
    // The rest of this line goes through the general rules, after the lines passed before it.
    writeDeckText(std::string_view(span, spanLen));
    spanLen = 0;
    needAnotherLine = (ix >= lineEnd);
    runGeneralLoop();
    pending = true;
    break;
  }
  if (!pending) writeDeckText(std::string_view(span, spanLen));
  return pending;
}

void t_scanRun::noteReadFailure(t_sourceInputNode &node) {
  if (node.readFailureNoted) return;
  node.readFailureNoted = true;
  result.readFailures.push_back(node.sourcefn);
}

// The top source has ended: its last line gets a line end, a member is closed and popped, and
// the rest of the including statement's line, if it holds code, is handed back for scanning.
void t_scanRun::endOfSource() {
  if (holding) releaseHeldLine();
  --sourceStackCounter;
  if (hasOutput()) {
    const std::string_view out = outputLine();
    writeDeckLine(out.substr(0, out.size() - 1), "\n");
  }
  outCleared = true;
  if (sourceStackCounter < 0) return;
  const auto memberIndex = static_cast<std::size_t>(sourceStackCounter) + 1;
  if (memberIndex < replacers.size() && replacers[memberIndex] != nullptr) {
    // What the member's replacer still holds goes on towards the deck.
    replacers[memberIndex]->finish();
    replacers[memberIndex].reset();
    --replacersOpen;
  }
  t_sourceInputNode &member = sources[memberIndex];
  closeNode(member);
  if (!recordings.empty() && recordings.back().node == static_cast<int32>(memberIndex))
    finishRecording();
  t_sourceInputNode &parent = top();
  if (parent.resumeix >= 0) {
    const auto from = static_cast<std::size_t>(parent.resumeix);
    rebuiltLine.assign(from, ' ');
    rebuiltLine.append(parent.savbuffer1, from, std::string::npos);
    rebuiltEofMark = parent.savEofMark;
    rebuiltState = parent.resumeState;
    pendingRebuild = true;
    parent.resumeix = -1;
    parent.resumeState = AT_START;
  }
}

void t_scanRun::closeNode(t_sourceInputNode &node) {
  if (node.src.fp != nullptr) std::fclose(node.src.fp);
  if (node.src.readError) noteReadFailure(node);
  std::vector<char> keep;
  keep.swap(node.src.buf); // the read buffer is kept for the next member pushed here
  node = t_sourceInputNode{};
  node.src.buf.swap(keep);
}

void t_scanRun::run() {
  tblInFileNum = 1;
  tblOutFileNum = 1;
  tblOutLineNum = 1;
  sourceStackCounter = 0;
  while (sourceStackCounter >= 0 && result.failure == t_runFailure::none) {
    currentstate = AT_START;
    while ((!top().src.eof || pendingRebuild || !top().heldLines.empty()) &&
           result.failure == t_runFailure::none) {
      if (hasOutput()) {
        if (currentstate == PERCENT_PLIINCLUDE ||
            (currentstate >= EXEC_SQLINCLUDE && currentstate <= MEMEND_SQLINCLUDE))
          holdLine();
        else
          writeDeckLine(outputLine(), {});
      }
      outCleared = true;
      currentstate = adjustCurrentState(currentstate);
      if (loglvl == 0 && currentstate == AT_START && !pendingRebuild && replacersOpen == 0 &&
          top().heldLines.empty() && passPlainLines())
        continue;
      handleLine();
      echoNewDiagnostics();
    }
    if (result.failure != t_runFailure::none) break;
    endOfSource();
  }
  echoNewDiagnostics();
  // A run that ended early closes the members still open.
  for (int32 k = sourceStackCounter; k >= 1; --k)
    closeNode(sources[static_cast<std::size_t>(k)]);
}

t_runResult incFSMPLI(std::FILE *streamSOURCE, std::FILE *streamSYSPUNCH, std::FILE *streamSYSXMLSD,
                      const char * /*inputFileName*/, const t_optionsNode *optParm, int32 loglvl) {
  t_scanRun scan(*optParm, streamSYSPUNCH, loglvl);
  if (!scan.setUp(streamSOURCE)) {
    scan.result.failure = t_runFailure::outOfMemory;
    return scan.result;
  }
  scan.run();
  scan.flushDeck(true);
  // With a writer, the deck's thread takes part in the side file's statement lines; else they
  // are gathered in the deck's block, free by now.
  const bool xmlOk = writeXMLFile(
      streamSYSXMLSD, scan.errmsgArray.data(), scan.resArray, &scan.gendfile, scan.stmt.rows.data(),
      scan.resourcectr, scan.stmt.outstmtct, scan.msgcounter, optParm->optCOMPRESSSTMTTBL, loglvl,
      std::span<char>(scan.deckBlock, kDeckBlockSize), scan.writer.get());
  if (!xmlOk) scan.result.xmlWriteFailed = true;
  if (scan.writer) scan.writer->drain();
  if (scan.deckHandedFailed) scan.result.deckWriteFailed = true;
  for (int32 i = 0; i < scan.resourcectr; ++i)
    scan.result.inputFiles.push_back(scan.resArray[static_cast<std::size_t>(i)].sourcedsn);
  scan.result.missedDirectories = std::move(scan.searchNotes.missedDirectories);
  scan.result.diagnostics = scan.msgcounter;
  return scan.result;
}

} // namespace incprep
