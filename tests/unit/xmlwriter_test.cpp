// The XML side file: escaping of names and texts, decimal text of numbers, the output routine
// with its trace and failure report, and the whole document byte for byte for small tables.
#include "xmlwriter.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace incprep {
namespace {

// -----------------------------------------------------------------------------------------------
// Escaping
// -----------------------------------------------------------------------------------------------

std::string escaped(std::string_view text) {
  std::string out;
  provideXMLEntityRefs(text, out);
  return out;
}

TEST(XmlEscaping, TheFiveSpecialCharactersBecomeEntityReferences) {
  struct t_case {
    const char *text;
    const char *want;
  };
  const t_case cases[] = {
      {"PROG.CBL", "PROG.CBL"},
      {"a&b", "a&amp;b"},
      {"it's", "it&apos;s"},
      {"say \"hi\"", "say &quot;hi&quot;"},
      {"a>b", "a&gt;b"},
      {"a<b", "a&lt;b"},
      {"<>", "&lt;&gt;"},
      {"&'\"><", "&amp;&apos;&quot;&gt;&lt;"},
      {">lead and trail<", "&gt;lead and trail&lt;"},
      {"&amp;", "&amp;amp;"}, // an entity already present is escaped again
      {"&#38;", "&amp;#38;"}, // so is a character reference
      {"  blanks  kept  ", "  blanks  kept  "},
      {"tab\there", "tab\there"},
      {"ctl\x01\x1f bytes", "ctl\x01\x1f bytes"},
      {"latin\xe9\xff", "latin\xe9\xff"},
      {"", ""},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(escaped(c.text), c.want);
  }
}

TEST(XmlEscaping, ApostrophesAndQuotesGrowSixfold) {
  const std::string text = "'\"'\"''\"\"";
  const std::string out = escaped(text);
  EXPECT_EQ(out.size(), 6 * text.size());
  EXPECT_EQ(out, "&apos;&quot;&apos;&quot;&apos;&apos;&quot;&quot;");
}

TEST(XmlEscaping, TextOverFourHundredEscapedCharactersIsKeptWhole) {
  // A 254-character name of apostrophes escapes to 1524 characters; nothing is cut.
  const std::string name(254, '\'');
  std::string want;
  for (int i = 0; i < 254; ++i)
    want += "&apos;";
  EXPECT_EQ(escaped(name), want);
  EXPECT_EQ(escaped(name).size(), 1524u);

  // Ordinary characters beyond the field's width are kept too.
  const std::string mixed = std::string(300, 'a') + "&" + std::string(300, 'b');
  EXPECT_EQ(escaped(mixed), std::string(300, 'a') + "&amp;" + std::string(300, 'b'));
}

TEST(XmlEscaping, AppendsToWhatTheFieldHolds) {
  std::string out = "pre:";
  provideXMLEntityRefs("x<y", out);
  EXPECT_EQ(out, "pre:x&lt;y");
  provideXMLEntityRefs("plain", out);
  EXPECT_EQ(out, "pre:x&lt;yplain");
}

// -----------------------------------------------------------------------------------------------
// Number text
// -----------------------------------------------------------------------------------------------

TEST(NumberText, DecimalTextOfEveryThirtyTwoBitValue) {
  struct t_case {
    int32 n;
    const char *want;
  };
  const t_case cases[] = {
      {0, "0"},
      {7, "7"},
      {10, "10"},
      {100, "100"},
      {1000000, "1000000"},
      {123456789, "123456789"},
      {INT32_MAX, "2147483647"},
      {-1, "-1"},
      {-5, "-5"},
      {-100, "-100"},
      {INT32_MIN + 1, "-2147483647"},
      {INT32_MIN, "-2147483648"},
  };
  // Every number of digits, at both of its ends, as std::to_string writes it.
  std::vector<std::pair<int32, std::string>> all;
  for (std::int64_t ten = 1; ten <= INT32_MAX; ten *= 10)
    for (const std::int64_t n : {ten - 1, ten, ten + 1, -ten + 1, -ten, -ten - 1})
      all.emplace_back(static_cast<int32>(n), std::to_string(n));
  for (const t_case &c : cases)
    all.emplace_back(c.n, c.want);
  for (const auto &[n, want] : all) {
    SCOPED_TRACE(want);
    const t_case c{n, want.c_str()};
    // A field of exactly 20 bytes on the heap, so that a write past it is caught.
    std::vector<char> ltoa(20, 'Z');
    std::vector<char> itoa(20, 'Z');
    change_ltoa(c.n, ltoa.data());
    change_itoa(c.n, itoa.data());
    EXPECT_STREQ(ltoa.data(), c.want);
    EXPECT_STREQ(itoa.data(), c.want);
    std::string appended = "x=";
    appendDecimal(appended, c.n);
    EXPECT_EQ(appended, std::string("x=") + c.want);
  }
}

TEST(NumberText, OverwritesWhatTheFieldHeldBefore) {
  char field[20];
  change_ltoa(INT32_MIN, field);
  change_ltoa(3, field);
  EXPECT_STREQ(field, "3");
  change_itoa(INT32_MAX, field);
  change_itoa(42, field);
  EXPECT_STREQ(field, "42");
}

// -----------------------------------------------------------------------------------------------
// The output routine
// -----------------------------------------------------------------------------------------------

std::string pieceTrace(std::string_view piece) {
  return std::string(piece) +
         "ABOUT TO WRITE TO XML FILE - LEN =  " + std::to_string(piece.size()) + "\n" +
         "ABOUT TO WRITE TO XML FILE - TEXT =  " + std::string(piece) + "\n";
}

std::string eyeCatcher() {
  const std::string stars(50, '*');
  return stars + "\n" + "***EYE CATCHER**EYE CATCHER**EYE CATCHER**********\n" + stars + "\n";
}

TEST(XmlOutputRoutine, WritesThePieceAndReturnsItsLength) {
  std::FILE *fp = std::tmpfile();
  int32 written = -1;
  const unit::t_output got =
      unit::captureOutput([&] { written = fwritexml("<BUILD>", 7, 1, fp, 0); });
  EXPECT_EQ(written, 7);
  EXPECT_EQ(unit::readStream(fp), "<BUILD>");
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
  std::fclose(fp);
}

TEST(XmlOutputRoutine, TracesThePieceItsLengthAndItsText) {
  std::FILE *fp = std::tmpfile();
  int32 written = -1;
  const unit::t_output got = unit::captureOutput([&] {
    written = fwritexml("<BUILD>", 7, 1, fp, 1);
    (void)fwritexml(" \n", 2, 1, fp, 1);
  });
  EXPECT_EQ(written, 7);
  EXPECT_EQ(got.out, "<BUILD>ABOUT TO WRITE TO XML FILE - LEN =  7\n"
                     "ABOUT TO WRITE TO XML FILE - TEXT =  <BUILD>\n"
                     " \nABOUT TO WRITE TO XML FILE - LEN =  2\n"
                     "ABOUT TO WRITE TO XML FILE - TEXT =   \n\n");
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(unit::readStream(fp), "<BUILD> \n");
  std::fclose(fp);
}

/// A stream on /dev/full that fails every write at once (no buffer to hide the failure).
std::FILE *fullDevice() {
  std::FILE *fp = std::fopen("/dev/full", "w");
  if (fp != nullptr) std::setvbuf(fp, nullptr, _IONBF, 0);
  return fp;
}

TEST(XmlOutputRoutine, AShortWriteIsReportedUnderTrace) {
  std::FILE *fp = fullDevice();
  ASSERT_NE(fp, nullptr);
  int32 written = -1;
  const unit::t_output got =
      unit::captureOutput([&] { written = fwritexml("<BUILD>", 7, 1, fp, 1); });
  EXPECT_LT(written, 7);
  EXPECT_EQ(got.out,
            pieceTrace("<BUILD>") + eyeCatcher() + "ERROR WRITING THE COMPILE ERRORS XML FILE!\n");
  EXPECT_EQ(got.err, "ERROR WRITING COMPILE ERRORS XML FILE : No space left on device\n");
  std::fclose(fp);
}

TEST(XmlOutputRoutine, AShortWriteIsSilentWithoutTrace) {
  std::FILE *fp = fullDevice();
  ASSERT_NE(fp, nullptr);
  int32 written = -1;
  const unit::t_output got =
      unit::captureOutput([&] { written = fwritexml("<BUILD>", 7, 1, fp, 0); });
  EXPECT_LT(written, 7);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
  std::fclose(fp);
}

// -----------------------------------------------------------------------------------------------
// The document
// -----------------------------------------------------------------------------------------------

/// The tables of a run, as the scanner hands them to the writer.
struct t_runTables {
  std::vector<t_ppResourceNode> res;
  std::vector<t_ppErrMsgNode> msgs = std::vector<t_ppErrMsgNode>(100);
  int32 msgct = 0;
  t_ppGendFileNode deck{nullptr, "PROG.DEK", "PROG.DEK", 1};
  std::vector<t_ppStmtTblNode> stmt{{0, 1, 0, 1}}; // the header row; data rows follow

