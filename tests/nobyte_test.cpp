// No byte of an input line is lost: random sources and members, with lines of every byte value
// and of any length mixed with include statements of every form, are expanded, and the line-map
// check of the side file (tests/support/sidefile.h) must hold. It compares every deck line that a
// statement row maps to an input line with that line byte for byte (only the carriage return of
// a carriage return and newline is left out), except on the lines of include statements, and
// requires every other input line to reach the deck.
#include "files.h"
#include "process.h"
#include "sidefile.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using e2e::fs::path;

constexpr int kRuns = 60;
constexpr auto kTimeout = std::chrono::seconds(60);

struct t_language {
  const char *option; // "" for none
  std::vector<std::string> statements; // "@" stands for a member name
};

const std::vector<t_language> &languages() {
  static const std::vector<t_language> all = {
      {"LANG(COBOL)", {"       COPY @.", "       copy @.", "-INC @", "       ++INCLUDE @",
                       "       01 A PIC X. COPY @. 01 B PIC X.",
                       "           EXEC SQL INCLUDE @ END-EXEC.",
                       "       01 A. EXEC SQL\n             INCLUDE @\n           END-EXEC. 01 B."}},
      {"LANG(PLI)",
       {" %INCLUDE @;", "-INC @", " X = 1; %XINCLUDE @; Y = 2;", "       ++INCLUDE @",
        " % INCLUDE @; /* C */", " %INCLUDE @, @ ,@;", " X = 1; %\n   XINCLUDE @;",
        " %INCLUDE SYSLIB(@), DDX(@);", " X = 1; EXEC SQL\n  INCLUDE @; Y = 2;"}},
      {"", {"       ++INCLUDE @"}},
  };
  return all;
}

class t_generator {
public:
  explicit t_generator(unsigned seed) : rng_(seed) {}

  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  // A line of random bytes without its newline: mostly short, sometimes very long; sometimes
  // only bytes that lines most often hold, sometimes any byte but the newline.
  std::string randomLine() {
    const int kind = below(10);
    const int length = kind == 0 ? 1000 + below(70000) : below(kind < 5 ? 90 : 300);
    const bool anyByte = below(2) == 0;
    static const std::string common = " \t\r\0ABCxyz09.;'\"/*-+%\xff\x80";
    std::string line;
    for (int i = 0; i < length; ++i) {
      char c = anyByte ? static_cast<char>(below(256))
                       : common[static_cast<std::size_t>(below(static_cast<int>(common.size())))];
      if (c == '\n') c = '\0';
      line += c;
    }
    return line;
  }

  // A file of random lines and include statements naming members M0 to M3.
  std::string file(const t_language &lang, int lines) {
    std::string text;
    for (int k = 0; k < lines; ++k) {
      if (below(4) == 0) {
        std::string stmt = lang.statements[static_cast<std::size_t>(
            below(static_cast<int>(lang.statements.size())))];
        for (std::size_t at = stmt.find('@'); at != std::string::npos; at = stmt.find('@'))
          stmt.replace(at, 1, "M" + std::to_string(below(4)));
        text += stmt;
      } else {
        text += randomLine();
      }
      const int end = below(6);
      if (end == 0) text += "\r\n";
      else if (end == 1) text += "\r\r\n";
      else text += "\n";
    }
    if (below(3) == 0) text += randomLine(); // a last line without a newline
    return text;
  }

private:
  std::mt19937 rng_;
};

TEST(NoByteLost, RandomSourcesAndMembersReachTheDeckWhole) {
  t_generator gen(20261209);
  for (int run = 0; run < kRuns; ++run) {
    const t_language &lang = languages()[static_cast<std::size_t>(run % 3)];
    e2e::t_tempDir work("incprep-nobyte");
    ASSERT_TRUE(work.ok());
    const std::string ext = std::string(lang.option) == "LANG(COBOL)" ? ".cpy" : ".inc";
    ASSERT_TRUE(e2e::writeFile(work.path() / "P.src", gen.file(lang, 5 + gen.below(40))));
    for (int m = 0; m < 3; ++m) // M3 is never there
      ASSERT_TRUE(e2e::writeFile(work.path() / "lib" / ("M" + std::to_string(m) + ext),
                                 gen.file(lang, gen.below(12))));
    std::vector<std::string> args{"P.src"};
    if (*lang.option != '\0') args.emplace_back(lang.option);
    if (gen.below(2) == 0) args.emplace_back("CMT(ON)");
    if (gen.below(2) == 0) args.emplace_back("SQLINC(ON)");
    if (gen.below(4) == 0) args.emplace_back("TRACE(ON)");
    const e2e::t_runResult result = e2e::runProgram(INCPREP_BIN, "incprep", args,
                                                    work.path().string(), {{"SYSLIB", "lib"}},
                                                    kTimeout);
    ASSERT_EQ(result.statusText(), "0") << "run " << run << ": " << result.err;
    const std::vector<std::string> problems =
        e2e::checkSideFileLineMap(work.path(), work.path() / "P.XML");
    for (const std::string &problem : problems)
      ADD_FAILURE() << "run " << run << " (" << lang.option << "): " << problem;
    if (!problems.empty()) {
      work.keep();
      std::cout << "kept " << work.path().string() << "\n";
      return;
    }
  }
}

} // namespace
