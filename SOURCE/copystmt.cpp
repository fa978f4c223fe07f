// The COBOL COPY statement: its parser over fixed-form lines and the REPLACING engine that
// rewrites a member's text-words and lays changed lines out again in fixed form.
#include "copystmt.h"

#include <algorithm>
#include <utility>

namespace incprep {
namespace {

constexpr std::size_t kIndicator = 6;      // column 7
constexpr std::size_t kTextBegin = 7;      // column 8
constexpr std::size_t kTextEnd = 72;       // just past column 72
constexpr std::size_t kContinuedText = 11; // column 12, where a broken line goes on

enum : std::uint8_t { kKept = 0, kReplacedHere = 1, kRemoved = 2, kPartial = 3 };

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}
// Comma and semicolon are separators like the space: they never begin or end a text-word.
bool isSeparator(char c) {
  return isSpace(c) || c == ',' || c == ';';
}
bool isQuote(char c) {
  return c == '"' || c == '\'';
}
char upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

std::size_t textEnd(std::string_view line) {
  return std::min(line.size(), kTextEnd);
}

// Column 7 is COBOL's indicator area: "*" or "/" there makes the line a comment; a debugging
// line ("D") is a comment too while debugging lines are off, as the compiler has them by default.
bool isCommentLine(std::string_view line) {
  if (line.size() <= kIndicator) return true;
  const char c = line[kIndicator];
  if (c == '*' || c == '/' || c == 'D' || c == 'd') return true;
  const std::size_t e = textEnd(line);
  for (std::size_t i = kTextBegin; i < e; ++i)
    if (!isSpace(line[i])) return false;
  return true; // a blank line: no text-words either
}

bool isContinuationLine(std::string_view line) {
  return line.size() > kIndicator && line[kIndicator] == '-';
}

// A period is a separator when a separator, the end of the text or a pseudo-text delimiter
// follows it ("==A.==" holds the word A and a period, as "A." in the text does).
bool endsWord(std::string_view line, std::size_t next, std::size_t e) {
  return next >= e || isSeparator(line[next]) ||
         (line[next] == '=' && next + 1 < e && line[next + 1] == '=');
}

// A letter prefix that makes the literal after it one text-word: X"41", N'..', Z'..' and kin.
bool isLiteralPrefix(std::string_view w) {
  if (w.size() == 1) {
    const char c = upper(w[0]);
    return c == 'X' || c == 'N' || c == 'Z' || c == 'B' || c == 'G' || c == 'H' || c == 'L' ||
           c == 'U';
  }
  return w.size() == 2 && equalNoCase(w, "NX");
}

// Scans a literal's body from `p` (just past an opening or resuming quote) for the closing
// quote `q`; a doubled quote stands for one. Returns the index just past the closing quote, or
// `e` when the literal goes on past the line's text.
std::size_t scanLiteral(std::string_view line, std::size_t p, std::size_t e, char q, bool &closed) {
  while (p < e) {
    if (line[p] == q) {
      if (p + 1 < e && line[p + 1] == q) {
        p += 2;
        continue;
      }
      closed = true;
      return p + 1;
    }
    ++p;
  }
  closed = false;
  return e;
}

// The literal's text as far as this line holds it: through column 72, blanks included.
void startJoined(t_sourceToken &t, std::string_view line, std::size_t e) {
  t.joined.assign(line.substr(t.begin, e - t.begin));
  if (e < kTextEnd) t.joined.append(kTextEnd - e, ' ');
}

/// Lexes the text of `line` from `from` into `out`. `open` is a literal left open by an earlier
/// line (nullptr for none), `distance` the lines from its own to this one: a continuation line
/// that resumes it with its quote extends it. Returns the index just past the continued part
/// (0 when the line continues nothing).
std::uint32_t lexLine(std::string_view line, std::size_t from, t_sourceToken *open,
                      std::uint32_t distance, std::vector<t_sourceToken> &out) {
  const std::size_t e = textEnd(line);
  std::size_t p = std::max(from, kTextBegin);
  std::uint32_t contEnd = 0;
  if (open != nullptr) {
    open->open = false; // closed here unless this line resumes it
    if (isContinuationLine(line)) {
      std::size_t q = kTextBegin;
      while (q < e && isSpace(line[q]))
        ++q;
      const std::size_t quoteAt = open->joined.find_first_of("\"'");
      if (q < e && quoteAt != std::string::npos && line[q] == open->joined[quoteAt]) {
        bool closed = false;
        const std::size_t stop = scanLiteral(line, q + 1, e, line[q], closed);
        open->joined.append(line.substr(q + 1, stop - q - 1));
        if (!closed && stop < kTextEnd) open->joined.append(kTextEnd - stop, ' ');
        open->open = !closed;
        open->endLine = distance;
        open->end = static_cast<std::uint32_t>(stop);
        contEnd = static_cast<std::uint32_t>(stop);
        p = stop;
      }
    }
  }
  std::size_t prevEnd = std::string_view::npos;
  while (p < e) {
    const char c = line[p];
    if (isSeparator(c)) {
      ++p;
      continue;
    }
    if (c == '*' && p + 1 < e && line[p + 1] == '>') break; // a comment to the line's end
    t_sourceToken t;
    t.begin = static_cast<std::uint32_t>(p);
    t.glued = prevEnd == p;
    std::size_t q = p;
    if (isQuote(c)) {
      bool closed = false;
      q = scanLiteral(line, p + 1, e, c, closed);
      t.kind = t_sourceToken::literal;
      t.open = !closed;
    } else if (c == '=' && p + 1 < e && line[p + 1] == '=') {
      q = p + 2;
      t.kind = t_sourceToken::pseudo;
    } else if (c == '(' || c == ')' || c == ':') {
      q = p + 1;
    } else if (c == '.' && endsWord(line, p + 1, e)) {
      q = p + 1;
      t.kind = t_sourceToken::period;
    } else {
      while (q < e) {
        const char d = line[q];
        if (isSeparator(d) || isQuote(d) || d == '(' || d == ')' || d == ':') break;
        if (d == '.' && endsWord(line, q + 1, e)) break;
        if (d == '=' && q + 1 < e && line[q + 1] == '=') break;
        if (d == '*' && q + 1 < e && line[q + 1] == '>') break;
        ++q;
      }
      if (q < e && isQuote(line[q]) && isLiteralPrefix(line.substr(p, q - p))) {
        bool closed = false;
        q = scanLiteral(line, q + 1, e, line[q], closed);
        t.kind = t_sourceToken::literal;
        t.open = !closed;
      }
    }
    t.end = static_cast<std::uint32_t>(q);
    if (t.open) startJoined(t, line, e);
    out.push_back(std::move(t));
    prevEnd = q;
    p = q;
  }
  return contEnd;
}

std::string_view tokenText(std::string_view line, const t_sourceToken &t) {
  if (!t.joined.empty()) return t.joined;
  return line.substr(t.begin, t.end - t.begin);
}

bool isKeyword(const t_sourceToken &t, std::string_view line, std::string_view kw) {
  return t.kind == t_sourceToken::word && equalNoCase(tokenText(line, t), kw);
}

// Removes one pair of enclosing quotes (of the same kind) from a literal name.
std::string unquoted(std::string_view text) {
  if (text.size() >= 2 && isQuote(text.front()) && text.back() == text.front())
    return std::string(text.substr(1, text.size() - 2));
  return std::string(text);
}

} // namespace

