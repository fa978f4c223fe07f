// The end-to-end runner: one test per case folder under tests/e2e/. Each case states its working
// tree, command line, environment, exact stdout/stderr/exit status and every file the run must
// create; the runner compares all of them byte for byte and checks the side file's line map.
// Layout of a case: tests/e2e/README.md. UPDATE_EXPECTED=1 rewrites the expectations instead.
#include "files.h"
#include "process.h"
#include "sidefile.h"
#include "xmlcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>

namespace {

using e2e::fs::path;

constexpr auto programTimeout = std::chrono::seconds(120);

bool updateMode() {
  const char *value = std::getenv("UPDATE_EXPECTED");
  return value != nullptr && std::string(value) == "1";
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry : e2e::fs::directory_iterator(E2E_DIR, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory(ec) && name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string testNameOf(const std::string &folder) {
  std::string name = folder;
  for (char &c : name)
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
  return name;
}

// The arguments, one per line; the file ends with a newline, so its last element is empty.
bool readArguments(const path &cmdFile, std::vector<std::string> &args, std::string &problem) {
  const auto text = e2e::readFile(cmdFile);
  if (!text) {
    problem = "missing or unreadable " + cmdFile.string();
    return false;
  }
  if (text->empty()) return true;
  if (text->back() != '\n') {
    problem = cmdFile.string() + " must end with a newline";
    return false;
  }
  const std::string_view lines = std::string_view(*text).substr(0, text->size() - 1);
  for (const auto line : e2e::splitAtNewlines(lines))
    args.emplace_back(line);
  return true;
}

// SYSLIB is always removed; `env` lines NAME=VALUE set variables (NAME= sets one empty).
bool readEnvironment(const path &envFile, e2e::t_envChanges &env, std::string &problem) {
  env["SYSLIB"] = std::nullopt;
  const auto text = e2e::readFile(envFile);
  if (!text) return true; // the file is optional
  for (const auto line : e2e::splitAtNewlines(*text)) {
    if (line.empty()) continue;
    const size_t eq = line.find('=');
    if (eq == 0 || eq == std::string_view::npos) {
      problem = envFile.string() + ": line \"" + e2e::escapeBytes(line) + "\" is not NAME=VALUE";
      return false;
    }
    env[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
  }
  return true;
}

std::string commandText(const std::vector<std::string> &args) {
  std::string text = "incprep";
  for (const auto &a : args)
    text += " '" + e2e::escapeBytes(a) + "'";
  return text;
}

class EndToEnd : public ::testing::TestWithParam<std::string> {
protected:
  void TearDown() override {
    if (HasFailure() && work)
      std::cout << "work folder: " << workDir.string() << " (E2E_KEEP=1 keeps it)\n";
  }

  // Compares one expected text file of the case with what the run produced. `required` files
  // fail the case when missing; an optional one that is missing stands for empty.
  void compareWithFile(const std::string &fileName, const std::string &actual, bool required) {
    const auto expected = e2e::readFile(caseDir / fileName);
    if (!expected && required) {
      ADD_FAILURE() << "missing " << (caseDir / fileName).string() << "; the run gave:\n"
                    << e2e::escapeBytes(actual.substr(0, 2000));
      return;
    }
    const std::string diff = e2e::describeDifference(fileName, expected.value_or(""), actual);
    if (!diff.empty()) ADD_FAILURE() << diff;
  }

  // Paths in the work tree that the run created, changed or replaced.
  std::set<std::string> producedPaths(const e2e::t_treeSnapshot &before,
                                      const e2e::t_treeSnapshot &after) {
    std::set<std::string> produced;
    for (const auto &[name, entry] : after) {
      const auto old = before.find(name);
      if (old == before.end() || !(old->second == entry)) produced.insert(name);
    }
    for (const auto &[name, entry] : before)
      if (after.count(name) == 0)
        ADD_FAILURE() << "the run removed " << e2e::kindName(entry) << " " << name;
    return produced;
  }

  // out/NAME.sha256 stands for a created file NAME too large to keep: it holds NAME's SHA-256
  // in hex. Returns NAME for such an entry, or the entry's own name.
  static std::string targetOf(const std::string &name, const e2e::t_treeSnapshot &after) {
    static const std::string suffix = ".sha256";
    if (name.size() <= suffix.size() || after.count(name) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      return name;
    return name.substr(0, name.size() - suffix.size());
  }

  void compareTree(const e2e::t_treeSnapshot &after, const std::set<std::string> &produced) {
    const path outDir = caseDir / "out";
    const e2e::t_treeSnapshot expected = e2e::snapshotTree(outDir);
    std::set<std::string> covered;
    for (const auto &[name, entry] : expected) {
      const std::string target = targetOf(name, after);
      covered.insert(target);
      const auto actual = after.find(target);
      if (actual == after.end()) {
        ADD_FAILURE() << "the run did not create " << target << " (expected in out/)";
        continue;
      }
      if (actual->second.kind != 'f') {
        ADD_FAILURE() << target << " is a " << e2e::kindName(actual->second) << ", not a file";
        continue;
      }
      const auto want = e2e::readFile(outDir / name);
      if (!want) {
        ADD_FAILURE() << "cannot read out/" << name;
        continue;
      }
      if (target != name) {
        const std::string digest = sha256Of(workDir / target);
        EXPECT_EQ(digest, firstWord(*want)) << "SHA-256 of " << target << " (out/" << name << ")";
        continue;
      }
      const auto got = e2e::readFile(workDir / name);
      if (!got) {
        ADD_FAILURE() << "cannot read " << name;
        continue;
      }
      const std::string diff = e2e::describeDifference("file " + name, *want, *got);
      if (!diff.empty()) ADD_FAILURE() << diff;
    }
    for (const auto &name : produced)
      if (covered.count(name) == 0)
        ADD_FAILURE() << "the run created or changed " << e2e::kindName(after.at(name)) << " "
                      << name << ", which out/ does not list";
  }

  static std::string firstWord(const std::string &text) {
    const size_t end = text.find_first_of(" \t\n");
    return text.substr(0, end);
  }

  // sha256sum of a file, in hex; a failure text when it cannot be computed.
  static std::string sha256Of(const path &file) {
    const std::string tool = e2e::findOnPath("sha256sum");
    if (tool.empty()) return "(sha256sum is not on PATH)";
    const e2e::t_runResult run =
        e2e::runProgram(tool, "sha256sum", {file.string()}, "/", {}, programTimeout);
    if (run.statusText() != "0") return "(sha256sum failed: " + run.err + ")";
    return firstWord(run.out);
  }

  // Rewrites expected.* and out/ from the run, for the author to review file by file.
  void updateExpectations(const e2e::t_runResult &run, const e2e::t_treeSnapshot &after,
                          const std::set<std::string> &produced) {
    std::error_code ec;
    bool ok = e2e::writeFile(caseDir / "expected.stdout", run.out) &&
              e2e::writeFile(caseDir / "expected.rc", run.statusText() + "\n");
    if (run.err.empty())
      e2e::fs::remove(caseDir / "expected.stderr", ec);
    else
      ok = ok && e2e::writeFile(caseDir / "expected.stderr", run.err);
    std::set<std::string> digestOnly; // files the case keeps as out/NAME.sha256
    for (const auto &entry : e2e::snapshotTree(caseDir / "out"))
      if (targetOf(entry.first, after) != entry.first)
        digestOnly.insert(targetOf(entry.first, after));
    e2e::fs::remove_all(caseDir / "out", ec);
    for (const auto &name : produced) {
      if (after.at(name).kind != 'f') {
        ADD_FAILURE() << "cannot store " << e2e::kindName(after.at(name)) << " " << name
                      << " in out/; make the case not produce it";
        continue;
      }
      if (digestOnly.count(name) != 0) {
        ok = ok &&
             e2e::writeFile(caseDir / "out" / (name + ".sha256"), sha256Of(workDir / name) + "\n");
        continue;
      }
      const auto content = e2e::readFile(workDir / name);
      ok = ok && content && e2e::writeFile(caseDir / "out" / name, *content);
    }
    EXPECT_TRUE(ok) << "could not write every expectation of " << caseDir.string();
    std::cout << "[ UPDATED  ] " << caseDir.string() << ": review every rewritten file\n";
  }

  // xmllint and the line map, for each side file the run wrote.
  void checkSideFiles(const std::set<std::string> &produced) {
    for (const auto &name : produced) {
      const auto content = e2e::readFile(workDir / name);
      if (!content || content->rfind("<?xml", 0) != 0) continue;
      for (const auto &problem : e2e::checkWithXmllint(workDir / name, SCHEMA_FILE))
        ADD_FAILURE() << name << ": " << problem;
      for (const auto &problem : e2e::checkSideFileLineMap(workDir, workDir / name))
        ADD_FAILURE() << name << ": " << problem;
    }
  }

  std::unique_ptr<e2e::t_tempDir> work;
  path caseDir;
  path workDir;
};

TEST_P(EndToEnd, Case) {
  caseDir = path(E2E_DIR) / GetParam();
  std::vector<std::string> args;
  e2e::t_envChanges env;
  std::string problem;
  ASSERT_TRUE(readArguments(caseDir / "cmd", args, problem)) << problem;
  ASSERT_TRUE(readEnvironment(caseDir / "env", env, problem)) << problem;

  work = std::make_unique<e2e::t_tempDir>("incprep-e2e");
  ASSERT_TRUE(work->ok()) << "cannot create a temporary folder";
  workDir = work->path();
  if (e2e::fs::exists(caseDir / "in")) {
    problem = e2e::copyTree(caseDir / "in", workDir);
    ASSERT_TRUE(problem.empty()) << problem;
  }
  if (e2e::fs::exists(caseDir / "setup")) {
    e2e::t_envChanges setupEnv = env;
    setupEnv["CASE_DIR"] = caseDir.string();
    const e2e::t_runResult setup =
        e2e::runProgram("/bin/bash", "bash", {(caseDir / "setup").string()}, workDir.string(),
                        setupEnv, programTimeout);
    ASSERT_EQ(setup.statusText(), "0") << "setup failed:\n" << setup.out << setup.err;
  }

  const e2e::t_treeSnapshot before = e2e::snapshotTree(workDir);
  const e2e::t_runResult run =
      e2e::runProgram(INCPREP_BIN, "incprep", args, workDir.string(), env, programTimeout);
  ASSERT_TRUE(run.started) << run.failure;
  ASSERT_FALSE(run.timedOut) << commandText(args) << " did not finish within "
                             << programTimeout.count() << " s";
  const e2e::t_treeSnapshot after = e2e::snapshotTree(workDir);
  const std::set<std::string> produced = producedPaths(before, after);

  if (updateMode()) {
    updateExpectations(run, after, produced);
  } else {
    SCOPED_TRACE(commandText(args) + " in " + workDir.string());
    compareWithFile("expected.rc", run.statusText() + "\n", true);
    compareWithFile("expected.stdout", run.out, true);
    compareWithFile("expected.stderr", run.err, false);
    compareTree(after, produced);
  }
  if (run.exited && run.exitCode == 0) checkSideFiles(produced);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string> &caseInfo) {
                           return testNameOf(caseInfo.param);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EndToEnd);

} // namespace

// The runner's own parts, on small inputs: a runner that cannot fail proves nothing.
namespace {

TEST(E2eHarness, DifferenceNamesLineColumnAndEscapesControlBytes) {
  EXPECT_EQ(e2e::describeDifference("x", "same\n", "same\n"), "");
  const std::string diff = e2e::describeDifference("deck", "a\nbc\nd\n", "a\nb\r\nd\n");
  EXPECT_NE(diff.find("line 2, column 2"), std::string::npos) << diff;
  EXPECT_NE(diff.find("b\\r"), std::string::npos) << diff;
  const std::string shorter = e2e::describeDifference("deck", "a\n", "a");
  EXPECT_NE(shorter.find("no newline at end"), std::string::npos) << shorter;
}

TEST(E2eHarness, ProgramRunReportsStatusOutputsAndTimeout) {
  const auto run = e2e::runProgram("/bin/sh", "sh", {"-c", "echo out; echo err >&2; exit 3"}, "/",
                                   {{"E2E_PROBE", "v"}}, std::chrono::seconds(20));
  EXPECT_EQ(run.statusText(), "3");
  EXPECT_EQ(run.out, "out\n");
  EXPECT_EQ(run.err, "err\n");
  const auto env =
      e2e::runProgram("/bin/sh", "sh", {"-c", "echo \"$E2E_PROBE${SYSLIB-unset}\""}, "/",
                      {{"E2E_PROBE", "v"}, {"SYSLIB", std::nullopt}}, std::chrono::seconds(20));
  EXPECT_EQ(env.out, "vunset\n");
  const auto slow =
      e2e::runProgram("/bin/sh", "sh", {"-c", "sleep 30"}, "/", {}, std::chrono::seconds(1));
  EXPECT_TRUE(slow.timedOut);
}

// A primary of three lines whose second is "       COPY M." expanded from lib/M.cpy.
class LineMapCheck : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(e2e::writeFile(dir.path() / "P.cbl", "       A.\n       COPY M.\n       B.\r\n"));
    ASSERT_TRUE(e2e::writeFile(dir.path() / "lib/M.cpy", "       01 X.\n"));
    sideFile.files = {{1, "P.cbl"}, {2, "lib/M.cpy"}};
    sideFile.outFileName = "P.DEK";
    sideFile.rows = {{1, 1, 1, 1}, {2, 1, 1, 2}, {3, 1, 2, 2}, {4, 1, 3, 1}, {5, 1, 4, 1}};
  }
  std::vector<std::string> check(const std::string &deck) {
    EXPECT_TRUE(e2e::writeFile(dir.path() / "P.DEK", deck));
    return e2e::checkLineMap(dir.path(), sideFile);
  }
  static constexpr const char *goodDeck = "       A.\n       01 X.\n\n       B.\n\n";
  e2e::t_tempDir dir{"incprep-selftest"};
  e2e::t_sideFile sideFile;
};

TEST_F(LineMapCheck, AcceptsAFaithfulMap) {
  EXPECT_EQ(check(goodDeck), std::vector<std::string>{});
}

TEST_F(LineMapCheck, CatchesALostLine) {
  sideFile.rows.erase(sideFile.rows.begin() + 3);
  sideFile.rows[3].oln = 4;
  EXPECT_FALSE(check("       A.\n       01 X.\n\n\n").empty());
}

TEST_F(LineMapCheck, CatchesAMisnumberedRow) {
  sideFile.rows[3].iln = 1;
  EXPECT_FALSE(check(goodDeck).empty());
}

TEST_F(LineMapCheck, CatchesARowCountMismatch) {
  EXPECT_FALSE(check(std::string(goodDeck) + "\n").empty());
}

TEST_F(LineMapCheck, AcceptsTextKeptAfterAnExpandedStatementOnlyOnItsLine) {
  ASSERT_TRUE(e2e::writeFile(dir.path() / "P.cbl", "       A.\n       COPY M. X.\n       B.\r\n"));
  sideFile.rows.insert(sideFile.rows.begin() + 3, e2e::t_stmtRow{4, 1, 2, 1});
  for (size_t k = 4; k < sideFile.rows.size(); ++k)
    ++sideFile.rows[k].oln;
  const std::string deck = "       A.\n       01 X.\n\n               X.\n       B.\n\n";
  EXPECT_EQ(check(deck), std::vector<std::string>{});
  sideFile.rows[3].iln = 1; // the same text attributed to a line without the statement
  EXPECT_FALSE(check(deck).empty());
}

TEST_F(LineMapCheck, AcceptsCommentedStatementRowsOnlyOverACommentedStatement) {
  sideFile.rows.insert(sideFile.rows.begin() + 1, 2, e2e::t_stmtRow{});
  const std::string deck = "       A.\n      *COPY M.\n\n       01 X.\n\n       B.\n\n";
  EXPECT_EQ(check(deck), std::vector<std::string>{});
  EXPECT_FALSE(check("       A.\n       01 X.\n\n      *COPY M.\n\n       B.\n\n").empty());
}

TEST_F(LineMapCheck, LetsAMemberNameOnTheLineAfterItsKeywordStayOut) {
  for (const std::string &tail : {std::string(), std::string(61, ' ') + "SEQ00100"}) {
    ASSERT_TRUE(
        e2e::writeFile(dir.path() / "P.cbl", "       COPY" + tail + "\n\n       M.\n       B.\n"));
    sideFile.rows = {{1, 1, 1, 1}, {2, 1, 2, 1}, {3, 1, 1, 2},
                     {4, 1, 2, 2}, {5, 1, 4, 1}, {6, 1, 5, 1}};
    EXPECT_EQ(check("       COPY" + tail + "\n\n       01 X.\n\n       B.\n\n"),
              std::vector<std::string>{});
  }
  ASSERT_TRUE(e2e::writeFile(dir.path() / "P.cbl", "       COPY M.\n\n       LOST.\n       B.\n"));
  EXPECT_FALSE(check("       COPY M.\n\n       01 X.\n\n       B.\n\n").empty());
}

TEST(E2eHarness, SideFileParserResolvesEntitiesAndRows) {
  const std::string text =
      "<?xml version=\"1.0\" standalone=\"yes\"?> \n<BUILD> \n<PACKAGE> \n<FILEREFERENCETABLE> \n"
      "<FILECOUNT>1</FILECOUNT> \n<FILE> \n<FILENUMBER>1</FILENUMBER> \n"
      "<FILENAME>a&amp;b&apos;.cbl</FILENAME> \n</FILE> \n</FILEREFERENCETABLE> \n<MESSAGE> \n"
      "<MSGNUMBER>KVR0009-W</MSGNUMBER> \n<MSGLINE>2</MSGLINE> \n<MSGFILE>1</MSGFILE> \n"
      "<MSGTEXT> \nT&gt;X \n</MSGTEXT> \n</MESSAGE> \n<OUTFILEREFERENCETABLE> \n"
      "<OUTFILECOUNT>1</OUTFILECOUNT> \n<OUTFILE> \n<OUTFILENUMBER>1</OUTFILENUMBER> \n"
      "<OUTFILENAME>P.DEK</OUTFILENAME> \n</OUTFILE> \n</OUTFILEREFERENCETABLE> \n"
      "<STATEMENTTABLE> \n(1,1,1,1);(0,0,0,0); \n(2,1,2,1); \n</STATEMENTTABLE> \n</PACKAGE> \n"
      "</BUILD>";
  e2e::t_sideFile sideFile;
  EXPECT_EQ(e2e::parseSideFile(text, sideFile), std::vector<std::string>{});
  EXPECT_EQ(sideFile.files.at(1), "a&b'.cbl");
  ASSERT_EQ(sideFile.messages.size(), 1u);
  EXPECT_EQ(sideFile.messages[0].text, "T>X");
  ASSERT_EQ(sideFile.rows.size(), 3u);
  EXPECT_TRUE(sideFile.rows[1].isZero());
  EXPECT_EQ(sideFile.rows[2].iln, 2);
  EXPECT_FALSE(e2e::parseSideFile("<?xml?><BUILD><PACKAGE></BUILD>", sideFile).empty());
}

} // namespace
