// The parts of incprep-map below its command line: the statement-table text parser fed in
// pieces, the compact row storage, and loading a side file from memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "deckmap.h"
#include "sidefile.h"
#include "sidefile_text.h"

namespace {

using incmap::t_stmtRow;
using incmap::t_stmtTable;
using incmap::t_stmtTextParser;

std::vector<t_stmtRow> allRows(const t_stmtTable &table) {
  std::vector<t_stmtRow> rows;
  for (std::uint32_t k = 1; k <= table.rowCount(); ++k)
    rows.push_back(table.row(k));
  return rows;
}

// Two statement lines as incprep writes them: entries of (oln,ofn,iln,ifn), a blank and a line
// end after each line.
const std::string kText = "(1,1,1,1);(2,1,2,1);(0,0,0,0);(0,0,0,0);(3,1,1,2); \n"
                          "(4,1,2,2);(5,1,3,1);(2147483647,1,2147483647,2147483647); \n";
const std::vector<t_stmtRow> kRows = {{1, 1}, {2, 1}, {0, 0}, {0, 0},
                                      {1, 2}, {2, 2}, {3, 1}, {2147483647U, 2147483647U}};

TEST(StatementText, AnyCutGivesTheSameRows) {
  for (std::size_t cut = 0; cut <= kText.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    t_stmtTable table;
    t_stmtTextParser parser(table);
    std::string error;
    ASSERT_TRUE(parser.feed(std::string_view(kText).substr(0, cut), error)) << error;
    ASSERT_TRUE(parser.feed(std::string_view(kText).substr(cut), error)) << error;
    ASSERT_TRUE(parser.finish(error)) << error;
    EXPECT_EQ(allRows(table), kRows);
  }
  t_stmtTable table;
  t_stmtTextParser parser(table);
  std::string error;
  for (const char c : kText)
    ASSERT_TRUE(parser.feed(std::string_view(&c, 1), error)) << error;
  ASSERT_TRUE(parser.finish(error)) << error;
  EXPECT_EQ(allRows(table), kRows);
}

TEST(StatementText, EmptyTableHasNoRows) {
  for (const std::string text : {"", " \n", " \n \n\t\r\n"}) {
    t_stmtTable table;
    t_stmtTextParser parser(table);
    std::string error;
    EXPECT_TRUE(parser.feed(text, error)) << error;
    EXPECT_TRUE(parser.finish(error)) << error;
    EXPECT_EQ(table.rowCount(), 0U);
  }
}

TEST(StatementText, FaultsAreFound) {
  const std::vector<std::string> bad = {
      "(1,1,1,1)",           // no ';' before the end
      "(1,1,1,1) ;",         // blank before ';'
      "(1,1,1,1,1);",        // five numbers
      "(1,1,1);",            // three numbers
      "(,1,1,1);",           // empty number
      "(1,1,1,);",           // empty last number
      "( 1,1,1,1);",         // blank inside
      "(1,1,-1,1);",         // sign
      "(2147483648,1,1,1);", // beyond 32-bit signed
      "(1,1,1,1);;",         // stray ';'
      "1,1,1,1);",           // no '('
      "(1;1;1;1);",          // wrong separators
      "(1,1,1,1);(2,1",      // cut off
  };
  for (const std::string &text : bad) {
    SCOPED_TRACE(text);
    t_stmtTable table;
    t_stmtTextParser parser(table);
    std::string error;
    const bool ok = parser.feed(text, error) && parser.finish(error);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("statement table entry"), std::string::npos) << error;
  }
}