// -----------------------------------------------------------------------------------------------
// The statement parser
// -----------------------------------------------------------------------------------------------

t_stmtStatus t_copyStatementParser::begin(std::string_view line, std::size_t from) {
  lines_.clear();
  toks_.clear();
  stmt_ = t_copyStatement{};
  why_.clear();
  status_ = t_stmtStatus::needMore;
  waitingForPseudoEnd_ = false;
  return feed(line, from);
}

t_stmtStatus t_copyStatementParser::next(std::string_view line) {
  if (status_ != t_stmtStatus::needMore) return status_;
  return feed(line, kTextBegin);
}

t_stmtStatus t_copyStatementParser::end() {
  if (status_ != t_stmtStatus::needMore) return status_;
  status_ = parse(true);
  return status_;
}

t_stmtStatus t_copyStatementParser::feed(std::string_view line, std::size_t from) {
  const auto lineNo = static_cast<std::uint32_t>(lines_.size());
  lines_.emplace_back(line);
  if (isCommentLine(line)) return status_;
  t_sourceToken *open = nullptr;
  std::uint32_t distance = 0;
  if (!toks_.empty() && toks_.back().tok.open) {
    open = &toks_.back().tok;
    distance = lineNo - toks_.back().line;
  }
  const bool wasOpen = open != nullptr;
  std::vector<t_sourceToken> fresh;
  (void)lexLine(lines_.back(), from, open, distance, fresh);
  // Inside pseudo-text only its closing delimiter can change the outcome.
  if (waitingForPseudoEnd_ && !wasOpen &&
      std::none_of(fresh.begin(), fresh.end(),
                   [](const t_sourceToken &t) { return t.kind == t_sourceToken::pseudo; }) &&
      (fresh.empty() || !fresh.back().open)) {
    for (auto &t : fresh)
      toks_.push_back(t_tok{std::move(t), lineNo});
    return status_;
  }
  for (auto &t : fresh)
    toks_.push_back(t_tok{std::move(t), lineNo});
  status_ = parse(false);
  return status_;
}

