// Outputs written to a temporary file beside their final name and renamed into place: what lies
// under the final name before and after, the temporary's place and removal, the mode of the
// file replaced, links followed, and devices written directly.
#include "outputs.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace incprep {
namespace {

std::vector<std::string> entriesOf(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent *e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string contentOf(const std::string &path) {
  std::FILE *fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr) return "(missing)";
  const std::string text = unit::readStream(fp);
  std::fclose(fp);
  return text;
}

TEST(OutputFile, TheFinalNameChangesOnlyAtCommitAndKeepsItsMode) {
  unit::t_scratchDir scratch;
  const std::string name = scratch.writeFile("P.DEK", "earlier\n");
  ASSERT_EQ(chmod(name.c_str(), 0640), 0);
  t_outputFile out;
  out.finalName = name;
  ASSERT_TRUE(openOutputFile(out, 0));
  ASSERT_FALSE(out.tempName.empty());
  EXPECT_EQ(out.tempName.rfind(scratch.path() + "/.P.DEK.incprep-", 0), 0u) << out.tempName;
  std::fputs("new\n", out.fp);
  ASSERT_EQ(std::fclose(out.fp), 0);
  EXPECT_EQ(contentOf(name), "earlier\n");
  ASSERT_TRUE(commitOutputFile(out));
  EXPECT_EQ(contentOf(name), "new\n");
  EXPECT_EQ(entriesOf(scratch.path()), std::vector<std::string>{"P.DEK"});
  struct stat st {};
  ASSERT_EQ(stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(OutputFile, DiscardingLeavesTheEarlierFileAndNoTemporary) {
  unit::t_scratchDir scratch;
  const std::string name = scratch.writeFile("P.XML", "earlier\n");
  t_outputFile out;
  out.finalName = name;
  ASSERT_TRUE(openOutputFile(out, 0));
  std::fputs("partial", out.fp);
  std::fclose(out.fp);
  discardOutputFile(out);
  EXPECT_EQ(contentOf(name), "earlier\n");
  EXPECT_EQ(entriesOf(scratch.path()), std::vector<std::string>{"P.XML"});

  t_outputFile second;
  second.finalName = scratch.path() + "/NEW.XML";
  ASSERT_TRUE(openOutputFile(second, 0));
  std::fclose(second.fp);
  discardAllOutputFiles(); // what abnormal termination does
  EXPECT_EQ(entriesOf(scratch.path()), std::vector<std::string>{"P.XML"});
}

TEST(OutputFile, ALinkIsFollowedAndStays) {
  unit::t_scratchDir scratch;
  (void)scratch.makeDir("real");
  const std::string target = scratch.writeFile("real/OUT.DEK", "earlier\n");
  const std::string link = scratch.path() + "/link.DEK";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  t_outputFile out;
  out.finalName = link;
  ASSERT_TRUE(openOutputFile(out, 0));
  std::fputs("new\n", out.fp);
  std::fclose(out.fp);
  ASSERT_TRUE(commitOutputFile(out));
  struct stat st {};
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(contentOf(target), "new\n");
}

TEST(OutputFile, DevicesAreWrittenDirectlyAndDirectoriesRefused) {
  t_outputFile device;
  device.finalName = "/dev/null";
  ASSERT_TRUE(openOutputFile(device, 0));
  EXPECT_TRUE(device.tempName.empty());
  std::fclose(device.fp);
  EXPECT_TRUE(commitOutputFile(device));

  unit::t_scratchDir scratch;
  t_outputFile dir;
  dir.finalName = scratch.makeDir("sub");
  EXPECT_FALSE(openOutputFile(dir, 0));
  EXPECT_EQ(errno, EISDIR);
  t_outputFile missing;
  missing.finalName = scratch.path() + "/nodir/P.DEK";
  EXPECT_FALSE(openOutputFile(missing, 0));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(entriesOf(scratch.path()), std::vector<std::string>{"sub"});
}

TEST(OutputFile, OpeningTracesWithTheFinalName) {
  unit::t_scratchDir scratch;
  t_outputFile out;
  out.finalName = scratch.path() + "/T.DEK";
  const std::string trace = unit::captureStdout([&] { ASSERT_TRUE(openOutputFile(out, 1)); });
  std::fclose(out.fp);
  discardOutputFile(out);
  EXPECT_EQ(trace, "Opening Source file  " + out.finalName + "\n" +
                       "Opening Source file with attributes  w\n" +
                       "SUCCESSFUL OPEN OF SOURCE FILE  " + out.finalName + "\n");
}

} // namespace
} // namespace incprep
