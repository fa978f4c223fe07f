// Reuse of member expansions. A copybook is often included many times in one program; each
// time it gives the deck the same lines with the same statement rows, only further down the
// deck. The first expansion of a member is kept as it is written (deck bytes, rows, the files
// nested in it); a later expansion in the same setting copies it instead of scanning the member
// and its nested members again. Without trace only: the trace reports every step.
#include "scanner.h"
#include "scanner_impl.h"

#include <algorithm>
#include <cstring>

namespace incprep {

// The state stack entries below the current one. The current entry is rewritten by the scan
// before it is read; those below are what a member that pops states would return to.
bool t_scanRun::sameStackBelow(const std::vector<int32> &below) const {
  return static_cast<std::size_t>(stateStackNdx) == below.size() &&
         std::equal(below.begin(), below.end(), stateStack.begin());
}

// Whether any file expanded within `e` is open in the chain of includes: expanding it again
// would recurse.
bool t_scanRun::anyNestedOpen(const t_expansion &e) const {
  for (std::size_t k = e.nestedFrom; k < e.nestedTo; ++k) {
    const int32 f = nestedFiles[k];
    const auto row = static_cast<std::size_t>(f - 1);
    if (row >= resIndex.openAt.size()) return true; // not indexed: assume the worst
    const int32 at = resIndex.openAt[row];
    if (at >= 1 && at <= sourceStackCounter &&
        sources[static_cast<std::size_t>(at)].sourcefilenum == f)
      return true;
  }
  return false;
}

// A file expanded while expansions are being kept goes on the list of nested files; when the
// list is full, the open recordings fail.
void t_scanRun::noteNestedFile(int32 file) {
  if (recordings.empty() || tapeOverflow) return;
  if (nestedFiles.size() >= kNestedFilesRoom) {
    tapeOverflow = true;
    return;
  }
  nestedFiles.push_back(file);
}

// Deck bytes written while an expansion is being kept go on the tape as well.
void t_scanRun::tapeDeckText(std::string_view text) {
  if (tapeOverflow) return;
  // The tape never moves: a kept expansion copied while another is being kept is copied from
  // the tape to its end.
  if (tapeUsed + text.size() > kTapeRoom) {
    tapeOverflow = true;
    return;
  }
  std::memcpy(tapeStart() + tapeUsed, text.data(), text.size());
  tapeUsed += text.size();
}

// A member has just been pushed and its include statement finished. Its kept expansion is
// copied when it was made in the same setting and none of the files nested in it is open now;
// otherwise the member is scanned, and its expansion kept when it is the first.
void t_scanRun::beginMember() {
  if (loglvl != 0 || replacersOpen != 0 || result.failure != t_runFailure::none) return;
  const auto node = static_cast<std::size_t>(sourceStackCounter);
  const int32 file = sources[node].sourcefilenum;
  if (node == 0 || file <= 0) return;
  const auto row = static_cast<std::size_t>(file - 1);
  noteNestedFile(file);
  if (row < expansions.size() && expansions[row] != nullptr) {
    const t_expansion &kept = *expansions[row];
    if (sameStackBelow(kept.stackBelow) && !anyNestedOpen(kept)) replayExpansion(kept);
    return;
  }
  if ((row < expansionRefused.size() && expansionRefused[row]) || tapeOverflow) return;
  t_recording rec;
  rec.node = sourceStackCounter;
  rec.fileNum = file;
  rec.tapeStart = tapeUsed;
  rec.rowStart = stmt.outstmtct;
  rec.lineStart = tblOutLineNum;
  rec.msgStart = msgcounter;
  rec.readFailStart = result.readFailures.size();
  rec.nestedStart = nestedFiles.size();
  rec.keptStart = keptOrder.size();
  rec.recordsAtStart = keptRecordBytes;
  rec.stackBelow.assign(stateStack.begin(), stateStack.begin() + stateStackNdx);
  recordings.push_back(std::move(rec));
}

// The member of the innermost recording has ended (its node is closed). Its expansion is kept
// when it raised nothing, read whole, fits and left the state stack below it as it found it.
void t_scanRun::finishRecording() {
  t_recording rec = std::move(recordings.back());
  recordings.pop_back();
  const auto row = static_cast<std::size_t>(rec.fileNum - 1);
  const bool clean = !tapeOverflow && msgcounter == rec.msgStart &&
                     result.readFailures.size() == rec.readFailStart &&
                     result.failure == t_runFailure::none && sameStackBelow(rec.stackBelow);
  const std::size_t record = t_expansion::recordBytes(rec.stackBelow.size());
  // Room short: the expansions kept within this one give way to it, as it holds them all (in
  // a deep chain of members, the outermost is then kept rather than the innermost ones).
  const bool fits = keptRecordBytes + record <= kKeptRecordRoom ||
                    rec.recordsAtStart + record <= kKeptRecordRoom;
  bool kept = false;
  if (clean && fits) {
    try {
      if (expansions.size() <= row) expansions.resize(row + 1);
      keptOrder.reserve(keptOrder.size() + 1);
      keepExpansion(rec);
      kept = true;
    } catch (const std::bad_alloc &) {
      // Nothing is lost: the member is scanned again when met again.
    }
  }
  if (!kept) {
    try {
      if (expansionRefused.size() <= row) expansionRefused.resize(row + 1);
      expansionRefused[row] = true;
    } catch (const std::bad_alloc &) {
    }
  }
  if (recordings.empty()) {
    // What no kept expansion holds is taken back.
    tapeUsed = std::max(rec.tapeStart, tapeKeptEnd);
    tapeOverflow = false;
    nestedFiles.resize(nestedKeptEnd);
  }
}

// Keeps the expansion of `rec`'s member, which has just ended, making room first when needed.
// Throws std::bad_alloc with nothing changed (the caller has made room in `expansions` and
// `keptOrder`).
void t_scanRun::keepExpansion(t_recording &rec) {
  auto e = std::make_unique<t_expansion>();
  e->tapeStart = rec.tapeStart;
  e->deckBytes = tapeUsed - rec.tapeStart;
  e->rowStart = rec.rowStart;
  e->rows = stmt.outstmtct - rec.rowStart;
  e->lineStart = rec.lineStart;
  e->lines = tblOutLineNum - rec.lineStart;
  e->nestedFrom = rec.nestedStart;
  e->nestedTo = nestedFiles.size();
  e->stackBelow = std::move(rec.stackBelow);
  if (keptRecordBytes + e->recordBytes() > kKeptRecordRoom) {
    while (keptOrder.size() > rec.keptStart) {
      std::unique_ptr<t_expansion> &inner = expansions[keptOrder.back()];
      keptRecordBytes -= inner->recordBytes();
      inner.reset();
      keptOrder.pop_back();
    }
  }
  keptRecordBytes += e->recordBytes();
  keptOrder.push_back(static_cast<std::size_t>(rec.fileNum - 1));
  expansions[keptOrder.back()] = std::move(e);
  tapeKeptEnd = tapeUsed;
  nestedKeptEnd = nestedFiles.size();
}

// The member just pushed gives the deck its kept expansion and ends at once: its bytes and rows
// are copied, deck line numbers moved to where the deck now stands.
void t_scanRun::replayExpansion(const t_expansion &e) {
  if (!reserveStmtRows(stmt, e.rows)) {
    fail(t_runFailure::outOfMemory);
    return;
  }
  writeDeckKept(std::string_view(tapeStart() + e.tapeStart, e.deckBytes));
  const t_ppStmtTblNode *in = stmt.rows.data() + e.rowStart + 1;
  t_ppStmtTblNode *out = stmt.rows.data() + stmt.outstmtct + 1;
  const int32 shift = tblOutLineNum - e.lineStart;
  for (int32 k = 0; k < e.rows; ++k, ++in, ++out) {
    *out = *in;
    if (in->ifn != 0) out->oln += shift;
  }
  stmt.outstmtct += e.rows;
  tblOutLineNum += e.lines;
  // The files nested in it are nested in the expansions being kept around it too.
  for (std::size_t k = e.nestedFrom; k < e.nestedTo && !recordings.empty() && !tapeOverflow; ++k)
    noteNestedFile(nestedFiles[k]);
  endOfSource();
}

} // namespace incprep
