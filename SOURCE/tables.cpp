// Filling and growing the run's tables.
#include "tables.h"

#include <cstdint>

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
  for (int32 i = 0; i < count; ++i) {
    const t_ppResourceNode &row = resArray[static_cast<std::size_t>(i)];
    if (row.sourcedsn == sourceArray->sourcedsn) return row.sourcefilenum;
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
  *resourceCtr = count + 1;
  row.sourcefilenum = count + 1;
  return row.sourcefilenum;
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

} // namespace incprep
