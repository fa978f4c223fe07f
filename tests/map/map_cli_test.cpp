// incprep-map run as a program: mapping single deck lines, filtering compiler output, and
// refusing bad side files and bad command lines. Every expected answer below is worked out from
// how incprep numbers deck lines: one statement-table row per deck line, in order; a member's
// lines carry its own file number and are numbered from 1; a source that ends with a line end
// adds one empty deck line numbered one past its last line; under CMT(ON) a successful include
// statement is replaced by two zero rows (COBOL) or four (PL/I) followed by the member's rows.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "sidefile_text.h"
#include "tool_runner.h"

namespace {

using maptest::entry;
using maptest::runTool;
using maptest::sideFileText;
using maptest::t_scratchDir;
using maptest::t_sideDoc;
using maptest::t_toolResult;

const std::string kTool = INCPREP_MAP_BIN;

std::string dataFile(const std::string &name) {
  return std::string(MAP_DATA_DIR) + "/" + name;
}

const std::string kZero = entry(0, 0, 0, 0);

std::string slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Deck line -> "FILE:LINE", or nullopt when the tool must say the line has no source line.
struct t_case {
  long deckLine;
  std::optional<std::string> source;
};

void expectMappings(const std::string &sideFile, const std::vector<t_case> &cases) {
  for (const t_case &c : cases) {
    SCOPED_TRACE(sideFile + " deck line " + std::to_string(c.deckLine));
    const t_toolResult r = runTool(kTool, {sideFile, std::to_string(c.deckLine)});
    ASSERT_TRUE(r.started);
    if (c.source) {
      EXPECT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(r.out, *c.source + "\n");
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err,
                "incprep-map: deck line " + std::to_string(c.deckLine) + " has no source line\n");
    }
  }
}

// PROG.CBL (file 1): lines 1-4 plain, 5 COPY PAYREC. (found as lib/PAYREC.cpy, file 2, two
// lines and a final line end), 6 COPY MISSING. (not found, stays), 7-8 plain, final line end.
// Run with LANG(COBOL) CMT(ON).
const std::vector<t_case> kCobolRun = {
    {1, "PROG.CBL:1"},       {2, "PROG.CBL:2"},  {3, "PROG.CBL:3"},       {4, "PROG.CBL:4"},
    {5, "PROG.CBL:5"},       {6, "PROG.CBL:5"},  {7, "lib/PAYREC.cpy:1"}, {8, "lib/PAYREC.cpy:2"},
    {9, "lib/PAYREC.cpy:3"}, {10, "PROG.CBL:6"}, {11, "PROG.CBL:7"},      {12, "PROG.CBL:8"},
    {13, "PROG.CBL:9"},
};

TEST(MapLine, CobolRunWithCommentedInclude) {
  expectMappings(dataFile("cobol_cmt.xml"), kCobolRun);
}

TEST(MapLine, SixEntriesPerLineGiveTheSameAnswers) {
  expectMappings(dataFile("cobol_cmt_format.xml"), kCobolRun);
}

TEST(MapLine, LinesOutsideTheDeckAreRefused) {
  const std::string side = dataFile("cobol_cmt.xml");
  for (const std::string line : {"14", "1000", "99999999999999999999999"}) {
    SCOPED_TRACE(line);
    const t_toolResult r = runTool(kTool, {side, line});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "incprep-map: deck line " + line + " is out of range: the deck has 13 lines\n");
  }
  const t_toolResult zero = runTool(kTool, {side, "0"});
  EXPECT_EQ(zero.exitCode, 1);
  EXPECT_EQ(zero.out, "");
  EXPECT_NE(zero.err.find("deck line 0"), std::string::npos) << zero.err;

  const t_toolResult empty = runTool(kTool, {dataFile("empty_table.xml"), "1"});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "incprep-map: deck line 1 is out of range: the deck has 0 lines\n");
}

