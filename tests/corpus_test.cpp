// The real-program corpus beside the repository: every program of programs.tsv is expanded in a
// copy of its folder and must give a well-formed side file whose line map holds, the expected
// members and the expected count of members not found. Where GnuCOBOL is installed, decks marked
// so must compile, and `cobc -E` of them must give the reference token stream.
#include "files.h"
#include "process.h"
#include "sidefile.h"
#include "xmlcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

using e2e::fs::path;

constexpr auto programTimeout = std::chrono::seconds(120);
constexpr auto compilerTimeout = std::chrono::seconds(300);

/// One row of programs.tsv.
struct t_corpusProgram {
  std::string dir;                      // FAMILY/PROG
  std::string source;                   // primary source file name in that folder
  std::string lang;                     // COBOL or PLI
  std::string syslib;                   // the SYSLIB value
  std::vector<std::string> cobcFlags;   // dialect flags for cobc; empty for "-"
  std::string expectCobc;               // "pass": the deck must compile with cobc
  std::string expectCobcE;              // "pass": cobc -E of the deck must match ref/
  std::vector<std::string> expectFiles; // members that must be expanded (folder-relative)
  long expectMissing = 0;               // include statements whose member is absent
};

/// Where this tool's expectations go beyond programs.tsv: PL/I statements written "% INCLUDE X;"
/// (blanks after the "%") are include statements, so their members are expanded, or reported
/// missing when the corpus does not hold them.
struct t_corpusOverride {
  const char *dir;
  const char *moreFiles; // members expanded in addition to the table's, ";"-separated
  long missing;          // include statements whose member is absent
};
constexpr t_corpusOverride kCorpusOverrides[] = {
    {"dsf/R0019H31", "", 18}, // % INCLUDE P001992G
    {"dsf-gml/R0013101",
     "copylib/R0019902.inc;copylib/R0019913.inc;copylib/R0019950.inc;copylib/R0019952.inc", 18},
    {"dsf-gml/R0017102", "", 9}, // % INCLUDE P0019906, P0019908, P0019014, P0019001, DLIUIB
};

std::vector<std::string> splitOn(const std::string &text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator))
    if (!part.empty()) parts.push_back(part);
  return parts;
}

// The rows of programs.tsv; a single placeholder row (empty dir) when the corpus is absent, so
// that the test reports the skip instead of vanishing.
std::vector<t_corpusProgram> corpusPrograms() {
  const auto table = e2e::readFile(path(CORPUS_DIR) / "programs.tsv");
  if (!table) return {t_corpusProgram{}};
  std::vector<t_corpusProgram> programs;
  for (const auto line : e2e::splitAtNewlines(*table)) {
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in{std::string(line)};
    while (std::getline(in, cell, '\t'))
      cells.push_back(cell);
    if (cells.size() < 9 || cells[0] == "dir") continue;
    t_corpusProgram p;
    p.dir = cells[0];
    p.source = cells[1];
    p.lang = cells[2];
    p.syslib = cells[3];
    if (cells[4] != "-") p.cobcFlags = splitOn(cells[4], ' ');
    p.expectCobc = cells[5];
    p.expectCobcE = cells[6];
    if (cells[7] != "-") p.expectFiles = splitOn(cells[7], ';');
    p.expectMissing = std::stol(cells[8]);
    for (const t_corpusOverride &o : kCorpusOverrides) {
      if (p.dir != o.dir) continue;
      for (const std::string &file : splitOn(o.moreFiles, ';'))
        p.expectFiles.push_back(file);
      p.expectMissing = o.missing;
    }
    programs.push_back(p);
  }
  return programs;
}

std::string testNameOf(const std::string &dir) {
  if (dir.empty()) return "no_corpus";
  std::string name = dir;
  for (char &c : name)
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
  return name;
}

// The output names derive from the source's name without its extension.
std::string stemOf(const std::string &source) {
  const size_t dot = source.rfind('.');
  return dot == std::string::npos || dot == 0 ? source : source.substr(0, dot);
}

bool namesSameFile(const std::string &fileName, const std::string &expected) {
  const std::string a = path(fileName).lexically_normal().generic_string();
  const std::string b = path(expected).lexically_normal().generic_string();
  return a == b || (a.size() > b.size() && a.compare(a.size() - b.size(), b.size(), b) == 0 &&
                    a[a.size() - b.size() - 1] == '/');
}

