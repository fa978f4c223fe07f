// The COBOL COPY statement in its whole form: a library name, SUPPRESS and REPLACING, over any
// number of lines. A statement that is only "COPY name" on one line keeps the name collection
// of the state machine; as soon as a statement goes on past its name (or its name is on a later
// line), its lines are read ahead and handed to the statement reader, and the member is
// expanded through a replacer when the statement has REPLACING.
#include "diagnostics.h"
#include "scanner.h"
#include "scanner_impl.h"

#include <limits>

namespace incprep {
namespace {

constexpr std::size_t kColumn7 = 6;
constexpr std::size_t kColumn8 = 7;
constexpr std::size_t kCodeEnd = 72; // columns 73 and beyond: identification area
constexpr std::size_t kKeywordLength = 4;

// A line's text without its line end (newline or end-of-file mark).
std::string_view lineText(std::string_view line, bool eofMark) {
  if (eofMark && !line.empty()) return line.substr(0, line.size() - 1);
  if (!line.empty() && line.back() == '\n') return line.substr(0, line.size() - 1);
  return line;
}

bool isSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ';';
}


// The first text word of a line's code area from `from` (separators skipped), up to a separator
// or a period; a period standing first is a word of its own. Empty when the area holds none.
std::string_view firstWord(std::string_view text, std::size_t from) {
  const std::size_t end = std::min(text.size(), kCodeEnd);
  std::size_t i = std::max(from, kColumn8);
  while (i < end && isSeparator(text[i]))
    ++i;
  if (i >= end) return {};
  if (text[i] == '.') return text.substr(i, 1);
  std::size_t j = i;
  while (j < end && !isSeparator(text[j]) && text[j] != '.')
    ++j;
  return text.substr(i, j - i);
}

bool isCommentLine(std::string_view text) {
  return text.size() > kColumn7 && (text[kColumn7] == '*' || text[kColumn7] == '/');
}

// A word that carries the statement on past its name, or the period that ends it later.
bool continuesStatement(std::string_view word) {
  if (word == ".") return true;
  std::string up(word);
  for (char &c : up)
    c = upperOf(c);
  return up == "OF" || up == "IN" || up == "SUPPRESS" || up == "REPLACING";
}

} // namespace

// Right after the keyword: no text word follows on its line.
bool t_scanRun::copyNameOnLaterLine() const {
  return firstWord(lineText(buffer1, lineEofMark), static_cast<std::size_t>(ix)).empty();
}

// At the end of a COPY name collected on its keyword's line: whether the statement goes on
// with a library name, SUPPRESS or REPLACING, here or on a later line, or ends with a period on
// a later line. Lines looked at beyond this one stay held for the scan.
bool t_scanRun::copyStatementGoesOn() {
  if (charAt(ix) == '.') return false;
  keepLineInStore();
  const std::string_view rest =
      firstWord(lineText(buffer1, lineEofMark), static_cast<std::size_t>(ix));
  if (!rest.empty()) return continuesStatement(rest);
  for (std::size_t n = 1; peekLine(n); ++n) {
    const t_heldLine &held = top().heldLines[n - 1];
    const std::string_view text = lineText(held.text, held.eofMark);
    if (isCommentLine(text)) continue;
    const std::string_view word = firstWord(text, kColumn8);
    if (!word.empty()) return continuesStatement(word);
  }
  return false;
}

// The statement from the keyword on this line through as many lines as it takes: read ahead
// and handed to the statement reader; then expanded, or left in the deck when it is not
// complete.
void t_scanRun::copyStatementOverLines() {
  keepLineInStore();
  t_copyStatementParser reader;
  const auto from = static_cast<std::size_t>(keywordIx) + kKeywordLength;
  t_stmtStatus status = reader.begin(lineText(buffer1, lineEofMark), from);
  std::size_t fed = 0;
  while (status == t_stmtStatus::needMore) {
    if (!peekLine(fed + 1)) {
      status = reader.end();
      break;
    }
    const t_heldLine &held = top().heldLines[fed];
    status = reader.next(lineText(held.text, held.eofMark));
    ++fed;
  }
  if (status == t_stmtStatus::complete) {
    const t_copyStatement &statement = reader.statement();
    expandCopy(statement, statement.endLine, statement.endIndex);
    return;
  }
  // Not a statement that can be taken: raised at its first line, its lines left as they are.
  if (loglvl > 0) std::printf("%s %s\n", "COPY statement not taken:", reader.why().c_str());
  raiseDiagnostic(
      errmsgArray.data(), &msgcounter, kMsgBadCopy, top().sourcefilenum, top().sourcelinenum,
      "COPY statement not expanded: " + reader.why() + "; its lines are left as written");
  const std::string_view last =
      fed == 0 ? buffer1 : std::string_view(top().heldLines[fed - 1].text);
  const bool lastEof = fed == 0 ? lineEofMark : top().heldLines[fed - 1].eofMark;
  leaveStatementInDeck(fed, static_cast<std::int64_t>(lineText(last, lastEof).size()));
}