// MAIN.PLI (file 1): 1 plain, 2 and 3 %INCLUDE DECLS; (inc/DECLS.inc, file 2: one line and a
// final line end), 4 %INCLUDE OUTER; (inc/OUTER.inc, file 3: 1 %INCLUDE INNER;, 2 plain, final
// line end; inc/INNER.inc, file 4: one line without line end), 5 plain without line end.
// LANG(PLI) CMT(ON) FORMAT(ON). The eight zero rows 14-21 are two commented includes in a row:
// MAIN.PLI line 4, then OUTER's first line.
TEST(MapLine, PliNestedAndRepeatedMembers) {
  expectMappings(dataFile("pli_nested.xml"),
                 {{1, "MAIN.PLI:1"},       {2, "MAIN.PLI:2"},       {3, "MAIN.PLI:2"},
                  {4, "MAIN.PLI:2"},       {5, "MAIN.PLI:2"},       {6, "inc/DECLS.inc:1"},
                  {7, "inc/DECLS.inc:2"},  {8, "MAIN.PLI:3"},       {9, "MAIN.PLI:3"},
                  {10, "MAIN.PLI:3"},      {11, "MAIN.PLI:3"},      {12, "inc/DECLS.inc:1"},
                  {13, "inc/DECLS.inc:2"}, {14, "MAIN.PLI:4"},      {15, "MAIN.PLI:4"},
                  {16, "MAIN.PLI:4"},      {17, "MAIN.PLI:4"},      {18, "inc/OUTER.inc:1"},
                  {19, "inc/OUTER.inc:1"}, {20, "inc/OUTER.inc:1"}, {21, "inc/OUTER.inc:1"},
                  {22, "inc/INNER.inc:1"}, {23, "inc/OUTER.inc:2"}, {24, "inc/OUTER.inc:3"},
                  {25, "MAIN.PLI:5"}});
}

// NEST.CBL (file 1): 1 plain, 2 COPY A. (lib/A.cpy, file 2: 1 COPY C., 2 plain, final line end;
// lib/C.cpy, file 3: one line and a final line end), 3 plain, final line end. COBOL, CMT(ON).
// Its only run of zero rows has four rows, as one PL/I commented include would; the rows of A
// that follow C's show that they are two COBOL commented includes.
TEST(MapLine, CobolIncludeOnTheFirstLineOfAMember) {
  t_scratchDir dir;
  t_sideDoc doc;
  doc.fileCount = 3;
  doc.files = {{1, "NEST.CBL"}, {2, "lib/A.cpy"}, {3, "lib/C.cpy"}};
  doc.deck = "NEST.DEK";
  doc.statementLines = {entry(1, 1, 1, 1) + kZero + kZero + kZero + kZero + entry(2, 1, 1, 3) +
                        entry(3, 1, 2, 3) + entry(4, 1, 2, 2) + entry(5, 1, 3, 2) +
                        entry(6, 1, 3, 1) + entry(7, 1, 4, 1)};
  expectMappings(dir.write("nest.xml", sideFileText(doc)), {{1, "NEST.CBL:1"},
                                                            {2, "NEST.CBL:2"},
                                                            {3, "NEST.CBL:2"},
                                                            {4, "lib/A.cpy:1"},
                                                            {5, "lib/A.cpy:1"},
                                                            {6, "lib/C.cpy:1"},
                                                            {7, "lib/C.cpy:2"},
                                                            {8, "lib/A.cpy:2"},
                                                            {9, "lib/A.cpy:3"},
                                                            {10, "NEST.CBL:3"},
                                                            {11, "NEST.CBL:4"}});
}

// P.CBL (file 1): 1 plain, 2 COPY A., 3 COPY D., final line end. lib/A.cpy (file 2) is the single
// line "COPY C." without line end, so A shows no line of its own in the table; lib/C.cpy (3) and
// lib/D.cpy (4) have one line and a final line end. COBOL, CMT(ON). The commented lines of A's
// statement, and of the statement after A, cannot be placed: A could as well have gone on.
TEST(MapLine, CommentedLinesThatCannotBePlacedHaveNoSourceLine) {
  t_scratchDir dir;
  t_sideDoc doc;
  doc.fileCount = 4;
  doc.files = {{1, "P.CBL"}, {2, "lib/A.cpy"}, {3, "lib/C.cpy"}, {4, "lib/D.cpy"}};
  doc.deck = "P.DEK";
  doc.statementLines = {entry(1, 1, 1, 1) + kZero + kZero + kZero + kZero + entry(2, 1, 1, 3) +
                        entry(3, 1, 2, 3) + kZero + kZero + entry(4, 1, 1, 4) + entry(5, 1, 2, 4) +
                        entry(6, 1, 4, 1)};
  expectMappings(dir.write("p.xml", sideFileText(doc)), {{1, "P.CBL:1"},
                                                         {2, "P.CBL:2"},
                                                         {3, "P.CBL:2"},
                                                         {4, std::nullopt},
                                                         {5, std::nullopt},
                                                         {6, "lib/C.cpy:1"},
                                                         {7, "lib/C.cpy:2"},
                                                         {8, std::nullopt},
                                                         {9, std::nullopt},
                                                         {10, "lib/D.cpy:1"},
                                                         {11, "lib/D.cpy:2"},
                                                         {12, "P.CBL:4"}});
}