// The words of cobc -E output, without its #line directives.
std::vector<std::string> cobcTokens(std::string_view text) {
  std::vector<std::string> tokens;
  for (const auto line : e2e::splitAtNewlines(text)) {
    if (line.rfind("#line ", 0) == 0) continue;
    std::istringstream in{std::string(line)};
    std::string token;
    while (in >> token)
      tokens.push_back(token);
  }
  return tokens;
}

std::string tokenWindow(const std::vector<std::string> &tokens, size_t at) {
  std::string text;
  const size_t from = at > 8 ? at - 8 : 0;
  for (size_t i = from; i < std::min(tokens.size(), at + 8); ++i)
    text += (i == at ? " >>" : " ") + e2e::escapeBytes(tokens[i]) + (i == at ? "<<" : "");
  return text;
}

std::string tokenDifference(const std::vector<std::string> &expected,
                            const std::vector<std::string> &actual) {
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
    ++at;
  if (at == expected.size() && at == actual.size()) return {};
  return "token streams differ at token " + std::to_string(at + 1) + " (reference " +
         std::to_string(expected.size()) + " tokens, deck " + std::to_string(actual.size()) +
         ")\n  reference:" + tokenWindow(expected, at) + "\n  deck:     " + tokenWindow(actual, at);
}

void PrintTo(const t_corpusProgram &p, std::ostream *out) {
  *out << p.dir << "/" << p.source;
}

class Corpus : public ::testing::TestWithParam<t_corpusProgram> {
protected:
  void TearDown() override {
    if (HasFailure() && work)
      std::cout << "work folder: " << workDir.string() << " (E2E_KEEP=1 keeps it)\n";
  }

  // Side file: well-formed, its line map holds, the right members, the right diagnostics.
  void checkSideFile(const t_corpusProgram &p, const path &sideFilePath, const std::string &err) {
    for (const auto &problem : e2e::checkWithXmllint(sideFilePath, SCHEMA_FILE))
      ADD_FAILURE() << problem;
    const auto text = e2e::readFile(sideFilePath);
    ASSERT_TRUE(text) << "no side file " << sideFilePath.string();
    e2e::t_sideFile sideFile;
    const std::vector<std::string> parseProblems = e2e::parseSideFile(*text, sideFile);
    for (const auto &problem : parseProblems)
      ADD_FAILURE() << problem;
    if (!parseProblems.empty()) return;
    for (const auto &problem : e2e::checkLineMap(workDir, sideFile))
      ADD_FAILURE() << problem;
    deckName = sideFile.outFileName;

    for (const auto &expected : p.expectFiles) {
      const bool listed =
          std::any_of(sideFile.files.begin(), sideFile.files.end(),
                      [&](const auto &f) { return namesSameFile(f.second, expected); });
      EXPECT_TRUE(listed) << "member " << expected << " was not expanded (not a FILENAME)";
    }
    for (const auto &file : sideFile.files) {
      if (file.first == 1) continue;
      const bool wanted = std::any_of(p.expectFiles.begin(), p.expectFiles.end(),
                                      [&](const auto &e) { return namesSameFile(file.second, e); });
      EXPECT_TRUE(wanted) << "file " << file.first << " " << file.second
                          << " is not an expected member";
    }
    long missing = 0;
    for (const auto &m : sideFile.messages) {
      if (m.id == "KVR0009-W")
        ++missing;
      else
        ADD_FAILURE() << "unexpected message " << m.id << " at line " << m.line << " of file "
                      << m.file << ": " << m.text;
    }
    EXPECT_EQ(missing, p.expectMissing) << "count of KVR0009-W (member not found) messages";

    // Standard error shows each message of the side file, in order, as FILE:LINE: warning: ID,
    // and nothing else but the include chains above them.
    std::vector<std::string> shown;
    std::vector<std::string> recorded;
    for (const auto line : e2e::splitAtNewlines(err)) {
      if (line.empty() || line.rfind("In file included from ", 0) == 0 ||
          line.rfind("                 from ", 0) == 0)
        continue;
      const size_t at = line.find(": warning: ");
      const size_t idEnd = at == std::string_view::npos ? at : line.find(' ', at + 11);
      shown.emplace_back(line.substr(0, idEnd));
    }
    for (const auto &m : sideFile.messages)
      recorded.push_back(sideFile.files[m.file] + ":" + std::to_string(m.line) +
                         ": warning: " + m.id);
    EXPECT_EQ(shown, recorded) << "standard error against the side file's messages:\n" << err;
  }