  void addFile(const std::string &name, int32 number) {
    res.push_back(t_ppResourceNode{name, name, number});
  }
  void addMessage(int32 file, int32 line, const char *id, const char *text) {
    t_ppErrMsgNode &m = msgs[static_cast<std::size_t>(msgct++)];
    m.sourcefilenum = file;
    m.srcstmtnum = line;
    std::snprintf(m.msgid, sizeof m.msgid, "%s", id);
    m.severity = 4;
    std::snprintf(m.msgtxt, sizeof m.msgtxt, "%s", text);
  }
  void addRow(int32 oln, int32 ofn, int32 iln, int32 ifn) { stmt.push_back({oln, ofn, iln, ifn}); }

  /// Writes the document and returns the file's bytes; `writer`, when given, takes part.
  std::string write(int16 formattingOn, bool *ok = nullptr, std::span<char> scratch = {},
                    int32 loglvl = 0, t_blockWriter *writer = nullptr) const {
    std::FILE *fp = std::tmpfile();
    bool written = false;
    const auto run = [&] {
      written = writeXMLFile(fp, msgs.data(), res, &deck, stmt.data(),
                             static_cast<int32>(res.size()), static_cast<int32>(stmt.size() - 1),
                             msgct, formattingOn, loglvl, scratch, writer);
    };
    if (loglvl > 0)
      (void)unit::captureStdout(run);
    else
      run();
    if (ok != nullptr) *ok = written;
    std::string text = unit::readStream(fp);
    std::fclose(fp);
    return text;
  }
};

/// Lines joined as the side file writes them: each ends with " \n" but the last, which has no
/// line end at all.
std::string document(const std::vector<std::string> &lines) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size()) text += " \n";
  }
  return text;
}