TEST(MapLine, EscapedNamesAreShownAsTheyWere) {
  // R&D\<A>.cbl (file 1): 1 plain, 2 -INC of lib\"Q"'s.cpy (file 2, two lines without final
  // line end), 3 plain, final line end.
  expectMappings(dataFile("escaped_names.xml"), {{1, "R&D\\<A>.cbl:1"},
                                                 {2, "lib\\\"Q\"'s.cpy:1"},
                                                 {3, "lib\\\"Q\"'s.cpy:2"},
                                                 {4, "R&D\\<A>.cbl:3"},
                                                 {5, "R&D\\<A>.cbl:4"}});
}

TEST(MapLine, FileWithoutNameIsReported) {
  // FILECOUNT 2, but only file 1 has a FILE element; deck line 2 comes from file 2.
  const std::string side = dataFile("unnamed_file.xml");
  expectMappings(side, {{1, "ODD.CBL:1"}, {3, "ODD.CBL:2"}});
  const t_toolResult r = runTool(kTool, {side, "2"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "incprep-map: deck line 2 comes from input file 2, which the side file does "
                   "not name\n");
}

TEST(MapLine, StatementTextInSeveralPieces) {
  // The cobol_cmt.xml table with a comment and a CDATA section cutting entries apart: the
  // reader hands the text over in pieces.
  t_scratchDir dir;
  std::string text = maptest::readWhole(dataFile("cobol_cmt.xml"));
  const std::string whole = "(5,1,1,2);(6,1,2,2);(7,1,3,2);";
  const std::string cut = "(5,1,<!-- cut -->1,2);(6,1,<![CDATA[2,2);(7]]>,1,3,2);";
  const std::size_t at = text.find(whole);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, whole.size(), cut);
  expectMappings(dir.write("cut.xml", text), kCobolRun);
}

// ---------------------------------------------------------------------------------------------
// --filter

TEST(MapFilter, RewritesEveryDeckPositionAndNothingElse) {
  const std::string input = "PROG.DEK:7: error: 'B' is not defined\n"
                            "PROG.DEK:10: see PROG.DEK:13: and PROG.DEK:1:PROG.DEK:2:\n"
                            "nothing to see here\n"
                            "\n"
                            "MYPROG.DEK:7: a longer name\n"
                            "dir/PROG.DEK:7: with a directory\n"
                            "PROG.DEKS:7: name goes on\n"
                            "PROG.DEK: in paragraph 'MAIN':\n"
                            "PROG.DEK:14: beyond the deck\n"
                            "PROG.DEK:0: line zero\n"
                            "PROG.DEK:7 no second colon\n"
                            "PROG.DEK::7: no number\n"
                            "PROG.DEK:99999999999999999999: too big\n"
                            "PROG.DEK:5:12: commented include, with a column\n"
                            "(PROG.DEK:8:) in brackets\n"
                            "carriage return PROG.DEK:9:\r\n"
                            "tail PROG.DEK:11:";
  const std::string expected = "lib/PAYREC.cpy:1: error: 'B' is not defined\n"
                               "PROG.CBL:6: see PROG.CBL:9: and PROG.CBL:1:PROG.CBL:2:\n"
                               "nothing to see here\n"
                               "\n"
                               "MYPROG.DEK:7: a longer name\n"
                               "lib/PAYREC.cpy:1: with a directory\n"
                               "PROG.DEKS:7: name goes on\n"
                               "PROG.DEK: in paragraph 'MAIN':\n"
                               "PROG.DEK:14: beyond the deck\n"
                               "PROG.DEK:0: line zero\n"
                               "PROG.DEK:7 no second colon\n"
                               "PROG.DEK::7: no number\n"
                               "PROG.DEK:99999999999999999999: too big\n"
                               "PROG.CBL:5:12: commented include, with a column\n"
                               "(lib/PAYREC.cpy:2:) in brackets\n"
                               "carriage return lib/PAYREC.cpy:3:\r\n"
                               "tail PROG.CBL:7:";
  const t_toolResult r = runTool(kTool, {dataFile("cobol_cmt.xml"), "--filter"}, input);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
}

