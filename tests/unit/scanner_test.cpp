// The scanner's helpers: character classes, look-ahead, the state a new line starts in, the
// state names of the trace, keyword comparison with and without case, quote trimming, string
// search, and line input with its counts and the end-of-file mark.
#include "scanner.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace incprep {
namespace {

// -----------------------------------------------------------------------------------------------
// Character classes and look-ahead
// -----------------------------------------------------------------------------------------------

TEST(CharacterClasses, WhiteSpaceIsBlankTabCarriageReturnAndNewline) {
  for (int c : {' ', '\t', '\r', '\n'}) {
    SCOPED_TRACE(c);
    EXPECT_EQ(white_space(c), 1);
  }
  // Vertical tab and form feed are white space to the C library, not to the scanner.
  for (int c : std::initializer_list<int>{'\v', '\f', '\0', 'A', '.', ';', 0xFF, 0xA0, 0x85}) {
    SCOPED_TRACE(c);
    EXPECT_EQ(white_space(c), 0);
  }
}

TEST(CharacterClasses, LineEndingIsNewlineOrPastTheText) {
  EXPECT_EQ(endingChar(kPastLine), 1);
  EXPECT_EQ(endingChar('\n'), 1);
  for (int c : std::initializer_list<int>{'\0', '\r', ' ', '\t', '.', ';', 0xFF, 'A'}) {
    SCOPED_TRACE(c);
    EXPECT_EQ(endingChar(c), 0);
  }
}

TEST(LookAhead, EnoughCharactersFromTheCurrentOneOn) {
  struct t_case {
    const char *text;
    int32 count;
    int32 want;
  };
  const t_case cases[] = {
      {"COPY", 4, 1}, {"COPY X.", 4, 1},   {"COP", 4, 0},      {"", 0, 1},       {"", 1, 0},
      {"A", 1, 1},    {"++INCLUDE", 9, 1}, {"++INCLUD", 9, 0}, {"-INC\n", 4, 1},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ok2lookAhead(c.text, c.count), c.want);
  }
  // Counted from the pointer passed, the current character included.
  const char *line = "AB-INC";
  EXPECT_EQ(ok2lookAhead(line + 2, 4), 1);
  EXPECT_EQ(ok2lookAhead(line + 3, 4), 0);
}

TEST(EmbeddedComment, SlashStarAtTheCurrentIndex) {
  EXPECT_EQ(embeddedComment("A/*X*/B", 1, 0), 1);
  EXPECT_EQ(embeddedComment("/*", 0, 0), 1);
  EXPECT_EQ(embeddedComment("A/*X*/B", 0, 0), 0);
  EXPECT_EQ(embeddedComment("A/*X*/B", 2, 0), 0); // "*" first
  EXPECT_EQ(embeddedComment("A/ *", 1, 0), 0);
  EXPECT_EQ(embeddedComment("A*/", 1, 0), 0);
  EXPECT_EQ(embeddedComment("A/", 1, 0), 0); // nothing follows the "/"
  EXPECT_EQ(embeddedComment("", 0, 0), 0);
  // Positions past the stored text (carriage returns and NULs counted but not stored) hold no
  // comment and are never read outside the line.
  EXPECT_EQ(embeddedComment("A/", 2, 0), 0);
  EXPECT_EQ(embeddedComment("A/", 5, 0), 0);
}

// -----------------------------------------------------------------------------------------------
// States
// -----------------------------------------------------------------------------------------------