t_stmtStatus t_copyStatementParser::parse(bool atEnd) {
  stmt_ = t_copyStatement{};
  why_.clear();
  waitingForPseudoEnd_ = false;
  const std::size_t n = toks_.size();
  auto have = [&](std::size_t k) { return k < n && (atEnd || !toks_[k].tok.open); };
  auto tok = [&](std::size_t k) -> const t_sourceToken & { return toks_[k].tok; };
  auto text = [&](std::size_t k) { return tokenText(lines_[toks_[k].line], toks_[k].tok); };
  auto kw = [&](std::size_t k, std::string_view w) {
    return isKeyword(toks_[k].tok, lines_[toks_[k].line], w);
  };
  auto bad = [&](const char *why) {
    why_ = why;
    return t_stmtStatus::bad;
  };
  auto endAfter = [&](std::size_t k) {
    stmt_.endLine = toks_[k].line + tok(k).endLine;
    stmt_.endIndex = tok(k).end;
    return t_stmtStatus::complete;
  };
  // Out of tokens where the statement may end: it ends after token `last`.
  auto stopAt = [&](std::size_t last) { return atEnd ? endAfter(last) : t_stmtStatus::needMore; };
  // Out of tokens where it may not.
  auto missing = [&](const char *why) { return atEnd ? bad(why) : t_stmtStatus::needMore; };
  auto isName = [&](std::size_t k) {
    return tok(k).kind == t_sourceToken::literal ||
           (tok(k).kind == t_sourceToken::word && text(k) != "(" && text(k) != ")" &&
            text(k) != ":");
  };
  auto word = [&](std::size_t k) {
    return t_textWord{std::string(text(k)), tok(k).kind == t_sourceToken::literal, tok(k).glued};
  };

  std::size_t i = 0;
  if (!have(i)) return missing("source ended inside the statement");
  if (!isName(i)) return bad("no text-name");
  stmt_.name = tok(i).kind == t_sourceToken::literal ? unquoted(text(i)) : std::string(text(i));
  std::size_t last = i++;
  if (!have(i)) return stopAt(last);
  if (kw(i, "OF") || kw(i, "IN")) {
    if (!have(++i)) return missing("source ended inside the statement");
    if (!isName(i)) return bad("no library-name");
    stmt_.libraryLiteral = tok(i).kind == t_sourceToken::literal;
    stmt_.library = stmt_.libraryLiteral ? unquoted(text(i)) : std::string(text(i));
    last = i++;
    if (!have(i)) return stopAt(last);
  }
  if (kw(i, "SUPPRESS")) {
    stmt_.suppress = true;
    last = i++;
    if (!have(i)) return stopAt(last);
    if (kw(i, "PRINTING")) {
      last = i++;
      if (!have(i)) return stopAt(last);
    }
  }
  if (!kw(i, "REPLACING"))
    return tok(i).kind == t_sourceToken::period ? endAfter(i) : endAfter(last);
  stmt_.hasReplacing = true;
  ++i;

  auto isParen = [&](std::size_t k) {
    return tok(k).kind == t_sourceToken::word && (text(k) == "(" || text(k) == ")");
  };
  // A word with the words written right after it, such as ":TAG:-REC": one name to the reader.
  auto takeRun = [&](std::vector<t_textWord> &words) {
    do {
      words.push_back(word(i));
      last = i++;
    } while (i < n && tok(i).glued && tok(i).kind == t_sourceToken::word && !isParen(i));
  };
  // One operand: pseudo-text, a literal, or a word with its qualifiers, subscripts and
  // reference modification. Fills `words`; `i` moves past it.
  auto operand = [&](std::vector<t_textWord> &words, bool isFrom) -> t_stmtStatus {
    if (!have(i)) return missing("source ended inside the statement");
    if (tok(i).kind == t_sourceToken::pseudo) {
      for (++i;; ++i) {
        if (!have(i)) {
          waitingForPseudoEnd_ = true;
          return missing("unterminated pseudo-text");
        }
        if (tok(i).kind == t_sourceToken::pseudo) break;
        words.push_back(word(i));
      }
      last = i++;
      if (isFrom && words.empty()) return bad("empty operand-1");
      return t_stmtStatus::complete;
    }
    if (tok(i).kind == t_sourceToken::literal) {
      words.push_back(word(i));
      last = i++;
      return t_stmtStatus::complete;
    }
    if (tok(i).kind != t_sourceToken::word || isParen(i) || kw(i, "BY"))
      return bad(isFrom ? "empty operand-1" : "no operand after BY");
    takeRun(words);
    for (;;) {
      if (!have(i)) return atEnd ? t_stmtStatus::complete : t_stmtStatus::needMore;
      if (kw(i, "OF") || kw(i, "IN")) {
        if (!have(i + 1)) return missing("source ended inside the statement");
        if (tok(i + 1).kind != t_sourceToken::word || isParen(i + 1)) return t_stmtStatus::complete;
        words.push_back(word(i++));
        takeRun(words);
      } else if (text(i) == "(" && tok(i).kind == t_sourceToken::word) {
        int depth = 0;
        do {
          if (!have(i)) return missing("source ended inside the statement");
          if (tok(i).kind == t_sourceToken::period) return bad("unbalanced parentheses");
          if (tok(i).kind == t_sourceToken::word && text(i) == "(") ++depth;
          if (tok(i).kind == t_sourceToken::word && text(i) == ")") --depth;
          words.push_back(word(i));
          last = i++;
        } while (depth > 0);
      } else {
        return t_stmtStatus::complete;
      }
    }
  };

  for (;;) {
    if (!have(i)) return stmt_.pairs.empty() ? missing("REPLACING without BY") : stopAt(last);
    if (!stmt_.pairs.empty() && tok(i).kind == t_sourceToken::period) return endAfter(i);
    t_replacingPair pair;
    if (kw(i, "LEADING") || kw(i, "TRAILING")) {
      pair.mode = kw(i, "LEADING") ? t_replaceMode::leading : t_replaceMode::trailing;
      if (!have(++i)) return missing("source ended inside the statement");
      if (tok(i).kind != t_sourceToken::pseudo)
        return bad("LEADING or TRAILING without pseudo-text");
    }
    if (tok(i).kind == t_sourceToken::period && stmt_.pairs.empty())
      return bad("REPLACING without BY");
    t_stmtStatus s = operand(pair.from, true);
    if (s != t_stmtStatus::complete) return s;
    if (pair.mode != t_replaceMode::whole && (pair.from.size() != 1 || pair.from[0].literal))
      return bad("LEADING or TRAILING operand is not one word");
    if (!have(i)) return missing("REPLACING without BY");
    if (!kw(i, "BY")) return bad("REPLACING without BY");
    ++i;
    if (pair.mode != t_replaceMode::whole && have(i) && tok(i).kind != t_sourceToken::pseudo)
      return bad("LEADING or TRAILING without pseudo-text");
    s = operand(pair.by, false);
    if (s != t_stmtStatus::complete) return s;
    stmt_.pairs.push_back(std::move(pair));
  }
}