// The deck as a compiler prints it when given another path to it: with "./", absolute, through
// a directory. A deck of the same name elsewhere is another file; a context line takes the file
// of the message after it. The side file names the deck PROG.DEK, written beside it in out/.
TEST(MapFilter, TheDeckUnderEverySpellingAndContextLines) {
  t_scratchDir dir;
  std::filesystem::create_directories(dir.path() / "out");
  std::filesystem::create_directories(dir.path() / "other");
  const std::string side = dir.write("out/PROG.XML", slurp(dataFile("cobol_cmt.xml")));
  dir.write("out/PROG.DEK", "deck\n");
  dir.write("other/PROG.DEK", "another deck\n");
  const std::string abs = (dir.path() / "out" / "PROG.DEK").string();
  const std::string input = "./out/PROG.DEK: in paragraph 'MAIN':\n"
                            "./out/PROG.DEK:7: error: one\n" +
                            abs + ":10: error: two\n"
                            "out/PROG.DEK:13: error: three\n"
                            "other/PROG.DEK:7: error: not the deck\n"
                            "out/./PROG.DEK: in section 'S':\n"
                            "out/PROG.DEK: in paragraph 'P':\n"
                            "nothing mapped here\n"
                            "out/PROG.DEK: at the end\n";
  const std::string expected = "lib/PAYREC.cpy: in paragraph 'MAIN':\n"
                               "lib/PAYREC.cpy:1: error: one\n"
                               "PROG.CBL:6: error: two\n"
                               "PROG.CBL:9: error: three\n"
                               "other/PROG.DEK:7: error: not the deck\n"
                               "out/./PROG.DEK: in section 'S':\n"
                               "out/PROG.DEK: in paragraph 'P':\n"
                               "nothing mapped here\n"
                               "out/PROG.DEK: at the end\n";
  const t_toolResult r = runTool(kTool, {side, "--filter"}, input, {}, dir.path().string());
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
}

TEST(MapFilter, OptionBeforeTheSideFileAndEmptyInput) {
  const t_toolResult r = runTool(kTool, {"--filter", dataFile("cobol_cmt.xml")}, "");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(MapFilter, DeckNameWithSpecialCharacters) {
  // The deck is O'Brien&Co.DEK, written escaped in the side file.
  const t_toolResult r = runTool(kTool, {dataFile("escaped_names.xml"), "--filter"},
                                 "O'Brien&Co.DEK:2: e\nxO'Brien&Co.DEK:2: f\n"
                                 "O&apos;Brien&amp;Co.DEK:2: g\n");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "lib\\\"Q\"'s.cpy:1: e\nxO'Brien&Co.DEK:2: f\nO&apos;Brien&amp;Co.DEK:2: g\n");
}

TEST(MapFilter, LongLinesAndUnmappableLinesPassThrough) {
  // unnamed_file.xml: deck line 2 comes from a file without name and stays as it is.
  const std::string longText(200000, 'x');
  const std::string input = longText + " ODD.DEK:3: " + longText + "\nODD.DEK:2: kept\n";
  const std::string expected = longText + " ODD.CBL:2: " + longText + "\nODD.DEK:2: kept\n";
  const t_toolResult r = runTool(kTool, {dataFile("unnamed_file.xml"), "--filter"}, input);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
}