const char *const kProlog = "<?xml version=\"1.0\" standalone=\"yes\"?>";

std::vector<std::string> deckTable(const std::string &deckName, int32 number = 1) {
  return {"<OUTFILEREFERENCETABLE>",
          "<OUTFILECOUNT>1</OUTFILECOUNT>",
          "<OUTFILE>",
          "<OUTFILENUMBER>" + std::to_string(number) + "</OUTFILENUMBER>",
          "<OUTFILENAME>" + deckName + "</OUTFILENAME>",
          "</OUTFILE>",
          "</OUTFILEREFERENCETABLE>"};
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto &p : parts)
    all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(SideFile, RunWithoutMessages) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  t.addRow(1, 1, 1, 1);
  t.addRow(2, 1, 2, 1);
  t.addRow(3, 1, 3, 1);
  bool ok = false;
  EXPECT_EQ(t.write(0, &ok),
            document(concat({{kProlog, "<BUILD>", "<PACKAGE>", "<FILEREFERENCETABLE>",
                              "<FILECOUNT>1</FILECOUNT>", "<FILE>", "<FILENUMBER>1</FILENUMBER>",
                              "<FILENAME>PROG.CBL</FILENAME>", "</FILE>", "</FILEREFERENCETABLE>"},
                             deckTable("PROG.DEK"),
                             {"<STATEMENTTABLE>", "(1,1,1,1);(2,1,2,1);(3,1,3,1);",
                              "</STATEMENTTABLE>", "</PACKAGE>", "</BUILD>"}})));
  EXPECT_TRUE(ok);
}

