// The COPY statement module: the statement parser over fixed-form lines (forms, where a statement
// ends, bad statements) and the replacer (matching rules and the fixed-form layout of changed
// lines). The differential test against the compiler (tests/copy_diff) carries the broad cases.
#include "copystmt.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace incprep {
namespace {

// Lines are given with their first 7 columns written out: "      " + indicator.
struct t_parsed {
  t_stmtStatus status;
  t_copyStatement stmt;
  std::string why;
  std::size_t fed; // lines fed before the parser decided
};

t_parsed parseLines(const std::vector<std::string> &lines, bool endOfSource) {
  t_copyStatementParser parser;
  const std::size_t from = lines[0].find("COPY") + 4;
  t_stmtStatus s = parser.begin(lines[0], from);
  std::size_t fed = 1;
  while (s == t_stmtStatus::needMore && fed < lines.size())
    s = parser.next(lines[fed++]);
  if (s == t_stmtStatus::needMore && endOfSource) s = parser.end();
  return t_parsed{s, parser.statement(), parser.why(), fed};
}

TEST(CopyStatementParser, FormsAndWhereTheyEnd) {
  struct t_case {
    std::vector<std::string> lines;
    std::string name, library;
    bool literal, suppress, replacing;
    std::size_t pairs, endLine, endIndex;
  };
  const t_case cases[] = {
      {{"       COPY PAYREC."}, "PAYREC", "", false, false, false, 0, 0, 19},
      {{"       COPY 'PAY-REC' OF \"lib/a\"."}, "PAY-REC", "lib/a", true, false, false, 0, 0, 33},
      {{"       COPY", "      * a comment", "", "           X", "           IN LIB", "       ."},
       "X",
       "LIB",
       false,
       false,
       false,
       0,
       5,
       8},
      {{"       COPY X SUPPRESS PRINTING REPLACING A BY B, C BY D;", "       ==E F== BY ====."},
       "X",
       "",
       false,
       true,
       true,
       3,
       1,
       23},
      // The word after the name is none of the phrases: the statement ends at the name.
      {{"       COPY X", "           MOVE A TO B."}, "X", "", false, false, false, 0, 0, 13},
      {{"       COPY X OF L", "           01 A."}, "X", "L", false, false, false, 0, 0, 18},
      {{"       COPY X REPLACING A(1, B) OF C BY", "             'LIT'", "       ."},
       "X",
       "",
       false,
       false,
       true,
       1,
       2,
       8},
      {{"       COPY X REPLACING LEADING ==P-== BY ==Q-==",
        "           TRAILING ==-R== BY ==-S==."},
       "X",
       "",
       false,
       false,
       true,
       2,
       1,
       37},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.lines[0]);
    const t_parsed p = parseLines(c.lines, false);
    ASSERT_EQ(p.status, t_stmtStatus::complete) << p.why;
    EXPECT_EQ(p.stmt.name, c.name);
    EXPECT_EQ(p.stmt.library, c.library);
    EXPECT_EQ(p.stmt.libraryLiteral, c.literal);
    EXPECT_EQ(p.stmt.suppress, c.suppress);
    EXPECT_EQ(p.stmt.hasReplacing, c.replacing);
    EXPECT_EQ(p.stmt.pairs.size(), c.pairs);
    EXPECT_EQ(p.stmt.endLine, c.endLine);
    EXPECT_EQ(p.stmt.endIndex, c.endIndex);
  }
}

TEST(CopyStatementParser, OperandsAreTextWords) {
  const t_parsed p =
      parseLines({"       COPY X REPLACING ==A OF B(1)== BY =='IT''S' X\"41\"==",
                  "           \"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGH",
                  "      -    \"JKL\" BY Z", "           LEADING ==W-== BY ====."},
                 false);
  ASSERT_EQ(p.status, t_stmtStatus::complete) << p.why;
  ASSERT_EQ(p.stmt.pairs.size(), 3U);
  const auto &a = p.stmt.pairs[0];
  ASSERT_EQ(a.from.size(), 6U);
  EXPECT_EQ(a.from[2].text, "B");
  EXPECT_EQ(a.from[3].text, "(");
  EXPECT_TRUE(a.from[3].glued);
  EXPECT_FALSE(a.from[2].glued);
  ASSERT_EQ(a.by.size(), 2U);
  EXPECT_EQ(a.by[0].text, "'IT''S'");
  EXPECT_TRUE(a.by[1].literal);
  EXPECT_EQ(a.by[1].text, "X\"41\"");
  // A continued literal is one word: the first part through column 72, then the continuation.
  const auto &b = p.stmt.pairs[1];
  ASSERT_EQ(b.from.size(), 1U);
  EXPECT_EQ(b.from[0].text, "\"ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHJKL\"");
  EXPECT_EQ(p.stmt.pairs[2].mode, t_replaceMode::leading);
  EXPECT_TRUE(p.stmt.pairs[2].by.empty());
}