TEST(StatementStorage, ConsecutiveLinesShareOneRun) {
  t_stmtTable table;
  for (std::uint32_t line = 1; line <= 1000000; ++line)
    ASSERT_TRUE(table.append(line, 1));
  EXPECT_EQ(table.runs().size(), 1U);
  ASSERT_TRUE(table.append(0, 0));
  ASSERT_TRUE(table.append(0, 0));
  ASSERT_TRUE(table.append(0, 0));
  for (std::uint32_t line = 1; line <= 5; ++line)
    ASSERT_TRUE(table.append(line, 2));
  ASSERT_TRUE(table.append(1000001, 1));
  ASSERT_TRUE(table.append(1000003, 1)); // a line skipped in the primary starts a new run
  ASSERT_TRUE(table.append(1, 2));       // the same member again
  EXPECT_EQ(table.runs().size(), 6U);
  EXPECT_EQ(table.rowCount(), 1000011U);
  EXPECT_EQ(table.row(1), (t_stmtRow{1, 1}));
  EXPECT_EQ(table.row(1000000), (t_stmtRow{1000000, 1}));
  EXPECT_EQ(table.row(1000001), (t_stmtRow{0, 0}));
  EXPECT_EQ(table.row(1000003), (t_stmtRow{0, 0}));
  EXPECT_EQ(table.row(1000004), (t_stmtRow{1, 2}));
  EXPECT_EQ(table.row(1000008), (t_stmtRow{5, 2}));
  EXPECT_EQ(table.row(1000009), (t_stmtRow{1000001, 1}));
  EXPECT_EQ(table.row(1000010), (t_stmtRow{1000003, 1}));
  EXPECT_EQ(table.row(1000011), (t_stmtRow{1, 2}));
}

TEST(SideFileLoading, ValuesAreTakenFromTheDocument) {
  maptest::t_sideDoc doc;
  doc.fileCount = 3;
  doc.files = {{1, "A&amp;B.cbl"}, {3, "lib\\C.cpy"}};
  doc.messages = {{"KVR0009-W", 4, 1,
                   "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY "
                   "CONCATENATION."},
                  {"KVR0013-W", 2, 3, "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED."}};
  doc.deck = "A&amp;B.DEK";
  doc.statementLines = {maptest::entry(1, 1, 1, 1) + maptest::entry(2, 1, 1, 3),
                        maptest::entry(3, 1, 3, 1)};
  incmap::t_sideFile side;
  std::string error;
  ASSERT_TRUE(incmap::loadSideFileFromMemory(maptest::sideFileText(doc), "doc", side, error))
      << error;
  EXPECT_EQ(side.fileCount, 3U);
  ASSERT_EQ(side.fileNames.size(), 2U);
  ASSERT_NE(side.fileName(1), nullptr);
  EXPECT_EQ(*side.fileName(1), "A&B.cbl");
  EXPECT_EQ(side.fileName(2), nullptr);
  ASSERT_NE(side.fileName(3), nullptr);
  EXPECT_EQ(*side.fileName(3), "lib\\C.cpy");
  EXPECT_EQ(side.messageCount, 2U);
  EXPECT_EQ(side.deckNumber, 1U);
  EXPECT_EQ(side.deckName, "A&B.DEK");
  EXPECT_EQ(allRows(side.statements), (std::vector<t_stmtRow>{{1, 1}, {1, 3}, {3, 1}}));
}

TEST(SideFileLoading, NamesThatAreNotUtf8KeepTheirBytes) {
  // incprep writes names byte for byte under a prolog without encoding; a Latin-1 name is not
  // UTF-8.
  maptest::t_sideDoc doc;
  doc.fileCount = 1;
  doc.files = {{1, "PR\xD6G.CBL"}};
  doc.deck = "PR\xD6G.DEK";
  doc.statementLines = {maptest::entry(1, 1, 1, 1)};
  incmap::t_sideFile side;
  std::string error;
  ASSERT_TRUE(incmap::loadSideFileFromMemory(maptest::sideFileText(doc), "doc", side, error))
      << error;
  ASSERT_NE(side.fileName(1), nullptr);
  EXPECT_EQ(*side.fileName(1), "PR\xD6G.CBL");
  EXPECT_EQ(side.deckName, "PR\xD6G.DEK");
}

TEST(SideFileLoading, FaultsNameTheDocumentLine) {
  maptest::t_sideDoc doc;
  doc.fileCount = 1;
  doc.files = {{1, "A.CBL"}};
  doc.deck = "A.DEK";
  doc.statementLines = {maptest::entry(1, 1, 1, 1), maptest::entry(2, 1, 2, 1) + "(3,1,3;"};
  incmap::t_sideFile side;
  std::string error;
  ASSERT_FALSE(incmap::loadSideFileFromMemory(maptest::sideFileText(doc), "doc", side, error));
  // Line 18 is <STATEMENTTABLE>; the faulty entry stands on the second line after it.
  EXPECT_EQ(error, "doc:20: not a valid side file: statement table entry 3: expected ',' but "
                   "found ';'");
}

} // namespace