// The statement's lines (the current one and `lastLine` held lines) stay in the deck as they
// are: all but the last are written whole, and the scan goes on in the last from `resumeAt`.
void t_scanRun::leaveStatementInDeck(std::size_t lastLine, std::int64_t resumeAt) {
  if (lastLine > 0) {
    writeDeckLine(buffer1, {});
    for (std::size_t k = 1; k <= lastLine; ++k) {
      takeHeldLine();
      beginLine(false);
      if (k < lastLine) writeDeckLine(buffer1, {});
    }
  }
  ix = std::max<std::int64_t>(resumeAt, 0);
  outCleared = false;
  setCurrentState(AT_START);
  needAnotherLine = lineConsumed();
}

// A complete statement ending in held line `lastLine` at `endIndex`: the member is looked up in
// the statement's library and, when it can be taken, expanded in place of the statement's lines.
void t_scanRun::expandCopy(const t_copyStatement &statement, std::size_t lastLine,
                           std::size_t endIndex) {
  if (loglvl > 0) std::printf("%s %s", "Completed the COPY processing ", " ");
  const t_libraryRef library = statement.library.empty()
                                   ? t_libraryRef{}
                                   : t_libraryRef{statement.library, statement.libraryLiteral};
  const int32 parentIndex = sourceStackCounter;
  const int32 rc_openinc =
      includeFileOpener(library, statement.name, &sourceStackCounter, &msgcounter, &resourcectr,
                        &maxresourcectr, sources, opt, errmsgArray.data(), resArray, &comm,
                        loglvl == 0 ? &memberCache : nullptr, &result.failure, loglvl);
  if (result.failure != t_runFailure::none) {
    result.failureDetail = statement.name;
    needAnotherLine = true;
    return;
  }
  if (rc_openinc == 0) {
    // Not found, or recursive: the statement stays in the deck; the scan goes on after it.
    leaveStatementInDeck(lastLine, static_cast<std::int64_t>(endIndex));
    return;
  }

  // The statement's first line is the current one; its later lines leave the held lines of the
  // including source, which is then at the statement's last line.
  t_sourceInputNode &parent = sources[static_cast<std::size_t>(parentIndex)];
  const std::string firstLine(buffer1);
  const bool firstEofMark = lineEofMark;
  statementLines.clear();
  for (std::size_t k = 0; k < lastLine; ++k) {
    statementLines.push_back(std::move(parent.heldLines.front()));
    parent.heldLines.erase(parent.heldLines.begin());
  }
  parent.sourcelinenum += static_cast<int32>(lastLine);
  const std::string_view last =
      lastLine == 0 ? std::string_view(firstLine) : std::string_view(statementLines.back().text);
  const bool lastEofMark = lastLine == 0 ? firstEofMark : statementLines.back().eofMark;
  parent.savbuffer1.assign(last);
  parent.savEofMark = lastEofMark;
  parent.buffix =
      static_cast<int32>(std::min<std::size_t>(endIndex, std::numeric_limits<int32>::max()));
  const auto resume = static_cast<std::int64_t>(endIndex);
  parent.resumeix =
      holdsCode(last, lastEofMark, std::max(resume, codeAreaStart()), codeAreaEnd()) ? resume : -1;

  // Code that stands before the keyword on the first line is kept as a deck line of its own.
  if (keywordIx > 0 && holdsCode(firstLine, firstEofMark, codeAreaStart(), keywordIx))
    writeDeckLine(std::string_view(firstLine).substr(0, static_cast<std::size_t>(keywordIx)), "\n");

  ix = 0;
  setCurrentState(AT_START);
  needAnotherLine = true;
  outCleared = true;
  if (loglvl > 0) std::printf("%s \n", "Write Commented Include");
  if (opt.optCMT == 1) {
    // Every line of the statement as a comment, each with a zero row, then an empty line.
    writeZeroRowLine(commentedCobolLine(firstLine, firstEofMark));
    for (const t_heldLine &held : statementLines)
      writeZeroRowLine(commentedCobolLine(held.text, held.eofMark));
    writeZeroRowLine({});
  }
  if (loglvl > 0) std::printf("%s \n", "Done writing Commented Include ");

  attachReplacer(statement);
  beginMember();
}

// The member just pushed takes its statement's REPLACING, and, inside a member that is itself
// being replaced, the enclosing pairs after its own, as one list: text that one pair produced is
// not examined again by another. What the enclosing replacer holds goes out first.
void t_scanRun::attachReplacer(const t_copyStatement &statement) {
  const auto member = static_cast<std::size_t>(sourceStackCounter);
  t_replacer *enclosing = nullptr;
  for (std::size_t j = std::min(member, replacers.size()); j-- > 1 && enclosing == nullptr;)
    enclosing = replacers[j].get();
  if (enclosing == nullptr && !statement.hasReplacing) return;
  if (replacers.size() <= member) replacers.resize(member + 1);
  if (enclosing != nullptr) {
    enclosing->finish();
    replacers[member] = std::make_unique<t_replacer>(statement, *enclosing);
  } else {
    replacers[member] = std::make_unique<t_replacer>(
        statement, [this, member](std::string_view line, t_lineOrigin origin) {
          passDown(member - 1, line, origin);
        });
  }
  ++replacersOpen;
}

} // namespace incprep