TEST(LineStartState, IdentifiersCommentLinesAndDashIncNamesEndAtTheLineEnd) {
  struct t_case {
    int32 state;
    int32 want;
  };
  const t_case cases[] = {
      {INIDENTIFIER, AT_START},
      {INCOBCOMMENT, AT_START},
      {INMEMDASHINC, MEMEND_DASHINC},
      // Everything else carries over unchanged.
      {AT_START, AT_START},
      {INCOMMENT, INCOMMENT},
      {INAPOS, INAPOS},
      {INQUOTE, INQUOTE},
      {CONTINUE_APOS, CONTINUE_APOS},
      {CONTINUE_QUOTE, CONTINUE_QUOTE},
      {IDENTIFIER_BEG, IDENTIFIER_BEG},
      {MEMBEG_DASHINC, MEMBEG_DASHINC},
      {MEMEND_DASHINC, MEMEND_DASHINC},
      {DASHINC_COMPLETE, DASHINC_COMPLETE},
      {MEMBEG_PLUSINC, MEMBEG_PLUSINC},
      {INMEMPLUSINC, INMEMPLUSINC},
      {MEMEND_PLUSINC, MEMEND_PLUSINC},
      {PLUSINC_COMPLETE, PLUSINC_COMPLETE},
      {MEMBEG_PLIINCLUDE, MEMBEG_PLIINCLUDE},
      {INMEMPLIINCLUDE, INMEMPLIINCLUDE},
      {MEMEND_PLIINCLUDE, MEMEND_PLIINCLUDE},
      {PLIINCLUDE_COMPLETE, PLIINCLUDE_COMPLETE},
      {MEMBEG_COBOLCOPY, MEMBEG_COBOLCOPY},
      {INMEMCOBOLCOPY, INMEMCOBOLCOPY},
      {MEMEND_COBOLCOPY, MEMEND_COBOLCOPY},
      {COBOLCOPY_COMPLETE, COBOLCOPY_COMPLETE},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.state);
    EXPECT_EQ(adjustCurrentState(c.state), c.want);
  }
}

TEST(StateValues, FixedNumbersByFamily) {
  const std::pair<int32, int32> values[] = {
      {AT_START, 1},
      {AT_EOL, 2},
      {AT_EOF, 3},
      {AT_ENDOFSTMT, 100},
      {INCOMMENT, 101},
      {INAPOS, 102},
      {INQUOTE, 103},
      {INCOBCOMMENT, 104},
      {CONTINUE_APOS, 105},
      {CONTINUE_QUOTE, 106},
      {IDENTIFIER_BEG, 200},
      {INIDENTIFIER, 201},
      {ABRUPT_EOF, 255},
      {BEG_DASHINC, 300},
      {INDASHINC, 301},
      {END_DASHINC, 302},
      {MEMBEG_DASHINC, 303},
      {INMEMDASHINC, 304},
      {MEMEND_DASHINC, 305},
      {MEMCOMPLETE_DASHINC, 306},
      {DASHINC_COMPLETE, 307},
      {BEG_PLUSINC, 400},
      {MEMBEG_PLUSINC, 403},
      {INMEMPLUSINC, 404},
      {MEMEND_PLUSINC, 405},
      {PLUSINC_COMPLETE, 407},
      {MEMBEG_PLIINCLUDE, 503},
      {INMEMPLIINCLUDE, 504},
      {MEMEND_PLIINCLUDE, 505},
      {PLIINCLUDE_COMPLETE, 507},
      {MEMBEG_COBOLCOPY, 603},
      {INMEMCOBOLCOPY, 604},
      {MEMEND_COBOLCOPY, 605},
      {COBOLCOPY_COMPLETE, 607},
  };
  for (const auto &[state, value] : values)
    EXPECT_EQ(state, value);
}