// A deck of 250,000 lines: PRIMARY.CBL holds 240,000 lines; after its lines 1,000, 2,000, ...
// (every thousandth line is COPY MEMBER. instead), lib\MEMBER.cpy's 3 lines and its final empty
// line come in. Without FORMAT(ON) the entries fill lines of just over 2,000 characters.
TEST(MapFilter, LargeTable) {
  t_scratchDir dir;
  t_sideDoc doc;
  doc.fileCount = 2;
  doc.files = {{1, "PRIMARY.CBL"}, {2, "lib\\MEMBER.cpy"}};
  doc.deck = "PRIMARY.DEK";
  std::vector<std::pair<long, long>> expected{{0, 0}}; // deck line -> (file, line)
  std::string line;
  auto add = [&](long file, long inLine) {
    expected.emplace_back(file, inLine);
    line += entry(static_cast<long>(expected.size()) - 1, 1, inLine, file);
    if (line.size() > 2000) {
      doc.statementLines.push_back(line);
      line.clear();
    }
  };
  for (long p = 1; p <= 240000; ++p) {
    if (p % 1000 == 0) {
      for (long m = 1; m <= 4; ++m)
        add(2, m);
    } else {
      add(1, p);
    }
  }
  add(1, 240001); // the primary's final empty line
  if (!line.empty()) doc.statementLines.push_back(line);
  const long deckLines = static_cast<long>(expected.size()) - 1;
  ASSERT_EQ(deckLines, 240000 - 240 + 240 * 4 + 1);

  std::string input;
  std::string want;
  for (long k = 1; k <= deckLines + 2; k += (k < 3000 ? 1 : 997)) {
    input += "PRIMARY.DEK:" + std::to_string(k) + ": m\n";
    if (k <= deckLines) {
      const auto [file, inLine] = expected[static_cast<std::size_t>(k)];
      want += (file == 1 ? std::string("PRIMARY.CBL:") : std::string("lib\\MEMBER.cpy:")) +
              std::to_string(inLine) + ": m\n";
    } else {
      want += "PRIMARY.DEK:" + std::to_string(k) + ": m\n";
    }
  }
  input += "PRIMARY.DEK:" + std::to_string(deckLines) + ": last\n";
  want += "PRIMARY.CBL:240001: last\n";
  const t_toolResult r =
      runTool(kTool, {dir.write("big.xml", sideFileText(doc)), "--filter"}, input);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out == want) << "filtered output differs";
}

// GnuCOBOL's own messages about a deck, as incprep would have written it for the PROG.CBL run of
// cobol_cmt.xml: deck line 10 is the COPY MISSING. that was not expanded, deck line 12 uses an
// undefined name.
TEST(MapFilter, GnuCobolMessages) {
  const std::string cobc = maptest::findProgram("cobc");
  if (cobc.empty()) GTEST_SKIP() << "cobc is not installed";
  t_scratchDir dir;
  dir.write("PROG.DEK", "       IDENTIFICATION DIVISION.\n"
                        "       PROGRAM-ID. PROG.\n"
                        "       DATA DIVISION.\n"
                        "       WORKING-STORAGE SECTION.\n"
                        "      *COPY PAYREC.\n"
                        "\n"
                        "       01 PAY-REC.\n"
                        "          05 PAY-AMT PIC 9(5).\n"
                        "\n"
                        "       COPY MISSING.\n"
                        "       PROCEDURE DIVISION.\n"
                        "           DISPLAY PAY-AMTX.\n"
                        "\n");
  const t_toolResult compiled =
      runTool(cobc, {"-fsyntax-only", "PROG.DEK"}, "", "", dir.path().string());
  ASSERT_NE(compiled.exitCode, 0) << "the deck has errors";
  const std::string messages = compiled.out + compiled.err;
  ASSERT_NE(messages.find("PROG.DEK:10:"), std::string::npos) << messages;
  ASSERT_NE(messages.find("PROG.DEK:12:"), std::string::npos) << messages;

  std::string want = messages;
  for (const auto &[from, to] : {std::pair<std::string, std::string>{"PROG.DEK:10:", "PROG.CBL:6:"},
                                 {"PROG.DEK:12:", "PROG.CBL:8:"}}) {
    for (std::size_t at = want.find(from); at != std::string::npos; at = want.find(from, at))
      want.replace(at, from.size(), to);
  }
  const t_toolResult r = runTool(kTool, {dataFile("cobol_cmt.xml"), "--filter"}, messages);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, want);
}

// ---------------------------------------------------------------------------------------------
// Refusals

struct t_badDoc {
  const char *what;
  std::string text;
};

