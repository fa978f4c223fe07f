// The character state machine: one dispatcher, one function per family of states. The lexical
// families keep include keywords inside comments, literals and identifiers from being seen; the
// include families collect a member name and complete the statement by expanding the member.
// Without tracing, runs of characters that leave the state unchanged are consumed in one pass.
#include "diagnostics.h"
#include "libsearch.h"
#include "scanner.h"
#include "scanner_impl.h"

#include <array>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace incprep {
namespace {

constexpr std::int64_t kColumn7 = 6; // COBOL's indicator area: "*", "/", "-" or "+" there
constexpr std::int64_t kColumn8 = 7;
constexpr std::int64_t kCobolCodeEnd = 72; // columns 73 and beyond: identification area
constexpr std::int64_t kPliCodeStart = 1;  // PL/I code starts in column 2

// Bytes that end a run of ordinary identifier characters (the fast path stops there and lets
// the identifier rules judge them one by one).
constexpr std::array<bool, 256> makeIdentifierStops() {
  std::array<bool, 256> stop{};
  for (const char c : {';', '\'', '"', '\n', ' ', '\t', '\r', '/'})
    stop[static_cast<unsigned char>(c)] = true;
  return stop;
}
constexpr std::array<bool, 256> kIdentifierStops = makeIdentifierStops();

// The position of the first character from `ix` (below `bound`) that the identifier rules must
// judge one by one: a stop character, or a terminating indicator in column 7.
std::int64_t skipOrdinary(const char *p, std::int64_t ix, std::int64_t bound) {
  if (ix <= kColumn7) {
    const std::int64_t limit = std::min(bound, kColumn7);
    while (ix < limit && !kIdentifierStops[static_cast<unsigned char>(p[ix])])
      ++ix;
    if (ix < limit || ix >= bound) return ix;
    // Column 7: "*", "-" and "+" there end an identifier; anything else is ordinary.
    const char c = p[ix];
    if (c == '*' || c == '-' || c == '+' || kIdentifierStops[static_cast<unsigned char>(c)])
      return ix;
  }
  while (ix < bound && !kIdentifierStops[static_cast<unsigned char>(p[ix])])
    ++ix;
  return ix;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

// The characters with which an include keyword can begin ("COPY", "-INC", "++INCLUDE",
// "%INCLUDE", "%XINCLUDE"; COPY and %INCLUDE in either case).
bool isKeywordStart(char c) {
  return c == '+' || c == '-' || c == '%' || c == 'C' || c == 'c';
}

#if defined(__SSE2__)
// Sixteen bytes classified at once: a bit per byte for stop characters, white space and the
// characters that may begin an include keyword.
struct t_byteClasses {
  unsigned stops, blanks, starts;
};

// `pli`: the keyword starts of PL/I ("%", "+", "-"); otherwise those of COBOL ("C", "c", "+",
// "-"), which also cover "++INCLUDE" where no language is named.
[[gnu::always_inline]] inline t_byteClasses classify16(const char *p, bool pli) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  const auto eq = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
  const __m128i stops =
      _mm_or_si128(_mm_or_si128(_mm_or_si128(eq(';'), eq('\'')), _mm_or_si128(eq('"'), eq('\n'))),
                   _mm_or_si128(eq('\r'), eq('/')));
  const __m128i blanks = _mm_or_si128(eq(' '), eq('\t'));
  // 'C' and 'c' differ only in the 0x20 bit, and no other byte folds onto them.
  const __m128i first =
      pli ? eq('%') : _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('c'));
  const __m128i starts = _mm_or_si128(first, _mm_or_si128(eq('+'), eq('-')));
  return {static_cast<unsigned>(_mm_movemask_epi8(stops)),
          static_cast<unsigned>(_mm_movemask_epi8(blanks)),
          static_cast<unsigned>(_mm_movemask_epi8(starts))};
}
#endif

// In the code area from column 8, the position of the first character from `ix` (below
// `bound`) that the code and identifier rules must judge one by one: a stop character, or a
// character that may begin an include keyword where a token begins (after white space, or at
// `ix` itself when `tokenAtIx`). Everything before it is blanks and ordinary token characters,
// which those rules only copy. The line's bytes start at `p`; `pli` chooses the keyword starts
// as for classify16 (the fallback takes all of them).
std::int64_t findCodeEvent(const char *p, std::int64_t ix, std::int64_t bound, bool tokenAtIx,
                           bool pli) {
  unsigned carry = tokenAtIx ? 1U : 0U; // a token may begin at the next byte
#if defined(__SSE2__)
  while (bound - ix >= 16) {
    const t_byteClasses k = classify16(p + ix, pli);
    const unsigned events = k.stops | (k.starts & ((k.blanks << 1U) | carry));
    if (events != 0) return ix + __builtin_ctz(events);
    carry = (k.blanks >> 15U) & 1U;
    ix += 16;
  }
  if (ix < bound && bound >= 16) {
    // The last sixteen bytes of the line, those before ix masked off.
    const std::int64_t base = bound - 16;
    const auto shift = static_cast<unsigned>(ix - base);
    const t_byteClasses k = classify16(p + base, pli);
    const unsigned tokenBits = ((k.blanks << 1U) & ~(1U << shift)) | (carry << shift);
    const unsigned events = (k.stops | (k.starts & tokenBits)) & (0xFFFFU << shift);
    return events != 0 ? base + __builtin_ctz(events) : bound;
  }
#endif
  for (; ix < bound; ++ix) {
    const char c = p[ix];
    if (kIdentifierStops[static_cast<unsigned char>(c)] && !isBlank(c)) return ix;
    if (carry != 0 && isKeywordStart(c)) return ix;
    carry = isBlank(c) ? 1U : 0U;
  }
  return ix;
}

// Columns 1 to 7 of a line (from `p`, with at least sixteen bytes before `bound`) that hold
// only blanks and ordinary characters, and no COBOL comment indicator, are only copied by the
// code and identifier rules. Returns where the code-area scan goes on from then (0 when the
// columns are not so plain): column 8, or past the first sixteen bytes when columns 8 to 16
// hold no event either. `*tokenAtIx` tells whether a token may begin there.
std::int64_t passPlainSequenceArea(const char *p, std::int64_t bound, bool pli, bool *tokenAtIx) {
#if defined(__SSE2__)
  if (bound < 16) return 0;
  const t_byteClasses k = classify16(p, pli);
  if (((k.stops | k.starts) & 0x7FU) != 0 || (!pli && p[kColumn7] == '*')) return 0;
  // Columns 8 to 16 with the same classes: a token may begin where white space precedes.
  if (((k.stops | (k.starts & (k.blanks << 1U))) & 0xFF80U) == 0) {
    *tokenAtIx = ((k.blanks >> 15U) & 1U) != 0;
    return 16;
  }
  *tokenAtIx = (k.blanks & 0x40U) != 0; // column 7 blank: column 8 starts in AT_START
  return kColumn8;
#else
  (void)p;
  (void)bound;
  (void)pli;
  (void)tokenAtIx;
  return 0;
#endif
}

bool isLiteralState(int32 s) {
  return s == INAPOS || s == INQUOTE || s == CONTINUE_APOS || s == CONTINUE_QUOTE;
}

bool isCodeByte(int c) {
  return c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != kPastLine;
}

} // namespace

