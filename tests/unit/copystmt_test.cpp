// The COPY statement module: the statement parser over fixed-form lines (forms, where a statement
// ends, bad statements) and the replacer (matching rules and the fixed-form layout of changed
// lines). The differential test against the compiler (tests/copy_diff) carries the broad cases.
#include "copystmt.h"

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <random>

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

// Random statements and members from COBOL-like fragments: the parser always decides, and the
// replacer emits every member line once, in order (a changed line may take extra lines with the
// same origin), never crosses column 72 with a word that fits, and leaves lines without a match
// byte for byte.
TEST(Replacer, RandomTextLosesNothing) {
  // The last two are left out of operands.
  const char *const fragments[] = {"A",
                                   "B",
                                   "'X Y'",
                                   "\"Q\"\"\"",
                                   "(",
                                   ")",
                                   ":",
                                   ".",
                                   ",",
                                   ";",
                                   "OF",
                                   "X'41'",
                                   "A-B",
                                   "  ",
                                   "LONG-WORD-OF-THIRTY-CHARACTERS",
                                   "'LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL'",
                                   "*>",
                                   "=="};
  std::mt19937 rng(12345);
  auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  auto words = [&](std::size_t most, bool operand) {
    std::string w;
    for (std::size_t k = pick(most + 1); k > 0; --k)
      w += std::string(pick(3) == 0 ? "" : " ") +
           fragments[pick(std::size(fragments) - (operand ? 2 : 0))];
    return w;
  };
  auto randomLine = [&]() {
    std::string l = pick(5) == 0 ? "000100" : "      ";
    l += " *-/ "[pick(5)];
    l += words(12, false);
    if (pick(4) == 0) l.resize(pick(90), pick(2) == 0 ? ' ' : 'Q');
    return l;
  };
  int complete = 0;
  int changed = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> statement = {"       COPY M REPLACING"};
    for (std::size_t k = pick(4); k > 0; --k) {
      const char *mode = pick(4) == 0 ? (pick(2) == 0 ? "LEADING " : "TRAILING ") : "";
      statement.push_back("           " + std::string(mode) + "==" + words(3, true) + "A== BY");
      statement.push_back(pick(6) == 0 ? randomLine() : "           ==" + words(3, true) + "==");
    }
    statement.back() += " .";
    t_copyStatementParser parser;
    t_stmtStatus s = parser.begin(statement[0], 11);
    for (std::size_t k = 1; s == t_stmtStatus::needMore && k < statement.size(); ++k)
      s = parser.next(statement[k]);
    if (s == t_stmtStatus::needMore) s = parser.end();
    ASSERT_NE(s, t_stmtStatus::needMore);
    if (s != t_stmtStatus::complete) {
      EXPECT_FALSE(parser.why().empty());
      continue;
    }
    ++complete;
    std::vector<std::string> member;
    for (std::size_t k = pick(8); k > 0; --k)
      member.push_back(randomLine());
    std::vector<t_deckLine> deck;
    t_replacer r(parser.statement(), [&](std::string_view l, t_lineOrigin o) {
      deck.push_back(t_deckLine{std::string(l), o.linenum});
    });
    for (std::size_t k = 0; k < member.size(); ++k)
      r.line(member[k], t_lineOrigin{2, static_cast<int32>(k + 1)});
    r.finish();
    std::size_t next = 0;
    bool same = deck.size() == member.size();
    for (const t_deckLine &d : deck) {
      ASSERT_GE(d.line, 1);
      const auto n = static_cast<std::size_t>(d.line);
      ASSERT_TRUE(n == next || n == next + 1) << d.text;
      const std::string &source = member[n - 1];
      same = same && d.text == source;
      // Columns 73 on: the source line's on its first deck line, nothing on extra lines.
      if (d.text != source) {
        const std::string_view tail = d.text.size() > 72 ? std::string_view(d.text).substr(72) : "";
        const std::string_view want =
            n != next && source.size() > 72 ? std::string_view(source).substr(72) : "";
        EXPECT_EQ(tail, want) << d.text;
      }
      next = n;
    }
    ASSERT_EQ(next, member.size());
    changed += same ? 0 : 1;
  }
  // Enough of the rounds reach the replacer and change something.
  EXPECT_GT(complete, 800);
  EXPECT_GT(changed, 100);
}

} // namespace
} // namespace incprep
