// Filling and growing the run's tables.
#include "tables.h"

#include <cstdint>
#include <functional>

namespace incprep {
namespace {

void traceNames(const std::string &fn, const std::string &dsn, int32 loglvl) {
  if (loglvl > 0) {
    std::printf("loadSrcNode>> filename is %s\n", fn.c_str());
    std::printf("loadSrcNode>> datasetname is %s\n", dsn.c_str());
  }
}

} // namespace

int32 loadSrcNode(t_sourceInputNode *sourceArray, std::FILE *curStream,
                  const t_optionsNode *optParm, const int32 *currentfilenumber, int32 loglvl) {
  sourceArray->src.fp = curStream;
  sourceArray->sourcefn = optParm->fileName;
  sourceArray->sourcefilenum = *currentfilenumber;
  sourceArray->sourcedsn = optParm->fileName;
  traceNames(sourceArray->sourcefn, sourceArray->sourcedsn, loglvl);
  return 0;
}

int32 loadOutputFileNode(t_ppGendFileNode *gendfileArray, std::FILE *curStream,
                         const t_optionsNode *optParm, int32 loglvl) {
  gendfileArray->osourcefp = curStream;
  gendfileArray->osourcefn = optParm->sysPUNCH;
  gendfileArray->osourcedsn = optParm->sysPUNCH;
  gendfileArray->osourcefilenum = 1;
  traceNames(gendfileArray->osourcefn, gendfileArray->osourcedsn, loglvl);
  return 0;
}

int32 loadResourceArrayInfo(std::vector<t_ppResourceNode> &resArray,
                            const t_sourceInputNode *sourceArray, int32 *resourceCtr,
                            int32 *maxEltsInArray, t_commArrayNode *pcommNode, int32 /*loglvl*/) {
  const int32 count = *resourceCtr;
  t_resourceIndex *index = pcommNode->resIndex;
  if (index != nullptr) {
    const int32 at = index->find(resArray, sourceArray->sourcedsn);
    if (at >= 0) return resArray[static_cast<std::size_t>(at)].sourcefilenum;
  } else {
    for (int32 i = 0; i < count; ++i) {
      const t_ppResourceNode &row = resArray[static_cast<std::size_t>(i)];
      if (row.sourcedsn == sourceArray->sourcedsn) return row.sourcefilenum;
    }
  }
  // The growth test comes before the append: the table grows when the 100th file arrives.
  if (count >= *maxEltsInArray - 1) {
    const int32 grown = *maxEltsInArray + kResourceGrowth;
    try {
      resArray.resize(static_cast<std::size_t>(grown));
    } catch (const std::bad_alloc &) {
      return 0;
    }
    *maxEltsInArray = grown;
    pcommNode->resArray = resArray.data();
  }
  t_ppResourceNode &row = resArray[static_cast<std::size_t>(count)];
  row = t_ppResourceNode{};
  row.sourcefn = sourceArray->sourcefn;
  row.sourcedsn = sourceArray->sourcedsn;
  if (index != nullptr && !index->add(resArray, count)) return 0;
  *resourceCtr = count + 1;
  row.sourcefilenum = count + 1;
  return row.sourcefilenum;
}

namespace {
std::size_t hashOf(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}
} // namespace

int32 t_resourceIndex::find(const std::vector<t_ppResourceNode> &rows,
                            std::string_view dsn) const {
  if (slots.empty()) return -1;
  const std::size_t mask = slots.size() - 1;
  for (std::size_t i = hashOf(dsn) & mask;; i = (i + 1) & mask) {
    const int32 slot = slots[i];
    if (slot == 0) return -1;
    if (rows[static_cast<std::size_t>(slot - 1)].sourcedsn == dsn) return slot - 1;
  }
}

bool t_resourceIndex::add(const std::vector<t_ppResourceNode> &rows, int32 row) {
  try {
    // At most half the slots are in use, so that probe runs stay short.
    if (static_cast<std::size_t>(used + 1) * 2 > slots.size()) {
      std::vector<int32> grown(slots.empty() ? 256 : slots.size() * 2, 0);
      const std::size_t mask = grown.size() - 1;
      for (const int32 slot : slots) {
        if (slot == 0) continue;
        std::size_t i = hashOf(rows[static_cast<std::size_t>(slot - 1)].sourcedsn) & mask;
        while (grown[i] != 0)
          i = (i + 1) & mask;
        grown[i] = slot;
      }
      slots.swap(grown);
    }
    if (openAt.size() <= static_cast<std::size_t>(row)) openAt.resize(static_cast<std::size_t>(row) + 1, 0);
  } catch (const std::bad_alloc &) {
    return false;
  }
  const std::size_t mask = slots.size() - 1;
  std::size_t i = hashOf(rows[static_cast<std::size_t>(row)].sourcedsn) & mask;
  while (slots[i] != 0)
    i = (i + 1) & mask;
  slots[i] = row + 1;
  ++used;
  return true;
}

bool initStmtTable(t_stmtTable &tbl) {
  if (!tbl.rows.resize(kInitialStmtRows)) return false;
  tbl.maxstmtctr = kInitialStmtRows;
  tbl.outstmtct = 0;
  tbl.rows[0] = t_ppStmtTblNode{0, 1, 0, 1};
  return true;
}

bool reserveStmtRow(t_stmtTable &tbl) {
  while (tbl.outstmtct >= tbl.maxstmtctr - 1) {
    // Row numbers are 32-bit: a deck that would pass them cannot be described.
    if (tbl.maxstmtctr > INT32_MAX - kStmtGrowth) return false;
    if (!tbl.rows.resize(static_cast<std::size_t>(tbl.maxstmtctr) + kStmtGrowth)) return false;
    tbl.maxstmtctr += kStmtGrowth;
  }
  return true;
}

bool reserveStmtRows(t_stmtTable &tbl, int32 n) {
  if (n < 0 || n > INT32_MAX - 1 - tbl.outstmtct) return false;
  const int32 rowsNow = tbl.outstmtct;
  tbl.outstmtct += n;
  const bool ok = reserveStmtRow(tbl);
  tbl.outstmtct = rowsNow;
  return ok;
}

} // namespace incprep