TEST(StateTrace, NamesEveryStateButInmemPliInclude) {
  const std::pair<int32, const char *> named[] = {
      {1, "AT_START"},
      {2, "AT_EOL"},
      {3, "AT_EOF"},
      {100, "AT_ENDOFSTMT"},
      {101, "INCOMMENT"},
      {102, "INAPOS"},
      {103, "INQUOTE"},
      {104, "INCOBCOMMENT"},
      {105, "CONTINUE_APOS"},
      {106, "CONTINUE_QUOTE"},
      {200, "IDENTIFIER_BEG"},
      {201, "INIDENTIFIER"},
      {255, "ABRUPT_EOF"},
      {300, "BEG_DASHINC"},
      {301, "INDASHINC"},
      {302, "END_DASHINC"},
      {303, "MEMBEG_DASHINC"},
      {304, "INMEMDASHINC"},
      {305, "MEMEND_DASHINC"},
      {306, "MEMCOMPLETE_DASHINC"},
      {307, "DASHINC_COMPLETE"},
      {400, "BEG_PLUSINC"},
      {403, "MEMBEG_PLUSINC"},
      {404, "INMEMPLUSINC"},
      {405, "MEMEND_PLUSINC"},
      {407, "PLUSINC_COMPLETE"},
      {503, "MEMBEG_PLIINCLUDE"},
      {505, "MEMEND_PLIINCLUDE"},
      {507, "PLIINCLUDE_COMPLETE"},
      {603, "MEMBEG_COBOLCOPY"},
      {604, "INMEMCOBOLCOPY"},
      {605, "MEMEND_COBOLCOPY"},
      {607, "COBOLCOPY_COMPLETE"},
  };
  for (const auto &[state, name] : named) {
    SCOPED_TRACE(name);
    ASSERT_NE(stateName(state), nullptr);
    EXPECT_STREQ(stateName(state), name);
  }
  // These print "default clause".
  for (int32 state : {504, 0, 4, 99, 107, 202, 308, 401, 406, 506, 606, 999}) {
    SCOPED_TRACE(state);
    EXPECT_EQ(stateName(state), nullptr);
  }
}

// -----------------------------------------------------------------------------------------------
// Keyword comparison
// -----------------------------------------------------------------------------------------------

TEST(KeywordMatch, CaseSensitiveOverTheGivenCountAtTheGivenIndex) {
  struct t_case {
    const char *line;
    const char *keyword;
    std::int64_t index;
    int32 count;
    int32 want;
  };
  const t_case cases[] = {
      {"-INC MEMBERA\n", "-INC", 0, 4, 1},
      {"       ++INCLUDE MEMBERB\n", "++INCLUDE", 7, 9, 1},
      {"      -INC X\n", "-INC", 6, 4, 1},
      {"-INCLUDE X\n", "-INC", 0, 4, 1},   // the next character is not looked at
      {"-inc MEMBERA\n", "-INC", 0, 4, 0}, // lower case is not the keyword
      {"       ++include X\n", "++INCLUDE", 7, 9, 0},
      {"-INC\n", "-INC", 1, 4, 0}, // not at that index
      {"-IN", "-INC", 0, 4, 0},    // the line ends first
      {"X-INC", "-INC", 1, 4, 1},
      {"-INC", "-INC", 0, 4, 1}, // the keyword ends the text
      {"AB", "-INC", 5, 4, 0},   // an index past the stored text matches nothing
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(matchIdent(c.line, c.keyword, c.index, c.count, 0), c.want);
  }
}

TEST(KeywordMatch, TracesTheLineTheKeywordAndTheCountBeforeComparing) {
  int32 matched = -1;
  const std::string traced =
      unit::captureStdout([&] { matched = matchIdent("-inc MEMBERA\n", "-INC", 0, 4, 1); });
  EXPECT_EQ(matched, 0);
  EXPECT_EQ(traced, "Comparing buffer1:  -inc MEMBERA\n \n"
                    "Comparing buffer2:  -INC\n"
                    "bytes to compare ==>  4 \n");
  EXPECT_EQ(unit::captureStdout([] { (void)matchIdent("-INC X\n", "-INC", 0, 4, 0); }), "");
}