namespace {

// Whether the character at `p[q]`, where a token begins, may begin an include keyword: the
// letters that would follow it are there (or cannot be seen within `avail`). A token start
// that cannot is ordinary: the rules only copy it.
bool mayBeginKeyword(const char *p, std::size_t q, std::size_t avail) {
  const auto follows = [&](std::string_view rest) {
    if (q + rest.size() >= avail) return true;
    for (std::size_t i = 0; i < rest.size(); ++i)
      if (upperOf(p[q + 1 + i]) != rest[i]) return false; // either case
    return true;
  };
  switch (p[q]) {
  case '+': return follows("+");
  case '-': return follows("INC");
  case 'C':
  case 'c': return follows("OPY");
  default: return true;
  }
}

// Sixty-four bytes of lines, classified: a bit per byte for newlines, ";", apostrophes,
// quotation marks, white space, the other stop characters (carriage return and "/"), the
// characters that may begin an include keyword, and "*".
struct t_lineBits {
  std::uint64_t newlines, semicolons, apostrophes, quotes, blanks, others, starts, stars;
};

// Bit i set where an odd number of bits 0 to i of `x` are set.
[[gnu::always_inline]] inline std::uint64_t prefixParity(std::uint64_t x) {
  for (const unsigned shift : {1U, 2U, 4U, 8U, 16U, 32U})
    x ^= x << shift;
  return x;
}

// The run of plain lines from `p`, judged sixty-four bytes at a time from bit masks alone: a
// line is plain when no byte of it up to its newline is an event (see plainLines16), so the
// lines before the first event are the run. What a block leaves to the next (the line starts
// near its end, whether a token may begin at the next byte, the literals still open) is kept
// here as carries. `Pli`: PL/I, which has no comment indicator in column 7.
template <bool Pli> class t_plainRun {
public:
  t_plainRun(const char *p, std::size_t avail) : p_(p), avail_(avail) {}

  // Takes the block of bits `b` at `base`; false once the run has ended in it.
  [[gnu::always_inline]] bool take(std::size_t base, const t_lineBits &b) {
    // Columns 1 to 7 of each line, and column 7 alone: the bits after each line start, those of
    // the previous block's last line starts included.
    const std::uint64_t lineStarts = (b.newlines << 1U) | lineStartIn_;
    lineStartIn_ = b.newlines >> 63U;
    const std::uint64_t previous = prevLineStarts_;
    prevLineStarts_ = lineStarts;
    // Each line start spread over the six bits after it, in three doublings, into this block.
    std::uint64_t high = lineStarts | (lineStarts << 1U) | (previous >> 63U);
    std::uint64_t low = previous | (previous << 1U);
    high |= (high << 2U) | (low >> 62U);
    low |= low << 2U;
    const std::uint64_t columns1to7 = high | (high << 3U) | (low >> 61U);
    const std::uint64_t column7 = (lineStarts << 6U) | (previous >> 58U);
    // Literals in apostrophes and in quotation marks, each kind counted on its own: the bits of
    // the opening quote and the text. Where one kind lies within a literal of the other, the
    // counts no longer tell which quote closes which, and the line is not plain.
    std::uint64_t inApostrophes = 0;
    std::uint64_t inQuotes = 0;
    if ((b.apostrophes | b.quotes | apostropheOpen_ | quoteOpen_) != 0) {
      inApostrophes = prefixParity(b.apostrophes) ^ (0U - apostropheOpen_);
      inQuotes = prefixParity(b.quotes) ^ (0U - quoteOpen_);
      apostropheOpen_ = inApostrophes >> 63U;
      quoteOpen_ = inQuotes >> 63U;
    }
    const std::uint64_t inLiteral = inApostrophes | inQuotes;
    const std::uint64_t closing = (b.apostrophes & ~inApostrophes) | (b.quotes & ~inQuotes);
    const std::uint64_t tokenEnds = b.blanks | b.semicolons | closing;
    const std::uint64_t tokenStarts = (tokenEnds << 1U) | tokenIn_;
    tokenIn_ = tokenEnds >> 63U;
    const std::uint64_t stops = b.newlines | b.semicolons | b.apostrophes | b.quotes | b.others;
    std::uint64_t events = (columns1to7 & (stops | b.starts)) | (b.others & ~inLiteral) |
                           (b.quotes & inApostrophes) | (b.apostrophes & inQuotes) |
                           (b.newlines & inLiteral);
    if (!Pli) events |= column7 & b.stars;
    // Before the first event, a token start that may begin an include keyword is one too.
    std::uint64_t before = events != 0 ? (events & (0U - events)) - 1U : ~std::uint64_t{0};
    for (std::uint64_t starts = b.starts & tokenStarts & ~inLiteral & before; starts != 0;
         starts &= starts - 1U) {
      const auto at = static_cast<unsigned>(__builtin_ctzll(starts));
      if (mayBeginKeyword(p_, base + at, avail_)) {
        before = (std::uint64_t{1} << at) - 1U;
        break;
      }
    }
    const std::uint64_t ends = b.newlines & before;
    if (ends != 0) {
      lines_ += static_cast<std::size_t>(__builtin_popcountll(ends));
      const auto last = 63U - static_cast<unsigned>(__builtin_clzll(ends));
      const std::uint64_t others = ends ^ (std::uint64_t{1} << last);
      lastStart_ =
          others != 0 ? base + 64U - static_cast<std::size_t>(__builtin_clzll(others)) : bytes_;
      bytes_ = base + last + 1U;
    }
    return before == ~std::uint64_t{0};
  }

  [[nodiscard]] t_plainLines result() const { return {lines_, bytes_, bytes_ - lastStart_}; }

private:
  const char *p_;
  std::size_t avail_;
  std::uint64_t prevLineStarts_ = 0;
  std::uint64_t lineStartIn_ = 1; // the run begins at a line's first byte
  std::uint64_t tokenIn_ = 0;
  std::uint64_t apostropheOpen_ = 0;
  std::uint64_t quoteOpen_ = 0;
  std::size_t lines_ = 0;
  std::size_t bytes_ = 0;
  std::size_t lastStart_ = 0; // where the last line taken begins
};

// The last `n` (< 64) bytes of a run's buffer, filled up to a whole block with a byte of no
// class: a line whose newline lies within the buffer is then judged whole wherever it ends.
[[maybe_unused]] std::array<char, 64> lastBlock(const char *p, std::size_t n) {
  std::array<char, 64> block;
  block.fill('A');
  std::memcpy(block.data(), p, n);
  return block;
}

#if defined(__SSE2__)
template <bool Pli> [[gnu::always_inline]] inline t_lineBits classify64(const char *p) {
  t_lineBits b{};
  for (unsigned quarter = 0; quarter < 4; ++quarter) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * quarter));
    const auto eq = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const auto bits = [quarter](__m128i m) {
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(m)))
             << (16U * quarter);
    };
    // 'C' and 'c' differ only in the 0x20 bit, and no other byte folds onto them.
    const __m128i first =
        Pli ? eq('%') : _mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('c'));
    b.newlines |= bits(eq('\n'));
    b.semicolons |= bits(eq(';'));
    b.apostrophes |= bits(eq('\''));
    b.quotes |= bits(eq('"'));
    b.blanks |= bits(_mm_or_si128(eq(' '), eq('\t')));
    b.others |= bits(_mm_or_si128(eq('\r'), eq('/')));
    b.starts |= bits(_mm_or_si128(first, _mm_or_si128(eq('+'), eq('-'))));
    if (!Pli) b.stars |= bits(eq('*'));
  }
  return b;
}

