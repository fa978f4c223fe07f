// The writer's thread must write every block handed over, whole and in order, and must never
// give back for filling a block it has not yet written.
#include "blockwriter.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace incprep {
namespace {

// Each block is filled with a text of its own: a block written after it was given back for
// filling would show the text of a later one.
std::string blockText(std::size_t i, std::size_t size) {
  std::string text = "<" + std::to_string(i) + ">";
  while (text.size() < size)
    text += static_cast<char>('a' + (i + text.size()) % 26);
  text.resize(size);
  return text;
}

TEST(BlockWriter, BlocksArriveWholeAndInOrderThoughTheRingWrapsManyTimes) {
  constexpr std::size_t kBlockSize = 4096;
  std::vector<char> first(kBlockSize);
  auto writer = t_blockWriter::start(first.data(), kBlockSize);
  if (!writer) GTEST_SKIP() << "one processor only: the run writes by itself";
  // Two files at once: a pipe drained a little at a time, so that the ring fills and the run
  // must wait, and a file.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  std::string piped;
  std::thread reader([&] {
    char buf[700];
    ssize_t n = 0;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
      piped.append(buf, static_cast<std::size_t>(n));
  });
  std::FILE *file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::string toPipe;
  std::string toFile;
  bool pipeFailed = false;
  bool fileFailed = false;
  char *block = writer->current();
  EXPECT_EQ(block, first.data());
  for (std::size_t i = 0; i < 300; ++i) {
    const std::string text = blockText(i, 1 + (i * 977) % kBlockSize); // short blocks too
    std::memcpy(block, text.data(), text.size());
    const bool pipeTurn = i % 3 != 0;
    (pipeTurn ? toPipe : toFile) += text;
    block = writer->hand(pipeTurn ? pipeFds[1] : fileno(file), text.size(),
                         pipeTurn ? &pipeFailed : &fileFailed);
    ASSERT_EQ(block, writer->current());
  }
  // A task runs once the blocks handed before it are written, and drain() waits for it.
  off_t fileSizeSeen = -1;
  writer->assist([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fileSizeSeen = lseek(fileno(file), 0, SEEK_END);
  });
  writer->drain();
  EXPECT_EQ(fileSizeSeen, static_cast<off_t>(toFile.size()));
  EXPECT_FALSE(pipeFailed);
  EXPECT_FALSE(fileFailed);
  close(pipeFds[1]);
  reader.join();
  close(pipeFds[0]);
  EXPECT_TRUE(piped == toPipe) << "the pipe received " << piped.size() << " bytes of "
                               << toPipe.size();
  std::rewind(file);
  EXPECT_TRUE(unit::readStream(file) == toFile);
  std::fclose(file);
}

TEST(BlockWriter, AFileThatTakesNothingIsToldAndTheOthersAreNot) {
  constexpr std::size_t kBlockSize = 1024;
  std::vector<char> first(kBlockSize);
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  ASSERT_GE(null, 0);
  bool fullFailed = false;
  bool nullFailed = false;
  bool lastFailed = false;
  {
    auto writer = t_blockWriter::start(first.data(), kBlockSize);
    if (!writer) GTEST_SKIP() << "one processor only: the run writes by itself";
    for (int i = 0; i < 10; ++i) {
      std::memset(writer->current(), 'x', kBlockSize);
      (void)writer->hand(i == 7 ? full : null, kBlockSize, i == 7 ? &fullFailed : &nullFailed);
    }
    writer->drain();
    EXPECT_TRUE(fullFailed);
    EXPECT_FALSE(nullFailed);
    // Blocks still queued when the writer ends are written first.
    (void)writer->hand(full, kBlockSize, &lastFailed);
  }
  EXPECT_TRUE(lastFailed);
  close(full);
  close(null);
  // Bounded to one processor, the run writes by itself.
  const unit::t_oneProcessor one;
  ASSERT_TRUE(one.bound());
  EXPECT_EQ(t_blockWriter::start(first.data(), kBlockSize), nullptr);
}

} // namespace
} // namespace incprep