TEST(KeywordMatchAnyCase, KeywordInAnyCaseFollowedByWhiteSpaceOrTheEnd) {
  struct t_case {
    const char *actual;
    const char *keyword;
    int32 want;
  };
  const t_case cases[] = {
      {"COPY MEMBERC.\n", "COPY", 1},
      {"copy memberc.\n", "COPY", 1},
      {"CoPy\tX.\n", "COPY", 1},
      {"COPY\n", "COPY", 1},
      {"COPY\r\n", "COPY", 1},
      {"COPY", "COPY", 1},  // the keyword ends the text
      {"COPY.", "COPY", 0}, // a period is no separator
      {"COPYBOOK X.", "COPY", 0},
      {"COP", "COPY", 0}, // shorter than the keyword
      {"", "COPY", 0},
      {"COPY\v", "COPY", 0},   // vertical tab is not white space here
      {"COPY\xff", "COPY", 0}, // nor is the end-of-file mark
      {"CQPY X", "COPY", 0},
      {"%include x;\n", "%INCLUDE", 1},
      {"%Include\tx;\n", "%INCLUDE", 1},
      {"%INCLUDEX;\n", "%INCLUDE", 0},
      {"%INCLUDE'A';\n", "%INCLUDE", 0},
      {"%xinclude y;\n", "%XINCLUDE", 1},
      {"%XINCLUDE Y;\n", "%INCLUDE", 0},
      // Only a to z are mapped: neighbours of the letters stay different.
      {"{OPY X", "[OPY", 0},
      {"\xe3OPY X", "\xc3OPY", 0},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.actual);
    EXPECT_EQ(ic_matchIdent(c.actual, c.keyword, 0), c.want);
  }
}

TEST(KeywordMatchAnyCase, TracesAMatchOnly) {
  int32 matched = -1;
  const std::string traced =
      unit::captureStdout([&] { matched = ic_matchIdent("copy x.\n", "COPY", 1); });
  EXPECT_EQ(matched, 1);
  EXPECT_EQ(traced, "Matched:  copy x.\nWith:  COPY \n"
                    "bytes to compared ==>  4 \n");

  const std::string pli =
      unit::captureStdout([] { (void)ic_matchIdent("%include a;", "%INCLUDE", 1); });
  EXPECT_EQ(pli, "Matched:  %include a;With:  %INCLUDE \n"
                 "bytes to compared ==>  8 \n");

  EXPECT_EQ(unit::captureStdout([] { (void)ic_matchIdent("COPY.", "COPY", 1); }), "");
  EXPECT_EQ(unit::captureStdout([] { (void)ic_matchIdent("copy x.", "COPY", 0); }), "");
}

// -----------------------------------------------------------------------------------------------
// Quote trimming and string search
// -----------------------------------------------------------------------------------------------

TEST(QuoteTrimming, OneEnclosingPairAtMost) {
  struct t_case {
    const char *name;
    const char *want;
  };
  const t_case cases[] = {
      {"'MEMBERD'", "MEMBERD"},
      {"\"MEMBERD\"", "MEMBERD"},
      {"''MEMBERD''", "'MEMBERD'"}, // one pair only
      {"'A'B'", "A'B"},
      {"''", ""},
      {"'", ""}, // a lone quote is both ends
      {"\"", ""},
      {"'MEMBERD\"", "'MEMBERD\""}, // ends differ: unchanged
      {"\"MEMBERD'", "\"MEMBERD'"},
      {"'MEMBERD", "'MEMBERD"},
      {"MEMBERD'", "MEMBERD'"},
      {"MEMBERD", "MEMBERD"},
      {"", ""},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = c.name;
    trimQuotes(buffer);
    EXPECT_EQ(buffer, c.want);
  }
}

TEST(QuoteTrimming, LongNamesKeepEveryCharacter) {
  const std::string inner(500, 'N');
  std::string buffer = "'" + inner + "'";
  trimQuotes(buffer);
  EXPECT_EQ(buffer, inner);
}

TEST(StringSearch, OffsetOfTheFirstOccurrenceOrMinusOne) {
  EXPECT_EQ(findStr("-INC", "-INC A"), 0);
  EXPECT_EQ(findStr("-INC", "      -INC A"), 6);
  EXPECT_EQ(findStr("-INC", "X -INC A -INC B"), 2);
  EXPECT_EQ(findStr("-INC", "-IN C"), -1);
  EXPECT_EQ(findStr("-INC", "-inc A"), -1);
  EXPECT_EQ(findStr("-INC", ""), -1);
  EXPECT_EQ(findStr("-INC", "ABC-INC"), 3);
  const std::string longLine = std::string(5000, ' ') + "-INC X";
  EXPECT_EQ(findStr("-INC", longLine), 5000);
}