// The blocks from `p` through t_plainRun, the last, partial one from lastBlock. (The wide twin
// below is the same loop, compiled for AVX2.)
template <bool Pli> t_plainLines plainLinesNarrow(const char *p, std::size_t avail) {
  t_plainRun<Pli> run(p, avail);
  std::size_t base = 0;
  bool going = true;
  for (; going && base + 64 <= avail; base += 64)
    going = run.take(base, classify64<Pli>(p + base));
  if (going && base < avail)
    (void)run.take(base, classify64<Pli>(lastBlock(p + base, avail - base).data()));
  return run.result();
}
#endif
} // namespace

// A plain line is one that lies whole within the `avail` bytes at its start and that the code
// state's fast path would take whole, in AT_START, as it takes a run of blanks and ordinary
// tokens: columns 1 to 7 hold no stop character, no character that may begin an include
// keyword and no COBOL comment indicator; from column 8 on, up to the newline, no stop
// character but ";" (after which, as after white space, a token may begin) and literals
// closed on the line that hold no quote of the other kind (see t_plainRun), and no character
// that may begin an include keyword where a token begins. Any other line the rules take as
// before. The newline is found by the same classification, so each byte is looked at once,
// sixty-four at a time: in sixteen-byte parts, or thirty-two-byte ones where the processor
// has AVX2.
t_plainLines plainLines16(const char *p, std::size_t avail, bool pli) {
#if defined(__SSE2__)
  return pli ? plainLinesNarrow<true>(p, avail) : plainLinesNarrow<false>(p, avail);
#else
  (void)p;
  (void)avail;
  (void)pli;
  return {};
#endif
}

#if defined(__x86_64__) && defined(__GNUC__)
namespace {
[[gnu::target("avx2,popcnt"), gnu::always_inline]] inline __m256i eq32(__m256i v, char x) {
  return _mm256_cmpeq_epi8(v, _mm256_set1_epi8(x));
}
[[gnu::target("avx2,popcnt"), gnu::always_inline]] inline std::uint64_t bits32(__m256i m) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(m));
}

template <bool Pli>
[[gnu::target("avx2,popcnt"), gnu::always_inline]] inline t_lineBits classify64Wide(const char *p) {
  t_lineBits b{};
  for (unsigned half = 0; half < 2; ++half) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p + 32 * half));
    const unsigned at = 32U * half;
    // 'C' and 'c' differ only in the 0x20 bit, and no other byte folds onto them.
    const __m256i first =
        Pli ? eq32(v, '%') : eq32(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), 'c');
    b.newlines |= bits32(eq32(v, '\n')) << at;
    b.semicolons |= bits32(eq32(v, ';')) << at;
    b.apostrophes |= bits32(eq32(v, '\'')) << at;
    b.quotes |= bits32(eq32(v, '"')) << at;
    b.blanks |= bits32(_mm256_or_si256(eq32(v, ' '), eq32(v, '\t'))) << at;
    b.others |= bits32(_mm256_or_si256(eq32(v, '\r'), eq32(v, '/'))) << at;
    b.starts |= bits32(_mm256_or_si256(first, _mm256_or_si256(eq32(v, '+'), eq32(v, '-')))) << at;
    if (!Pli) b.stars |= bits32(eq32(v, '*')) << at;
  }
  return b;
}

template <bool Pli>
[[gnu::target("avx2,popcnt")]] t_plainLines plainLinesWide(const char *p, std::size_t avail) {
  t_plainRun<Pli> run(p, avail);
  std::size_t base = 0;
  bool going = true;
  for (; going && base + 64 <= avail; base += 64)
    going = run.take(base, classify64Wide<Pli>(p + base));
  if (going && base < avail)
    (void)run.take(base, classify64Wide<Pli>(lastBlock(p + base, avail - base).data()));
  // The caller's SSE code would otherwise pay for the upper halves left in use.
  _mm256_zeroupper();
  return run.result();
}
} // namespace

t_plainLines plainLines32(const char *p, std::size_t avail, bool pli) {
  return pli ? plainLinesWide<true>(p, avail) : plainLinesWide<false>(p, avail);
}

bool haveWideLineBlocks() {
  static const bool avx2 =
      __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0;
  return avx2;
}
#else
t_plainLines plainLines32(const char *p, std::size_t avail, bool pli) {
  return plainLines16(p, avail, pli);
}

bool haveWideLineBlocks() {
  return false;
}
#endif

void t_scanRun::traceState() const {
  const char *name = stateName(currentstate);
  std::printf("STATE = %s \n", name != nullptr ? name : "default clause");
}

// A COBOL literal still open at a line end continues only onto a continuation line ("-" in
// column 7); before any other line it has ended, as its closing delimiter would have ended it.
void t_scanRun::endCobolLiteralUnlessContinued() {
  if (lang == kLangCOBOL && isLiteralState(currentstate) && charAt(kColumn7) != '-') popState();
}

void t_scanRun::runCharacterLoop() {
  needAnotherLine = false;
  // Without tracing, most lines are consumed whole by the code state's fast path.
  if (loglvl == 0 && currentstate == AT_START) {
    stateStack[static_cast<std::size_t>(stateStackNdx)] = currentstate;
    if (runCodeFast() && lineConsumed()) {
      needAnotherLine = true;
      return;
    }
  }
  runGeneralLoop();
}

// The character loop proper: one state step at a time until the line needs no more.
void t_scanRun::runGeneralLoop() {
  while (!needAnotherLine) {
    stateStack[static_cast<std::size_t>(stateStackNdx)] = currentstate;
    if (loglvl > 0) traceState();
    switch (currentstate) {
    case AT_START: stepCode(); break;
    case INCOMMENT:
    case INAPOS:
    case INQUOTE:
    case INCOBCOMMENT:
    case CONTINUE_APOS:
    case CONTINUE_QUOTE: stepLexical(); break;
    case IDENTIFIER_BEG:
    case INIDENTIFIER: stepIdentifier(); break;
    case MEMBEG_DASHINC:
    case INMEMDASHINC:
    case MEMEND_DASHINC:
    case DASHINC_COMPLETE: stepDashInc(); break;
    case MEMBEG_PLUSINC:
    case INMEMPLUSINC:
    case MEMEND_PLUSINC:
    case PLUSINC_COMPLETE: stepPlusInc(); break;
    case PERCENT_PLIINCLUDE:
    case MEMBEG_PLIINCLUDE:
    case INMEMPLIINCLUDE:
    case MEMEND_PLIINCLUDE:
    case PLIINCLUDE_COMPLETE: stepPliInclude(); break;
    case MEMBEG_COBOLCOPY:
    case INMEMCOBOLCOPY:
    case MEMEND_COBOLCOPY:
    case COBOLCOPY_COMPLETE: stepCobolCopy(); break;
    case EXEC_SQLINCLUDE:
    case SQL_SQLINCLUDE:
    case MEMBEG_SQLINCLUDE:
    case INMEMSQLINCLUDE:
    case MEMEND_SQLINCLUDE:
    case SQLINCLUDE_COMPLETE: stepSqlInclude(); break;
    default: setCurrentState(AT_START); break; // no transition enters another value
    }
    if (lineConsumed()) needAnotherLine = true;
  }
}

