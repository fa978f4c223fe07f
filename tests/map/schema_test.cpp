// The side-file schema docs/incprep-sidefile.xsd, checked with xmllint against side files written
// out by hand in incprep's layout: it must accept every form incprep writes and refuse documents
// that differ from that layout. (White space between elements is beyond what a schema checks.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "sidefile_text.h"
#include "tool_runner.h"

namespace {

using maptest::entry;
using maptest::sideFileText;
using maptest::t_sideDoc;

constexpr int kXmllintValid = 0;
constexpr int kXmllintInvalid = 3; // well-formed, but not valid against the schema

class SideFileSchema : public ::testing::Test {
protected:
  void SetUp() override {
    xmllint_ = maptest::findProgram("xmllint");
    if (xmllint_.empty()) GTEST_SKIP() << "xmllint is not installed";
  }

  // xmllint's exit status for `document`.
  int check(const std::string &document) {
    const std::string file = dir_.write("side" + std::to_string(++count_) + ".xml", document);
    const maptest::t_toolResult r =
        maptest::runTool(xmllint_, {"--noout", "--schema", SIDEFILE_SCHEMA, file});
    last_ = r.err;
    return r.exitCode;
  }

  std::string xmllint_;
  maptest::t_scratchDir dir_;
  int count_ = 0;
  std::string last_;
};

const char *const kNotFound = "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.";
const char *const kOverflow = "EXCEEDED ALLOWABLE NUMBER OF PREPROCESSOR ERROR MESSAGES.";

// A small run: PROG.CBL with one member and one diagnostic.
t_sideDoc smallRun() {
  t_sideDoc doc;
  doc.fileCount = 2;
  doc.files = {{1, "PROG.CBL"}, {2, "lib\\PAYREC.cpy"}};
  doc.messages = {{"KVR0009-W", 6, 1, kNotFound}};
  doc.deck = "PROG.DEK";
  doc.statementLines = {entry(1, 1, 1, 1) + entry(2, 1, 1, 2) + entry(3, 1, 2, 1)};
  return doc;
}

TEST_F(SideFileSchema, SampleSideFilesAreValid) {
  int seen = 0;
  for (const auto &item : std::filesystem::directory_iterator(MAP_DATA_DIR)) {
    if (item.path().extension() != ".xml") continue;
    ++seen;
    SCOPED_TRACE(item.path().filename().string());
    EXPECT_EQ(check(maptest::readWhole(item.path())), kXmllintValid) << last_;
  }
  EXPECT_GE(seen, 6);
}

TEST_F(SideFileSchema, EveryFormIncprepWritesIsValid) {
  // No diagnostics and a primary without includes: one file, no MESSAGE.
  t_sideDoc plain;
  plain.fileCount = 1;
  plain.files = {{1, "PLAIN.CBL"}};
  plain.deck = "PLAIN.DEK";
  plain.statementLines = {entry(1, 1, 1, 1) + entry(2, 1, 2, 1)};
  EXPECT_EQ(check(sideFileText(plain)), kXmllintValid) << last_;

  // 99 diagnostics as raised, then the overflow diagnostic: 100 MESSAGE elements.
  t_sideDoc full = smallRun();
  full.messages.clear();
  for (int i = 1; i <= 99; ++i)
    full.messages.push_back({"KVR0009-W", i, 1, kNotFound});
  full.messages.push_back({"KVR0012-W", 100, 1, kOverflow});
  EXPECT_EQ(check(sideFileText(full)), kXmllintValid) << last_;

  // Recursive include diagnostic.
  t_sideDoc recursive = smallRun();
  recursive.messages = {{"KVR0013-W", 1, 2, "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED."}};
  EXPECT_EQ(check(sideFileText(recursive)), kXmllintValid) << last_;

  // An empty statement table: the start tag's line is followed by the end tag's.
  t_sideDoc empty = smallRun();
  empty.statementLines.clear();
  EXPECT_EQ(check(sideFileText(empty)), kXmllintValid) << last_;

  // FORMAT(ON): six entries a line, commented-include rows of zeros among them.
  t_sideDoc formatted = smallRun();
  formatted.statementLines = {entry(1, 1, 1, 1) + entry(0, 0, 0, 0) + entry(0, 0, 0, 0) +
                                  entry(2, 1, 1, 2) + entry(3, 1, 2, 2) + entry(4, 1, 3, 1),
                              entry(5, 1, 4, 1)};
  EXPECT_EQ(check(sideFileText(formatted)), kXmllintValid) << last_;

  // Without FORMAT(ON): lines that close after the entry taking them over 2,000 characters.
  t_sideDoc wide = smallRun();
  wide.statementLines.clear();
  std::string line;
  for (long k = 1; k <= 1500; ++k) {
    line += entry(k, 1, k, 1);
    if (line.size() > 2000) {
      wide.statementLines.push_back(line);
      line.clear();
    }
  }
  wide.statementLines.push_back(line);
  ASSERT_GE(wide.statementLines.size(), 3U);
  EXPECT_EQ(check(sideFileText(wide)), kXmllintValid) << last_;

  // Names holding all five escaped characters; a file counted but not named.
  t_sideDoc names = smallRun();
  names.fileCount = 3;
  names.files = {{1, "a&amp;b&apos;c&quot;d&gt;e&lt;f.cbl"}, {3, "lib\\&lt;&gt;.cpy"}};
  names.deck = "&quot;OUT&quot;.DEK";
  EXPECT_EQ(check(sideFileText(names)), kXmllintValid) << last_;

  // The largest numbers the tables can hold.
  t_sideDoc big = smallRun();
  big.fileCount = 2147483647;
  big.messages = {{"KVR0009-W", 2147483647, 2147483647, kNotFound}};
  big.statementLines = {entry(2147483647, 1, 2147483647, 2147483647)};
  EXPECT_EQ(check(sideFileText(big)), kXmllintValid) << last_;
}

TEST_F(SideFileSchema, DocumentsOutsideTheLayoutAreInvalid) {
  const std::string good = sideFileText(smallRun());
  ASSERT_EQ(check(good), kXmllintValid) << last_;
  auto replaced = [&](const std::string &from, const std::string &to) {
    std::string s = good;
    const std::size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
  };
  // `good` with the text from `first` up to and including `last` moved to just before `before`.
  auto moved = [&](const std::string &first, const std::string &last, const std::string &before) {
    std::string s = good;
    const std::size_t from = s.find(first);
    const std::size_t to = s.find(last, from) + last.size();
    const std::string piece = s.substr(from, to - from);
    s.erase(from, to - from);
    s.insert(s.find(before), piece);
    return s;
  };

  struct t_bad {
    const char *what;
    std::string text;
  };
  t_sideDoc tooMany = smallRun();
  tooMany.messages.assign(101, {"KVR0009-W", 1, 1, kNotFound});
  t_sideDoc sameNumber = smallRun();
  sameNumber.files = {{1, "PROG.CBL"}, {1, "lib\\PAYREC.cpy"}};

  const std::vector<t_bad> bad = {
      {"101 messages", sideFileText(tooMany)},
      {"file number listed twice", sideFileText(sameNumber)},
      {"blank around a count", replaced("<FILECOUNT>2<", "<FILECOUNT> 2 <")},
      {"leading zero", replaced("<FILENUMBER>2<", "<FILENUMBER>02<")},
      {"negative line", replaced("<MSGLINE>6<", "<MSGLINE>-6<")},
      {"count beyond 32 bits", replaced("<FILECOUNT>2<", "<FILECOUNT>2147483648<")},
      {"empty count", replaced("<FILECOUNT>2<", "<FILECOUNT><")},
      {"two output files", replaced("<OUTFILECOUNT>1<", "<OUTFILECOUNT>2<")},
      {"output file number 2", replaced("<OUTFILENUMBER>1<", "<OUTFILENUMBER>2<")},
      {"empty file name", replaced("<FILENAME>PROG.CBL<", "<FILENAME><")},
      {"empty deck name", replaced("<OUTFILENAME>PROG.DEK<", "<OUTFILENAME><")},
      {"other message identifier", replaced("KVR0009-W", "ERR0009-E")},
      {"message text without its line ends",
       replaced(std::string("<MSGTEXT> \n") + kNotFound + " \n</MSGTEXT>",
                std::string("<MSGTEXT>") + kNotFound + "</MSGTEXT>")},
      {"message without text",
       replaced(std::string("<MSGTEXT> \n") + kNotFound + " \n</MSGTEXT> \n", "")},
      {"statement line without its line end",
       replaced("(3,1,2,1); \n</STATEMENTTABLE>", "(3,1,2,1);</STATEMENTTABLE>")},
      {"table without the start tag's line end",
       replaced("<STATEMENTTABLE> \n(1", "<STATEMENTTABLE>(1")},
      {"blank inside an entry", replaced("(2,1,1,2);", "(2, 1,1,2);")},
      {"entry without semicolon", replaced("(2,1,1,2);", "(2,1,1,2)")},
      {"entry with three numbers", replaced("(2,1,1,2);", "(2,1,1);")},
      {"text in PACKAGE", replaced("<PACKAGE> \n", "<PACKAGE> \nhello \n")},
      {"message after the output file table",
       moved("<MESSAGE>", "</MESSAGE> \n", "<STATEMENTTABLE>")},
      {"tables swapped",
       moved("<OUTFILEREFERENCETABLE>", "</OUTFILEREFERENCETABLE> \n", "<FILEREFERENCETABLE>")},
      {"no statement table", replaced("<STATEMENTTABLE> \n(1,1,1,1);(2,1,1,2);(3,1,2,1); \n"
                                      "</STATEMENTTABLE> \n",
                                      "")},
      {"file without number", replaced("<FILENUMBER>1</FILENUMBER> \n", "")},
      {"unknown element", replaced("<PACKAGE> \n", "<PACKAGE> \n<DATE>today</DATE> \n")},
      {"other document element", "<?xml version=\"1.0\" standalone=\"yes\"?> \n<SIDEFILE/>"},
  };
  for (const t_bad &b : bad) {
    SCOPED_TRACE(b.what);
    EXPECT_EQ(check(b.text), kXmllintInvalid) << last_;
  }
}

} // namespace