TEST(SideFile, RunWithOneMessageAndTwoFiles) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  t.addFile("lib/A&B.cpy", 2);
  t.addMessage(2, 12, "KVR0009-W",
               "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.");
  t.addRow(1, 1, 1, 1);
  t.addRow(2, 1, 1, 2);
  t.addRow(3, 1, 3, 1);
  EXPECT_EQ(t.write(0),
            document(concat({{kProlog,
                              "<BUILD>",
                              "<PACKAGE>",
                              "<FILEREFERENCETABLE>",
                              "<FILECOUNT>2</FILECOUNT>",
                              "<FILE>",
                              "<FILENUMBER>1</FILENUMBER>",
                              "<FILENAME>PROG.CBL</FILENAME>",
                              "</FILE>",
                              "<FILE>",
                              "<FILENUMBER>2</FILENUMBER>",
                              "<FILENAME>lib/A&amp;B.cpy</FILENAME>",
                              "</FILE>",
                              "</FILEREFERENCETABLE>",
                              "<MESSAGE>",
                              "<MSGNUMBER>KVR0009-W</MSGNUMBER>",
                              "<MSGLINE>12</MSGLINE>",
                              "<MSGFILE>2</MSGFILE>",
                              "<MSGTEXT>",
                              "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.",
                              "</MSGTEXT>",
                              "</MESSAGE>"},
                             deckTable("PROG.DEK"),
                             {"<STATEMENTTABLE>", "(1,1,1,1);(2,1,1,2);(3,1,3,1);",
                              "</STATEMENTTABLE>", "</PACKAGE>", "</BUILD>"}})));
}

TEST(SideFile, MessageFieldsAndNamesAreEscapedNumbersAreNot) {
  t_runTables t;
  t.addFile("it's \"here\".cbl", 1);
  t.deck.osourcedsn = "<deck>.DEK";
  t.deck.osourcefilenum = 3; // the number comes from the deck's row, the count is always 1
  t.addMessage(1, 2147483647, "<ID>", "a <b> & 'c'");
  t.addMessage(1, 5, "KVR0013-W", "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.");
  EXPECT_EQ(
      t.write(0),
      document(concat({{kProlog,
                        "<BUILD>",
                        "<PACKAGE>",
                        "<FILEREFERENCETABLE>",
                        "<FILECOUNT>1</FILECOUNT>",
                        "<FILE>",
                        "<FILENUMBER>1</FILENUMBER>",
                        "<FILENAME>it&apos;s &quot;here&quot;.cbl</FILENAME>",
                        "</FILE>",
                        "</FILEREFERENCETABLE>",
                        "<MESSAGE>",
                        "<MSGNUMBER>&lt;ID&gt;</MSGNUMBER>",
                        "<MSGLINE>2147483647</MSGLINE>",
                        "<MSGFILE>1</MSGFILE>",
                        "<MSGTEXT>",
                        "a &lt;b&gt; &amp; &apos;c&apos;",
                        "</MSGTEXT>",
                        "</MESSAGE>",
                        "<MESSAGE>",
                        "<MSGNUMBER>KVR0013-W</MSGNUMBER>",
                        "<MSGLINE>5</MSGLINE>",
                        "<MSGFILE>1</MSGFILE>",
                        "<MSGTEXT>",
                        "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.",
                        "</MSGTEXT>",
                        "</MESSAGE>"},
                       deckTable("&lt;deck&gt;.DEK", 3),
                       {"<STATEMENTTABLE>", "</STATEMENTTABLE>", "</PACKAGE>", "</BUILD>"}})));
}