// AT_START:  white space                        -> copy
//            apostrophe                         -> copy; push INAPOS
//            quotation mark                     -> copy; push INQUOTE
//            ";"                                -> copy
//            "*" or "/" in column 7, COBOL      -> INCOBCOMMENT
//            "/" followed by "*", PL/I          -> copy 2; push INCOMMENT
//            "/" otherwise                      -> copy
//            anything else                      -> IDENTIFIER_BEG
void t_scanRun::stepCode() {
  if (loglvl == 0 && runCodeFast()) return;
  const int c = charAt(ix);
  if (white_space(c) != 0) {
    moveBothBuffs();
    if (loglvl == 0)
      while (ix < lineEnd && (charAt(ix) == ' ' || charAt(ix) == '\t'))
        moveBothBuffs();
  } else if (c == '\'') {
    moveBothBuffs();
    pushState(INAPOS);
  } else if (c == '"') {
    moveBothBuffs();
    pushState(INQUOTE);
  } else if (c == ';') {
    moveBothBuffs();
  } else if (lang == kLangCOBOL && ix == kColumn7 && (c == '*' || c == '/')) {
    setCurrentState(INCOBCOMMENT);
  } else if (lang == kLangPLI && c == '/' && charAt(ix + 1) == '*') {
    moveBothBuffers(2);
    pushState(INCOMMENT);
  } else if (c == '/') {
    moveBothBuffs();
  } else {
    setCurrentState(IDENTIFIER_BEG);
  }
}

// Without tracing, the passes through AT_START, IDENTIFIER_BEG and INIDENTIFIER for blanks and
// ordinary tokens leave nothing behind but the position and the state, so they are run here in
// one loop. Returns false, having consumed nothing, when the character at hand needs the
// general rules; returns true after consuming, with the state where the rules would leave it.
bool t_scanRun::runCodeFast() {
  // "EXEC" may begin an include statement too: every token is judged by the rules.
  if (opt.optSQLINC != 0) return false;
  const char *p = buffer1.data();
  // The end-of-file mark is left to the general rules.
  const std::int64_t bound = lineEofMark ? lineEnd - 1 : lineEnd;
  const std::int64_t start = ix;
  const bool pli = lang == kLangPLI;
  bool tokenAtIx = true; // AT_START: a token may begin at ix
  if (ix == 0) ix = passPlainSequenceArea(p, bound, pli, &tokenAtIx);
  // Columns 1 to 7 (sequence and indicator areas), token by token.
  while (ix < kColumn8) {
    while (ix < bound && (p[ix] == ' ' || p[ix] == '\t'))
      ++ix;
    if (ix >= bound) {
      setCurrentState(AT_START);
      return ix != start;
    }
    if (ix >= kColumn8) break;
    const auto c = static_cast<unsigned char>(p[ix]);
    if (kIdentifierStops[c] || (ix == kColumn7 && lang == kLangCOBOL && c == '*')) {
      setCurrentState(AT_START);
      return ix != start;
    }
    // An identifier begins here: IDENTIFIER_BEG, then its first character in INIDENTIFIER.
    identifierLen = 0;
    if (isKeywordStart(static_cast<char>(c))) {
      setCurrentState(INIDENTIFIER);
      if (tryIncludeKeyword()) return true;
    }
    ++ix;
    ++identifierLen;
    // Its later characters up to one the identifier rules must judge.
    const std::int64_t first = ix;
    ix = skipOrdinary(p, ix, bound);
    identifierLen += ix - first;
    if (ix < bound && (p[ix] == ' ' || p[ix] == '\t') && ix != kColumn7) {
      ++ix; // other white space ends the identifier: copy, back to AT_START
      continue;
    }
    setCurrentState(INIDENTIFIER);
    return true;
  }
  // The code area: blanks and ordinary tokens are passed over up to the next event.
  for (;;) {
    const std::int64_t at = findCodeEvent(p, ix, bound, tokenAtIx, pli);
    if (at > ix) tokenAtIx = isBlank(p[at - 1]);
    ix = at;
    if (ix >= bound) break;
    const char c = p[ix];
    if (c == ';') {
      // Copied; a token it ends ends there: AT_START either way.
      ++ix;
      tokenAtIx = true;
      continue;
    }
    if (c == '\'' || c == '"') {
      // A literal (a token ends before it): copied, pushed; one closed on this line is popped
      // again, back in AT_START. One still open is left to the literal rules.
      ++ix;
      pushState(c == '\'' ? INAPOS : INQUOTE);
      passLiteralText(c, false);
      if (!(ix < lineEnd && p[ix] == c)) return true;
      ++ix;
      popState();
      tokenAtIx = true;
      continue;
    }
    if (c == '/') {
      if (ix + 1 < lineEnd && p[ix + 1] == '*' && (pli || !tokenAtIx)) {
        // "/*" opens a comment within a token (which it ends), or between tokens in PL/I:
        // copied, pushed; one closed on this line is popped again, back in AT_START.
        ix += 2;
        pushState(INCOMMENT);
        passCommentText();
        if (!(ix + 1 < lineEnd && p[ix] == '*' && p[ix + 1] == '/')) return true;
        ix += 2;
        popState();
        tokenAtIx = true;
        continue;
      }
      // A lone "/" is copied: between tokens it stays in AT_START, within a token it is part
      // of it.
      ++ix;
      continue;
    }
    if (!tokenAtIx || !isKeywordStart(c)) break;
    // A token that may be an include keyword begins here.
    identifierLen = 0;
    setCurrentState(INIDENTIFIER);
    if (tryIncludeKeyword()) return true;
    ++ix;
    tokenAtIx = false;
  }
  if (tokenAtIx) {
    setCurrentState(AT_START);
  } else {
    identifierLen = 1; // within a token: only whether it has begun matters
    setCurrentState(INIDENTIFIER);
  }
  // The newline that ends the line ends a token, or is white space: copied, AT_START.
  if (ix == lineEnd - 1 && p[ix] == '\n') {
    ++ix;
    setCurrentState(AT_START);
  }
  return ix != start;
}

// INAPOS:          apostrophe               -> copy; pop
//                  "-" in column 7          -> replace CONTINUE_APOS; copy
//                  anything else            -> copy
// CONTINUE_APOS:   apostrophe               -> copy; replace INAPOS
//                  anything else            -> copy
// INQUOTE, CONTINUE_QUOTE: the same with the quotation mark
// INCOMMENT:       "*" followed by "/"      -> copy 2; pop
//                  anything else            -> copy
// INCOBCOMMENT:    newline                  -> copy; end line; AT_START
//                  at or past the count     -> end line; AT_START
//                  anything else            -> copy
void t_scanRun::stepLexical() {
  const int c = charAt(ix);
  const bool fast = loglvl == 0;
  switch (currentstate) {
  case INAPOS:
  case INQUOTE: {
    const int delim = currentstate == INAPOS ? '\'' : '"';
    if (c == delim) {
      moveBothBuffs();
      popState();
    } else if (c == '-' && ix == kColumn7) {
      replaceState(currentstate == INAPOS ? CONTINUE_APOS : CONTINUE_QUOTE);
      moveBothBuffs();
    } else {
      moveBothBuffs();
      if (fast) passLiteralText(delim, true);
    }
    break;
  }
  case CONTINUE_APOS:
  case CONTINUE_QUOTE: {
    const int delim = currentstate == CONTINUE_APOS ? '\'' : '"';
    moveBothBuffs();
    if (c == delim) {
      replaceState(currentstate == CONTINUE_APOS ? INAPOS : INQUOTE);
    } else if (fast) {
      passLiteralText(delim, false);
    }
    break;
  }
  case INCOMMENT:
    if (c == '*' && charAt(ix + 1) == '/') {
      moveBothBuffers(2);
      popState();
    } else {
      moveBothBuffs();
      if (fast) passCommentText();
    }
    break;
  default: // INCOBCOMMENT
    if (c == '\n') {
      moveBothBuffs();
      needAnotherLine = true;
      setCurrentState(AT_START);
    } else if (ix >= numread1) {
      needAnotherLine = true;
      setCurrentState(AT_START);
    } else {
      moveBothBuffs();
      // The rest of a comment line is copied up to its newline (or to the count).
      if (fast) ix = std::max(ix, lineEndsInNewline ? lineEnd - 1 : numread1);
    }
    break;
  }
}