// -----------------------------------------------------------------------------------------------
// Line input
// -----------------------------------------------------------------------------------------------

/// A source node reading `bytes` from a temporary file opened in binary mode, as members are.
class t_sourceFile {
public:
  explicit t_sourceFile(std::string_view bytes) {
    path_ = dir_.writeFile("SOURCE", bytes);
    node.src.fp = std::fopen(path_.c_str(), "rb");
    node.sourcefn = node.sourcedsn = path_;
  }
  t_sourceFile(const t_sourceFile &) = delete;
  t_sourceFile &operator=(const t_sourceFile &) = delete;
  ~t_sourceFile() {
    if (node.src.fp != nullptr) std::fclose(node.src.fp);
  }

  struct t_line {
    std::string text;
    std::int64_t count;
    bool eofMark;
    bool atEnd;
  };
  t_line read() {
    t_line l{"unread", 0, false, false};
    l.count = getCurrentSourceLine(l.text, node, &l.eofMark, 0);
    l.atEnd = node.src.eof;
    return l;
  }

  t_sourceInputNode node{};

private:
  unit::t_scratchDir dir_;
  std::string path_;
};

const std::string kMark = "\xff";

TEST(LineInput, OnlyTheCarriageReturnBeforeTheNewlineIsLeftOut) {
  t_sourceFile f(std::string("AB\r\nC\0D\n\r\r\nE\0\rF\n", 16));
  t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, "AB\n");
  EXPECT_EQ(l.count, 4);
  EXPECT_FALSE(l.atEnd);
  l = f.read();
  EXPECT_EQ(l.text, std::string("C\0D\n", 4));
  EXPECT_EQ(l.count, 4);
  l = f.read();
  EXPECT_EQ(l.text, "\r\n");
  EXPECT_EQ(l.count, 3);
  l = f.read();
  EXPECT_EQ(l.text, std::string("E\0\rF\n", 5));
  EXPECT_EQ(l.count, 5);
  EXPECT_FALSE(l.eofMark);
  EXPECT_FALSE(l.atEnd);
}

TEST(LineInput, ALastLineWithoutNewlineEndsWithTheMark) {
  t_sourceFile f("A\nB");
  t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, "A\n");
  EXPECT_EQ(l.count, 2);
  EXPECT_FALSE(l.eofMark);
  EXPECT_FALSE(l.atEnd);
  l = f.read();
  EXPECT_EQ(l.text, "B" + kMark);
  EXPECT_EQ(l.count, 2);
  EXPECT_TRUE(l.eofMark);
  EXPECT_TRUE(l.atEnd);
}

TEST(LineInput, AFinalNewlineLeavesALastReadOfJustTheMark) {
  t_sourceFile f("A\n");
  t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, "A\n");
  EXPECT_EQ(l.count, 2);
  EXPECT_FALSE(l.atEnd); // the newline does not set the end-of-file indicator
  l = f.read();
  EXPECT_EQ(l.text, kMark);
  EXPECT_EQ(l.count, 1);
  EXPECT_TRUE(l.eofMark);
  EXPECT_TRUE(l.atEnd);
}

TEST(LineInput, AnEmptySourceGivesOneReadOfTheMark) {
  t_sourceFile f("");
  const t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, kMark);
  EXPECT_EQ(l.count, 1);
  EXPECT_TRUE(l.eofMark);
  EXPECT_TRUE(l.atEnd);
}

TEST(LineInput, CarriageReturnsBeforeTheEndAreKeptWithTheMark) {
  t_sourceFile f("X\r\r");
  const t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, "X\r\r" + kMark);
  EXPECT_EQ(l.count, 4);
  EXPECT_TRUE(l.atEnd);
}

TEST(LineInput, AByte0xFFInTheFileIsText) {
  t_sourceFile f("A\xff"
                 "B\n\xff\n");
  t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, "A\xff"
                    "B\n");
  EXPECT_EQ(l.count, 4);
  EXPECT_FALSE(l.eofMark);
  EXPECT_FALSE(l.atEnd);
  l = f.read();
  EXPECT_EQ(l.text, "\xff\n");
  EXPECT_EQ(l.count, 2);
  EXPECT_FALSE(l.eofMark);
  EXPECT_FALSE(l.atEnd);
  l = f.read();
  EXPECT_EQ(l.text, kMark);
  EXPECT_TRUE(l.eofMark);
}