TEST(SideFile, EmptyStatementTableLeavesItsTwoTagsAdjacent) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  const std::string text = t.write(0);
  EXPECT_NE(text.find(" \n<STATEMENTTABLE> \n</STATEMENTTABLE> \n</PACKAGE> \n</BUILD>"),
            std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 8), "</BUILD>");
}

TEST(SideFile, ResourceRowWithoutNameIsCountedButHasNoFileElement) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  t.addFile("", 2);
  t.addFile("B.cpy", 3);
  EXPECT_EQ(
      t.write(0),
      document(concat(
          {{kProlog, "<BUILD>", "<PACKAGE>", "<FILEREFERENCETABLE>", "<FILECOUNT>3</FILECOUNT>",
            "<FILE>", "<FILENUMBER>1</FILENUMBER>", "<FILENAME>PROG.CBL</FILENAME>", "</FILE>",
            "<FILE>", "<FILENUMBER>3</FILENUMBER>", "<FILENAME>B.cpy</FILENAME>", "</FILE>",
            "</FILEREFERENCETABLE>"},
           deckTable("PROG.DEK"),
           {"<STATEMENTTABLE>", "</STATEMENTTABLE>", "</PACKAGE>", "</BUILD>"}})));
}

TEST(SideFile, OnlyUnnamedRowsLeaveTheCountAlone) {
  t_runTables t;
  t.addFile("", 1);
  EXPECT_EQ(
      t.write(0),
      document(concat({{kProlog, "<BUILD>", "<PACKAGE>", "<FILEREFERENCETABLE>",
                        "<FILECOUNT>1</FILECOUNT>", "</FILEREFERENCETABLE>"},
                       deckTable("PROG.DEK"),
                       {"<STATEMENTTABLE>", "</STATEMENTTABLE>", "</PACKAGE>", "</BUILD>"}})));
}

TEST(SideFile, HundredMessagesGiveHundredMessageElements) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 100; ++k)
    t.addMessage(1, k, "KVR0009-W", "T");
  const std::string text = t.write(0);
  std::size_t count = 0;
  for (std::size_t at = text.find("<MESSAGE> \n"); at != std::string::npos;
       at = text.find("<MESSAGE> \n", at + 1))
    ++count;
  EXPECT_EQ(count, 100u);
  EXPECT_NE(text.find("<MSGLINE>100</MSGLINE>"), std::string::npos);
}

// Statement lines -------------------------------------------------------------------------------

/// The side file's lines between "<STATEMENTTABLE>" and "</STATEMENTTABLE>", line ends removed.
std::vector<std::string> statementLines(const std::string &text) {
  const std::string open = "<STATEMENTTABLE> \n";
  const std::size_t from = text.find(open);
  const std::size_t to = text.find("</STATEMENTTABLE> \n");
  std::vector<std::string> lines;
  if (from == std::string::npos || to == std::string::npos) return lines;
  std::size_t at = from + open.size();
  while (at < to) {
    const std::size_t end = text.find(" \n", at);
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

std::string entries(const t_runTables &t, std::size_t first, std::size_t last) {
  std::string text;
  for (std::size_t i = first; i <= last; ++i) {
    const t_ppStmtTblNode &r = t.stmt[i];
    text += "(" + std::to_string(r.oln) + "," + std::to_string(r.ofn) + "," +
            std::to_string(r.iln) + "," + std::to_string(r.ifn) + ");";
  }
  return text;
}

TEST(SideFileStatementLines, FormatOnPutsSixEntriesOnALine) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 13; ++k)
    t.addRow(k, 1, k + 100, 1);
  EXPECT_EQ(statementLines(t.write(1)),
            (std::vector<std::string>{
                "(1,1,101,1);(2,1,102,1);(3,1,103,1);(4,1,104,1);(5,1,105,1);(6,1,106,1);",
                "(7,1,107,1);(8,1,108,1);(9,1,109,1);(10,1,110,1);(11,1,111,1);(12,1,112,1);",
                "(13,1,113,1);"}));
}

