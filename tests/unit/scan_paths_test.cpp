// Without trace the scanner consumes runs of ordinary characters in one step; with trace it
// takes every character through the state rules one by one. Both must give the same deck and
// side file for any input: these sources put the characters that end runs in every column
// that has a rule of its own.
#include "scanner.h"
#include "scanner_impl.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace incprep {
namespace {

struct t_scanOutput {
  std::string deck;
  std::string side;
};

/// A library of three members, named by SYSLIB while it lives.
class t_library {
public:
  t_library() {
    dir_.makeDir("lib");
    dir_.writeFile("lib/A.cpy", "       01 A-REC PIC X.\n");
    dir_.writeFile("lib/A.inc", "  DCL A FIXED;\n");
    dir_.writeFile("lib/B.cpy", "       01 B-REC PIC X.");
    syslib_.set(dir_.path() + "/lib");
  }

private:
  unit::t_scratchDir dir_;
  unit::t_envGuard syslib_{"SYSLIB"};
};

t_scanOutput scan(const std::string &source, int16 lang, int32 loglvl, int16 sqlinc = 0,
                  int16 cmt = 0, int16 format = 0) {
  t_optionsNode opt;
  opt.optSQLINC = sqlinc;
  opt.optCMT = cmt;
  opt.optCOMPRESSSTMTTBL = format;
  opt.fileName = "PROG";
  opt.sysPUNCH = "PROG.DEK";
  opt.optLANG = lang;
  std::FILE *src = std::tmpfile();
  std::fwrite(source.data(), 1, source.size(), src);
  std::rewind(src);
  std::FILE *deck = std::tmpfile();
  std::FILE *side = std::tmpfile();
  t_runResult result;
  (void)unit::captureStdout([&] { result = incFSMPLI(src, deck, side, "PROG", &opt, loglvl); });
  EXPECT_EQ(result.failure, t_runFailure::none);
  t_scanOutput out{unit::readStream(deck), unit::readStream(side)};
  std::fclose(src);
  std::fclose(deck);
  std::fclose(side);
  return out;
}

TEST(ScanPaths, TraceDoesNotChangeTheDeckOrTheSideFile) {
  const t_library library;
  const std::vector<std::string> cobol = {
      "     1*    COPY A.\n     X-INC A\n",            // indicator right after a sequence token
      "ABCDEF-INC A\nABCDEF+    COPY A.\n",            // "-" and "+" in column 7 end a token
      "ABCDEFGCOPY A.\n      /COPY A.\n",              // "/" after a token continues it
      "000100 COPY A. COPY B.\n000200 MOVE X TO Y.\n", // two statements, code after
      "       01 X PIC X VALUE 'COPY A.\n      -    'ABC'.\n       COPY A.\n",
      "       AUTHOR. J. O'GRADY.\n       COPY A.\n", // lone apostrophe ends at its line
      "       A/*X*/B COPY A.\n\tCOPY\tA.\n",         // comment inside a token, tabs
      "       COPY\n           A.\n       -INC A",    // name on the next line; no final newline
      std::string(80, 'X') + " COPY A.\n" + std::string(300, ' ') + "COPY B.\n",
      "\xff\xff\xff\xff\xff\xff\xff COPY A.\xff\n       COPY A.\r\n",
  };
  for (const std::string &src : cobol) {
    const t_scanOutput fast = scan(src, kLangCOBOL, 0);
    const t_scanOutput traced = scan(src, kLangCOBOL, 1);
    EXPECT_EQ(fast.deck, traced.deck) << "COBOL source:\n" << src;
    EXPECT_EQ(fast.side, traced.side) << "COBOL source:\n" << src;
  }
  const std::vector<std::string> pli = {
      " X = 'A;B'; /* %INCLUDE A; */ %INCLUDE A;\n",
      "-INC A\n %include A; Y = 1;\n /* open\n %INCLUDE A;\n */ %XINCLUDE A;",
      "A/*X*/B %INCLUDE A.B; C;\n  %INCLUDE\n  A;\n",
      " % INCLUDE A, NOPE ,A; /* C */ X;\n Y = 1; %\n\n  XINCLUDE SYSLIB(A), DD(A);\n %\n Z;\n",
      std::string(" X = '\0\r'; %include A;\r\n %INCLUDE A,\n B;\r", 41),
  };
  for (const std::string &src : pli) {
    const t_scanOutput fast = scan(src, kLangPLI, 0);
    const t_scanOutput traced = scan(src, kLangPLI, 1);
    EXPECT_EQ(fast.deck, traced.deck) << "PL/I source:\n" << src;
    EXPECT_EQ(fast.side, traced.side) << "PL/I source:\n" << src;
  }
  // With SQLINC(ON) every token goes through the rules; the trace still changes nothing.
  const std::vector<std::pair<int16, std::string>> sql = {
      {kLangCOBOL, "       01 X. EXEC SQL INCLUDE A END-EXEC.\n           EXEC SQL\n"
                   "             INCLUDE SQLCA END-EXEC. EXEC CICS X END-EXEC.\n"},
      {kLangPLI, " EXEC SQL INCLUDE A; exec sql\n include\n A ; X;\n EXEC SQL SELECT;\n"},
  };
  for (const auto &[lang, src] : sql) {
    const t_scanOutput fast = scan(src, lang, 0, 1);
    const t_scanOutput traced = scan(src, lang, 1, 1);
    EXPECT_EQ(fast.deck, traced.deck) << "SQLINC(ON) source:\n" << src;
    EXPECT_EQ(fast.side, traced.side) << "SQLINC(ON) source:\n" << src;
    EXPECT_NE(fast.deck.find(lang == kLangCOBOL ? "01 A-REC" : "DCL A FIXED"), std::string::npos);
  }
}

TEST(ScanPaths, EveryEventInEveryColumnAmongPlainLines) {
  // Without trace, plain lines are passed in runs and the code area is classified sixteen
  // bytes at a time: each character the rules must judge is put in every column up to 40,
  // on lines of different lengths among plain lines, so that it falls at every place of a
  // block and of a line's last block.
  const t_library library;
  const std::vector<std::string> events = {
      "COPY A.",        "copy A. X", "COPYX A.", "Cx",    "-INC A", "++INCLUDE A", "%INCLUDE A;",
      "%xinclude A; Z", "'LIT' X",   "'OPEN",    "\"Q\"", "X;Y",    "A/B",         "A/*C*/B",
      "/* C",           "*X",        "+X",       "\tT",   "-X",     "% INCLUDE A;", "%INCLUDE A, A;",
      std::string("N\0L \0", 5), "C\rR", "COPX A.", "COP", "-IN X", "-inc A", "X;COPY A.",
      "X; copy A.", "A;-INC A", "+ +INCLUDE A", "C",
      // Literals on plain lines: keywords inside them and right after them, stops inside
      // them, both kinds of quote, doubled quotes, one left open, one across blocks.
      "'LIT'COPY A.", "'A COPY B.' X", "\"Q\" 'A'", "'A''B' %INCLUDE A;", "'A;/*\"' X",
      "\"L\"-INC A", "'A' 'B", "'C\rR' X", "'A LITERAL LONGER THAN ONE BLOCK OF BYTES' COPY A.",
      "'\"' COPY A. '\"'", "'B\n        %INCLUDE A; COPY A. X"};
  const std::string plain = "000100     MOVE ALPHA TO BETA OF GAMMA-DELTA.\n";
  for (const int16 lang : {kLangCOBOL, kLangPLI}) {
    for (const std::string &event : events) {
      std::string src = plain;
      for (std::size_t col = 0; col <= 40; ++col) {
        src += std::string(col, col % 3 == 0 ? ' ' : 'N') + event + "\n";
        src += plain;
        src += std::string(col, ' ') + event + std::string(col % 17, 'T') + "\n";
      }
      src += plain.substr(0, 20); // no final newline
      const t_scanOutput fast = scan(src, lang, 0);
      const t_scanOutput traced = scan(src, lang, 1);
      EXPECT_EQ(fast.deck, traced.deck) << "language " << lang << ", event " << event;
      EXPECT_EQ(fast.side, traced.side) << "language " << lang << ", event " << event;
    }
  }
}

TEST(ScanPaths, LinesAcrossReadBlocksAndCarriageReturns) {
  // Lines that straddle the 64 KiB read block, carriage returns and NULs among in-place
  // lines, and an include on the line that crosses the block.
  const t_library library;
  std::string src;
  while (src.size() < 65536 - 30)
    src += "       MOVE A TO B.\n";
  src += "       MOVE LONGER-NAME TO X. COPY A.\n"; // crosses the block end
  for (int k = 0; k < 50; ++k)
    src += k % 7 == 0    ? "       MOVE C\r TO D.\r\n"
           : k % 11 == 0 ? "       MOVE \0E.\n"
                         : "       COPY A.\n";
  src += std::string(70000, 'Y') + " COPY B.\n       END.\n";
  const t_scanOutput fast = scan(src, kLangCOBOL, 0);
  const t_scanOutput traced = scan(src, kLangCOBOL, 1);
  EXPECT_EQ(fast.deck, traced.deck);
  EXPECT_EQ(fast.side, traced.side);
  // The code before the COPY keeps its own deck line, the member follows it.
  EXPECT_NE(fast.deck.find("LONGER-NAME TO X. \n       01 A-REC PIC X.\n"), std::string::npos);
}

// The length of the plain line at `at` in `text` (0 when it is not plain), judged one byte at a
// time: columns 1 to 7 hold no stop character, no keyword start and (COBOL) no "*" in column 7;
// then, up to the newline, no stop but ";" and quotes, literals closed on the line that hold no
// quote of the other kind, and no keyword start where a token begins (after white space, ";" or
// a closing quote) that the letters after it leave possible.
std::size_t plainLineByBytes(std::string_view text, std::size_t at, bool pli) {
  const std::string_view stops = std::string_view(";'\"\n\r/");
  const std::string_view starts = pli ? "%+-" : "Cc+-";
  const auto keywordMayBegin = [&](std::size_t q) {
    const std::string_view rest = text[q] == '+' ? "+" : text[q] == '-' ? "INC" : pli ? "" : "OPY";
    if (q + rest.size() >= text.size()) return true;
    for (std::size_t i = 0; i < rest.size(); ++i)
      if (std::toupper(static_cast<unsigned char>(text[q + 1 + i])) != rest[i]) return false;
    return true;
  };
  char open = 0; // the quote of the literal open
  bool tokenNext = false;
  for (std::size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (i - at < 7 &&
        (stops.find(c) != std::string_view::npos || starts.find(c) != std::string_view::npos ||
         (!pli && i - at == 6 && c == '*')))
      return 0;
    if (open != 0) {
      if (c == '\n' || (c != open && (c == '\'' || c == '"'))) return 0;
      tokenNext = c == open;
      if (tokenNext) open = 0;
      continue;
    }
    if (c == '\n') return i + 1 - at;
    if (c == '\r' || c == '/') return 0;
    if (tokenNext && starts.find(c) != std::string_view::npos && keywordMayBegin(i)) return 0;
    if (c == '\'' || c == '"') open = c;
    tokenNext = c == ' ' || c == '\t' || c == ';';
  }
  return 0;
}

TEST(ScanPaths, PlainLinesAreTheSameLinesWhateverTheBlockWidth) {
  // Where the processor has AVX2, plain lines are found thirty-two bytes at a time, elsewhere
  // sixteen, sixty-four bytes judged together from bit masks: on random lines of the characters
  // that matter, both find the run of plain lines that judging each line byte by byte finds,
  // wherever the last line ends. Every fiftieth text is also scanned with and without trace,
  // which must agree.
  if (!haveWideLineBlocks()) GTEST_SKIP() << "no AVX2 here";
  const t_library library;
  const std::string alphabet = std::string("  AAAAAAOPYINCcC-+%;'\"/*\t\r\n\n") + '\0';
  std::mt19937 random(20261210);
  std::size_t plain = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    // From lines dense with the characters that matter to lines where they are rare.
    const unsigned rarity = 3 * (1 + static_cast<unsigned>(round) % 8);
    for (int line = 1 + static_cast<int>(random() % 6); line > 0; --line) {
      std::string one(1 + random() % 120, ' ');
      for (char &c : one)
        c = random() % rarity == 0 ? alphabet[random() % alphabet.size()] : 'A';
      if (one.size() > 6 && random() % 4 == 0) one[6] = '*'; // a COBOL comment line
      text += one + '\n';
    }
    text += std::string(random() % 70, 'Z');
    for (const bool pli : {false, true}) {
      const t_plainLines narrow = plainLines16(text.data(), text.size(), pli);
      EXPECT_EQ(plainLines32(text.data(), text.size(), pli), narrow)
          << (pli ? "PL/I" : "COBOL") << " lines: " << text;
      t_plainLines byBytes;
      for (std::size_t length = 0; (length = plainLineByBytes(text, byBytes.bytes, pli)) != 0;) {
        ++byBytes.lines;
        byBytes.bytes += length;
        byBytes.last = length;
      }
      EXPECT_EQ(narrow, byBytes) << (pli ? "PL/I" : "COBOL") << " lines: " << text;
      plain += narrow.lines;
      if (round % 50 == 0) {
        const int16 lang = pli ? kLangPLI : kLangCOBOL;
        EXPECT_EQ(scan(text, lang, 0).deck, scan(text, lang, 1).deck) << text;
      }
    }
  }
  EXPECT_GT(plain, 1000U); // the alphabet leaves many lines plain
}