TEST(LineInput, ALineOf199CharactersIsReadWhole) {
  const std::string line = std::string(198, 'x') + "\n";
  t_sourceFile f(line + "NEXT\n");
  const t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text, line);
  EXPECT_EQ(l.count, 199);
  EXPECT_EQ(f.read().text, "NEXT\n");
}

TEST(LineInput, AOneMegabyteLineIsReadWhole) {
  // Carriage returns and NULs scattered through a line far longer than any read buffer are
  // text; only the carriage return before the newline is left out.
  std::string bytes;
  std::string stored;
  for (int i = 0; i < (1 << 20); ++i) {
    const char c = static_cast<char>('a' + i % 26);
    bytes += c;
    stored += c;
    if (i % 4099 == 0) {
      bytes += '\r';
      stored += '\r';
    }
    if (i % 5003 == 0) {
      bytes += '\0';
      stored += '\0';
    }
  }
  bytes += "\r\n";
  stored += "\n";
  const std::string tail = "TAIL\n";
  t_sourceFile f(bytes + tail);
  const t_sourceFile::t_line l = f.read();
  EXPECT_EQ(l.text.size(), stored.size());
  EXPECT_TRUE(l.text == stored);
  EXPECT_EQ(l.count, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(f.read().text, tail);
}

TEST(LineInput, ANodeWithoutAStreamGivesNothing) {
  t_sourceInputNode node{};
  std::string buffer = "untouched";
  bool mark = true;
  std::int64_t count = -1;
  const std::string traced =
      unit::captureStdout([&] { count = getCurrentSourceLine(buffer, node, &mark, 1); });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(buffer, "untouched");
  EXPECT_FALSE(mark);
  EXPECT_EQ(traced, "unexpected file pointer error=>  fperrormsg \n");
}

TEST(LineInput, TracesTheCountAndTheLine) {
  t_sourceFile f("AB\r\nC");
  std::string buffer;
  bool mark = false;
  const std::string traced = unit::captureStdout([&] {
    (void)getCurrentSourceLine(buffer, f.node, &mark, 1);
    (void)getCurrentSourceLine(buffer, f.node, &mark, 1);
  });
  EXPECT_EQ(traced, "read this many characters ==>  4 \n"
                    "Line read ==>  AB\n \n"
                    "read this many characters ==>  2 \n"
                    "Line read ==>  C\xff \n");
  t_sourceFile g("Q\n");
  EXPECT_EQ(unit::captureStdout([&] { (void)getCurrentSourceLine(buffer, g.node, &mark, 0); }), "");
}

TEST(LineInput, ThePreviousLineIsReplacedWhole) {
  t_sourceFile f("A LONG FIRST LINE\nB\n");
  std::string buffer;
  bool mark = false;
  (void)getCurrentSourceLine(buffer, f.node, &mark, 0);
  (void)getCurrentSourceLine(buffer, f.node, &mark, 0);
  EXPECT_EQ(buffer, "B\n");
}

TEST(LineInput, AStreamThatCannotBeReadEndsAtOnce) {
  // A directory opens for reading on this system, but every read of it fails: the stream ends
  // with the mark, and the failure is remembered.
  unit::t_scratchDir dir;
  t_sourceInputNode node{};
  node.src.fp = std::fopen(dir.path().c_str(), "rb");
  ASSERT_NE(node.src.fp, nullptr);
  std::string buffer;
  bool mark = false;
  EXPECT_EQ(getCurrentSourceLine(buffer, node, &mark, 0), 1);
  EXPECT_EQ(buffer, "\xff");
  EXPECT_TRUE(mark);
  EXPECT_TRUE(node.src.eof);
  EXPECT_TRUE(node.src.readError);
  std::fclose(node.src.fp);
}

} // namespace
} // namespace incprep