// -----------------------------------------------------------------------------------------------
// The replacer
// -----------------------------------------------------------------------------------------------

t_replacer::t_replacer(const t_copyStatement &statement, t_emit emit)
    : pairs_(statement.pairs), emit_(std::move(emit)) {
  indexPairs();
}

t_replacer::t_replacer(const t_copyStatement &statement, const t_replacer &enclosing)
    : pairs_(statement.pairs), emit_(enclosing.emit_) {
  pairs_.insert(pairs_.end(), enclosing.pairs_.begin(), enclosing.pairs_.end());
  indexPairs();
}

// What lets most lines and text-words pass without trying any pair: the bytes a match can begin
// (or, for TRAILING, end) with, and each pair's first word as a key to look for in a line.
void t_replacer::indexPairs() {
  auto mark = [](bool *table, char c) {
    table[static_cast<unsigned char>(c)] = true;
    table[static_cast<unsigned char>(upper(c))] = true;
    if (c >= 'A' && c <= 'Z') table[static_cast<unsigned char>(c - 'A' + 'a')] = true;
  };
  for (const t_replacingPair &p : pairs_) {
    // A partial word's replacement: operand-2's words as they were written.
    std::string by;
    if (p.mode != t_replaceMode::whole)
      for (const t_textWord &b : p.by) {
        if (!by.empty() && !b.glued) by += ' ';
        by += b.text;
      }
    partialBy_.push_back(std::move(by));
    const std::string &w = p.from.front().text;
    if (w.empty()) continue;
    for (const t_textWord &f : p.from)
      literalOperands_ = literalOperands_ || f.literal;
    std::string key;
    for (char c : w)
      key.push_back(upper(c));
    if (std::find(keys_.begin(), keys_.end(), key) == keys_.end()) keys_.push_back(key);
    mark(keyStart_, w.front());
    if (p.mode == t_replaceMode::trailing) {
      mark(lastChar_, w.back());
      anyTrailing_ = true;
    } else {
      mark(firstChar_, w.front());
    }
  }
}