TEST(CopyStatementParser, BadStatementsAndTheSourceEndingInside) {
  struct t_case {
    std::vector<std::string> lines;
    t_stmtStatus atEnd;
    std::string why;
  };
  const t_case cases[] = {
      {{"       COPY X REPLACING ==A BY ==B==."}, t_stmtStatus::bad, "REPLACING without BY"},
      {{"       COPY X REPLACING ==A== BY ==B", "           C."},
       t_stmtStatus::bad,
       "unterminated pseudo-text"},
      {{"       COPY X REPLACING A B."}, t_stmtStatus::bad, "REPLACING without BY"},
      {{"       COPY X REPLACING."}, t_stmtStatus::bad, "REPLACING without BY"},
      {{"       COPY X REPLACING ==  == BY ==B==."}, t_stmtStatus::bad, "empty operand-1"},
      {{"       COPY X REPLACING ==A== BY"},
       t_stmtStatus::bad,
       "source ended inside the statement"},
      {{"       COPY X OF"}, t_stmtStatus::bad, "source ended inside the statement"},
      {{"       COPY"}, t_stmtStatus::bad, "source ended inside the statement"},
      // The statement can end where the source does.
      {{"       COPY X"}, t_stmtStatus::complete, ""},
      {{"       COPY X REPLACING A BY B"}, t_stmtStatus::complete, ""},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.lines[0]);
    const t_parsed p = parseLines(c.lines, true);
    EXPECT_EQ(p.status, c.atEnd);
    EXPECT_EQ(p.why, c.why);
  }
}

TEST(CopyStatementParser, AsksForMoreUntilItCanDecide) {
  t_copyStatementParser parser;
  EXPECT_EQ(parser.begin("       COPY X", 11), t_stmtStatus::needMore);
  EXPECT_EQ(parser.next("      * REPLACING"), t_stmtStatus::needMore);
  EXPECT_EQ(parser.next(""), t_stmtStatus::needMore);
  EXPECT_EQ(parser.next("           REPLACING ==A==    "), t_stmtStatus::needMore);
  EXPECT_EQ(parser.next("      * =="), t_stmtStatus::needMore);
  EXPECT_EQ(parser.next("           BY ==B== C"), t_stmtStatus::needMore);
  EXPECT_EQ(parser.next("           BY D E F"), t_stmtStatus::bad);
  EXPECT_EQ(parser.why(), "REPLACING without BY");
}

// -----------------------------------------------------------------------------------------------
// The replacer
// -----------------------------------------------------------------------------------------------

struct t_deckLine {
  std::string text;
  int32 line;
  bool operator==(const t_deckLine &) const = default;
};

void PrintTo(const t_deckLine &l, std::ostream *os) {
  *os << l.line << ":[" << l.text << "]";
}

std::vector<t_deckLine> replace(const std::vector<std::string> &statement,
                                const std::vector<std::string> &member) {
  const t_parsed p = parseLines(statement, true);
  EXPECT_EQ(p.status, t_stmtStatus::complete) << p.why;
  std::vector<t_deckLine> out;
  t_replacer r(p.stmt, [&](std::string_view text, t_lineOrigin o) {
    out.push_back(t_deckLine{std::string(text), o.linenum});
  });
  int32 n = 0;
  for (const std::string &l : member)
    r.line(l, t_lineOrigin{2, ++n});
  r.finish();
  return out;
}

// `text` with blanks up to column 72.
std::string pad(std::string text) {
  text.resize(72, ' ');
  return text;
}