  // The deck alone in an empty folder, so that nothing but its own text is compiled.
  void checkWithCobc(const t_corpusProgram &p, const std::string &cobc) {
    e2e::t_tempDir deckDir("incprep-cobc");
    ASSERT_TRUE(deckDir.ok());
    const auto deck = e2e::readFile(workDir / deckName);
    ASSERT_TRUE(deck) << "no deck " << deckName;
    const std::string deckFile = path(deckName).filename().string();
    ASSERT_TRUE(e2e::writeFile(deckDir.path() / deckFile, *deck));

    if (p.expectCobc == "pass") {
      std::vector<std::string> args{"-fsyntax-only"};
      args.insert(args.end(), p.cobcFlags.begin(), p.cobcFlags.end());
      args.push_back(deckFile);
      const e2e::t_runResult run =
          e2e::runProgram(cobc, "cobc", args, deckDir.path().string(), {}, compilerTimeout);
      EXPECT_EQ(run.statusText(), "0") << "cobc -fsyntax-only on the deck:\n" << run.err << run.out;
    }
    if (p.expectCobcE == "pass") {
      std::vector<std::string> args{"-E"};
      args.insert(args.end(), p.cobcFlags.begin(), p.cobcFlags.end());
      args.push_back(deckFile);
      const e2e::t_runResult run =
          e2e::runProgram(cobc, "cobc", args, deckDir.path().string(), {}, compilerTimeout);
      ASSERT_EQ(run.statusText(), "0") << "cobc -E on the deck:\n" << run.err;
      const path refFile = path(CORPUS_DIR) / p.dir / "ref" / (stemOf(p.source) + ".cobcE");
      const auto ref = e2e::readFile(refFile);
      ASSERT_TRUE(ref) << "no reference " << refFile.string();
      const std::string diff = tokenDifference(cobcTokens(*ref), cobcTokens(run.out));
      EXPECT_TRUE(diff.empty()) << "cobc -E of the deck against " << refFile.string() << ": "
                                << diff;
    }
  }

  std::unique_ptr<e2e::t_tempDir> work;
  path workDir;
  std::string deckName;
};

TEST_P(Corpus, Program) {
  const t_corpusProgram &p = GetParam();
  if (p.dir.empty()) GTEST_SKIP() << "no corpus at " << CORPUS_DIR << " (programs.tsv not found)";

  work = std::make_unique<e2e::t_tempDir>("incprep-corpus");
  ASSERT_TRUE(work->ok()) << "cannot create a temporary folder";
  workDir = work->path();
  const std::string copyProblem = e2e::copyTree(path(CORPUS_DIR) / p.dir, workDir);
  ASSERT_TRUE(copyProblem.empty()) << copyProblem;

  const std::vector<std::string> args{p.source, "LANG(" + p.lang + ")"};
  const e2e::t_runResult run = e2e::runProgram(INCPREP_BIN, "incprep", args, workDir.string(),
                                               {{"SYSLIB", p.syslib}}, programTimeout);
  ASSERT_EQ(run.statusText(), "0") << "SYSLIB='" << p.syslib << "' incprep " << p.source << " LANG("
                                   << p.lang << ") in " << workDir.string() << "\n"
                                   << run.failure << run.err << run.out.substr(0, 2000);
  checkSideFile(p, workDir / (stemOf(p.source) + ".XML"), run.err);
  if (HasFatalFailure()) return;
  // NUL bytes are text: those of the source (in literals, in the DSF programs) reach the deck.
  const auto source = e2e::readFile(workDir / p.source);
  const auto deck = e2e::readFile(workDir / deckName);
  ASSERT_TRUE(source && deck);
  EXPECT_GE(std::count(deck->begin(), deck->end(), '\0'),
            std::count(source->begin(), source->end(), '\0'))
      << "NUL bytes of the source are missing from the deck";

  if (p.expectCobc != "pass" && p.expectCobcE != "pass") return;
  const std::string cobc = e2e::findOnPath("cobc");
  if (cobc.empty()) GTEST_SKIP() << "cobc is not on PATH: deck compile checks skipped";
  checkWithCobc(p, cobc);
}

INSTANTIATE_TEST_SUITE_P(Programs, Corpus, ::testing::ValuesIn(corpusPrograms()),
                         [](const ::testing::TestParamInfo<t_corpusProgram> &programInfo) {
                           return testNameOf(programInfo.param.dir);
                         });

} // namespace