void t_replacer::line(std::string_view text, t_lineOrigin origin) {
  if (count_ == 0 && surelyUntouched(text)) {
    if (!isCommentLine(text)) lastRelaid_ = false;
    emit_(text, origin);
    return;
  }
  if (count_ == held_.size()) held_.emplace_back();
  t_held &h = held_[count_];
  h.text.assign(text);
  h.origin = origin;
  h.toks.clear();
  h.contEnd = 0;
  h.changed = false;
  h.comment = isCommentLine(h.text);
  if (!h.comment) {
    t_sourceToken *open = openLiteral();
    std::uint32_t distance = 0;
    if (open != nullptr) {
      for (std::size_t k = count_; k-- > first_;)
        if (!held_[k].toks.empty()) {
          distance = static_cast<std::uint32_t>(count_ - k);
          break;
        }
    }
    h.contEnd = lexLine(h.text, kTextBegin, open, distance, h.toks);
  }
  ++count_;
  advance(false);
  emitDecided(false);
}

void t_replacer::finish() {
  advance(true);
  emitDecided(true);
}

// True when no match can begin in `text` and nothing before it is pending: no pair's first
// text-word (or partial word) appears in its text, and no literal that a pair could match is
// continued from or into it. Most member lines are passed on after this look alone.
bool t_replacer::surelyUntouched(std::string_view text) const {
  if (isCommentLine(text)) return true;
  if (isContinuationLine(text)) return false;
  const std::string_view area = text.substr(kTextBegin, textEnd(text) - kTextBegin);
  if (literalOperands_ && area.find_first_of("\"'") != std::string_view::npos) return false;
  for (std::size_t p = 0; p < area.size(); ++p) {
    if (!keyStart_[static_cast<unsigned char>(area[p])]) continue;
    const char first = upper(area[p]);
    for (const std::string &key : keys_) {
      if (key.front() != first || p + key.size() > area.size()) continue;
      std::size_t k = 1;
      while (k < key.size() && upper(area[p + k]) == key[k])
        ++k;
      if (k == key.size()) return false;
    }
  }
  return true;
}

