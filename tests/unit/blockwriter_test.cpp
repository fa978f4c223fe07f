// The writer's thread must write every block handed over, whole and in order, must never give
// back for filling a block it has not yet written, and must tell which file did not take one.
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

TEST(BlockWriter, BlocksArriveWholeAndInOrderThoughTheRingWrapsManyTimes) {
  constexpr std::size_t kBlockSize = 4096;
  std::vector<char> first(kBlockSize);
  auto writer = t_blockWriter::start(first.data(), kBlockSize);
  if (!writer) GTEST_SKIP() << "one processor only: the run writes by itself";
  // Three files at once: a pipe drained a little at a time, so that the ring fills and the run
  // must wait; a file; and a device that takes nothing.
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
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_NE(file, nullptr);
  ASSERT_GE(full, 0);
  std::string toPipe;
  std::string toFile;
  bool failed[3] = {};
  for (std::size_t i = 0; i < 300; ++i) {
    // Each block has a text of its own, of its own length: a block written after it was given
    // back for filling would show the text of a later one.
    std::string text = "<" + std::to_string(i) + ">";
    text.resize(1 + (i * 977) % kBlockSize, static_cast<char>('a' + i % 26));
    std::memcpy(writer->current(), text.data(), text.size());
    const std::size_t to = i % 50 == 49 ? 2 : i % 3 == 0 ? 1 : 0;
    (to == 0 ? toPipe : toFile) += to == 2 ? "" : text;
    (void)writer->hand(to == 0   ? pipeFds[1]
                       : to == 1 ? fileno(file)
                                 : full,
                       text.size(), &failed[to]);
  }
  // A task runs once the blocks handed before it are written, and drain() waits for it.
  off_t fileSizeSeen = -1;
  writer->assist([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    fileSizeSeen = lseek(fileno(file), 0, SEEK_END);
  });
  writer->drain();
  EXPECT_EQ(fileSizeSeen, static_cast<off_t>(toFile.size()));
  EXPECT_FALSE(failed[0]);
  EXPECT_FALSE(failed[1]);
  EXPECT_TRUE(failed[2]);
  // Blocks still queued when the writer ends are written first.
  bool lastFailed = false;
  (void)writer->hand(full, 1, &lastFailed);
  writer.reset();
  EXPECT_TRUE(lastFailed);
  close(full);
  close(pipeFds[1]);
  reader.join();
  close(pipeFds[0]);
  EXPECT_TRUE(piped == toPipe) << "the pipe received " << piped.size() << " bytes of "
                               << toPipe.size();
  std::rewind(file);
  EXPECT_TRUE(unit::readStream(file) == toFile);
  std::fclose(file);
  // Bounded to one processor, the run writes by itself.
  const unit::t_oneProcessor one;
  ASSERT_TRUE(one.bound());
  EXPECT_EQ(t_blockWriter::start(first.data(), kBlockSize), nullptr);
}

} // namespace
} // namespace incprep