// Without tracing: the text of a literal up to its delimiter, the line end, or (where a
// continuation indicator may follow) column 7, which the rules judge one by one. A newline is
// only ever the last character of a line.
void t_scanRun::passLiteralText(int delim, bool stopAtColumn7) {
  std::int64_t end = lineEndsInNewline ? lineEnd - 1 : lineEnd;
  if (stopAtColumn7 && ix <= kColumn7) end = std::min(end, kColumn7);
  if (ix >= end) return;
  const char *from = buffer1.data() + ix;
  const auto *at =
      static_cast<const char *>(std::memchr(from, delim, static_cast<std::size_t>(end - ix)));
  ix = at != nullptr ? ix + (at - from) : end;
}

// Without tracing: the text of a comment up to its closing "*/" or the line end.
void t_scanRun::passCommentText() {
  const std::int64_t end = lineEndsInNewline ? lineEnd - 1 : lineEnd;
  const char *p = buffer1.data();
  while (ix < end) {
    const auto *at =
        static_cast<const char *>(std::memchr(p + ix, '*', static_cast<std::size_t>(end - ix)));
    if (at == nullptr) {
      ix = end;
      return;
    }
    ix = at - p;
    if (ix + 1 < lineEnd && p[ix + 1] == '/') return;
    ++ix;
  }
}

// IDENTIFIER_BEG:                      -> INIDENTIFIER, identifier length 0
// INIDENTIFIER, first character:  an include keyword starts here -> copy it; MEMBEG_ state
//                                 anything else                  -> copy
// INIDENTIFIER, later character:  ";"                            -> copy; AT_START
//                                 apostrophe, quotation mark     -> AT_START
//                                 "*" in column 7, COBOL         -> AT_START
//                                 "-" or "+" in column 7         -> AT_START
//                                 newline, end-of-file mark      -> copy; end line; AT_START
//                                 other white space              -> copy; AT_START
//                                 "/" followed by "*"            -> copy 2; push INCOMMENT,
//                                                                   returning to AT_START
//                                 anything else                  -> copy
void t_scanRun::stepIdentifier() {
  if (currentstate == IDENTIFIER_BEG) {
    identifierLen = 0;
    setCurrentState(INIDENTIFIER);
    return;
  }
  const int c = charAt(ix);
  if (identifierLen == 0) {
    if (tryIncludeKeyword()) return;
    moveBothBuffs();
    ++identifierLen;
    return;
  }
  if (c == ';') {
    moveBothBuffs();
    setCurrentState(AT_START);
  } else if (c == '\'' || c == '"') {
    setCurrentState(AT_START);
  } else if (ix == kColumn7 && ((c == '*' && lang == kLangCOBOL) || c == '-' || c == '+')) {
    setCurrentState(AT_START);
  } else if (c == '\n' || isEofMarkAt(ix)) {
    moveBothBuffs();
    needAnotherLine = true;
    setCurrentState(AT_START);
  } else if (white_space(c) != 0) {
    moveBothBuffs();
    setCurrentState(AT_START);
  } else if (embeddedComment(buffer1, ix, loglvl) != 0) {
    moveBothBuffers(2);
    replaceState(AT_START);
    pushState(INCOMMENT);
  } else {
    moveBothBuffs();
    ++identifierLen;
    if (loglvl == 0) {
      const std::int64_t first = ix;
      ix = skipOrdinary(buffer1.data(), ix, lineEofMark ? lineEnd - 1 : lineEnd);
      identifierLen += ix - first;
    }
  }
}

// The include keyword tests, in their fixed order; the first that holds wins. Each checks its
// language, option and column before it compares, so only those comparisons are traced.
bool t_scanRun::tryIncludeKeyword() {
  const int c = charAt(ix);
  // Without tracing, a token that cannot start any keyword needs no comparison at all.
  const bool sql = opt.optSQLINC != 0 && (lang == kLangCOBOL || lang == kLangPLI);
  if (loglvl == 0 && c != '+' && c != '-' && c != '%' && c != 'C' && c != 'c' &&
      !(sql && (c == 'E' || c == 'e')))
    return false;
  const std::string_view line(buffer1);
  const bool inText = ix < lineEnd; // nothing past the stored text
  const std::string_view rest = inText ? line.substr(static_cast<std::size_t>(ix)) : "";
  // "Room for n": the line from the current character holds at least n characters (NULs are
  // characters like any other).
  const auto room = [&](int32 n) { return inText && lineEnd - ix >= n; };
  const bool nocopy = opt.optNOCOPY != 0;
  const bool dashIncColumn = ix == 0 || (ix >= kColumn7 && ix <= 9); // columns 1, 7, 8, 9, 10

  int32 next = 0;
  std::int64_t length = 0;
  if (ix == kColumn8 && room(9) && matchIdent(line, "++INCLUDE", ix, 9, loglvl) != 0) {
    next = MEMBEG_PLUSINC;
    length = 9;
  } else if (lang == kLangCOBOL && dashIncColumn && room(4) &&
             matchIdent(line, "-INC", ix, 4, loglvl) != 0) {
    next = MEMBEG_DASHINC;
    length = 4;
  } else if (lang == kLangPLI && ix == 0 && room(4) &&
             matchIdent(line, "-INC", ix, 4, loglvl) != 0) {
    next = MEMBEG_DASHINC;
    length = 4;
  } else if (lang == kLangPLI && !nocopy && ic_matchIdent(rest, "%INCLUDE", loglvl) != 0) {
    next = MEMBEG_PLIINCLUDE;
    length = 8;
  } else if (lang == kLangPLI && !nocopy && ic_matchIdent(rest, "%XINCLUDE", loglvl) != 0) {
    next = MEMBEG_PLIINCLUDE;
    length = 9;
  } else if (lang == kLangPLI && !nocopy && c == '%') {
    return tryPercentKeyword(ix + 1);
  } else if (lang == kLangCOBOL && !nocopy && ix > kColumn7 && room(4) &&
             ic_matchIdent(rest, "COPY", loglvl) != 0) {
    next = MEMBEG_COBOLCOPY;
    length = 4;
  } else if (sql && (lang == kLangPLI || ix > kColumn7) && room(4) &&
             ic_matchIdent(rest, "EXEC", loglvl) != 0) {
    next = EXEC_SQLINCLUDE;
    length = 4;
  }
  if (next == 0) return false;
  keywordIx = ix;
  moveBothBuffers(length);
  setCurrentState(next);
  return true;
}

// "%" with blanks after it: "INCLUDE" or "XINCLUDE" after the blanks is the keyword; when only
// white space follows up to the line end, the keyword may begin the next line (the "%" and the
// blanks are copied, and PERCENT_PLIINCLUDE waits for it). `from` is the index after the "%".
bool t_scanRun::tryPercentKeyword(std::int64_t from) {
  std::int64_t j = from;
  while (j < lineEnd && (charAt(j) == ' ' || charAt(j) == '\t' || charAt(j) == '\r'))
    ++j;
  std::int64_t length = 0;
  int32 next = MEMBEG_PLIINCLUDE;
  if (j >= lineEnd || charAt(j) == '\n') {
    next = PERCENT_PLIINCLUDE;
  } else if (j > from) {
    const std::string_view rest = std::string_view(buffer1).substr(static_cast<std::size_t>(j));
    if (ic_matchIdent(rest, "INCLUDE", loglvl) != 0)
      length = 7;
    else if (ic_matchIdent(rest, "XINCLUDE", loglvl) != 0)
      length = 8;
    else
      return false;
  } else {
    return false;
  }
  keywordIx = ix;
  moveBothBuffers(j + length - ix);
  setCurrentState(next);
  return true;
}