// The literal left open at the end of the held text, if any: a continuation line may resume it.
t_sourceToken *t_replacer::openLiteral() {
  for (std::size_t k = count_; k-- > first_;) {
    if (held_[k].comment) continue;
    if (!held_[k].toks.empty()) return held_[k].toks.back().open ? &held_[k].toks.back() : nullptr;
    if (held_[k].contEnd == 0) return nullptr;
  }
  return nullptr;
}

void t_replacer::normalise(t_pos &p) const {
  while (p.line < count_ && p.tok >= held_[p.line].toks.size()) {
    ++p.line;
    p.tok = 0;
  }
}

// 1 when pair `pair` matches at `at` (then `after` is the position past the match), 0 when it
// does not, -1 when the lines held so far cannot tell.
int t_replacer::matchAt(std::size_t pair, t_pos at, bool final, t_pos &after) const {
  const t_replacingPair &rp = pairs_[pair];
  if (rp.mode != t_replaceMode::whole) {
    const t_held &h = held_[at.line];
    const t_sourceToken &t = h.toks[at.tok];
    if (t.open && !final) return -1;
    if (t.kind != t_sourceToken::word) return 0;
    const std::string_view text = tokenText(h.text, t);
    const std::string_view w = rp.from.front().text;
    if (text.size() < w.size()) return 0;
    const std::string_view part = rp.mode == t_replaceMode::leading
                                      ? text.substr(0, w.size())
                                      : text.substr(text.size() - w.size());
    if (!equalNoCase(part, w)) return 0;
    after = at;
    ++after.tok;
    return 1;
  }
  t_pos p = at;
  for (const t_textWord &w : rp.from) {
    normalise(p);
    if (p.line >= count_) return final ? 0 : -1;
    const t_held &h = held_[p.line];
    const t_sourceToken &t = h.toks[p.tok];
    if (t.open && !final) return -1;
    if ((t.kind == t_sourceToken::literal) != w.literal) return 0;
    const std::string_view text = tokenText(h.text, t);
    // Literals compare byte for byte; words without regard to case.
    if (w.literal ? text != w.text : !equalNoCase(text, w.text)) return 0;
    ++p.tok;
  }
  after = p;
  return 1;
}

void t_replacer::advance(bool final) {
  for (;;) {
    normalise(cursor_);
    if (cursor_.line >= count_) return;
    t_held &h = held_[cursor_.line];
    const t_sourceToken &t = h.toks[cursor_.tok];
    const std::string_view text = tokenText(h.text, t);
    const bool candidate =
        !text.empty() && (firstChar_[static_cast<unsigned char>(text.front())] ||
                          (anyTrailing_ && lastChar_[static_cast<unsigned char>(text.back())]));
    bool matched = false;
    if (candidate) {
      t_pos after;
      for (std::size_t k = 0; k < pairs_.size() && !matched; ++k) {
        const int r = matchAt(k, cursor_, final, after);
        if (r < 0) return;
        if (r == 0) continue;
        apply(k, after);
        matched = true;
      }
    }
    if (!matched) ++cursor_.tok;
  }
}

