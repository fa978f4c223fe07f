// Output written on a thread of its own: while the kernel copies one block of the deck into its
// file, the run fills the next; text that stays where it lies is written from there among a
// block's bytes. The thread also runs a task of the caller's (the side-file writer has it make
// and write half of the statement lines). Used by the scanner and the side-file writer; knows
// nothing of either.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

#include <sys/uio.h>

namespace incprep {

/// Writes whole `write(2)`s of `n` bytes from `p` to `fd`, going on after short writes and
/// interruptions. False when the file took less than all of it.
[[nodiscard]] bool writeAll(int fd, const char *p, std::size_t n);

/// Writes the `count` pieces at `pieces` one after another, as writeAll does; the pieces are
/// used up in the doing.
[[nodiscard]] bool writeAllPieces(int fd, iovec *pieces, std::size_t count);

/// A ring of blocks written, in the order they were handed over, by one thread of its own. The
/// run fills the current block and hands it over, and is given the next; it waits only when
/// every block of the ring is still queued.
class t_blockWriter {
public:
  static constexpr std::size_t kBlocks = 3;

  /// Starts the thread, with the caller's block `first` (which must outlive the writer) as the
  /// first of the ring and the others of `blockSize` bytes its own. Null when the calling
  /// thread may run on one processor only, or when memory or the thread cannot be had: the
  /// caller then writes by itself.
  [[nodiscard]] static std::unique_ptr<t_blockWriter> start(char *first, std::size_t blockSize);

  t_blockWriter(const t_blockWriter &) = delete;
  t_blockWriter &operator=(const t_blockWriter &) = delete;
  /// Writes what is still queued, then stops the thread.
  ~t_blockWriter();

  /// The block to fill now.
  [[nodiscard]] char *current() const { return blocks_[handed_ % kBlocks]; }
  /// Another block of the ring, free for a task's use once the task runs.
  [[nodiscard]] char *spare() const { return blocks_[(handed_ + 1) % kBlocks]; }
  [[nodiscard]] std::size_t blockSize() const { return blockSize_; }

  /// Text written among a block's bytes from where it lies, after the block's first `at`.
  struct t_span {
    std::size_t at = 0;
    const char *text = nullptr;
    std::size_t size = 0;
  };
  static constexpr std::size_t kSpans = 64;

  /// Queues the first `n` bytes of the current block for `fd`, with `spans` (at most kSpans,
  /// in the order of their `at`; their text must stay as it is until drain()) among them, and
  /// returns the next block, once it is free. `*failed` is set, by the time drain() returns,
  /// when the file did not take them all; it is never cleared.
  [[nodiscard]] char *hand(int fd, std::size_t n, bool *failed, std::span<const t_span> spans = {});

  /// Has the thread run `task` once the blocks handed over before it are written. One task
  /// at a time; drain() waits for it too.
  void assist(std::function<void()> task);

  /// Waits until every block handed over is written, and the task given is done. Only then
  /// may the caller write to a file of a handed block by other means, or read the failure
  /// flags it gave.
  void drain();

private:
  struct t_job {
    int fd = -1;
    std::size_t n = 0;
    bool *failed = nullptr;
    std::size_t spans = 0;
    t_span span[kSpans];
  };
  static bool writeJob(const t_job &job, const char *block);
  explicit t_blockWriter(std::size_t blockSize) : blockSize_(blockSize) {}
  void writeQueued();

  std::size_t blockSize_;
  char *blocks_[kBlocks] = {};
  std::unique_ptr<char[]> own_;
  t_job jobs_[kBlocks];
  std::size_t handed_ = 0;     // blocks handed over, ever: block i is blocks_[i % kBlocks]
  std::size_t written_ = 0;    // of those, the blocks written
  std::function<void()> task_; // set while a task waits or runs
  bool stopping_ = false;
  std::mutex lock_;
  std::condition_variable queued_; // the thread waits for a block handed over (or the end)
  std::condition_variable freed_;  // the run waits for a block written
  std::thread thread_;
};

} // namespace incprep