// Columns 73 and beyond of a COBOL line are its identification area and hold no part of a
// member name.
bool t_scanRun::inIdentificationArea(int c) const {
  return lang == kLangCOBOL && ix >= kCobolCodeEnd && c != '\n' && c != kPastLine;
}

// MEMBEG_DASHINC:                  -> clear the name; INMEMDASHINC
// INMEMDASHINC, no name yet:  white space                       -> copy
//                             anything else                     -> copy, append
// INMEMDASHINC, name begun:   end-of-file mark, NUL, newline,
//                             white space, ".", ";"             -> MEMEND_DASHINC
//                             anything else                     -> copy, append
// MEMEND_DASHINC:             white space, ";", ".", end-of-file
//                             mark, NUL, newline                -> DASHINC_COMPLETE
//                             anything else                     -> diagnostic 10; rest of
//                                                                  the line copied; AT_START
// DASHINC_COMPLETE:                -> complete the statement
void t_scanRun::stepDashInc() {
  const int c = charAt(ix);
  switch (currentstate) {
  case MEMBEG_DASHINC: beginName(dashincmemLen, INMEMDASHINC); break;
  case INMEMDASHINC:
    collectName(dashincmemLen, MEMEND_DASHINC, c,
                isEofMarkAt(ix) || endingChar(c) != 0 || white_space(c) != 0 || c == '.' ||
                    c == ';');
    break;
  case MEMEND_DASHINC:
    if (inIdentificationArea(c) || white_space(c) != 0 || c == ';' || c == '.' || isEofMarkAt(ix) ||
        endingChar(c) != 0)
      setCurrentState(DASHINC_COMPLETE);
    else
      stallDashInc();
    break;
  default: completeStatement(t_includeForm::dashInc); break;
  }
}

// An "-INC" keyword ended the previous line and this line starts with a character that cannot
// end its name: the statement has no terminator. The line is passed to the deck unscanned.
void t_scanRun::stallDashInc() {
  raiseDiagnostic(errmsgArray.data(), &msgcounter, kMsgTerminator, top().sourcefilenum,
                  top().sourcelinenum);
  ix = std::max(ix, numread1);
  setCurrentState(AT_START);
}

// MEMBEG_PLUSINC:                  -> clear the name; INMEMPLUSINC
// INMEMPLUSINC, no name yet:  white space                       -> copy
//                             anything else                     -> copy, append
// INMEMPLUSINC, name begun:   end-of-file mark, NUL, newline,
//                             white space, ";"                  -> MEMEND_PLUSINC
//                             anything else ("." included)      -> copy, append
// MEMEND_PLUSINC:                  -> PLUSINC_COMPLETE
// PLUSINC_COMPLETE:                -> complete the statement
void t_scanRun::stepPlusInc() {
  const int c = charAt(ix);
  switch (currentstate) {
  case MEMBEG_PLUSINC: beginName(plusincmemLen, INMEMPLUSINC); break;
  case INMEMPLUSINC:
    collectName(plusincmemLen, MEMEND_PLUSINC, c,
                isEofMarkAt(ix) || endingChar(c) != 0 || white_space(c) != 0 || c == ';');
    break;
  case MEMEND_PLUSINC:
    // Entered only on white space, ";", the end-of-file mark or a line end (or the
    // identification area, which counts as a blank).
    setCurrentState(PLUSINC_COMPLETE);
    break;
  default: completeStatement(t_includeForm::plusInclude); break;
  }
}

// PERCENT_PLIINCLUDE:            white space              -> copy
//                                "INCLUDE", "XINCLUDE"    -> copy it; MEMBEG_PLIINCLUDE
//                                anything else            -> AT_START
// MEMBEG_PLIINCLUDE:                    -> clear the name; INMEMPLIINCLUDE
// INMEMPLIINCLUDE, no name yet:  white space              -> copy
//                                anything else            -> copy, append
// INMEMPLIINCLUDE, name begun:   white space, ";", ".",
//                                "," (a list follows)     -> MEMEND_PLIINCLUDE
//                                anything else            -> copy, append (end-of-file mark too)
// MEMEND_PLIINCLUDE:                    -> PLIINCLUDE_COMPLETE
// PLIINCLUDE_COMPLETE:                  -> complete the statement
void t_scanRun::stepPliInclude() {
  const int c = charAt(ix);
  switch (currentstate) {
  case PERCENT_PLIINCLUDE: {
    if (white_space(c) != 0) {
      moveBothBuffs();
      break;
    }
    const std::string_view rest =
        ix < lineEnd ? std::string_view(buffer1).substr(static_cast<std::size_t>(ix)) : "";
    const std::int64_t length = ic_matchIdent(rest, "INCLUDE", loglvl) != 0    ? 7
                                : ic_matchIdent(rest, "XINCLUDE", loglvl) != 0 ? 8
                                                                               : 0;
    if (length == 0) {
      if (holding) releaseHeldLine();
      setCurrentState(AT_START); // no include: the character is code
      break;
    }
    keywordIx = ix;
    moveBothBuffers(length);
    setCurrentState(MEMBEG_PLIINCLUDE);
    break;
  }
  case MEMBEG_PLIINCLUDE: beginName(dashincmemLen, INMEMPLIINCLUDE); break;
  case INMEMPLIINCLUDE:
    collectName(dashincmemLen, MEMEND_PLIINCLUDE, c,
                white_space(c) != 0 || c == ';' || c == '.' || c == ',');
    break;
  case MEMEND_PLIINCLUDE: setCurrentState(PLIINCLUDE_COMPLETE); break;
  default: completeStatement(t_includeForm::pliInclude); break;
  }
}

// MEMBEG_COBOLCOPY:                    -> clear the name; INMEMCOBOLCOPY
// INMEMCOBOLCOPY, no name yet:  white space               -> copy
//                               anything else             -> copy, append
// INMEMCOBOLCOPY, name begun:   white space, "."          -> MEMEND_COBOLCOPY
//                               anything else             -> copy, append (";" and the
//                                                            end-of-file mark too)
// MEMEND_COBOLCOPY:                    -> COBOLCOPY_COMPLETE
// COBOLCOPY_COMPLETE:                  -> complete the statement
void t_scanRun::stepCobolCopy() {
  const int c = charAt(ix);
  switch (currentstate) {
  case MEMBEG_COBOLCOPY:
    // A name that is not on the keyword's line: the statement is read over its lines.
    if (copyNameOnLaterLine()) {
      setCurrentState(AT_START);
      copyStatementOverLines();
      break;
    }
    beginName(dashincmemLen, INMEMCOBOLCOPY);
    break;
  case INMEMCOBOLCOPY:
    collectName(dashincmemLen, MEMEND_COBOLCOPY, c, white_space(c) != 0 || c == '.');
    break;
  case MEMEND_COBOLCOPY: setCurrentState(COBOLCOPY_COMPLETE); break;
  default:
    // A statement that goes on past its name is read whole; "COPY name" alone as always.
    if (copyStatementGoesOn()) {
      setCurrentState(AT_START);
      copyStatementOverLines();
      break;
    }
    completeStatement(t_includeForm::cobolCopy);
    break;
  }
}