TEST(SideFileStatementLines, FormatOnWithAMultipleOfSixLeavesNoEmptyLine) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 12; ++k)
    t.addRow(k, 1, k, 1);
  const std::vector<std::string> lines = statementLines(t.write(1));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], entries(t, 1, 6));
  EXPECT_EQ(lines[1], entries(t, 7, 12));
}

TEST(SideFileStatementLines, WithoutFormatThirteenRowsShareOneLine) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 13; ++k)
    t.addRow(k, 1, k + 100, 1);
  EXPECT_EQ(statementLines(t.write(0)),
            (std::vector<std::string>{
                "(1,1,101,1);(2,1,102,1);(3,1,103,1);(4,1,104,1);(5,1,105,1);(6,1,106,1);"
                "(7,1,107,1);(8,1,108,1);(9,1,109,1);(10,1,110,1);(11,1,111,1);(12,1,112,1);"
                "(13,1,113,1);"}));
}

TEST(SideFileStatementLines, ALineReachingExactly2000CharactersTakesOneMoreEntry) {
  // Entries of 20 characters: "(100001,1,200001,1);". After 100 entries the line holds exactly
  // 2000 characters, which is not above the limit, so the 101st entry still joins it and takes
  // it to 2020; the 102nd starts the next line.
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 150; ++k)
    t.addRow(100000 + k, 1, 200000 + k, 1);
  ASSERT_EQ(entries(t, 1, 1).size(), 20u);
  const std::vector<std::string> lines = statementLines(t.write(0));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], entries(t, 1, 101));
  EXPECT_EQ(lines[0].size(), 2020u);
  EXPECT_EQ(lines[1], entries(t, 102, 150));
}

TEST(SideFileStatementLines, TheEntryThatCrossesTheLimitStaysOnItsLine) {
  // Entries of 28 characters: after 71 entries the line holds 1988 characters, so the 72nd
  // joins it (2016) and closes it; it is not moved to the next line.
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 150; ++k)
    t.addRow(1000000000 + k, 1, 1000000000 + k, 1);
  ASSERT_EQ(entries(t, 1, 1).size(), 28u);
  const std::vector<std::string> lines = statementLines(t.write(0));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], entries(t, 1, 72));
  EXPECT_EQ(lines[0].size(), 2016u);
  EXPECT_EQ(lines[1], entries(t, 73, 144));
  EXPECT_EQ(lines[2], entries(t, 145, 150));
}

TEST(SideFileStatementLines, TheLongestLineHolds2046Characters) {
  // 100 entries of 20 characters fill exactly 2000; the largest entry (46 characters) then
  // joins the line and closes it.
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  for (int32 k = 1; k <= 100; ++k)
    t.addRow(100000 + k, 1, 200000 + k, 1);
  t.addRow(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX);
  t.addRow(7, 1, 7, 1);
  const std::vector<std::string> lines = statementLines(t.write(0));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 2046u);
  EXPECT_EQ(lines[0].substr(2000), "(2147483647,2147483647,2147483647,2147483647);");
  EXPECT_EQ(lines[1], "(7,1,7,1);");
}

TEST(SideFileStatementLines, RowsOfZerosAreWrittenInTheirPlace) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  t.addRow(1, 1, 1, 1);
  t.addRow(0, 0, 0, 0);
  t.addRow(0, 0, 0, 0);
  t.addRow(2, 1, 2, 1);
  EXPECT_EQ(statementLines(t.write(0)),
            (std::vector<std::string>{"(1,1,1,1);(0,0,0,0);(0,0,0,0);(2,1,2,1);"}));
}