TEST(ScanPaths, AnIndicatorAfterASequenceTokenIsJudgedInColumnSeven) {
  // Column 6 holds the end of a sequence token and column 7 the "*": a comment line, whose
  // COPY stays in the deck; the "-" of the next line's column 7 starts "-INC", which expands.
  const t_library library;
  const t_scanOutput out = scan("     1*    COPY A.\n     X-INC A\n", kLangCOBOL, 0);
  EXPECT_EQ(out.deck, "     1*    COPY A.\n       01 A-REC PIC X.\n\n\n");
}

} // namespace
} // namespace incprep

namespace incprep {
namespace {

// Random libraries whose members include one another many times over, in every include form,
// with members that end inside a literal or a comment, recursion, missing members, REPLACING
// and CMT(ON). Without trace, a member met again may be given from its first expansion rather
// than scanned; the deck and side file must be those of scanning every line (as the trace does).
TEST(ScanPaths, MembersMetAgainGiveWhatScanningThemGives) {
  const std::vector<std::string> cobol = {
      "       01 X PIC X.\n",         "       COPY M@.\n",
      "       COPY M@.\n",             "       COPY M@ REPLACING ==X== BY ==Y==.\n",
      "      * COPY M@.\n",            "       MOVE 'ABC\n",
      "      -    'DEF' TO X.\n",      "       COPY\n",
      "       COPY NOPE.\n",           "       A. COPY M@. B.\n",
      "-INC M@\n",                     "++INCLUDE M@\n",
      "       01 X PIC X. COPY M@",     "       COPY M@ IN LIB\n           .\n",
      "       EXEC SQL INCLUDE M@ END-EXEC.\n"};
  const std::vector<std::string> pli = {
      " DCL A FIXED;\n", " %INCLUDE M@;\n",  " %INCLUDE M@;\n",      " /* open\n",
      " */ X;\n",        " %INCLUDE M@, M@;\n", " X = 'A;\n",          " %\n",
      " INCLUDE M@;\n",  " -INC M@\n",       " EXEC SQL INCLUDE M@;\n", " %INCLUDE NOPE;",
      " Y = 1; %include M@; Z;\n"};
  constexpr int kMembers = 5;
  std::mt19937 random(20261209);
  for (int round = 0; round < 120; ++round) {
    const int16 lang = round % 2 == 0 ? kLangCOBOL : kLangPLI;
    const std::vector<std::string> &pool = lang == kLangCOBOL ? cobol : pli;
    // Lines drawn from the pool; "@" becomes a member number, mostly of a later member so that
    // nesting goes deep, sometimes of any (which may recurse).
    auto lines = [&](int self, int count) {
      std::string text;
      for (int k = 0; k < count; ++k) {
        std::string line = pool[random() % pool.size()];
        for (std::size_t at = line.find('@'); at != std::string::npos; at = line.find('@')) {
          const int later = self + 1 + static_cast<int>(random() % kMembers);
          const int any = static_cast<int>(random() % kMembers);
          line[at] = static_cast<char>('0' + (random() % 4 == 0 || later >= kMembers ? any : later));
        }
        text += line;
      }
      return text;
    };
    unit::t_scratchDir dir;
    dir.makeDir("lib");
    const char *ext = lang == kLangCOBOL ? ".cpy" : ".inc";
    for (int m = 0; m < kMembers; ++m)
      dir.writeFile("lib/M" + std::to_string(m) + ext, lines(m, 1 + static_cast<int>(random() % 6)));
    const unit::t_envGuard syslib("SYSLIB");
    syslib.set(dir.path() + "/lib");
    const unit::t_envGuard libvar("LIB");
    libvar.set(dir.path() + "/lib");
    const std::string src = lines(-1, 40);
    const auto sqlinc = static_cast<int16>(random() % 2);
    const auto cmt = static_cast<int16>(random() % 3 == 0 ? 1 : 0);
    const t_scanOutput fast = scan(src, lang, 0, sqlinc, cmt);
    const t_scanOutput traced = scan(src, lang, 1, sqlinc, cmt);
    ASSERT_EQ(fast.deck, traced.deck) << "round " << round << ", source:\n" << src;
    ASSERT_EQ(fast.side, traced.side) << "round " << round << ", source:\n" << src;
  }
}

// A deck of more than one block is written on a thread of its own where the run may use two
// processors (members met again written from where their expansion is kept), and the side
// file's statement lines are made by two threads; bound to one processor, the run writes both
// itself. Both give the same files, with a line and a member met again that are each longer
// than a block, and members met again, alone and within another, more often than a block
// holds, with and without FORMAT(ON).
TEST(ScanPaths, TheWriterThreadChangesNoByte) {
  unit::t_scratchDir dir;
  dir.makeDir("lib");
  std::string big;
  for (int i = 0; i < 9000; ++i)
    big += "       01 BIG-" + std::to_string(i) + " PIC X(30) VALUE 'ROW'.\n";
  dir.writeFile("lib/BIG.cpy", big);
  dir.writeFile("lib/MID.cpy", big.substr(0, 700) + "\n");
  dir.writeFile("lib/OUTER.cpy", "       01 OUTER-REC PIC X.\n       COPY MID.\n");
  dir.writeFile("lib/A.cpy", "       01 A-REC PIC X.\n");
  const unit::t_envGuard syslib("SYSLIB");
  syslib.set(dir.path() + "/lib");
  // A primary of more than 512 KiB, whose deck's writer starts at the first full block.
  std::string large;
  for (int i = 0; i < 12000; ++i) {
    large += "000100     MOVE ALPHA TO BETA OF GAMMA-DELTA.\n       COPY A.\n";
    if (i % 3 == 0) large += "       COPY MID.\n";
    // MID met again within a member being kept, once the deck is written on a thread.
    if (i % 5 == 4 && i > 2000) large += "       COPY OUTER.\n";
    if (i % 4000 == 7) large += "       COPY BIG.\n       COPY NOPE.\n      *" + big + "\n";
  }
  // A small primary with a large deck: the run writes the first blocks itself (a line longer
  // than a block among them) before the writer starts.
  std::string small = "      *" + big + "\n";
  for (int i = 0; i < 6; ++i)
    small += "       COPY BIG.\n       COPY MID.\n       COPY OUTER.\n";
  for (const std::string &src : {large, small}) {
    for (const int16 format : {int16{0}, int16{1}}) {
      const t_scanOutput threaded = scan(src, kLangCOBOL, 0, 0, 0, format);
      t_scanOutput alone;
      {
        const unit::t_oneProcessor one;
        alone = scan(src, kLangCOBOL, 0, 0, 0, format);
      }
      EXPECT_GT(threaded.deck.size(), 8 * kDeckBlockSize);
      EXPECT_GT(threaded.side.size(), kDeckBlockSize);
      EXPECT_TRUE(threaded.deck == alone.deck) << src.size() << " bytes, FORMAT " << format;
      EXPECT_TRUE(threaded.side == alone.side) << src.size() << " bytes, FORMAT " << format;
    }
  }
}

} // namespace
} // namespace incprep