// "word" (any case) at `at`, followed by white space, ".", ";" or nothing.
bool t_scanRun::matchWordAt(std::int64_t at, const char *word) const {
  const std::int64_t n = static_cast<std::int64_t>(std::strlen(word));
  if (at + n > lineEnd) return false;
  for (std::int64_t k = 0; k < n; ++k) {
    int c = charAt(at + k);
    if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
    if (c != word[k]) return false;
  }
  const int after = charAt(at + n);
  return after == kPastLine || white_space(after) != 0 || after == '.' || after == ';' ||
         isEofMarkAt(at + n);
}

// With SQLINC(ON), "EXEC SQL INCLUDE name END-EXEC" (COBOL, a period may follow) and
// "EXEC SQL INCLUDE name;" (PL/I); the statement may span lines, which are held back until it
// is known (see holdLine). SQLCA and SQLDA stay for the precompiler.
// EXEC_SQLINCLUDE:               white space              -> copy
//                                "SQL"                    -> copy it; SQL_SQLINCLUDE
//                                anything else            -> AT_START
// SQL_SQLINCLUDE:                white space              -> copy
//                                "INCLUDE"                -> copy it; MEMBEG_SQLINCLUDE
//                                anything else            -> AT_START
// MEMBEG_SQLINCLUDE:                    -> clear the name; INMEMSQLINCLUDE
// INMEMSQLINCLUDE, no name yet:  white space              -> copy
//                                anything else            -> copy, append
// INMEMSQLINCLUDE, name begun:   white space, ";", "."    -> MEMEND_SQLINCLUDE
//                                anything else            -> copy, append
// MEMEND_SQLINCLUDE:             white space              -> copy
//                                "END-EXEC", COBOL        -> copy it (and a "." after it);
//                                                            SQLINCLUDE_COMPLETE
//                                ";", PL/I                -> SQLINCLUDE_COMPLETE
//                                anything else            -> AT_START
// SQLINCLUDE_COMPLETE:  SQLCA, SQLDA    -> copy; AT_START (the statement stays)
//                       other names     -> complete the statement
void t_scanRun::stepSqlInclude() {
  const int c = charAt(ix);
  const auto notAStatement = [this] {
    if (holding) releaseHeldLine();
    setCurrentState(AT_START); // the character at hand is code
  };
  switch (currentstate) {
  case EXEC_SQLINCLUDE:
  case SQL_SQLINCLUDE: {
    const bool exec = currentstate == EXEC_SQLINCLUDE;
    if (white_space(c) != 0) {
      moveBothBuffs();
    } else if (matchWordAt(ix, exec ? "SQL" : "INCLUDE")) {
      moveBothBuffers(exec ? 3 : 7);
      setCurrentState(exec ? SQL_SQLINCLUDE : MEMBEG_SQLINCLUDE);
    } else {
      notAStatement();
    }
    break;
  }
  case MEMBEG_SQLINCLUDE: beginName(dashincmemLen, INMEMSQLINCLUDE); break;
  case INMEMSQLINCLUDE:
    collectName(dashincmemLen, MEMEND_SQLINCLUDE, c, white_space(c) != 0 || c == ';' || c == '.');
    break;
  case MEMEND_SQLINCLUDE:
    if (white_space(c) != 0) {
      moveBothBuffs();
    } else if (lang == kLangCOBOL && matchWordAt(ix, "END-EXEC")) {
      moveBothBuffers(8);
      setCurrentState(SQLINCLUDE_COMPLETE);
    } else if (lang == kLangPLI && c == ';') {
      setCurrentState(SQLINCLUDE_COMPLETE);
    } else {
      notAStatement();
    }
    break;
  default: {
    const std::string name = strUpper(ddIncMem);
    if (name == "SQLCA" || name == "SQLDA") {
      if (charAt(ix) == '.' || charAt(ix) == ';') moveBothBuffs();
      notAStatement();
      break;
    }
    completeStatement(t_includeForm::sqlInclude);
    break;
  }
  }
}

// The MEMBEG_ step of every form: the name and its length counter start empty.
void t_scanRun::beginName(int32 &nameLen, int32 collecting) {
  ddIncMem.clear();
  nameLen = 0;
  setCurrentState(collecting);
}

// The collecting step of every form. Before the name, white space is copied and anything else
// begins the name; once begun, a character for which `endsName` holds goes to `memend` without
// being consumed, anything else joins the name. In a COBOL line's identification area a
// character is skipped before the name and ends a begun name like a blank.
void t_scanRun::collectName(int32 &nameLen, int32 memend, int c, bool endsName) {
  if (inIdentificationArea(c)) {
    if (nameLen == 0)
      moveBothBuffs();
    else
      setCurrentState(memend);
    return;
  }
  if (nameLen != 0 && endsName) {
    setCurrentState(memend);
    return;
  }
  if (nameLen != 0 || white_space(c) == 0) {
    // Positions past the stored text count but add nothing to the name.
    if (c != kPastLine) ddIncMem += static_cast<char>(c);
    ++nameLen;
  }
  moveBothBuffs();
}

std::int64_t t_scanRun::codeAreaStart() const {
  return lang == kLangPLI ? kPliCodeStart : kColumn8;
}

std::int64_t t_scanRun::codeAreaEnd() const {
  return lang == kLangCOBOL || lang == kLangPLI ? kCobolCodeEnd
                                                : std::numeric_limits<std::int64_t>::max();
}

bool t_scanRun::holdsCode(std::string_view line, bool eofMark, std::int64_t from,
                          std::int64_t to) const {
  const auto len = static_cast<std::int64_t>(line.size());
  const std::int64_t end = std::min(to, len);
  for (std::int64_t i = std::max<std::int64_t>(from, 0); i < end; ++i) {
    if (eofMark && i == len - 1) continue;
    if (isCodeByte(static_cast<unsigned char>(line[static_cast<std::size_t>(i)]))) return true;
  }
  return false;
}

// Where scanning of the statement's line resumes when its member ends, or -1 when nothing of
// the line is left to scan. The "-INC" and "++INCLUDE" forms take the rest of their line as a
// comment; "COPY" runs to its ".", "%INCLUDE" to its ";".
std::int64_t t_scanRun::resumeIndexAfter(t_includeForm form) const {
  if (form == t_includeForm::dashInc || form == t_includeForm::plusInclude) return -1;
  if (form == t_includeForm::sqlInclude)
    return holdsCode(buffer1, lineEofMark, std::max(ix, codeAreaStart()), codeAreaEnd()) ? ix : -1;
  const char terminator = form == t_includeForm::cobolCopy ? '.' : ';';
  std::int64_t from = ix;
  if (!(from > 0 && charAt(from - 1) == terminator)) {
    if (from >= lineEnd) return -1;
    const std::size_t at = buffer1.find(terminator, static_cast<std::size_t>(from));
    if (at == std::string::npos) return -1;
    from = static_cast<std::int64_t>(at) + 1;
  }
  return holdsCode(buffer1, lineEofMark, std::max(from, codeAreaStart()), codeAreaEnd()) ? from
                                                                                         : -1;
}

// In "%INCLUDE A, B;", where the next member name of the list is looked for once a name has
// ended and its terminator is consumed: past the comma that ends the name or follows it after
// blanks. -1 when no comma follows on the line.
std::int64_t t_scanRun::nextListName() const {
  if (ix == 0) return -1;
  const int ended = charAt(ix - 1);
  if (ended == ',') return ix;
  if (ended != ' ' && ended != '\t' && ended != '\r') return -1;
  std::int64_t j = ix;
  while (j < lineEnd && (charAt(j) == ' ' || charAt(j) == '\t' || charAt(j) == '\r'))
    ++j;
  return charAt(j) == ',' ? j + 1 : -1;
}