std::vector<t_badDoc> badDocuments() {
  const std::string good = maptest::readWhole(dataFile("cobol_cmt.xml"));
  auto replaced = [&](const std::string &from, const std::string &to) {
    std::string s = good;
    const std::size_t at = s.find(from);
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  };
  // The good document with the text from `first` up to and including `last` moved to just
  // before `before` (or dropped when `before` is empty).
  auto moved = [&](const std::string &first, const std::string &last, const std::string &before) {
    std::string s = good;
    const std::size_t from = s.find(first);
    const std::size_t to = s.find(last, from) + last.size();
    const std::string piece = s.substr(from, to - from);
    s.erase(from, to - from);
    if (!before.empty()) s.insert(s.find(before), piece);
    return s;
  };
  return {
      {"not XML", "PROG.CBL:1\n"},
      {"empty file", ""},
      {"cut short", good.substr(0, good.size() / 2)},
      {"cut inside the table", good.substr(0, good.find("(9,1,7,1)"))},
      {"other document element", "<?xml version=\"1.0\"?>\n<SIDEFILE/>"},
      {"no statement table", moved("<STATEMENTTABLE>", "</STATEMENTTABLE> \n", "")},
      {"no output file table", moved("<OUTFILEREFERENCETABLE>", "</OUTFILEREFERENCETABLE> \n", "")},
      {"message after the output file table",
       moved("<MESSAGE>", "</MESSAGE> \n", "<STATEMENTTABLE>")},
      {"tables swapped",
       moved("<OUTFILEREFERENCETABLE>", "</OUTFILEREFERENCETABLE> \n", "<FILEREFERENCETABLE>")},
      {"mismatched tags", replaced("</FILEREFERENCETABLE>", "</FILEREFERENCE>")},
      {"unknown element", replaced("<MESSAGE> \n", "<MESSAGE> \n<SEVERITY>4</SEVERITY> \n")},
      {"text in a container", replaced("<PACKAGE> \n", "<PACKAGE> \nstray text \n")},
      {"file without name", replaced("<FILENAME>PROG.CBL</FILENAME> \n", "")},
      {"empty file name", replaced("<FILENAME>PROG.CBL</FILENAME>", "<FILENAME></FILENAME>")},
      {"file number not a number", replaced("<FILENUMBER>2<", "<FILENUMBER>two<")},
      {"file number listed twice", replaced("<FILENUMBER>2<", "<FILENUMBER>1<")},
      {"entry without semicolon", replaced("(7,1,3,2);", "(7,1,3,2)")},
      {"entry with three numbers", replaced("(7,1,3,2);", "(7,1,3);")},
      {"entry with five numbers", replaced("(7,1,3,2);", "(7,1,3,2,1);")},
      {"entry with a blank", replaced("(7,1,3,2);", "(7, 1,3,2);")},
      {"entry with a sign", replaced("(7,1,3,2);", "(7,1,+3,2);")},
      {"number beyond 32 bits", replaced("(7,1,3,2);", "(7,1,2147483648,2);")},
      {"unfinished entry", replaced("(11,1,9,1);", "(11,1,9,1")},
      {"text between entries", replaced("(7,1,3,2);", "(7,1,3,2);x")},
      {"undefined entity", replaced("PROG.DEK", "PROG&deck;.DEK")},
  };
}

TEST(MapRefusal, MalformedSideFilesEndWithStatus2) {
  t_scratchDir dir;
  int n = 0;
  for (const t_badDoc &bad : badDocuments()) {
    SCOPED_TRACE(bad.what);
    const std::string path = dir.write("bad" + std::to_string(++n) + ".xml", bad.text);
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{path, "1"}, std::vector<std::string>{path, "--filter"}}) {
      const t_toolResult r = runTool(kTool, args, "PROG.DEK:1: passed through?\n");
      EXPECT_EQ(r.exitCode, 2);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.rfind("incprep-map: " + path, 0), 0U) << r.err;
      EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line expected: " << r.err;
    }
  }
}

