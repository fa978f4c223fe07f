// The XML side file writer. The document is produced in one pass from fixed tag texts; every
// piece goes through fwritexml, which also carries the trace.
#include "xmlwriter.h"

#include "diagnostics.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

#include <sys/uio.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace incprep {
namespace {

constexpr std::string_view kXmlNewLine = " \n"; // every line ends so, except "</BUILD>"
constexpr std::size_t kNumberField = 20;
constexpr std::size_t kStmtLineLimit = 2000; // a line closes after the entry that passes this
constexpr int kEntriesPerFormattedLine = 6;

// Writes the pieces of the document and remembers whether any was cut short.
class t_xmlSink {
public:
  t_xmlSink(std::FILE *fp, int32 loglvl) : fp_(fp), loglvl_(loglvl) {}
  void put(std::string_view piece) {
    const auto len = static_cast<int32>(piece.size());
    if (fwritexml(piece.data(), len, 1, fp_, loglvl_) != len) ok_ = false;
  }
  void putEscaped(std::string_view text) {
    scratch_.clear();
    provideXMLEntityRefs(text, scratch_);
    put(scratch_);
  }
  void putNumber(int32 n) {
    char field[kNumberField];
    change_itoa(n, field);
    put(field);
  }
  // The stream's descriptor, for pieces written past the stream, once what was put is out.
  int descriptor() {
    if (std::fflush(fp_) != 0) ok_ = false;
    return fileno(fp_);
  }
  void fail() { ok_ = false; }
  [[nodiscard]] bool ok() const { return ok_; }

private:
  std::FILE *fp_;
  int32 loglvl_;
  bool ok_ = true;
  std::string scratch_;
};

// The two-character texts "00" to "99", one after another.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (std::size_t i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes the decimal text of `n` at `out` and returns the position after it. The digits are
// written from the last one back, two at a time.
char *putDecimal(char *out, int32 n) {
  // The magnitude as unsigned, so that the most negative value has its exact text.
  std::uint32_t v = static_cast<std::uint32_t>(n);
  if (n < 0) {
    *out++ = '-';
    v = 0U - v;
  }
  // The number of digits from the number of bits: 1233 / 4096 is just above log10(2), so the
  // estimate is the count or one more, which the power of ten below it tells apart.
  static constexpr std::array<std::uint32_t, 10> kTens = {
      0, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
  const auto estimate = static_cast<std::size_t>((std::bit_width(v) * 1233U) >> 12U);
  const std::size_t length = estimate + (v < kTens[estimate] ? 0U : 1U);
  char *const end = out + length;
  char *p = end;
  while (v >= 100) {
    p -= 2;
    std::memcpy(p, kDigitPairs.data() + 2 * (v % 100), 2);
    v /= 100;
  }
  if (v >= 10) {
    std::memcpy(p - 2, kDigitPairs.data() + 2 * v, 2);
  } else {
    p[-1] = static_cast<char>('0' + v);
  }
  return end;
}

constexpr std::size_t kEntryRoom = 64; // an entry's text and the room it is copied with
constexpr std::size_t kMaxEntryLength = 4 * 11 + 6; // four numbers of up to 11 characters
static_assert(kMaxEntryLength <= kEntryRoom);

// One statement entry, "(oln,ofn,iln,ifn);", kept from row to row. Most rows follow the one
// before: the next output line, from the next line of the same input file. Then the two line
// numbers are counted up in place in the previous entry's text, which is stored again; any
// other row (or one whose number gains a digit) has its text made anew.
//
// The entry's first 48 bytes, the expected next row and the ones to add are held as 16-byte
// vectors, and the loop keeps them in registers: a following row is a vector comparison, two
// vector additions, a look for digits gone past nine, and three stores. A digit past nine
// becomes 0 and carries one to the digit before it, with the bytes to add taken from a table
// by its position.
class t_entryWriter {
public:
  // Writes the entries of the rows from `row` on, while rows are left before `end`, fewer
  // than `most` have been written and the text so far ends at or before `full`. Each entry
  // needs kEntryRoom bytes of room. Returns the position after the text; `row` is moved on.
  [[gnu::noinline]] char *put(char *out, const t_ppStmtTblNode *&row, const t_ppStmtTblNode *end,
                              int most, const char *full) {
    t_textHalf lo = lo_;
    t_textHalf hi = hi_;
    t_textHalf tail = tail_;
    t_textHalf oneLo = oneLo_;
    t_textHalf oneHi = oneHi_;
    t_rowVector next = next_;
    std::uint32_t firstDigits = firstDigits_;
    std::ptrdiff_t len = len_;
    bool countable = countable_;
    // The rows are walked with a pointer of the loop's own, which the stores of text cannot
    // alias.
    const t_ppStmtTblNode *at = row;
    const t_ppStmtTblNode *const stop = at + std::min<std::ptrdiff_t>(most, end - at);
    for (; at != stop && out <= full; ++at) {
      t_rowVector r;
      std::memcpy(&r, at, sizeof r);
      if (countable && allSet(r == next)) {
        lo += oneLo;
        hi += oneHi;
        bool counted = true;
        std::uint32_t carry = 0;
        if (bytesSet((lo == kPastNine) | (hi == kPastNine)) != 0) carry = pastNine(lo, hi);
        for (; carry != 0; carry = pastNine(lo, hi)) {
          if ((carry & firstDigits) != 0) { // the number gains a digit
            counted = false;
            break;
          }
          const auto digit = static_cast<std::size_t>(std::countr_zero(carry));
          lo += half(kCarry[digit].data());
          hi += half(kCarry[digit].data() + kHalf);
        }
        if (counted) {
          // Counting up leaves the entry within its first 48 bytes.
          std::memcpy(out, &lo, kHalf);
          std::memcpy(out + kHalf, &hi, kHalf);
          std::memcpy(out + 2 * kHalf, &tail, kHalf);
          out += len;
          next += kFollowing;
          continue;
        }
      }
      // Made anew. Nothing the loop holds in registers lives across the call, so that none of
      // it is kept in memory instead.
      make(*at);
      lo = lo_;
      hi = hi_;
      tail = tail_;
      oneLo = oneLo_;
      oneHi = oneHi_;
      firstDigits = firstDigits_;
      len = len_;
      countable = countable_;
      std::memcpy(&next, at, sizeof next);
      next += kFollowing;
      std::memcpy(out, text_, kEntryRoom);
      out += len;
    }
    row = at;
    lo_ = lo;
    hi_ = hi;
    next_ = next;
    return out;
  }

private:
  using t_textHalf = signed char __attribute__((vector_size(16)));
  using t_rowVector = std::uint32_t __attribute__((vector_size(16)));
  static_assert(sizeof(t_rowVector) == sizeof(t_ppStmtTblNode));
  static constexpr std::size_t kHalf = sizeof(t_textHalf);
  static constexpr std::size_t kCounted = 2 * kHalf; // where both line numbers must end
  // The row after (oln, ofn, iln, ifn); unsigned, so that the largest numbers wrap.
  static constexpr t_rowVector kFollowing = {1, 0, 1, 0};
  // Per position p of a digit gone past nine: -10 at p and +1 at p - 1.
  static constexpr std::array<std::array<signed char, kCounted>, kCounted> kCarry = [] {
    std::array<std::array<signed char, kCounted>, kCounted> rows{};
    for (std::size_t p = 1; p < kCounted; ++p) {
      rows[p][p] = -10;
      rows[p][p - 1] = 1;
    }
    return rows;
  }();

  static t_textHalf half(const signed char *p) {
    t_textHalf v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static constexpr signed char kPastNine = '9' + 1;
  // Bit i set where byte i of the 16 is all ones.
  static std::uint32_t bytesSet(t_textHalf v) {
#if defined(__SSE2__)
    return static_cast<std::uint32_t>(_mm_movemask_epi8(std::bit_cast<__m128i>(v)));
#else
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kHalf; ++i)
      bits |= static_cast<std::uint32_t>(v[i] != 0) << i;
    return bits;
#endif
  }
  template <typename V> static bool allSet(V v) {
    return bytesSet(std::bit_cast<t_textHalf>(v)) == (std::uint32_t{1} << kHalf) - 1;
  }
  // Bit i set where byte i of the text's first 32 bytes is a digit gone past nine.
  static std::uint32_t pastNine(t_textHalf lo, t_textHalf hi) {
    return bytesSet(lo == kPastNine) | bytesSet(hi == kPastNine) << kHalf;
  }

  [[gnu::noinline]] void make(const t_ppStmtTblNode &row) {
    char *out = text_;
    *out++ = '(';
    const int olnFirst = static_cast<int>(out - text_);
    out = putDecimal(out, row.oln);
    const int olnLast = static_cast<int>(out - text_) - 1;
    *out++ = ',';
    out = putDecimal(out, row.ofn);
    *out++ = ',';
    const int ilnFirst = static_cast<int>(out - text_);
    out = putDecimal(out, row.iln);
    const int ilnLast = static_cast<int>(out - text_) - 1;
    *out++ = ',';
    out = putDecimal(out, row.ifn);
    *out++ = ')';
    *out++ = ';';
    len_ = static_cast<int>(out - text_);
    std::memcpy(&lo_, text_, kHalf);
    std::memcpy(&hi_, text_ + kHalf, kHalf);
    std::memcpy(&tail_, text_ + 2 * kHalf, kHalf);
    // Counting up never gains a digit, so numbers below 10^9 stay below it. Both must end in
    // the first 32 bytes; the file number after them has at most 11 characters, so the whole
    // entry then ends within the first 48, and `tail_` holds the rest of it.
    constexpr int32 kCountableLimit = 1000000000;
    countable_ = row.oln >= 0 && row.iln >= 0 && row.oln < kCountableLimit &&
                 row.iln < kCountableLimit && ilnLast < static_cast<int>(kCounted);
    if (!countable_) return;
    firstDigits_ = std::uint32_t{1} << olnFirst | std::uint32_t{1} << ilnFirst;
    oneLo_ = t_textHalf{};
    oneHi_ = t_textHalf{};
    for (const int last : {olnLast, ilnLast}) {
      const auto at = static_cast<std::size_t>(last);
      if (at < kHalf)
        oneLo_[at] = 1;
      else
        oneHi_[at - kHalf] = 1;
    }
  }

  char text_[kEntryRoom] = {};
  t_textHalf lo_{};               // the text's first 16 bytes
  t_textHalf hi_{};               // the next 16
  t_textHalf tail_{};             // and the 16 after them, which counting up leaves as they are
  t_textHalf oneLo_{};            // 1 at the last digit of each line number, in the first 16 bytes
  t_textHalf oneHi_{};            // and in the next 16
  t_rowVector next_{};            // the row that follows the last one written
  std::uint32_t firstDigits_ = 0; // bits at the first digit of each line number
  int len_ = 0;
  bool countable_ = false;
};

// The statement lines of a large table, made by two threads: the rows are taken in chunks, each
// thread makes the text of a chunk in a buffer of its own and writes it when its turn comes, so
// that one thread makes a chunk while the other writes one, and the text crosses no processor.
// A formatted chunk holds whole lines (its rows are a multiple of six). Otherwise where a line
// closes depends on every entry before it: a chunk is made without line ends, and they are
// placed when its turn comes, from the length of the line the chunks before it left open. A
// line closes after the entry that takes it past 2000 characters, so its end is the first ";"
// at or after its 2000th character (only an entry's last character is a ";").
class t_statementChunks {
public:
  static constexpr std::size_t kChunkRows = std::size_t{kEntriesPerFormattedLine} * 860;
  static constexpr std::size_t kWorkers = 2;
  // The most text a chunk makes: its entries at their longest, a line end for each formatted
  // line, and the room that the last entry is copied with.
  static constexpr std::size_t kBufferSize =
      kChunkRows * kMaxEntryLength + (kChunkRows / kEntriesPerFormattedLine) * 2 + kEntryRoom;

  // The two threads' buffers are two blocks of the writer's ring (free once the task runs, as
  // everything handed before it is written by then), memory already touched.
  t_statementChunks(const t_ppStmtTblNode *rows, int32 outstmtct, bool formatted, int fd,
                    char *mine, char *theirs)
      : first_(rows + 1), count_(static_cast<std::size_t>(std::max(outstmtct, int32{0}))),
        formatted_(formatted), fd_(fd), buffers_{mine, theirs} {}
  [[nodiscard]] bool failed() const { return failed_; }

  // Run by each of the two threads: chunks are taken in order until none is left.
  void work() {
    char *const text = buffers_[nextBuffer_.fetch_add(1)];
    const std::size_t chunks = (count_ + kChunkRows - 1) / kChunkRows;
    for (std::size_t k = nextChunk_.fetch_add(1); k < chunks; k = nextChunk_.fetch_add(1)) {
      const t_ppStmtTblNode *next = first_ + k * kChunkRows;
      const t_ppStmtTblNode *const end = first_ + std::min(count_, (k + 1) * kChunkRows);
      const std::size_t length = make(text, next, end);
      std::unique_lock<std::mutex> hold(lock_);
      turn_.wait(hold, [&] { return written_ == k; });
      hold.unlock(); // the other thread waits for written_ to change, which only this one does
      const bool ok =
          formatted_ ? writeAll(fd_, text, length) : writeLines(text, length, k + 1 == chunks);
      hold.lock();
      if (!ok) failed_ = true;
      written_ = k + 1;
      hold.unlock();
      turn_.notify_all();
    }
  }

private:
  static constexpr std::size_t kMostLines = kChunkRows * kMaxEntryLength / kStmtLineLimit + 2;

  std::size_t make(char *text, const t_ppStmtTblNode *next, const t_ppStmtTblNode *end) const {
    t_entryWriter entry;
    char *out = text;
    if (!formatted_)
      return static_cast<std::size_t>(
          entry.put(out, next, end, std::numeric_limits<int>::max(), text + kBufferSize) - text);
    while (next != end) {
      out = entry.put(out, next, end, kEntriesPerFormattedLine, out + kStmtLineLimit);
      std::memcpy(out, kXmlNewLine.data(), kXmlNewLine.size());
      out += kXmlNewLine.size();
    }
    return static_cast<std::size_t>(out - text);
  }

  // Writes a chunk made without line ends, with them, and the last chunk's open line closed.
  bool writeLines(const char *text, std::size_t length, bool last) {
    std::array<iovec, 2 * kMostLines> pieces;
    std::size_t n = 0;
    const auto piece = [&](const char *p, std::size_t len) {
      pieces[n++] = iovec{const_cast<char *>(p), len};
    };
    std::size_t from = 0; // the start of this chunk's part of the open line
    for (;;) {
      // Where the open line's 2000th character falls (the line holds at most 2000 so far).
      const std::size_t at = from + (kStmtLineLimit - openLine_);
      const void *semicolon = at < length ? std::memchr(text + at, ';', length - at) : nullptr;
      if (semicolon == nullptr) break;
      const std::size_t end =
          static_cast<std::size_t>(static_cast<const char *>(semicolon) - text) + 1;
      piece(text + from, end - from);
      piece(kXmlNewLine.data(), kXmlNewLine.size());
      from = end;
      openLine_ = 0;
    }
    if (from < length) piece(text + from, length - from);
    openLine_ += length - from;
    if (last && openLine_ > 0) piece(kXmlNewLine.data(), kXmlNewLine.size());
    return writeAllPieces(fd_, pieces.data(), n);
  }

  const t_ppStmtTblNode *first_;
  std::size_t count_;
  bool formatted_;
  int fd_;
  std::array<char *, kWorkers> buffers_;
  std::atomic<std::size_t> nextBuffer_{0};
  std::atomic<std::size_t> nextChunk_{0};
  std::mutex lock_;
  std::condition_variable turn_;
  std::size_t written_ = 0;  // chunks written
  std::size_t openLine_ = 0; // characters of the line the chunks written left open
  bool failed_ = false;
};

// The statement table's lines. A large table in a run with a writer is made by both threads
// (see t_statementChunks). Otherwise, without trace, lines are gathered in a block (the
// caller's scratch memory when it has room) and handed to the sink a block at a time; with
// trace, each line and its line end are handed over (and traced) one by one, as every other
// piece of the document is.
void writeStatementLines(t_xmlSink &sink, const t_ppStmtTblNode *rows, int32 outstmtct,
                         int16 formattingOn, bool traced, std::span<char> scratch,
                         t_blockWriter *writer) {
  // Room for a whole line, a whole entry copied after its last entry, and its line end.
  constexpr std::size_t kLineRoom = kStmtLineLimit + kMaxEntryLength + kEntryRoom + 2;
  constexpr std::size_t kOwnBlock = std::size_t{32} << 10U;
  if (!traced && writer != nullptr && writer->blockSize() >= t_statementChunks::kBufferSize &&
      static_cast<std::size_t>(std::max(outstmtct, int32{0})) > t_statementChunks::kChunkRows) {
    t_statementChunks chunks(rows, outstmtct, formattingOn == 1, sink.descriptor(),
                             writer->current(), writer->spare());
    writer->assist([&chunks] { chunks.work(); });
    chunks.work();
    writer->drain();
    if (chunks.failed()) sink.fail();
    return;
  }
  // The caller's scratch memory when it has room (fresh memory is costly to touch first).
  std::unique_ptr<char[]> own;
  if (scratch.size() < kOwnBlock + kLineRoom) {
    own = std::make_unique_for_overwrite<char[]>(kOwnBlock + kLineRoom);
    scratch = std::span<char>(own.get(), kOwnBlock + kLineRoom);
  }
  const std::size_t blockSize = scratch.size() - kLineRoom;
  char *const base = scratch.data();
  char *out = base;
  t_entryWriter entry;
  const t_ppStmtTblNode *next = rows + 1; // row 0 is the fixed header row and is never written
  const t_ppStmtTblNode *const end = next + std::max(outstmtct, int32{0});
  while (next != end) {
    char *const line = out;
    // A formatted line holds six entries (far below the limit). Otherwise an entry is appended
    // while the line holds at most 2000 characters, so a full line closes after the entry that
    // first takes it past 2000.
    const int most = formattingOn == 1 ? kEntriesPerFormattedLine : std::numeric_limits<int>::max();
    out = entry.put(out, next, end, most, line + kStmtLineLimit);
    if (traced) {
      sink.put(std::string_view(line, static_cast<std::size_t>(out - line)));
      sink.put(kXmlNewLine);
      out = base;
      continue;
    }
    std::memcpy(out, kXmlNewLine.data(), kXmlNewLine.size());
    out += kXmlNewLine.size();
    if (static_cast<std::size_t>(out - base) >= blockSize) {
      sink.put(std::string_view(base, static_cast<std::size_t>(out - base)));
      out = base;
    }
  }
  if (out != base) sink.put(std::string_view(base, static_cast<std::size_t>(out - base)));
}

} // namespace

void provideXMLEntityRefs(std::string_view passed_cx, std::string &returned_cx) {
  if (passed_cx.find_first_of("&'\"><") == std::string_view::npos) {
    returned_cx.append(passed_cx);
    return;
  }
  for (const char c : passed_cx) {
    switch (c) {
    case '&': returned_cx += "&amp;"; break;
    case '\'': returned_cx += "&apos;"; break;
    case '"': returned_cx += "&quot;"; break;
    case '>': returned_cx += "&gt;"; break;
    case '<': returned_cx += "&lt;"; break;
    default: returned_cx += c; break;
    }
  }
}

void appendDecimal(std::string &out, int32 n) {
  char text[12];
  out.append(text, static_cast<std::size_t>(putDecimal(text, n) - text));
}

void change_ltoa(int32 n, char *passed_cx) {
  std::string text;
  appendDecimal(text, n);
  std::memset(passed_cx, 0, kNumberField);
  std::memcpy(passed_cx, text.data(), text.size()); // at most 11 characters
}

void change_itoa(int32 n, char *passed_cx) {
  change_ltoa(n, passed_cx);
}

int32 fwritexml(const char *bufftowrite, int32 bufftowrite_len, int32 buffcount,
                std::FILE *streamSYSXMLSD, int32 loglvl) {
  const auto len = static_cast<std::size_t>(bufftowrite_len);
  if (loglvl > 0) {
    std::fwrite(bufftowrite, 1, len, stdout);
    std::printf("%s %d\n", "ABOUT TO WRITE TO XML FILE - LEN = ", bufftowrite_len);
    std::fputs("ABOUT TO WRITE TO XML FILE - TEXT =  ", stdout);
    std::fwrite(bufftowrite, 1, len, stdout);
    std::fputc('\n', stdout);
  }
  const std::size_t written =
      len == 0 ? 0
               : std::fwrite(bufftowrite, static_cast<std::size_t>(buffcount), len, streamSYSXMLSD);
  if (written < len && loglvl > 0) {
    std::fflush(stdout);
    std::perror("ERROR WRITING COMPILE ERRORS XML FILE ");
    dumpEyeCatcher();
    std::fputs("ERROR WRITING THE COMPILE ERRORS XML FILE!\n", stdout);
  }
  return static_cast<int32>(written);
}

bool writeXMLFile(std::FILE *streamSYSXMLSD, const t_ppErrMsgNode *errmsgArray,
                  const std::vector<t_ppResourceNode> &resArray,
                  const t_ppGendFileNode *gendfileArray, const t_ppStmtTblNode *stmttblArray,
                  int32 resourcectr, int32 outstmtct, int32 errmsgct, int16 formattingOn,
                  int32 loglvl, std::span<char> scratch, t_blockWriter *writer) {
  t_xmlSink out(streamSYSXMLSD, loglvl);
  out.put("<?xml version=\"1.0\" standalone=\"yes\"?>");
  out.put(kXmlNewLine);
  out.put("<BUILD>");
  out.put(kXmlNewLine);
  out.put("<PACKAGE>");
  out.put(kXmlNewLine);
  out.put("<FILEREFERENCETABLE>");
  out.put(kXmlNewLine);
  out.put("<FILECOUNT>");
  out.putNumber(resourcectr);
  out.put("</FILECOUNT>");
  // The line end that closes "</FILECOUNT>" and each "</FILE>" is the first piece of what follows.
  for (int32 i = 0; i < resourcectr; ++i) {
    const t_ppResourceNode &row = resArray[static_cast<std::size_t>(i)];
    if (row.sourcedsn.empty()) continue;
    out.put(kXmlNewLine);
    out.put("<FILE>");
    out.put(kXmlNewLine);
    out.put("<FILENUMBER>");
    out.putNumber(row.sourcefilenum);
    out.put("</FILENUMBER>");
    out.put(kXmlNewLine);
    out.put("<FILENAME>");
    out.putEscaped(row.sourcedsn);
    out.put("</FILENAME>");
    out.put(kXmlNewLine);
    out.put("</FILE>");
  }
  out.put(kXmlNewLine);
  out.put("</FILEREFERENCETABLE>");
  out.put(kXmlNewLine);

  for (int32 i = 0; i < errmsgct; ++i) {
    const t_ppErrMsgNode &msg = errmsgArray[i];
    out.put("<MESSAGE>");
    out.put(kXmlNewLine);
    out.put("<MSGNUMBER>");
    out.putEscaped(msg.msgid);
    out.put("</MSGNUMBER>");
    out.put(kXmlNewLine);
    out.put("<MSGLINE>");
    out.putNumber(msg.srcstmtnum);
    out.put("</MSGLINE>");
    out.put(kXmlNewLine);
    out.put("<MSGFILE>");
    out.putNumber(msg.sourcefilenum);
    out.put("</MSGFILE>");
    out.put(kXmlNewLine);
    out.put("<MSGTEXT>");
    out.put(kXmlNewLine);
    out.putEscaped(msg.msgtxt);
    out.put(kXmlNewLine);
    out.put("</MSGTEXT>");
    out.put(kXmlNewLine);
    out.put("</MESSAGE>");
    out.put(kXmlNewLine);
  }

  out.put("<OUTFILEREFERENCETABLE>");
  out.put(kXmlNewLine);
  out.put("<OUTFILECOUNT>");
  out.put("1");
  out.put("</OUTFILECOUNT>");
  out.put(kXmlNewLine);
  out.put("<OUTFILE>");
  out.put(kXmlNewLine);
  out.put("<OUTFILENUMBER>");
  out.putNumber(gendfileArray[0].osourcefilenum);
  out.put("</OUTFILENUMBER>");
  out.put(kXmlNewLine);
  out.put("<OUTFILENAME>");
  out.putEscaped(gendfileArray[0].osourcedsn);
  out.put("</OUTFILENAME>");
  out.put(kXmlNewLine);
  out.put("</OUTFILE>");
  out.put(kXmlNewLine);
  out.put("</OUTFILEREFERENCETABLE>");
  out.put(kXmlNewLine);

  out.put("<STATEMENTTABLE>");
  out.put(kXmlNewLine);
  writeStatementLines(out, stmttblArray, outstmtct, formattingOn, loglvl > 0, scratch, writer);
  out.put("</STATEMENTTABLE>");
  out.put(kXmlNewLine);
  out.put("</PACKAGE>");
  out.put(kXmlNewLine);
  out.put("</BUILD>");
  return out.ok();
}

} // namespace incprep