TEST(SideFileStatementLines, NumbersCarriedFromRowToRowKeepTheirExactText) {
  // Fields that go up by one across a power of ten, stay, jump back, go negative or reach the
  // largest value must all read as their own decimal text.
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  const int32 values[] = {8,  9, 10, 11,        99,         100,           100,       7,
                          -1, 0, 1,  999999999, 1000000000, INT32_MAX - 1, INT32_MAX, 0};
  for (const int32 v : values)
    t.addRow(v, 1, v, v < 0 ? 2 : 1);
  std::string expected;
  for (const int32 v : values)
    expected +=
        "(" + std::to_string(v) + ",1," + std::to_string(v) + "," + (v < 0 ? "2" : "1") + ");";
  EXPECT_EQ(statementLines(t.write(0)), (std::vector<std::string>{expected}));
}

TEST(SideFileStatementLines, ConsecutiveRowsCarryEachNumberAcrossItsOwnPowersOfTen) {
  // Output and input lines go up by one together from different starting points, so each
  // gains digits on rows of its own; a change of file, a step back and a row of zeros break
  // the run and the rows after them continue from the new values.
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  std::vector<t_ppStmtTblNode> rows;
  for (int32 k = 1; k <= 1200; ++k)
    rows.push_back({k, 1, 95 + k, k > 600 ? 2 : 1});
  rows.push_back({0, 0, 0, 0});
  for (int32 k = 0; k < 30; ++k)
    rows.push_back({1201 + k, 1, 9990 + k, 2});
  rows.push_back({1231, 1, 5, 2});
  rows.push_back({1232, 1, 6, 2});
  // Wide numbers: the input line number ends past the entry's 32nd byte or just before it,
  // and the entry runs on beyond it, while both numbers carry.
  for (int32 k = 0; k < 25; ++k)
    rows.push_back({99999990 + k, 2000000000, 1990 + k, -2147483647});
  for (int32 k = 0; k < 25; ++k)
    rows.push_back({1233 + k, -2000000000, 999999990 + k, 7});
  // The input line number straddles the entry's 16th byte, and carries across it.
  for (int32 k = 0; k < 25; ++k)
    rows.push_back({1258 + k, 100000, 10990 + k, 3});
  std::string expected;
  for (const t_ppStmtTblNode &r : rows) {
    t.addRow(r.oln, r.ofn, r.iln, r.ifn);
    expected += "(" + std::to_string(r.oln) + "," + std::to_string(r.ofn) + "," +
                std::to_string(r.iln) + "," + std::to_string(r.ifn) + ");";
  }
  std::string written;
  for (const std::string &line : statementLines(t.write(0)))
    written += line;
  EXPECT_EQ(written, expected);
}

TEST(SideFileStatementLines, ManyRowsGiveTheSameFileWhateverTheyAreGatheredIn) {
  // Without trace the lines are gathered in blocks (the caller's scratch memory, or a block of
  // the writer's own when that is too small), or made in chunks by two threads when a writer
  // takes part; with trace each line is written by itself. Runs of following rows, breaks, rows
  // of zeros and numbers gaining digits, over many blocks and chunks; entries of 10 to 24
  // characters, so that a line's 2000th character falls on each character of an entry.
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  int32 oln = 1;
  for (int32 run = 0; run < 3000; ++run) {
    const int32 length = 1 + (run * 37) % 41;
    const int32 first = run % 7 == 0 ? 9999 - run % 5 : 1 + run % 13;
    for (int32 k = 0; k < length; ++k)
      t.addRow(oln++, 1, first + k, run % 5 == 0 ? 1000000 + run : 1 + run % 9);
    if (run % 11 == 0) t.addRow(0, 0, 0, 0);
  }
  std::vector<char> first(std::size_t{256} << 10U);
  const auto writer = t_blockWriter::start(first.data(), first.size());
  for (const int16 format : {int16{0}, int16{1}}) {
    const std::string traced = t.write(format, nullptr, {}, 1);
    EXPECT_EQ(t.write(format), traced) << "format " << format;
    for (const std::size_t size : {std::size_t{100}, std::size_t{40000}, std::size_t{300000}}) {
      std::vector<char> scratch(size);
      EXPECT_EQ(t.write(format, nullptr, scratch), traced)
          << "format " << format << ", scratch of " << size << " bytes";
    }
    if (writer) {
      EXPECT_EQ(t.write(format, nullptr, {}, 0, writer.get()), traced) << "format " << format;
    }
  }
}