TEST(MapRefusal, UnreadableSideFile) {
  t_scratchDir dir;
  const std::string missing = (dir.path() / "none.xml").string();
  const t_toolResult r = runTool(kTool, {missing, "1"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "incprep-map: " + missing + ": cannot open the side file: No such file or directory\n");
  const t_toolResult folder = runTool(kTool, {dir.path().string(), "1"});
  EXPECT_EQ(folder.exitCode, 2);
  EXPECT_NE(folder.err.find(dir.path().string()), std::string::npos) << folder.err;
}

TEST(MapRefusal, UsageErrors) {
  const std::string side = dataFile("cobol_cmt.xml");
  const std::vector<std::vector<std::string>> commandLines = {
      {},         {side},           {side, "abc"},           {side, "12x"},      {side, "-3"},
      {side, ""}, {side, "1", "2"}, {side, "1", "--filter"}, {side, "--filtre"}, {"--filter"},
  };
  for (const auto &args : commandLines) {
    std::string shown;
    for (const auto &a : args)
      shown += "[" + a + "]";
    SCOPED_TRACE(shown);
    const t_toolResult r = runTool(kTool, args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("incprep-map: ", 0), 0U) << r.err;
    EXPECT_NE(r.err.find("Usage: incprep-map SIDEFILE LINE"), std::string::npos) << r.err;
  }
}

TEST(MapRefusal, HelpAndVersion) {
  const t_toolResult help = runTool(kTool, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: incprep-map SIDEFILE LINE\n", 0), 0U) << help.out;
  EXPECT_NE(help.out.find("--filter"), std::string::npos);
  EXPECT_EQ(help.err, "");
  // --help wins over everything else on the line, even a bad side file.
  const t_toolResult help2 = runTool(kTool, {"/nonexistent.xml", "--help"});
  EXPECT_EQ(help2.exitCode, 0);
  EXPECT_EQ(help2.out, help.out);

  const t_toolResult version = runTool(kTool, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("incprep-map ", 0), 0U) << version.out;
  EXPECT_EQ(version.out.back(), '\n');
}

TEST(MapRefusal, FullOutputDeviceIsReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const std::string side = dataFile("cobol_cmt.xml");
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{side, "7"}, std::vector<std::string>{side, "--filter"},
        std::vector<std::string>{"--help"}}) {
    SCOPED_TRACE(args.back());
    const t_toolResult r = runTool(kTool, args, "PROG.DEK:7: x\n", "/dev/full");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("incprep-map: error writing standard output"), std::string::npos) << r.err;
  }
}

// ---------------------------------------------------------------------------------------------
// Together with incprep itself, when it is part of the build: the runs behind cobol_cmt.xml and
// pli_nested.xml made for real, then every deck line mapped.

#ifdef INCPREP_BIN
TEST(MapWithIncprep, RealRunsMapAsWorkedOut) {
  t_scratchDir dir;
  std::filesystem::create_directories(dir.path() / "lib");
  std::filesystem::create_directories(dir.path() / "inc");
  dir.write("PROG.CBL", "       IDENTIFICATION DIVISION.\n"
                        "       PROGRAM-ID. PROG.\n"
                        "       DATA DIVISION.\n"
                        "       WORKING-STORAGE SECTION.\n"
                        "       COPY PAYREC.\n"
                        "       COPY MISSING.\n"
                        "       PROCEDURE DIVISION.\n"
                        "           DISPLAY PAY-AMTX.\n");
  dir.write("lib/PAYREC.cpy", "       01 PAY-REC.\n"
                              "          05 PAY-AMT PIC 9(5).\n");
  dir.write("MAIN.PLI", "MAIN: PROC OPTIONS(MAIN);\n"
                        " %INCLUDE DECLS;\n"
                        " %INCLUDE DECLS;\n"
                        " %INCLUDE OUTER;\n"
                        "END MAIN;");
  dir.write("inc/DECLS.inc", "DCL A FIXED;\n");
  dir.write("inc/OUTER.inc", " %INCLUDE INNER;\nDCL B FIXED;\n");
  dir.write("inc/INNER.inc", "DCL C FIXED;");

  // incprep takes SYSLIB from the environment: run it through env(1).
  const std::string env = maptest::findProgram("env");
  if (env.empty()) GTEST_SKIP() << "env is not installed";
  const t_toolResult cobol =
      runTool(env, {"SYSLIB=lib", INCPREP_BIN, "PROG.CBL", "LANG(COBOL)", "CMT(ON)"}, "", "",
              dir.path().string());
  ASSERT_EQ(cobol.exitCode, 0) << cobol.out << cobol.err;
  const t_toolResult pli =
      runTool(env, {"SYSLIB=inc", INCPREP_BIN, "MAIN.PLI", "LANG(PLI)", "CMT(ON)", "FORMAT(ON)"},
              "", "", dir.path().string());
  ASSERT_EQ(pli.exitCode, 0) << pli.out << pli.err;

  expectMappings((dir.path() / "PROG.XML").string(), kCobolRun);
  expectMappings((dir.path() / "MAIN.XML").string(), {{2, "MAIN.PLI:2"},
                                                      {6, "inc/DECLS.inc:1"},
                                                      {11, "MAIN.PLI:3"},
                                                      {14, "MAIN.PLI:4"},
                                                      {18, "inc/OUTER.inc:1"},
                                                      {22, "inc/INNER.inc:1"},
                                                      {23, "inc/OUTER.inc:2"},
                                                      {25, "MAIN.PLI:5"}});
}
#endif

} // namespace
