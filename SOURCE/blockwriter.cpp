#include "blockwriter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <new>
#include <system_error>

#include <sched.h>
#include <unistd.h>

namespace incprep {

bool writeAll(int fd, const char *p, std::size_t n) {
  while (n > 0) {
    const ssize_t got = write(fd, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

bool writeAllPieces(int fd, iovec *pieces, std::size_t count) {
  while (count > 0) {
    const ssize_t got = writev(fd, pieces, static_cast<int>(std::min<std::size_t>(count, IOV_MAX)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    auto done = static_cast<std::size_t>(got);
    for (; count > 0 && done >= pieces->iov_len; ++pieces, --count)
      done -= pieces->iov_len;
    if (done > 0) {
      pieces->iov_base = static_cast<char *>(pieces->iov_base) + done;
      pieces->iov_len -= done;
    }
  }
  return true;
}

std::unique_ptr<t_blockWriter> t_blockWriter::start(char *first, std::size_t blockSize) {
  // On a single processor the thread could only take turns with the run.
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) < 2) return nullptr;
  std::unique_ptr<t_blockWriter> w(new (std::nothrow) t_blockWriter(blockSize));
  if (!w) return nullptr;
  w->own_.reset(new (std::nothrow) char[(kBlocks - 1) * blockSize]);
  if (!w->own_) return nullptr;
  w->blocks_[0] = first;
  for (std::size_t i = 1; i < kBlocks; ++i)
    w->blocks_[i] = w->own_.get() + (i - 1) * blockSize;
  try {
    w->thread_ = std::thread([p = w.get()] { p->writeQueued(); });
  } catch (const std::system_error &) {
    return nullptr;
  }
  return w;
}

t_blockWriter::~t_blockWriter() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  queued_.notify_one();
  if (thread_.joinable()) thread_.join();
}

char *t_blockWriter::hand(int fd, std::size_t n, bool *failed, std::span<const t_span> spans) {
  std::unique_lock<std::mutex> hold(lock_);
  t_job &job = jobs_[handed_ % kBlocks];
  job.fd = fd;
  job.n = n;
  job.failed = failed;
  job.spans = std::min(spans.size(), kSpans);
  std::copy_n(spans.begin(), job.spans, job.span);
  ++handed_;
  queued_.notify_one();
  // The next block was handed over kBlocks blocks ago; it is free once that one is written.
  freed_.wait(hold, [this] { return handed_ - written_ < kBlocks; });
  return blocks_[handed_ % kBlocks];
}

void t_blockWriter::assist(std::function<void()> task) {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    task_ = std::move(task);
  }
  queued_.notify_one();
}

void t_blockWriter::drain() {
  std::unique_lock<std::mutex> hold(lock_);
  freed_.wait(hold, [this] { return written_ == handed_ && !task_; });
}

void t_blockWriter::writeQueued() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    queued_.wait(hold, [this] { return written_ != handed_ || task_ || stopping_; });
    if (written_ == handed_ && task_) {
      hold.unlock();
      task_();
      hold.lock();
      task_ = nullptr;
      freed_.notify_one();
      continue;
    }
    if (written_ == handed_) return; // stopping, and nothing left
    const std::size_t slot = written_ % kBlocks;
    const t_job &job = jobs_[slot]; // the run fills no other slot until this one is written
    hold.unlock();
    const bool ok = writeJob(job, blocks_[slot]);
    hold.lock();
    if (!ok) *job.failed = true;
    ++written_;
    freed_.notify_one();
  }
}

// The block's bytes with the spans among them, in one gathering write.
bool t_blockWriter::writeJob(const t_job &job, const char *block) {
  if (job.spans == 0) return writeAll(job.fd, block, job.n);
  iovec pieces[2 * kSpans + 1];
  std::size_t count = 0;
  std::size_t from = 0;
  for (std::size_t i = 0; i < job.spans; ++i) {
    const t_span &span = job.span[i];
    if (span.at > from) pieces[count++] = iovec{const_cast<char *>(block + from), span.at - from};
    pieces[count++] = iovec{const_cast<char *>(span.text), span.size};
    from = span.at;
  }
  if (job.n > from) pieces[count++] = iovec{const_cast<char *>(block + from), job.n - from};
  return writeAllPieces(job.fd, pieces, count);
}

} // namespace incprep