namespace incprep {
namespace {

// A chain deeper than the source stack's first thousand nodes: the stack grows while every
// level has a line half read; each must go on reading its own text. The chain is deep enough
// that the records of its members' expansions outgrow their room (the inner ones then give
// way to the outer ones), and it is met again, at the top and within a member.
TEST(ScanPaths, AChainDeeperThanTheFirstThousandNodesLosesNoLine) {
  constexpr int kDepth = 3000;
  unit::t_scratchDir dir;
  dir.makeDir("lib");
  std::string fields;
  for (int m = 1; m <= kDepth; ++m) {
    const std::string field = "           05 F" + std::to_string(m) + " PIC X.\n";
    std::string text = field;
    if (m < kDepth) text += "       COPY M" + std::to_string(m + 1) + ".\n";
    dir.writeFile("lib/M" + std::to_string(m) + ".cpy", text);
    fields += field;
  }
  dir.writeFile("lib/TWICE.cpy", "       COPY M1.\n       COPY M2.\n");
  const unit::t_envGuard syslib("SYSLIB");
  syslib.set(dir.path() + "/lib");
  // Each member's final newline leaves an empty deck line after its nested members' lines.
  const std::string fromM1 = fields + std::string(kDepth, '\n');
  const std::string fromM2 = fields.substr(fields.find('\n') + 1) + std::string(kDepth - 1, '\n');
  const std::string src = "       COPY M1.\n       COPY M1.\n       COPY TWICE.\n";
  const t_scanOutput fast = scan(src, kLangCOBOL, 0);
  EXPECT_EQ(fast.deck, fromM1 + fromM1 + fromM1 + fromM2 + "\n\n");
  const t_scanOutput traced = scan(src, kLangCOBOL, 1);
  EXPECT_EQ(traced.deck, fast.deck);
  EXPECT_EQ(traced.side, fast.side);
}

} // namespace
} // namespace incprep
