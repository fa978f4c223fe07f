// The routines that fill and grow the run's tables: the primary's source node, the deck's
// generated-file row, file numbering in the resource table and statement-table rows.
#pragma once

#include "records.h"

namespace incprep {

/// Fills node `sourceArray` for the primary: stream, names from optParm->fileName, file number
/// `*currentfilenumber`. Always returns 0.
int32 loadSrcNode(t_sourceInputNode *sourceArray, std::FILE *curStream,
                  const t_optionsNode *optParm, const int32 *currentfilenumber, int32 loglvl);

/// Fills row 0 of the generated-file table with the deck: stream, names from
/// optParm->sysPUNCH, output file number 1. Always returns 0.
int32 loadOutputFileNode(t_ppGendFileNode *gendfileArray, std::FILE *curStream,
                         const t_optionsNode *optParm, int32 loglvl);

/// Returns the file number of `sourceArray`'s file, appending a row when its data set name is
/// new. The table grows by 100 rows when it holds capacity-1 rows; the bundle's resArray then
/// receives the table's new address. Returns 0 when the table cannot grow (out of memory).
[[nodiscard]] int32 loadResourceArrayInfo(std::vector<t_ppResourceNode> &resArray,
                                          const t_sourceInputNode *sourceArray, int32 *resourceCtr,
                                          int32 *maxEltsInArray, t_commArrayNode *pcommNode,
                                          int32 loglvl);

/// The statement table with its capacity in rows and its count of rows in use (row 0 is the
/// fixed header row {0, 1, 0, 1}; data rows start at index 1).
struct t_stmtTable {
  t_plainTable<t_ppStmtTblNode> rows;
  int32 maxstmtctr = 0;
  int32 outstmtct = 0;
};

/// Allocates the initial 1000 rows and presets the header row. False when out of memory.
[[nodiscard]] bool initStmtTable(t_stmtTable &tbl);

/// Grows the table by 10000 rows while row `outstmtct + 1` would not leave one spare row; the
/// added rows are zero. False when out of memory.
[[nodiscard]] bool reserveStmtRow(t_stmtTable &tbl);

/// Makes room for `n` more rows after row `outstmtct`, keeping one spare row as reserveStmtRow
/// does. False when out of memory or past the 32-bit row numbers.
[[nodiscard]] bool reserveStmtRows(t_stmtTable &tbl, int32 n);

/// Appends the row {oln, ofn, iln, ifn} at index outstmtct + 1. False when out of memory.
[[nodiscard]] inline bool appendStmtRow(t_stmtTable &tbl, int32 oln, int32 ofn, int32 iln,
                                        int32 ifn) {
  if (tbl.outstmtct >= tbl.maxstmtctr - 1 && !reserveStmtRow(tbl)) return false;
  ++tbl.outstmtct;
  tbl.rows[static_cast<std::size_t>(tbl.outstmtct)] = t_ppStmtTblNode{oln, ofn, iln, ifn};
  return true;
}

/// Appends `n` rows for consecutive lines: {oln + k, ofn, iln + k, ifn} for k from 0 to n - 1.
/// False when out of memory or past the 32-bit row numbers.
[[nodiscard]] inline bool appendStmtRun(t_stmtTable &tbl, int32 oln, int32 ofn, int32 iln,
                                        int32 ifn, int32 n) {
  if (!reserveStmtRows(tbl, n)) return false;
  t_ppStmtTblNode *const rows = &tbl.rows[static_cast<std::size_t>(tbl.outstmtct) + 1];
  for (int32 k = 0; k < n; ++k)
    rows[k] = t_ppStmtTblNode{oln + k, ofn, iln + k, ifn};
  tbl.outstmtct += n;
  return true;
}

} // namespace incprep