TEST(SideFileStatementLines, TheHeaderRowIsNeverWritten) {
  t_runTables t;
  t.addFile("PROG.CBL", 1);
  t.stmt[0] = {9, 9, 9, 9};
  t.addRow(1, 1, 1, 1);
  EXPECT_EQ(statementLines(t.write(1)), (std::vector<std::string>{"(1,1,1,1);"}));
}

// Trace and failure ------------------------------------------------------------------------------

TEST(SideFile, EveryPieceIsTracedBeforeItIsWritten) {
  t_runTables t;
  t.addFile("P", 1);
  t.deck.osourcefn = t.deck.osourcedsn = "D";
  t.addRow(1, 1, 1, 1);
  const std::vector<std::string> pieces = {kProlog,
                                           " \n",
                                           "<BUILD>",
                                           " \n",
                                           "<PACKAGE>",
                                           " \n",
                                           "<FILEREFERENCETABLE>",
                                           " \n",
                                           "<FILECOUNT>",
                                           "1",
                                           "</FILECOUNT>",
                                           " \n",
                                           "<FILE>",
                                           " \n",
                                           "<FILENUMBER>",
                                           "1",
                                           "</FILENUMBER>",
                                           " \n",
                                           "<FILENAME>",
                                           "P",
                                           "</FILENAME>",
                                           " \n",
                                           "</FILE>",
                                           " \n",
                                           "</FILEREFERENCETABLE>",
                                           " \n",
                                           "<OUTFILEREFERENCETABLE>",
                                           " \n",
                                           "<OUTFILECOUNT>",
                                           "1",
                                           "</OUTFILECOUNT>",
                                           " \n",
                                           "<OUTFILE>",
                                           " \n",
                                           "<OUTFILENUMBER>",
                                           "1",
                                           "</OUTFILENUMBER>",
                                           " \n",
                                           "<OUTFILENAME>",
                                           "D",
                                           "</OUTFILENAME>",
                                           " \n",
                                           "</OUTFILE>",
                                           " \n",
                                           "</OUTFILEREFERENCETABLE>",
                                           " \n",
                                           "<STATEMENTTABLE>",
                                           " \n",
                                           "(1,1,1,1);",
                                           " \n",
                                           "</STATEMENTTABLE>",
                                           " \n",
                                           "</PACKAGE>",
                                           " \n",
                                           "</BUILD>"};
  std::string wantTrace;
  std::string wantFile;
  for (const std::string &p : pieces) {
    wantTrace += pieceTrace(p);
    wantFile += p;
  }
  std::FILE *fp = std::tmpfile();
  bool ok = false;
  const unit::t_output got = unit::captureOutput(
      [&] { ok = writeXMLFile(fp, t.msgs.data(), t.res, &t.deck, t.stmt.data(), 1, 1, 0, 0, 1); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(got.out, wantTrace);
  EXPECT_EQ(got.err, "");
  EXPECT_EQ(unit::readStream(fp), wantFile);
  std::fclose(fp);
}

TEST(SideFile, SilentWithoutTrace) {
  t_runTables t;
  t.addFile("P", 1);
  t.addMessage(1, 1, "KVR0009-W", "T");
  t.addRow(1, 1, 1, 1);
  const unit::t_output got = unit::captureOutput([&] { (void)t.write(0); });
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
}

TEST(SideFile, AFailedWriteIsReportedToTheCaller) {
  t_runTables t;
  t.addFile("P", 1);
  t.addRow(1, 1, 1, 1);
  std::FILE *fp = fullDevice();
  ASSERT_NE(fp, nullptr);
  bool ok = true;
  const unit::t_output got = unit::captureOutput(
      [&] { ok = writeXMLFile(fp, t.msgs.data(), t.res, &t.deck, t.stmt.data(), 1, 1, 0, 0, 0); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
  std::fclose(fp);
}

} // namespace
} // namespace incprep