// Pair `k` matched from the cursor to `after`: its first text-word takes the replacement, the
// others are removed, and the cursor moves past them (replaced text is not examined again).
void t_replacer::apply(std::size_t k, t_pos after) {
  t_held &h = held_[cursor_.line];
  t_sourceToken &first = h.toks[cursor_.tok];
  first.pairIndex = static_cast<std::uint16_t>(k);
  h.changed = true;
  const t_replacingPair &rp = pairs_[k];
  if (rp.mode != t_replaceMode::whole) {
    const std::string &by = partialBy_[k];
    const std::size_t cut = rp.from.front().text.size();
    const std::string_view whole = tokenText(h.text, first);
    if (rp.mode == t_replaceMode::leading)
      first.newText.assign(by).append(whole.substr(cut));
    else
      first.newText.assign(whole.substr(0, whole.size() - cut)).append(by);
    first.status = kPartial;
  } else {
    first.status = kReplacedHere;
    t_pos p = cursor_;
    ++p.tok;
    for (;;) {
      normalise(p);
      if (p.line > after.line || (p.line == after.line && p.tok >= after.tok)) break;
      held_[p.line].toks[p.tok].status = kRemoved;
      held_[p.line].changed = true;
      ++p.tok;
    }
  }
  cursor_ = after;
}

void t_replacer::emitDecided(bool final) {
  normalise(cursor_);
  while (first_ < count_ && (final || first_ < cursor_.line)) {
    t_held &h = held_[first_];
    if (h.comment) {
      emit_(h.text, h.origin);
    } else if (!h.changed && !(lastRelaid_ && h.contEnd > 0)) {
      emit_(h.text, h.origin);
      lastRelaid_ = false;
    } else {
      layOut(h, lastRelaid_);
      lastRelaid_ = true;
    }
    ++first_;
  }
  if (first_ == count_) {
    first_ = count_ = 0;
    cursor_ = t_pos{};
  }
}

namespace {

using t_item = t_replacer::t_item;

// Builds the deck lines of one changed member line.
class t_layout {
public:
  t_layout(std::string &deck, std::string_view line, bool blankIndicator, t_lineOrigin origin,
           const t_replacer::t_emit &emit)
      : deck_(deck), line_(line), origin_(origin), emit_(emit) {
    deck_.assign(line.substr(0, std::min(line.size(), kTextBegin)));
    deck_.resize(kTextBegin, ' ');
    if (blankIndicator) deck_[kIndicator] = ' ';
  }

  void place(const std::vector<t_item> &items) {
    std::size_t i = 0;
    while (i < items.size()) {
      std::size_t j = i + 1;
      std::size_t len = items[i].text.size();
      while (j < items.size() && items[j].gap.empty())
        len += items[j++].text.size();
      const std::size_t gap = fresh_ ? 0 : items[i].gap.size();
      if (deck_.size() + gap + len <= kTextEnd) {
        for (std::size_t k = i; k < j; ++k)
          put(k == i ? items[k].gap : std::string_view{}, items[k].text);
      } else if (!fresh_ && kContinuedText + len <= kTextEnd) {
        breakLine();
        for (std::size_t k = i; k < j; ++k)
          put({}, items[k].text);
      } else {
        for (std::size_t k = i; k < j; ++k)
          placeOne(k == i ? items[k].gap : std::string_view{}, items[k]);
      }
      i = j;
    }
  }

  void finish() {
    if (!extra_ && line_.size() > kTextEnd) {
      deck_.resize(kTextEnd, ' ');
      deck_.append(line_.substr(kTextEnd));
    }
    emit_(deck_, origin_);
  }

private:
  void put(std::string_view gap, std::string_view text) {
    if (!fresh_) deck_.append(gap);
    deck_.append(text);
    fresh_ = false;
  }

