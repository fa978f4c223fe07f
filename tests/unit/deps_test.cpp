// The make-style dependency file: file names escaped as make reads them, the rule that makes the
// deck and the side file depend on every input file, the empty rules for the members, and the
// file written whole or not at all.
#include "deps.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace incprep {
namespace {

TEST(MakeEscape, BlanksHashesAndColonsTakeABackslashDollarsAreDoubled) {
  struct t_case {
    const char *name;
    const char *want;
  };
  const t_case cases[] = {
      {"PROG.CBL", "PROG.CBL"},
      {"lib/PAYREC.cpy", "lib/PAYREC.cpy"},
      {"my lib/A.cpy", "my\\ lib/A.cpy"},
      {"a  b", "a\\ \\ b"},
      {"rec#1.cpy", "rec\\#1.cpy"},
      {"c:/src/A.cpy", "c\\:/src/A.cpy"},
      {"$HOME/A.cpy", "$$HOME/A.cpy"},
      {"a$$b", "a$$$$b"},
      {"my dir/$x#1:a", "my\\ dir/$$x\\#1\\:a"},
      {"", ""},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(makeEscape(c.name), c.want);
  }
}

/// The text as make reads it: every backslash-newline, with the blanks around it, becomes one
/// blank; the result is split into its logical lines, empty ones dropped.
std::vector<std::string> logicalLines(const std::string &text) {
  std::string joined;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\n') {
      while (!joined.empty() && (joined.back() == ' ' || joined.back() == '\t'))
        joined.pop_back();
      joined += ' ';
      i += 2;
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
      --i;
      continue;
    }
    joined += text[i];
  }
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < joined.size()) {
    std::size_t end = joined.find('\n', start);
    if (end == std::string::npos) end = joined.size();
    if (end > start) lines.push_back(joined.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST(DependencyText, DeckAndSideFileDependOnEveryInputFileThenEmptyMemberRules) {
  const std::string text =
      dependencyText("PROG.DEK", "PROG.XML", {"PROG.CBL", "lib/A.cpy", "lib/B.cpy"});
  EXPECT_EQ(logicalLines(text),
            (std::vector<std::string>{"PROG.DEK PROG.XML: PROG.CBL lib/A.cpy lib/B.cpy",
                                      "lib/A.cpy:", "lib/B.cpy:"}));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
}

TEST(DependencyText, APrimaryWithoutMembersHasNoEmptyRule) {
  const std::string text = dependencyText("out/P.DEK", "out/P.XML", {"src/P.cbl"});
  EXPECT_EQ(logicalLines(text), (std::vector<std::string>{"out/P.DEK out/P.XML: src/P.cbl"}));
  EXPECT_EQ(text.back(), '\n');
}

TEST(DependencyText, NamesAreEscapedEverywhere) {
  const std::string text =
      dependencyText("my deck.DEK", "side#1.XML", {"src dir/P.cbl", "c:/lib/$A.cpy"});
  EXPECT_EQ(logicalLines(text), (std::vector<std::string>{
                                    "my\\ deck.DEK side\\#1.XML: src\\ dir/P.cbl c\\:/lib/$$A.cpy",
                                    "c\\:/lib/$$A.cpy:"}));
}

TEST(DependencyText, MissedLibraryDirectoriesFollowTheFilesWithoutEmptyRules) {
  const std::string text =
      dependencyText("P.DEK", "P.XML", {"P.cbl", "lib2/A.cpy"}, {"lib1", "my lib", "."});
  EXPECT_EQ(logicalLines(text),
            (std::vector<std::string>{"P.DEK P.XML: P.cbl lib2/A.cpy lib1 my\\ lib .",
                                      "lib2/A.cpy:"}));
}

TEST(DependencyText, MembersKeepFileNumberOrder) {
  const std::string text = dependencyText("D", "X", {"P", "lib/Z.cpy", "lib/A.cpy", "lib/M.cpy"});
  const std::vector<std::string> lines = logicalLines(text);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "D X: P lib/Z.cpy lib/A.cpy lib/M.cpy");
  EXPECT_EQ(lines[1], "lib/Z.cpy:");
  EXPECT_EQ(lines[2], "lib/A.cpy:");
  EXPECT_EQ(lines[3], "lib/M.cpy:");
}

TEST(DependencyFile, WrittenWholeReplacingAnOlderFile) {
  unit::t_scratchDir dir;
  const std::string path = dir.writeFile("prog.d", "an older and longer dependency text\n");
  const std::string text = "D X: P \\\n lib/A.cpy\n\nlib/A.cpy:\n";
  ASSERT_TRUE(writeFileAtomically(path, text));
  std::FILE *fp = std::fopen(path.c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(unit::readStream(fp), text);
  std::fclose(fp);
  // Nothing but the file itself is left in the directory.
  std::size_t entries = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
}

TEST(DependencyFile, AFailedWriteLeavesNothingBehind) {
  unit::t_scratchDir dir;
  EXPECT_FALSE(writeFileAtomically(dir.path() + "/no/such/dir/prog.d", "D X: P\n"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // A target that is a directory cannot be replaced by the file.
  const std::string sub = dir.makeDir("prog.d");
  EXPECT_FALSE(writeFileAtomically(sub, "D X: P\n"));
  std::size_t entries = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1u);
  EXPECT_TRUE(std::filesystem::is_directory(sub));
}

} // namespace
} // namespace incprep
