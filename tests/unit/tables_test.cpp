// The run's tables: the primary's source node, the deck's row, file numbering in the resource
// table with its growth, and the statement table with its growth.
#include "tables.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace incprep {
namespace {

// -----------------------------------------------------------------------------------------------
// The primary's node and the deck's row
// -----------------------------------------------------------------------------------------------

TEST(SourceNode, PrimaryTakesTheSourceNameAndTheGivenNumber) {
  t_optionsNode opt{};
  opt.fileName = "C:\\src\\PROG.CBL";
  opt.sysPUNCH = "OTHER.DEK";
  t_sourceInputNode node{};
  std::FILE *stream = std::tmpfile();
  const int32 number = 1;
  int32 rc = -1;
  const std::string traced =
      unit::captureStdout([&] { rc = loadSrcNode(&node, stream, &opt, &number, 1); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(node.src.fp, stream);
  EXPECT_EQ(node.sourcefn, "C:\\src\\PROG.CBL");
  EXPECT_EQ(node.sourcedsn, "C:\\src\\PROG.CBL");
  EXPECT_EQ(node.sourcefilenum, 1);
  EXPECT_EQ(node.sourcelinenum, 0);
  EXPECT_EQ(traced, "loadSrcNode>> filename is C:\\src\\PROG.CBL\n"
                    "loadSrcNode>> datasetname is C:\\src\\PROG.CBL\n");
  EXPECT_EQ(unit::captureStdout([&] { (void)loadSrcNode(&node, stream, &opt, &number, 0); }), "");
  std::fclose(stream);
}

TEST(SourceNode, PreviousNamesAreReplacedWhole) {
  t_optionsNode opt{};
  opt.fileName = "B";
  t_sourceInputNode node{};
  node.sourcefn = "A-much-longer-name.cbl";
  node.sourcedsn = "A-much-longer-name.cbl";
  const int32 number = 7;
  (void)loadSrcNode(&node, nullptr, &opt, &number, 0);
  EXPECT_EQ(node.sourcefn, "B");
  EXPECT_EQ(node.sourcedsn, "B");
  EXPECT_EQ(node.sourcefilenum, 7);
}

TEST(GeneratedFile, DeckIsOutputFileOneNamedAfterSysPunch) {
  t_optionsNode opt{};
  opt.fileName = "SRC.CBL";
  opt.sysPUNCH = "Deck & Co.DEK";
  t_ppGendFileNode row{};
  std::FILE *stream = std::tmpfile();
  int32 rc = -1;
  const std::string traced =
      unit::captureStdout([&] { rc = loadOutputFileNode(&row, stream, &opt, 1); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(row.osourcefp, stream);
  EXPECT_EQ(row.osourcefn, "Deck & Co.DEK");
  EXPECT_EQ(row.osourcedsn, "Deck & Co.DEK");
  EXPECT_EQ(row.osourcefilenum, 1);
  // The deck's trace uses the same texts as the source node's.
  EXPECT_EQ(traced, "loadSrcNode>> filename is Deck & Co.DEK\n"
                    "loadSrcNode>> datasetname is Deck & Co.DEK\n");
  EXPECT_EQ(unit::captureStdout([&] { (void)loadOutputFileNode(&row, stream, &opt, 0); }), "");
  std::fclose(stream);
}

// -----------------------------------------------------------------------------------------------
// File numbering
// -----------------------------------------------------------------------------------------------

/// A resource table as the scanner creates it: 100 cleared rows, none in use, the bundle
/// pointing at it and, when `indexed`, at a hash index of its names (as the scanner's has).
struct t_resources {
  std::vector<t_ppResourceNode> rows = std::vector<t_ppResourceNode>(100);
  int32 count = 0;
  int32 capacity = 100;
  t_commArrayNode bundle{};
  t_resourceIndex index;
  explicit t_resources(bool indexed) {
    bundle.resArray = rows.data();
    if (indexed) bundle.resIndex = &index;
  }

  int32 number(const std::string &fn, const std::string &dsn) {
    t_sourceInputNode node{};
    node.sourcefn = fn;
    node.sourcedsn = dsn;
    return loadResourceArrayInfo(rows, &node, &count, &capacity, &bundle, 0);
  }
  int32 number(const std::string &name) { return number(name, name); }
};

std::string memberName(int k) {
  return "lib/MEMBER" + std::to_string(k) + ".cpy";
}

// Every numbering rule holds alike with the rows scanned and with the hash index.
class ResourceTable : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(ScannedAndIndexed, ResourceTable, testing::Bool());

TEST(ResourceIndex, TenThousandFilesKeepTheirNumbersThroughEveryRehash) {
  t_resources res(true);
  for (int k = 1; k <= 10000; ++k)
    ASSERT_EQ(res.number(memberName(k)), k);
  EXPECT_EQ(res.index.used, 10000);
  EXPECT_GE(res.index.slots.size(), 20000u); // never more than half full
  for (int k = 10000; k >= 1; --k)
    ASSERT_EQ(res.number(memberName(k)), k);
  EXPECT_EQ(res.index.find(res.rows, "lib/MEMBER0.cpy"), -1);
  EXPECT_EQ(res.index.find(res.rows, memberName(77)), 76);
  EXPECT_EQ(res.count, 10000);
}

TEST_P(ResourceTable, FilesAreNumberedInOrderOfFirstMeeting) {
  t_resources res(GetParam());
  EXPECT_EQ(res.number("PROG.CBL"), 1);
  EXPECT_EQ(res.number("lib/A.cpy"), 2);
  EXPECT_EQ(res.number("lib/B.cpy"), 3);
  EXPECT_EQ(res.count, 3);
  for (int32 i = 0; i < 3; ++i)
    EXPECT_EQ(res.rows[static_cast<std::size_t>(i)].sourcefilenum, i + 1);
  EXPECT_EQ(res.rows[0].sourcedsn, "PROG.CBL");
  EXPECT_EQ(res.rows[1].sourcedsn, "lib/A.cpy");
  EXPECT_EQ(res.rows[2].sourcedsn, "lib/B.cpy");
}

TEST_P(ResourceTable, SameFileAgainKeepsItsNumber) {
  t_resources res(GetParam());
  (void)res.number("PROG.CBL");
  (void)res.number("lib/A.cpy");
  (void)res.number("lib/B.cpy");
  EXPECT_EQ(res.number("lib/A.cpy"), 2);
  EXPECT_EQ(res.number("PROG.CBL"), 1);
  EXPECT_EQ(res.number("lib/B.cpy"), 3);
  EXPECT_EQ(res.count, 3);
  EXPECT_EQ(res.rows[3].sourcedsn, "");
}

TEST_P(ResourceTable, TheDataSetNameIsTheKey) {
  t_resources res(GetParam());
  EXPECT_EQ(res.number("first-fn", "KEY"), 1);
  EXPECT_EQ(res.number("second-fn", "KEY"), 1); // same key, another file name: same file
  EXPECT_EQ(res.number("first-fn", "OTHER"), 2);
  EXPECT_EQ(res.rows[0].sourcefn, "first-fn");
  EXPECT_EQ(res.rows[1].sourcefn, "first-fn");
  EXPECT_EQ(res.rows[1].sourcedsn, "OTHER");
}

TEST_P(ResourceTable, PathsDifferingOnlyInCaseAreTwoFiles) {
  t_resources res(GetParam());
  EXPECT_EQ(res.number("lib/PAYREC.cpy"), 1);
  EXPECT_EQ(res.number("lib/payrec.cpy"), 2);
  EXPECT_EQ(res.number("LIB/PAYREC.cpy"), 3);
  EXPECT_EQ(res.number("lib/PAYREC.cpy"), 1);
  EXPECT_EQ(res.count, 3);
}

TEST_P(ResourceTable, APrefixIsNotTheSameFile) {
  t_resources res(GetParam());
  EXPECT_EQ(res.number("lib/A.cpy"), 1);
  EXPECT_EQ(res.number("lib/A.cpy.bak"), 2);
  EXPECT_EQ(res.number("lib/A.cp"), 3);
}

TEST_P(ResourceTable, LongNamesAreKeptWhole) {
  t_resources res(GetParam());
  const std::string longName = "lib/" + std::string(1000, 'L') + ".cpy";
  EXPECT_EQ(res.number(longName), 1);
  EXPECT_EQ(res.rows[0].sourcedsn, longName);
  EXPECT_EQ(res.rows[0].sourcefn, longName);
  EXPECT_EQ(res.number(longName.substr(0, 300)), 2);
}

TEST_P(ResourceTable, GrowsBeforeTheHundredthDistinctFileKeepingEveryNumber) {
  t_resources res(GetParam());
  for (int k = 1; k <= 99; ++k)
    ASSERT_EQ(res.number(memberName(k)), k);
  // 99 rows in use: the capacity has not moved yet.
  EXPECT_EQ(res.count, 99);
  EXPECT_EQ(res.capacity, 100);
  EXPECT_EQ(res.rows.size(), 100u);
  EXPECT_EQ(res.bundle.resArray, res.rows.data());

  // A file met before does not grow the table.
  EXPECT_EQ(res.number(memberName(50)), 50);
  EXPECT_EQ(res.capacity, 100);

  // The 100th distinct file: the table grows to 200 rows before its row is written.
  EXPECT_EQ(res.number(memberName(100)), 100);
  EXPECT_EQ(res.count, 100);
  EXPECT_EQ(res.capacity, 200);
  EXPECT_EQ(res.rows.size(), 200u);
  EXPECT_EQ(res.bundle.resArray, res.rows.data());
  for (int k = 1; k <= 100; ++k) {
    const t_ppResourceNode &row = res.rows[static_cast<std::size_t>(k - 1)];
    EXPECT_EQ(row.sourcedsn, memberName(k));
    EXPECT_EQ(row.sourcefilenum, k);
  }
  // The added rows are empty.
  for (std::size_t i = 100; i < res.rows.size(); ++i) {
    EXPECT_EQ(res.rows[i].sourcedsn, "");
    EXPECT_EQ(res.rows[i].sourcefilenum, 0);
  }
  // Every earlier file is still found under its number.
  for (int k = 1; k <= 100; ++k)
    EXPECT_EQ(res.number(memberName(k)), k);
  EXPECT_EQ(res.count, 100);
}

TEST_P(ResourceTable, GrowsAgainByOneHundredBeforeTheTwoHundredthFile) {
  t_resources res(GetParam());
  for (int k = 1; k <= 199; ++k)
    ASSERT_EQ(res.number(memberName(k)), k);
  EXPECT_EQ(res.capacity, 200);
  EXPECT_EQ(res.number(memberName(200)), 200);
  EXPECT_EQ(res.capacity, 300);
  EXPECT_EQ(res.rows.size(), 300u);
  EXPECT_EQ(res.bundle.resArray, res.rows.data());
  for (int k = 1; k <= 200; ++k)
    EXPECT_EQ(res.number(memberName(k)), k);
}

// -----------------------------------------------------------------------------------------------
// The statement table
// -----------------------------------------------------------------------------------------------

void expectRow(const t_ppStmtTblNode &row, int32 oln, int32 ofn, int32 iln, int32 ifn) {
  EXPECT_EQ(row.oln, oln);
  EXPECT_EQ(row.ofn, ofn);
  EXPECT_EQ(row.iln, iln);
  EXPECT_EQ(row.ifn, ifn);
}

TEST(StatementTable, StartsWithOneThousandRowsAndTheHeaderRow) {
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  EXPECT_EQ(tbl.maxstmtctr, 1000);
  EXPECT_EQ(tbl.rows.capacity(), 1000u);
  EXPECT_EQ(tbl.outstmtct, 0);
  expectRow(tbl.rows[0], 0, 1, 0, 1);
  for (std::size_t i = 1; i < 1000; ++i)
    expectRow(tbl.rows[i], 0, 0, 0, 0);
}

TEST(StatementTable, RowsAreFilledFromIndexOneInFieldOrder) {
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  ASSERT_TRUE(appendStmtRow(tbl, 1, 1, 7, 2));
  ASSERT_TRUE(appendStmtRow(tbl, 2, 1, 8, 3));
  EXPECT_EQ(tbl.outstmtct, 2);
  expectRow(tbl.rows[0], 0, 1, 0, 1);
  expectRow(tbl.rows[1], 1, 1, 7, 2);
  expectRow(tbl.rows[2], 2, 1, 8, 3);
}

// Row k of the growth tests holds values that tell it apart from its neighbours.
void appendNumbered(t_stmtTable &tbl, int32 k) {
  ASSERT_TRUE(appendStmtRow(tbl, k, 1, 3 * k, k % 7 + 1));
}

TEST(StatementTable, GrowsToElevenThousandRowsBeforeRowOneThousand) {
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  for (int32 k = 1; k <= 999; ++k)
    appendNumbered(tbl, k);
  // Row 999 fits the first 1000 rows; the table has not grown yet.
  EXPECT_EQ(tbl.outstmtct, 999);
  EXPECT_EQ(tbl.maxstmtctr, 1000);
  EXPECT_EQ(tbl.rows.capacity(), 1000u);

  appendNumbered(tbl, 1000);
  EXPECT_EQ(tbl.outstmtct, 1000);
  EXPECT_EQ(tbl.maxstmtctr, 11000);
  EXPECT_EQ(tbl.rows.capacity(), 11000u);
  expectRow(tbl.rows[0], 0, 1, 0, 1);
  for (int32 k = 1; k <= 1000; ++k) {
    SCOPED_TRACE(k);
    expectRow(tbl.rows[static_cast<std::size_t>(k)], k, 1, 3 * k, k % 7 + 1);
  }
  for (std::size_t i = 1001; i < 11000; ++i)
    expectRow(tbl.rows[i], 0, 0, 0, 0);
}

TEST(StatementTable, GrowsByTenThousandRowsEachTimeAfter) {
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  for (int32 k = 1; k <= 10999; ++k)
    appendNumbered(tbl, k);
  EXPECT_EQ(tbl.maxstmtctr, 11000);
  appendNumbered(tbl, 11000);
  EXPECT_EQ(tbl.maxstmtctr, 21000);
  EXPECT_EQ(tbl.rows.capacity(), 21000u);
  for (int32 k = 1; k <= 11000; ++k)
    ASSERT_EQ(tbl.rows[static_cast<std::size_t>(k)].iln, 3 * k) << "row " << k;
  for (std::size_t i = 11001; i < 21000; ++i)
    expectRow(tbl.rows[i], 0, 0, 0, 0);
}

TEST(StatementTable, RowsPassedOverStayZeroAcrossGrowth) {
  // A commented include advances the count without filling rows; making room afterwards keeps
  // them zero, also when they lie in the part the table gains.
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  for (int32 k = 1; k <= 997; ++k)
    appendNumbered(tbl, k);
  tbl.outstmtct += 4; // rows 998 to 1001 passed over
  ASSERT_TRUE(reserveStmtRow(tbl));
  EXPECT_EQ(tbl.maxstmtctr, 11000);
  ASSERT_TRUE(appendStmtRow(tbl, 998, 1, 5, 1));
  EXPECT_EQ(tbl.outstmtct, 1002);
  for (std::size_t i = 998; i <= 1001; ++i)
    expectRow(tbl.rows[i], 0, 0, 0, 0);
  expectRow(tbl.rows[1002], 998, 1, 5, 1);
  expectRow(tbl.rows[997], 997, 1, 3 * 997, 997 % 7 + 1);
}

TEST(StatementTable, MakingRoomAfterALongJumpGrowsAsOftenAsNeeded) {
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  tbl.outstmtct = 15000;
  ASSERT_TRUE(reserveStmtRow(tbl));
  EXPECT_EQ(tbl.maxstmtctr, 21000);
  ASSERT_TRUE(appendStmtRow(tbl, 1, 1, 1, 1));
  expectRow(tbl.rows[15001], 1, 1, 1, 1);
}

TEST(StatementTable, RoomForManyRowsAtOnceLeavesTheCountAndKeepsOneSpare) {
  // Rows copied in bulk (a member's kept expansion) need room for all of them first; the count
  // is the caller's to advance. Past 32-bit row numbers there is no room.
  t_stmtTable tbl;
  ASSERT_TRUE(initStmtTable(tbl));
  tbl.outstmtct = 995;
  ASSERT_TRUE(reserveStmtRows(tbl, 3)); // rows 996 to 998 fit, 999 spare
  EXPECT_EQ(tbl.maxstmtctr, 1000);
  ASSERT_TRUE(reserveStmtRows(tbl, 4)); // row 999 would leave no spare
  EXPECT_EQ(tbl.maxstmtctr, 11000);
  ASSERT_TRUE(reserveStmtRows(tbl, 25000));
  EXPECT_EQ(tbl.maxstmtctr, 31000);
  EXPECT_EQ(tbl.outstmtct, 995);
  EXPECT_FALSE(reserveStmtRows(tbl, INT32_MAX - 995));
  EXPECT_FALSE(reserveStmtRows(tbl, -1));
  EXPECT_EQ(tbl.outstmtct, 995);
}

TEST(StatementTable, ARunOfRowsIsTheRowsAppendedOneByOne) {
  // Consecutive lines passed together get the rows they would get one by one, also across the
  // table's growth; a run past 32-bit row numbers is refused and leaves the table as it was.
  t_stmtTable run;
  t_stmtTable single;
  ASSERT_TRUE(initStmtTable(run));
  ASSERT_TRUE(initStmtTable(single));
  for (int32 k = 1; k <= 990; ++k) {
    appendNumbered(run, k);
    appendNumbered(single, k);
  }
  ASSERT_TRUE(appendStmtRun(run, 991, 1, 40, 2, 30));
  for (int32 k = 0; k < 30; ++k)
    ASSERT_TRUE(appendStmtRow(single, 991 + k, 1, 40 + k, 2));
  ASSERT_EQ(run.outstmtct, single.outstmtct);
  EXPECT_EQ(run.maxstmtctr, single.maxstmtctr);
  for (std::size_t i = 0; i <= static_cast<std::size_t>(run.outstmtct) + 1; ++i) {
    const t_ppStmtTblNode &r = single.rows[i];
    SCOPED_TRACE(i);
    expectRow(run.rows[i], r.oln, r.ofn, r.iln, r.ifn);
  }
  EXPECT_FALSE(appendStmtRun(run, 1, 1, 1, 1, INT32_MAX));
  EXPECT_EQ(run.outstmtct, 1020);
}

} // namespace
} // namespace incprep