  // One text-word that does not fit with its neighbours: on a line of its own from column 12
  // if it fits there, else (a literal) continued over as many lines as it needs.
  void placeOne(std::string_view gap, const t_item &item) {
    const std::size_t g = fresh_ ? 0 : gap.size();
    if (deck_.size() + g + item.text.size() <= kTextEnd) {
      put(gap, item.text);
      return;
    }
    if (!fresh_) breakLine();
    if (item.comment) {
      // A comment too long for a line goes on as a comment on the next.
      spill(item.text, [this] { deck_.append("*>"); });
      return;
    }
    if (deck_.size() + item.text.size() <= kTextEnd || !item.literal) {
      put({}, item.text);
      return;
    }
    // A literal goes on over continuation lines: "-" in column 7, its quote again.
    std::size_t q = item.text.find_first_of("\"'");
    if (q == std::string_view::npos) q = 0;
    const char quote = item.text[q];
    spill(item.text, [this, quote] {
      deck_[kIndicator] = '-';
      deck_.push_back(quote);
    });
  }

  // Appends `text`, breaking the line at column 72 as often as it needs; `goOn` starts each
  // new line's text.
  template <typename t_goOn> void spill(std::string_view text, t_goOn goOn) {
    while (deck_.size() + text.size() > kTextEnd) {
      const std::size_t room = kTextEnd - deck_.size();
      deck_.append(text.substr(0, room));
      text.remove_prefix(room);
      breakLine();
      goOn();
    }
    deck_.append(text);
    fresh_ = false;
  }

  void breakLine() {
    finish();
    extra_ = true;
    deck_.assign(line_.substr(0, std::min(line_.size(), kIndicator)));
    deck_.resize(kContinuedText, ' ');
    fresh_ = true;
  }

  std::string &deck_;
  std::string_view line_;
  t_lineOrigin origin_;
  const t_replacer::t_emit &emit_;
  bool fresh_ = false; // on an extra line, nothing placed yet
  bool extra_ = false; // the first deck line has been written
};

} // namespace

void t_replacer::layOut(t_held &held, bool previousRelaid) {
  const std::string_view line = held.text;
  const std::size_t e = textEnd(line);
  std::vector<t_item> &items = items_;
  items.clear();
  std::size_t pos = kTextBegin;
  const bool skipContinued = held.contEnd > 0 && previousRelaid;
  if (held.contEnd > 0) {
    if (!skipContinued)
      items.push_back(t_item{{}, line.substr(kTextBegin, held.contEnd - kTextBegin), false});
    pos = held.contEnd;
  }
  std::string_view indent;
  bool haveIndent = false;
  for (const t_sourceToken &t : held.toks) {
    std::string_view gap = line.substr(pos, t.begin - pos);
    if (items.empty() && haveIndent) gap = indent;
    switch (t.status) {
    case kKept:
      items.push_back(t_item{gap, tokenText(line, t), t.kind == t_sourceToken::literal});
      break;
    case kPartial: items.push_back(t_item{gap, t.newText, false}); break;
    case kReplacedHere: {
      bool firstWord = true;
      for (const t_textWord &w : pairs_[t.pairIndex].by) {
        items.push_back(
            t_item{firstWord ? gap : (w.glued ? std::string_view{} : " "), w.text, w.literal});
        firstWord = false;
      }
      if (firstWord && items.empty() && !haveIndent) {
        indent = gap;
        haveIndent = true;
      }
      break;
    }
    default:
      if (items.empty() && !haveIndent) {
        indent = gap;
        haveIndent = true;
      }
      break;
    }
    pos = t.endLine > 0 ? e : t.end;
  }
  // What follows the last text-word: a comment to the line's end, or blanks.
  if (pos < e) {
    std::size_t b = pos;
    std::size_t f = e;
    while (b < f && isSeparator(line[b]))
      ++b;
    while (f > b && isSpace(line[f - 1]))
      --f;
    if (b < f)
      items.push_back(t_item{line.substr(pos, b - pos), line.substr(b, f - b), false, true});
  }
  t_layout out(deck_, line, skipContinued, held.origin, emit_);
  out.place(items);
  out.finish();
}

} // namespace incprep