TEST(Replacer, MatchingAndLayout) {
  struct t_case {
    std::vector<std::string> statement;
    std::vector<std::string> member;
    std::vector<t_deckLine> deck;
  };
  const std::string seq = "000100";
  const std::string digits = "12345678901234567890123456789012345"; // 35 digits
  const t_case cases[] = {
      // Untouched lines are byte for byte; the replacement starts where the replaced text began.
      {{"       COPY M REPLACING ==:TAG:== BY ==CUST==."},
       {"000100 01 :TAG:-REC.    ", "000200     05 A PIC X.            SEQ", "000300*:TAG:"},
       {{"000100 01 CUST-REC.", 1},
        {"000200     05 A PIC X.            SEQ", 2},
        {"000300*:TAG:", 3}}},
      // Comments and separators are ignored; the first pair wins; replaced text is not examined
      // again; columns 73 on keep their place.
      {{"       COPY M REPLACING ==A B== BY C, C BY D, B BY A."},
       {"       01 A,", "      * note", pad("                B  PIC X.") + "ID73"},
       {{"       01 C", 1}, {"      * note", 2}, {pad("                PIC X.") + "ID73", 3}}},
      // A word that would cross column 72 goes on in column 12 of a new line.
      {{"       COPY M REPLACING X BY",
        "           ==LONG-NAME-ONE LONG-NAME-TWO LONG-NAME-THREE==."},
       {seq + "     MOVE X TO Y-FIELD-NAME."},
       {{seq + "     MOVE LONG-NAME-ONE LONG-NAME-TWO LONG-NAME-THREE TO", 1},
        {seq + "     Y-FIELD-NAME.", 1}}},
      // A literal that cannot fit is continued.
      {{"       COPY M REPLACING V BY", "           '" + digits + digits.substr(0, 25),
        "      -    '" + digits.substr(25) + "'."},
       {"           05 F PIC X(80) VALUE V."},
       {{"           05 F PIC X(80) VALUE", 1},
        {"           '" + digits + digits.substr(0, 25), 1},
        {"      -    '" + digits.substr(25) + "'.", 1}}},
      // Partial words.
      {{"       COPY M REPLACING LEADING ==PRE-== BY ==NEW-==",
        "           TRAILING ==-IN== BY ====."},
       {"       01 PRE-A-IN PIC X.", "       01 PRE- PIC X."},
       {{"       01 NEW-A-IN PIC X.", 1}, {"       01 NEW- PIC X.", 2}}},
      // A match over lines: the replacement where it began, the rest of the last line in place.
      {{"       COPY M REPLACING ==Y OF Z== BY W."},
       {"           MOVE Y", "      *", "               OF Z TO Q."},
       {{"           MOVE W", 1}, {"      *", 2}, {"               TO Q.", 3}}},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.statement[0]);
    EXPECT_EQ(replace(c.statement, c.member), c.deck);
  }
}

TEST(Replacer, ContinuedLiteralsInTheMember) {
  const std::string part1 = "           05 F VALUE '" + std::string(49, 'A'); // to column 72
  const std::vector<std::string> member = {part1, "      -    'BB'. 05 G."};
  // Untouched: both lines as they were.
  EXPECT_EQ(replace({"       COPY M REPLACING G BY H."}, member),
            (std::vector<t_deckLine>{{part1, 1}, {"      -    'BB'. 05 H.", 2}}));
  // Replaced: the literal is one text-word; its continuation line loses it.
  const std::string lit = "'" + part1.substr(23) + "BB'";
  EXPECT_EQ(replace({"       COPY M REPLACING", "           " + lit, "           BY 'C'."}, member),
            (std::vector<t_deckLine>{{"           05 F VALUE 'C'", 1}, {"       . 05 G.", 2}}));
}

// A member nested in a replaced member: its own pairs first, then the enclosing ones, in one pass
// (cobc -E: text one pair produced is not examined by another); lines go straight on.
TEST(Replacer, NestedMemberTakesBothPhrasesInOnePass) {
  const t_parsed outer = parseLines({"       COPY O REPLACING BETA BY ALPHA X BY Y."}, true);
  const t_parsed inner = parseLines({"       COPY I REPLACING ALPHA BY BETA."}, true);
  std::vector<std::string> deck;
  t_replacer o(outer.stmt, [&](std::string_view l, t_lineOrigin) { deck.emplace_back(l); });
  o.line("           MOVE BETA TO", t_lineOrigin{});
  o.finish(); // the enclosing replacer hands on what it holds before the nested member
  t_replacer i(inner.stmt, o);
  i.line("           ALPHA BETA X.", t_lineOrigin{});
  i.finish();
  o.line("           BETA.", t_lineOrigin{});
  o.finish();
  EXPECT_EQ(deck, (std::vector<std::string>{"           MOVE ALPHA TO", "           BETA ALPHA Y.",
                                            "           ALPHA."}));
}

} // namespace
} // namespace incprep