namespace {

// "ddname(member)": the member stands in the parentheses and is looked for in the library
// concatenation named ddname (SYSLIB for "SYSLIB" in any case). Any other name, quoted names
// included, is a member name of SYSLIB as it stands.
t_libraryRef libraryOfName(std::string_view name, std::string_view &member) {
  member = name;
  const std::size_t open = name.find('(');
  if (open == 0 || open == std::string_view::npos || name.size() < open + 3 || name.back() != ')')
    return {};
  const std::string_view dd = name.substr(0, open);
  const std::string_view inner = name.substr(open + 1, name.size() - open - 2);
  if (dd.find_first_of("'\")") != std::string_view::npos ||
      inner.find_first_of("()") != std::string_view::npos)
    return {};
  member = inner;
  if (strUpper(dd) == "SYSLIB") return {};
  return t_libraryRef{dd, false};
}

} // namespace

void t_scanRun::completeStatement(t_includeForm form) {
  static constexpr const char *kCompletedText[] = {
      "Completed the -inc processing ", "Completed the ++INCLUDE processing ",
      "Completed the %include processing ", "Completed the COPY processing ",
      "Completed the SQL INCLUDE processing "};
  if (loglvl > 0) std::printf("%s %s", kCompletedText[static_cast<int>(form)], " ");
  setCurrentState(AT_START);

  // The character that ended the statement belongs to it; "-INC" and "++INCLUDE" leave a line
  // end for the code state.
  const int c = charAt(ix);
  const bool nameOnlyForm = form == t_includeForm::dashInc || form == t_includeForm::plusInclude;
  if (!(nameOnlyForm && endingChar(c) != 0)) moveBothBuffs();

  keepLineInStore();
  t_sourceInputNode &including = top();
  including.savbuffer1.assign(buffer1);
  including.buffix =
      static_cast<int32>(std::min<std::int64_t>(ix, std::numeric_limits<int32>::max()));
  including.savEofMark = lineEofMark;
  if (form == t_includeForm::cobolCopy) trimQuotes(ddIncMem);
  std::string_view member = ddIncMem;
  t_libraryRef library;
  std::int64_t listNext = -1;
  if (form == t_includeForm::pliInclude) {
    library = libraryOfName(ddIncMem, member);
    listNext = nextListName();
  }

  const int32 parentIndex = sourceStackCounter;
  const int32 rc_openinc =
      includeFileOpener(library, member, &sourceStackCounter, &msgcounter, &resourcectr,
                        &maxresourcectr, sources, opt, errmsgArray.data(), resArray, &comm,
                        loglvl == 0 ? &memberCache : nullptr, &result.failure, loglvl);
  if (result.failure != t_runFailure::none) {
    result.failureDetail = ddIncMem;
    needAnotherLine = true;
    return;
  }
  if (rc_openinc == 0) {
    if (holding) releaseHeldLine();
    // The statement stays in the deck; the scan goes on after it, with the list's next name.
    if (listNext >= 0) {
      ix = listNext;
      keywordIx = ix; // text up to here is kept when a later name of the list is expanded
      setCurrentState(MEMBEG_PLIINCLUDE);
    }
    return;
  }

  t_sourceInputNode &parent = sources[static_cast<std::size_t>(parentIndex)];
  parent.resumeix = listNext >= 0 ? listNext : resumeIndexAfter(form);
  parent.resumeState = listNext >= 0 ? MEMBEG_PLIINCLUDE : AT_START;
  // The line of the statement's "%": dropped too, code before the "%" kept.
  heldInStatement = holding;
  if (holding) {
    holding = false;
    const t_heldDeckLine &first = heldDeck.front();
    if (heldKeywordIx > 0 && holdsCode(first.text, false, codeAreaStart(), heldKeywordIx))
      appendDeckLine(
          std::string_view(first.text).substr(0, static_cast<std::size_t>(heldKeywordIx)), "\n",
          first.inLine, first.inFile);
  }
  // Code that stands before the keyword on this line is kept as a deck line of its own.
  const std::string_view line(buffer1);
  if (keywordIx > 0 && holdsCode(line, lineEofMark, codeAreaStart(), keywordIx))
    writeDeckLine(line.substr(0, static_cast<std::size_t>(keywordIx)), "\n");

  ix = 0;
  setCurrentState(AT_START);
  needAnotherLine = true;
  outCleared = true;
  if (loglvl > 0) std::printf("%s \n", "Write Commented Include");
  // The rest of a list was commented with the statement's first member.
  if (opt.optCMT == 1 && !lineIsListRest) writeCommentedInclude();
  if (loglvl > 0) std::printf("%s \n", "Done writing Commented Include ");
  // Inside a member being replaced, this member's text is replaced too.
  if (replacersOpen > 0) attachReplacer(t_copyStatement{});
  beginMember();
}

// The line is kept in the scan's own store from here: a member about to be opened, or lines
// read ahead, must not share a read buffer with it.
void t_scanRun::keepLineInStore() {
  if (buffer1.data() != lineStore.data()) {
    lineStore.assign(buffer1);
    buffer1 = lineStore;
  }
}

// The include statement's line written again as a comment, before the member's lines. These
// lines get no statement rows of their own: the rows they pass over stay zero.
void t_scanRun::writeCommentedInclude() {
  if (lang == kLangCOBOL) {
    // Each line of the statement (those held back before its last one first) as a comment line.
    if (heldInStatement)
      for (const t_heldDeckLine &h : heldDeck)
        writeZeroRowLine(commentedCobolLine(h.text, false));
    writeZeroRowLine(commentedCobolLine(buffer1, lineEofMark));
    writeZeroRowLine({});
  } else if (lang == kLangPLI) {
    std::string line(buffer1);
    if (lineEofMark && !line.empty()) line.back() = '\n'; // commented lines are whole lines
    // The statement's lines (the line of its "%" first, when that ended the line before).
    std::string lines;
    if (heldInStatement)
      for (const t_heldDeckLine &h : heldDeck)
        lines += h.text;
    line.insert(0, lines);
    // The copy is one comment: a "*/" of the statement's own text would close it early.
    for (std::size_t at = line.find("*/"); at != std::string::npos; at = line.find("*/", at))
      line.insert(at + 1, 1, ' ');
    writeDeckText(" /*\n");
    writeDeckText(line);
    writeDeckText(" */\n");
    writeDeckText("\n");
    skipStmtRows(4 + (heldInStatement ? static_cast<int32>(heldDeck.size()) : 0));
  }
  heldInStatement = false;
}

// A COBOL line (with its line end) made a comment line, without its line end: "*" in column 7,
// or the whole line moved seven columns right when "-INC" stands in columns 1 to 7 or the line
// is too short for an indicator area.
std::string t_scanRun::commentedCobolLine(std::string_view line, bool eofMark) {
  std::size_t textLen = line.size();
  if (textLen > 0 && (eofMark || line.back() == '\n')) --textLen;
  const std::string_view text = line.substr(0, textLen);
  const std::int64_t incidx = findStr("-INC", strUpper(line));
  std::string commented;
  if ((incidx >= 0 && incidx <= kColumn7) || textLen < 7) {
    commented.assign("      *").append(text);
  } else {
    commented.assign(text);
    commented[static_cast<std::size_t>(kColumn7)] = '*';
  }
  return commented;
}

} // namespace incprep
