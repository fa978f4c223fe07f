// incprep_benchgen: writes a large synthetic COBOL or PL/I program for whole-run benchmarks of
// incprep, with include members nested up to four levels deep in two libraries and included many
// times over, and beside it the deck that expanding those includes must give. Timing is left to
// bench/run.sh; this program only writes files.
//
//   incprep_benchgen --lang cobol|pli --mb N --dir DIR [--seed N] [--crlf] [--no-expect]
//
// DIR receives PROG.cbl or PROG.pli, lib1/ and lib2/ (the SYSLIB concatenation "lib1;lib2"),
// expected.deck (unless --no-expect) and gen.info (key=value lines describing what was written).

#include <array>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum class Lang { Cobol, Pli };

struct GenOptions {
  Lang lang = Lang::Cobol;
  double megabytes = 10.0; // deck size to reach, in units of 10^6 bytes
  std::string dir;
  std::uint64_t seed = 20240611;
  bool crlf = false;  // source and member lines end in CR LF (the deck never holds the CR)
  bool expect = true; // write expected.deck
};

/// Small deterministic generator (xorshift64*), so that a seed always gives the same files.
class Rng {
public:
  explicit Rng(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ULL) {}
  std::uint64_t next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  /// A value in [lo, hi], both inclusive.
  int range(int lo, int hi) {
    const auto span = static_cast<std::uint64_t>(hi - lo + 1);
    return lo + static_cast<int>(next() % span);
  }
  bool chance(int percent) { return range(0, 99) < percent; }
  template <typename T, std::size_t N> const T &pick(const std::array<T, N> &items) {
    return items[static_cast<std::size_t>(next() % N)];
  }
  template <typename T> const T &pick(const std::vector<T> &items) {
    return items[static_cast<std::size_t>(next() % items.size())];
  }

private:
  std::uint64_t state_;
};

constexpr std::array<std::string_view, 48> kWords = {
    "CUST", "ACCT",  "BAL",   "ADDR",  "NAME", "DATE",  "AMT",   "CODE",  "STAT", "TXN",
    "BRCH", "RATE",  "LIMIT", "TYPE",  "FLAG", "COUNT", "TOTAL", "PREV",  "CURR", "NEXT",
    "OPEN", "CLOSE", "FEE",   "TAX",   "INT",  "PMT",   "DUE",   "PAID",  "LOAN", "CARD",
    "ZIP",  "CITY",  "PHONE", "EMAIL", "REGN", "PROD",  "QTY",   "PRICE", "DISC", "ORDER",
    "SHIP", "INV",   "VEND",  "EMP",   "DEPT", "SAL",   "HIST",  "AUDIT"};

constexpr std::array<std::string_view, 16> kTexts = {
    "CUSTOMER MASTER RECORD",  "ACCOUNT BALANCE TOTALS", "DAILY TRANSACTION LOG",
    "BRANCH SUMMARY AREA",     "INTEREST RATE TABLE",    "PAYMENT SCHEDULE ENTRY",
    "AUDIT TRAIL WORK FIELDS", "ORDER LINE ITEM",        "SHIPPING ADDRESS BLOCK",
    "VENDOR INVOICE HEADER",   "EMPLOYEE PAYROLL DATA",  "LOAN AMORTISATION WORK",
    "CARD AUTHORISATION AREA", "REGIONAL SALES FIGURES", "PRODUCT PRICE LIST",
    "ERROR MESSAGE TEXTS"};

constexpr std::array<std::string_view, 8> kAuthors = {
    "J SMITH", "M OBRIEN", "K TANAKA", "A MUELLER", "R GARCIA", "P DUBOIS", "L ROSSI", "S NOWAK"};

std::string strf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string strf(const char *fmt, ...) {
  char buf[256];
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, args);
  va_end(args);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) {
    std::fprintf(stderr, "incprep_benchgen: internal line too long\n");
    std::exit(2);
  }
  return std::string(buf, static_cast<std::size_t>(n));
}

/// One include member with its file text and what the include rules make of it in the deck.
struct Member {
  std::string name;
  int lib = 1;          // 1 or 2: which library directory holds it
  std::string text;     // the member file as written
  std::string expanded; // its deck text: nested members expanded, plus the empty line
                        // that every member ending in a newline leaves behind
  std::uint64_t expandedLines = 0;
  std::uint64_t expandedIncludes = 0; // include statements expanded inside it, nested ones too
};

/// Text under construction: the file as written and, in step, the deck it expands to.
class Text {
public:
  explicit Text(bool crlf) : eol_(crlf ? "\r\n" : "\n") {}
  void line(std::string_view l) {
    src_ += l;
    src_ += eol_;
    deck_ += l;
    deck_ += '\n';
    ++deckLines_;
    afterInclude_ = false;
  }
  /// An include statement on a line of its own: the deck holds the member in its place.
  void include(std::string_view statement, const Member &m) {
    src_ += statement;
    src_ += eol_;
    deck_ += m.expanded;
    deckLines_ += m.expandedLines;
    includes_ += 1 + m.expandedIncludes;
    afterInclude_ = true;
  }
  std::string &src() { return src_; }
  std::string &deck() { return deck_; }
  std::size_t deckSize() const { return deck_.size(); }
  std::uint64_t deckLines() const { return deckLines_; }
  std::uint64_t includes() const { return includes_; }
  /// The last line written was an include statement.
  bool afterInclude() const { return afterInclude_; }

private:
  std::string_view eol_;
  std::string src_;
  std::string deck_;
  std::uint64_t deckLines_ = 0;
  std::uint64_t includes_ = 0;
  bool afterInclude_ = false;
};

/// The member tiers: data layouts nest four deep, procedure code three deep.
struct Library {
  std::vector<Member> data[4]; // data[0] is included by the primary, data[3] are leaves
  std::vector<Member> proc[3];
};

// ---------------------------------------------------------------------------------------------
// COBOL, fixed format: columns 1-6 sequence area, 7 indicator, 8-72 code (area A from 8, area B
// from 12), 73-80 identification area, which compilers ignore and the preprocessor copies.

struct CobolStyle {
  bool numbered = false; // sequence numbers in columns 1-6
  std::string idArea;    // text for columns 73-80 on some lines; empty for none
  int seq = 0;
};

std::string cobolLine(CobolStyle &st, Rng &rng, char indicator, std::string_view code,
                      bool allowIdArea = true) {
  if (code.size() > 65) {
    std::fprintf(stderr, "incprep_benchgen: COBOL code beyond column 72: %.*s\n",
                 static_cast<int>(code.size()), code.data());
    std::exit(2);
  }
  std::string l;
  l.reserve(81);
  st.seq += 10;
  if (st.numbered)
    l += strf("%06d", st.seq % 1000000);
  else
    l += "      ";
  l += indicator;
  l += code;
  if (allowIdArea && !st.idArea.empty() && rng.chance(60)) {
    l.resize(72, ' ');
    l += st.idArea;
  }
  return l;
}

std::string dataName(Rng &rng, std::string_view prefix, char sep) {
  std::string n(prefix);
  n += sep;
  n += rng.pick(kWords);
  n += sep;
  n += rng.pick(kWords);
  return n;
}

/// Column (1-based) at which a data description of the given level number starts.
int cobolLevelColumn(int level) {
  switch (level) {
  case 1: return 8;
  case 5: return 12;
  case 10: return 14;
  case 15: return 16;
  case 20: return 18;
  default: return 20;
  }
}

std::string cobolIndent(int column) {
  return std::string(static_cast<std::size_t>(column - 8), ' ');
}

/// A literal of letters and blanks, sometimes holding a doubled apostrophe.
std::string cobolLiteralText(Rng &rng, int maxLen) {
  std::string t;
  while (static_cast<int>(t.size()) < maxLen - 6) {
    if (!t.empty()) t += ' ';
    t += rng.pick(kWords);
  }
  if (rng.chance(10) && static_cast<int>(t.size()) + 4 <= maxLen) t += " O''K";
  if (static_cast<int>(t.size()) > maxLen) t.resize(static_cast<std::size_t>(maxLen));
  while (!t.empty() && (t.back() == ' ' || t.back() == '\''))
    t.pop_back();
  return t;
}

void cobolComment(Text &t, CobolStyle &st, Rng &rng) {
  switch (rng.range(0, 5)) {
  case 0:
    t.line(cobolLine(st, rng, '*',
                     "----------------------------------------------------------------"));
    break;
  case 1:
    t.line(cobolLine(st, rng, '*', strf("    %s", std::string(rng.pick(kTexts)).c_str())));
    break;
  case 2:
    t.line(cobolLine(st, rng, '*',
                     strf(" CHANGED %04d-%02d-%02d BY %s", rng.range(1988, 2023), rng.range(1, 12),
                          rng.range(1, 28), std::string(rng.pick(kAuthors)).c_str())));
    break;
  case 3: // an include keyword in a comment line is text, never a statement
    t.line(cobolLine(st, rng, '*',
                     strf("    COPY OLD%05d. REMOVED, SEE %s", rng.range(0, 99999),
                          std::string(rng.pick(kWords)).c_str())));
    break;
  case 4: t.line(cobolLine(st, rng, '*', "")); break;
  default:
    t.line(cobolLine(st, rng, '*',
                     strf(" NOTE: %s IS KEPT IN %s ORDER.", std::string(rng.pick(kWords)).c_str(),
                          std::string(rng.pick(kWords)).c_str())));
  }
}

/// One elementary data description (with an 88-level condition now and then).
void cobolField(Text &t, CobolStyle &st, Rng &rng, int level, std::string_view prefix) {
  const std::string ind = cobolIndent(cobolLevelColumn(level));
  const std::string name = dataName(rng, prefix, '-');
  std::string clause;
  switch (rng.range(0, 8)) {
  case 0: clause = strf("PIC X(%d).", rng.range(1, 40)); break;
  case 1: clause = strf("PIC X(%d) VALUE SPACES.", rng.range(1, 30)); break;
  case 2: clause = strf("PIC 9(%d) VALUE ZERO.", rng.range(1, 9)); break;
  case 3: clause = strf("PIC S9(%d)V99 COMP-3.", rng.range(3, 13)); break;
  case 4: clause = "PIC S9(4) COMP."; break;
  case 5: clause = strf("PIC 9(3) OCCURS %d TIMES.", rng.range(2, 31)); break;
  case 6: {
    const std::string lit = cobolLiteralText(rng, 14);
    clause = strf("PIC X(%d) VALUE '%s'.", static_cast<int>(lit.size()) + 2, lit.c_str());
    break;
  }
  case 7: {
    const std::string lit = cobolLiteralText(rng, 12);
    clause = strf("PIC X(%d) VALUE \"%s\".", static_cast<int>(lit.size()) + 2, lit.c_str());
    break;
  }
  default: clause = "PIC X(1)."; break;
  }
  std::string code = strf("%s%02d  %s", ind.c_str(), level, name.c_str());
  if (code.size() + 1 + clause.size() > 65) {
    t.line(cobolLine(st, rng, ' ', code));
    code = cobolIndent(cobolLevelColumn(level) + 4);
  } else {
    code += ' ';
  }
  code += clause;
  t.line(cobolLine(st, rng, ' ', code));
  if (clause == "PIC X(1).") {
    const std::string cind = cobolIndent(cobolLevelColumn(level) + 4);
    t.line(cobolLine(st, rng, ' ', strf("%s88  %s-YES VALUE 'Y'.", cind.c_str(), name.c_str())));
    t.line(
        cobolLine(st, rng, ' ', strf("%s88  %s-NO  VALUE 'N' ' '.", cind.c_str(), name.c_str())));
  }
}

std::string cobolCopy(CobolStyle &st, Rng &rng, int column, const Member &m) {
  // Nothing follows the period: what a line holds after its include statement is not part of
  // the expansion, so the statement stands alone on its line.
  std::string stmt;
  switch (rng.range(0, 9)) {
  case 0: stmt = strf("Copy %s.", m.name.c_str()); break;
  case 1: stmt = strf("COPY '%s'.", m.name.c_str()); break;
  default: stmt = strf("COPY %s.", m.name.c_str()); break;
  }
  return cobolLine(st, rng, ' ', cobolIndent(column) + stmt, false);
}

/// A variable name as procedure code refers to it.
std::string cobolVar(Rng &rng) {
  return dataName(rng, "WS", '-');
}

/// One procedure statement (several lines for the conditional forms).
void cobolStatement(Text &t, CobolStyle &st, Rng &rng, int column) {
  const std::string in = cobolIndent(column);
  const std::string in2 = cobolIndent(column + 4);
  auto put = [&](const std::string &code) { t.line(cobolLine(st, rng, ' ', code)); };
  int kind = rng.range(0, 11);
  // cobc reads one line ahead of a COPY statement and then reports the member's first line as
  // a missing continuation; keep continued literals away from include statements.
  if (kind == 8 && t.afterInclude()) kind = 0;
  switch (kind) {
  case 0:
    put(strf("%sMOVE %s TO %s", in.c_str(), cobolVar(rng).c_str(), cobolVar(rng).c_str()));
    break;
  case 1: put(strf("%sADD 1 TO %s", in.c_str(), cobolVar(rng).c_str())); break;
  case 2:
    put(strf("%sCOMPUTE %s =", in.c_str(), cobolVar(rng).c_str()));
    put(strf("%s    %s * 1.0%d + %s", in.c_str(), cobolVar(rng).c_str(), rng.range(1, 9),
             cobolVar(rng).c_str()));
    break;
  case 3:
    put(strf("%sIF %s > ZERO", in.c_str(), cobolVar(rng).c_str()));
    put(strf("%sMOVE %s TO %s", in2.c_str(), cobolVar(rng).c_str(), cobolVar(rng).c_str()));
    put(strf("%sELSE", in.c_str()));
    put(strf("%sMOVE ZERO TO %s", in2.c_str(), cobolVar(rng).c_str()));
    put(strf("%sEND-IF", in.c_str()));
    break;
  case 4: {
    const int para = rng.range(1, 999999);
    put(strf("%sPERFORM P%06d-%s", in.c_str(), para, std::string(rng.pick(kWords)).c_str()));
    put(strf("%s   THRU P%06d-EXIT", in.c_str(), para));
    break;
  }
  case 5: {
    const std::string lit = cobolLiteralText(rng, 24);
    put(strf("%sDISPLAY '%s' %s", in.c_str(), lit.c_str(), cobolVar(rng).c_str()));
    break;
  }
  case 6:
    put(strf("%sEVALUATE TRUE", in.c_str()));
    put(strf("%sWHEN %s = 'A'", in2.c_str(), cobolVar(rng).c_str()));
    put(strf("%s    PERFORM P%06d-ADD", in2.c_str(), rng.range(1, 999999)));
    put(strf("%sWHEN %s = \"B\"", in2.c_str(), cobolVar(rng).c_str()));
    put(strf("%s    MOVE \"IT'S DONE\" TO %s", in2.c_str(), cobolVar(rng).c_str()));
    put(strf("%sWHEN OTHER", in2.c_str()));
    put(strf("%s    CONTINUE", in2.c_str()));
    put(strf("%sEND-EVALUATE", in.c_str()));
    break;
  case 7:
    put(strf("%sSTRING %s DELIMITED BY SPACE", in.c_str(), cobolVar(rng).c_str()));
    put(strf("%s       ' / ' DELIMITED BY SIZE", in.c_str()));
    put(strf("%s       %s DELIMITED BY SIZE", in.c_str(), cobolVar(rng).c_str()));
    put(strf("%s       INTO %s", in.c_str(), cobolVar(rng).c_str()));
    put(strf("%sEND-STRING", in.c_str()));
    break;
  case 8: {
    // A literal that runs to column 72 and resumes on a continuation line ("-" in column 7).
    std::string head = in + "MOVE '";
    std::string lit;
    while (head.size() + lit.size() < 65)
      lit += rng.pick(kWords);
    lit.resize(65 - head.size());
    t.line(cobolLine(st, rng, ' ', head + lit, false));
    t.line(cobolLine(st, rng, '-',
                     strf("%s'%s' TO %s", in.c_str(), std::string(rng.pick(kWords)).c_str(),
                          cobolVar(rng).c_str())));
    break;
  }
  case 9:
    put(strf("%sREAD %s-FILE", in.c_str(), std::string(rng.pick(kWords)).c_str()));
    put(strf("%s    AT END SET %s-EOF TO TRUE", in.c_str(), std::string(rng.pick(kWords)).c_str()));
    put(strf("%sEND-READ", in.c_str()));
    break;
  case 10: put(strf("%sINITIALIZE %s", in.c_str(), cobolVar(rng).c_str())); break;
  default:
    put(strf("%sSUBTRACT %s FROM %s", in.c_str(), cobolVar(rng).c_str(), cobolVar(rng).c_str()));
    break;
  }
}

constexpr std::array<int, 4> kCobolTierLevel = {1, 5, 10, 15};

void finishMember(Member &m, Text &t) {
  t.deck() += '\n'; // the empty deck line that the member's final newline leaves
  m.text = std::move(t.src());
  m.expanded = std::move(t.deck());
  m.expandedLines = t.deckLines() + 1;
  m.expandedIncludes = t.includes();
}

Member cobolDataMember(const GenOptions &o, Rng &rng, int tier, int index, const Library &lib) {
  static constexpr std::array<std::string_view, 4> kNames = {"WSREC", "WSGRP", "WSFLD", "WSCOD"};
  static constexpr std::array<char, 4> kPrefix = {'R', 'G', 'F', 'C'};
  Member m;
  m.name = strf("%s%03d", std::string(kNames[static_cast<std::size_t>(tier)]).c_str(), index);
  m.lib = 1 + index % 2;
  Text t(o.crlf);
  CobolStyle st;
  st.numbered = rng.chance(50);
  const std::string prefix = strf("%c%03d", kPrefix[static_cast<std::size_t>(tier)], index);
  t.line(cobolLine(st, rng, '*',
                   strf(" MEMBER %s: %s", m.name.c_str(), std::string(rng.pick(kTexts)).c_str())));
  t.line(cobolLine(st, rng, '*',
                   strf(" CHANGED %04d-%02d-%02d BY %s", rng.range(1988, 2023), rng.range(1, 12),
                        rng.range(1, 28), std::string(rng.pick(kAuthors)).c_str())));
  const int level = kCobolTierLevel[static_cast<std::size_t>(tier)];
  const int sub = tier < 3 ? kCobolTierLevel[static_cast<std::size_t>(tier) + 1] : 20;
  t.line(cobolLine(st, rng, ' ',
                   strf("%s%02d  %s-%s.", cobolIndent(cobolLevelColumn(level)).c_str(), level,
                        prefix.c_str(), std::string(rng.pick(kWords)).c_str())));
  static constexpr std::array<int, 4> kMinLines = {12, 10, 8, 8};
  static constexpr std::array<int, 4> kMaxLines = {40, 30, 30, 30};
  static constexpr std::array<int, 4> kMaxIncludes = {3, 3, 2, 0};
  const int lines = rng.range(kMinLines[static_cast<std::size_t>(tier)],
                              kMaxLines[static_cast<std::size_t>(tier)]);
  const int includes = tier < 3 ? rng.range(1, kMaxIncludes[static_cast<std::size_t>(tier)]) : 0;
  std::vector<int> includeAt;
  for (int i = 0; i < includes; ++i)
    includeAt.push_back(rng.range(1, lines));
  for (int i = 0; i <= lines; ++i) {
    for (int at : includeAt)
      if (at == i) {
        const Member &child = rng.pick(lib.data[tier + 1]);
        t.include(cobolCopy(st, rng, cobolLevelColumn(sub), child), child);
      }
    if (i == lines) break;
    if (rng.chance(10))
      cobolComment(t, st, rng);
    else
      cobolField(t, st, rng, sub, prefix);
  }
  finishMember(m, t);
  return m;
}

Member cobolProcMember(const GenOptions &o, Rng &rng, int tier, int index, const Library &lib) {
  static constexpr std::array<std::string_view, 3> kNames = {"PRBLK", "PRSTP", "PRUTL"};
  Member m;
  m.name = strf("%s%03d", std::string(kNames[static_cast<std::size_t>(tier)]).c_str(), index);
  m.lib = 1 + index % 2;
  Text t(o.crlf);
  CobolStyle st;
  st.numbered = rng.chance(50);
  t.line(cobolLine(st, rng, '*',
                   strf(" MEMBER %s: %s", m.name.c_str(), std::string(rng.pick(kTexts)).c_str())));
  const int statements = rng.range(6, 20);
  const int includes = tier < 2 ? rng.range(1, 2) : 0;
  std::vector<int> includeAt;
  for (int i = 0; i < includes; ++i)
    includeAt.push_back(rng.range(1, statements));
  for (int i = 0; i <= statements; ++i) {
    for (int at : includeAt)
      if (at == i) {
        const Member &child = rng.pick(lib.proc[tier + 1]);
        t.include(cobolCopy(st, rng, 12, child), child);
      }
    if (i == statements) break;
    if (rng.chance(8)) cobolComment(t, st, rng);
    cobolStatement(t, st, rng, 12);
  }
  finishMember(m, t);
  return m;
}

// ---------------------------------------------------------------------------------------------
// PL/I: statements from column 2, comments between "/*" and "*/", members named by %INCLUDE.

std::string pliName(Rng &rng, std::string_view prefix) {
  return dataName(rng, prefix, '_');
}

std::string pliIndent(int n) {
  return std::string(static_cast<std::size_t>(n), ' ');
}

std::string pliInclude(Rng &rng, int indent, const Member &m) {
  // The name ends at the semicolon, and nothing else follows it on the line.
  return pliIndent(indent) + (rng.chance(10) ? "%include " : "%INCLUDE ") + m.name + ";";
}

void pliComment(Text &t, Rng &rng, int indent) {
  const std::string in = pliIndent(indent);
  switch (rng.range(0, 4)) {
  case 0: t.line(in + "/* " + std::string(rng.pick(kTexts)) + " */"); break;
  case 1: // a comment over several lines, holding an include statement that is only text
    t.line(in + "/*------------------------------------------------------------*");
    t.line(in + strf(" * %s, FORMERLY %%INCLUDE OLD%05d;", std::string(rng.pick(kTexts)).c_str(),
                     rng.range(0, 99999)));
    t.line(in + strf(" * CHANGED %04d-%02d-%02d BY %s", rng.range(1988, 2023), rng.range(1, 12),
                     rng.range(1, 28), std::string(rng.pick(kAuthors)).c_str()));
    t.line(in + " *------------------------------------------------------------*/");
    break;
  case 2:
    t.line(in + strf("/* %s IS KEPT IN %s ORDER */", std::string(rng.pick(kWords)).c_str(),
                     std::string(rng.pick(kWords)).c_str()));
    break;
  default: t.line(in + "/* " + std::string(rng.pick(kWords)) + " */"); break;
  }
}

/// One element of a structure declaration; every element ends in a comma, the including text
/// supplies the last element and its semicolon.
void pliField(Text &t, Rng &rng, int level, std::string_view prefix) {
  const std::string in = pliIndent(2 + 2 * level);
  const std::string name = pliName(rng, prefix);
  std::string attr;
  switch (rng.range(0, 7)) {
  case 0: attr = strf("CHAR(%d)", rng.range(1, 40)); break;
  case 1: attr = strf("CHAR(%d) INIT('')", rng.range(1, 30)); break;
  case 2: attr = strf("FIXED DEC(%d,2) INIT(0)", rng.range(3, 15)); break;
  case 3: attr = "FIXED BIN(31)"; break;
  case 4: attr = "BIT(1) INIT('0'B)"; break;
  case 5: attr = strf("(%d) CHAR(%d)", rng.range(2, 31), rng.range(1, 12)); break;
  case 6: attr = strf("CHAR(%d) INIT('%s')", 12, cobolLiteralText(rng, 10).c_str()); break;
  default: attr = "PIC '(7)9V99'"; break;
  }
  std::string l = strf("%s%d %s %s,", in.c_str(), level, name.c_str(), attr.c_str());
  if (l.size() > 71) {
    t.line(strf("%s%d %s", in.c_str(), level, name.c_str()));
    l = in + "    " + attr + ",";
  }
  t.line(l);
}

std::string pliVar(Rng &rng) {
  return pliName(rng, "W");
}

void pliStatement(Text &t, Rng &rng, int indent) {
  const std::string in = pliIndent(indent);
  const std::string in2 = pliIndent(indent + 3);
  switch (rng.range(0, 9)) {
  case 0: t.line(in + pliVar(rng) + " = " + pliVar(rng) + ";"); break;
  case 1: t.line(in + pliVar(rng) + " = " + pliVar(rng) + " + 1;"); break;
  case 2:
    t.line(in + "IF " + pliVar(rng) + " > 0 THEN DO;");
    t.line(in2 + pliVar(rng) + " = " + pliVar(rng) + " * 1.05;");
    t.line(in2 + "CALL " + std::string(rng.pick(kWords)) + "_UPDATE(" + pliVar(rng) + ");");
    t.line(in + "END;");
    t.line(in + "ELSE " + pliVar(rng) + " = 0;");
    break;
  case 3:
    t.line(in + "CALL " + std::string(rng.pick(kWords)) + "_CHECK(" + pliVar(rng) + ", " +
           pliVar(rng) + ");");
    break;
  case 4:
    t.line(in + "PUT SKIP LIST('" + cobolLiteralText(rng, 20) + "', " + pliVar(rng) + ");");
    break;
  case 5:
    t.line(in + "SELECT (" + pliVar(rng) + ");");
    t.line(in2 + "WHEN ('A') " + pliVar(rng) + " = 1;");
    t.line(in2 + "WHEN ('B', 'C') CALL " + std::string(rng.pick(kWords)) + "_RESET;");
    t.line(in2 + "OTHERWISE " + pliVar(rng) + " = 'IT''S DONE';");
    t.line(in + "END;");
    break;
  case 6:
    t.line(in + "DO I = 1 TO HBOUND(" + pliVar(rng) + ", 1);");
    t.line(in2 + pliVar(rng) + "(I) = " + pliVar(rng) + "(I) + " + pliVar(rng) + ";");
    t.line(in + "END;");
    break;
  case 7:
    t.line(in + pliVar(rng) + " = SUBSTR(" + pliVar(rng) + ", 1, " +
           std::to_string(rng.range(1, 30)) + ");");
    break;
  case 8: t.line(in + "ON ENDFILE(" + std::string(rng.pick(kWords)) + "_IN) EOF = '1'B;"); break;
  default:
    t.line(in + pliVar(rng) + " = " + pliVar(rng) + " /* CARRIED */ + " + pliVar(rng) + ";");
    break;
  }
}

Member pliDataMember(const GenOptions &o, Rng &rng, int tier, int index, const Library &lib) {
  static constexpr std::array<std::string_view, 4> kNames = {"PLREC", "PLGRP", "PLFLD", "PLCOD"};
  static constexpr std::array<char, 4> kPrefix = {'R', 'G', 'F', 'C'};
  Member m;
  m.name = strf("%s%03d", std::string(kNames[static_cast<std::size_t>(tier)]).c_str(), index);
  m.lib = 1 + index % 2;
  Text t(o.crlf);
  const std::string prefix = strf("%c%03d", kPrefix[static_cast<std::size_t>(tier)], index);
  t.line(strf(" /* MEMBER %s: %s */", m.name.c_str(), std::string(rng.pick(kTexts)).c_str()));
  // Tier 0 opens a declaration; the deeper tiers contribute elements of level tier+1 and below.
  const int level = tier + 1;
  if (tier == 0)
    t.line(strf(" DCL 1 %s_%s,", prefix.c_str(), std::string(rng.pick(kWords)).c_str()));
  else
    t.line(strf("%s%d %s_%s,", pliIndent(2 + 2 * level).c_str(), level, prefix.c_str(),
                std::string(rng.pick(kWords)).c_str()));
  static constexpr std::array<int, 4> kMinLines = {12, 10, 8, 8};
  static constexpr std::array<int, 4> kMaxLines = {40, 30, 30, 30};
  static constexpr std::array<int, 4> kMaxIncludes = {3, 3, 2, 0};
  const int lines = rng.range(kMinLines[static_cast<std::size_t>(tier)],
                              kMaxLines[static_cast<std::size_t>(tier)]);
  const int includes = tier < 3 ? rng.range(1, kMaxIncludes[static_cast<std::size_t>(tier)]) : 0;
  std::vector<int> includeAt;
  for (int i = 0; i < includes; ++i)
    includeAt.push_back(rng.range(1, lines));
  for (int i = 0; i <= lines; ++i) {
    for (int at : includeAt)
      if (at == i) {
        const Member &child = rng.pick(lib.data[tier + 1]);
        t.include(pliInclude(rng, 2 + 2 * (level + 1), child), child);
      }
    if (i == lines) break;
    if (rng.chance(8))
      pliComment(t, rng, 2 + 2 * (level + 1));
    else
      pliField(t, rng, level + 1, prefix);
  }
  if (tier == 0) t.line(strf("     2 %s_END CHAR(1);", prefix.c_str()));
  finishMember(m, t);
  return m;
}

Member pliProcMember(const GenOptions &o, Rng &rng, int tier, int index, const Library &lib) {
  static constexpr std::array<std::string_view, 3> kNames = {"PLBLK", "PLSTP", "PLUTL"};
  Member m;
  m.name = strf("%s%03d", std::string(kNames[static_cast<std::size_t>(tier)]).c_str(), index);
  m.lib = 1 + index % 2;
  Text t(o.crlf);
  t.line(strf("   /* MEMBER %s: %s */", m.name.c_str(), std::string(rng.pick(kTexts)).c_str()));
  const int statements = rng.range(6, 20);
  const int includes = tier < 2 ? rng.range(1, 2) : 0;
  std::vector<int> includeAt;
  for (int i = 0; i < includes; ++i)
    includeAt.push_back(rng.range(1, statements));
  for (int i = 0; i <= statements; ++i) {
    for (int at : includeAt)
      if (at == i) {
        const Member &child = rng.pick(lib.proc[tier + 1]);
        t.include(pliInclude(rng, 3, child), child);
      }
    if (i == statements) break;
    if (rng.chance(8)) pliComment(t, rng, 3);
    pliStatement(t, rng, 3);
  }
  finishMember(m, t);
  return m;
}

// ---------------------------------------------------------------------------------------------

constexpr std::array<int, 4> kDataCount = {24, 32, 40, 48};
constexpr std::array<int, 3> kProcCount = {24, 32, 40};

Library buildLibrary(const GenOptions &o, Rng &rng) {
  Library lib;
  for (int tier = 3; tier >= 0; --tier)
    for (int i = 1; i <= kDataCount[static_cast<std::size_t>(tier)]; ++i)
      lib.data[tier].push_back(o.lang == Lang::Cobol ? cobolDataMember(o, rng, tier, i, lib)
                                                     : pliDataMember(o, rng, tier, i, lib));
  for (int tier = 2; tier >= 0; --tier)
    for (int i = 1; i <= kProcCount[static_cast<std::size_t>(tier)]; ++i)
      lib.proc[tier].push_back(o.lang == Lang::Cobol ? cobolProcMember(o, rng, tier, i, lib)
                                                     : pliProcMember(o, rng, tier, i, lib));
  // Member names are unique across the tiers, and every tier alternates between the two
  // libraries, so half of all look-ups miss in lib1 before they find the member in lib2.
  return lib;
}

/// Writes files, failing loudly: a benchmark over a truncated input would measure nothing.
class OutFile {
public:
  explicit OutFile(const std::filesystem::path &p) : path_(p.string()) {
    fp_ = std::fopen(path_.c_str(), "wb");
    if (!fp_) die("cannot create");
  }
  OutFile(const OutFile &) = delete;
  OutFile &operator=(const OutFile &) = delete;
  ~OutFile() {
    if (fp_) std::fclose(fp_);
  }
  void write(std::string_view s) {
    if (!s.empty() && std::fwrite(s.data(), 1, s.size(), fp_) != s.size()) die("cannot write");
    bytes_ += s.size();
  }
  void close() {
    if (std::fclose(fp_) != 0) {
      fp_ = nullptr;
      die("cannot close");
    }
    fp_ = nullptr;
  }
  std::uint64_t bytes() const { return bytes_; }

private:
  [[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "incprep_benchgen: %s %s: %s\n", what, path_.c_str(),
                 std::strerror(errno));
    std::exit(2);
  }
  std::string path_;
  std::FILE *fp_ = nullptr;
  std::uint64_t bytes_ = 0;
};

/// The primary source, written in pieces while its deck size is tracked.
class Primary {
public:
  Primary(const GenOptions &o, const std::filesystem::path &srcPath)
      : text_(o.crlf), src_(srcPath) {
    if (o.expect) deck_.emplace(std::filesystem::path(o.dir) / "expected.deck");
  }
  Text &text() { return text_; }
  /// Deck bytes so far, flushed or not.
  std::uint64_t deckBytes() const { return deckFlushed_ + text_.deckSize(); }
  void flush(bool force = false) {
    if (!force && text_.deck().size() < (4u << 20)) return;
    src_.write(text_.src());
    if (deck_) deck_->write(text_.deck());
    deckFlushed_ += text_.deck().size();
    text_.src().clear();
    text_.deck().clear();
  }
  void finish() {
    text_.deck() += '\n'; // the primary's final newline leaves one empty deck line too
    flush(true);
    src_.close();
    if (deck_) deck_->close();
  }
  std::uint64_t srcBytes() const { return src_.bytes(); }
  std::uint64_t deckLines() const { return text_.deckLines() + 1; }
  std::uint64_t includes() const { return text_.includes(); }

private:
  Text text_;
  OutFile src_;
  std::optional<OutFile> deck_;
  std::uint64_t deckFlushed_ = 0;
};

void writeCobolPrimary(Rng &rng, const Library &lib, Primary &p, std::uint64_t target) {
  Text &t = p.text();
  CobolStyle st;
  st.numbered = true;
  st.idArea = "BENCHPRG";
  auto put = [&](char ind, const std::string &code) { t.line(cobolLine(st, rng, ind, code)); };
  put(' ', "IDENTIFICATION DIVISION.");
  put(' ', "PROGRAM-ID. BENCHPRG.");
  put(' ', "AUTHOR. INCPREP BENCHMARK GENERATOR.");
  put('*', "================================================================");
  put('*', " SYNTHETIC BATCH PROGRAM: RECORD LAYOUTS AND PROCEDURE CODE COME");
  put('*', " FROM MEMBERS OF TWO LIBRARIES, NESTED UP TO FOUR LEVELS DEEP.");
  put('*', "================================================================");
  put(' ', "ENVIRONMENT DIVISION.");
  put(' ', "INPUT-OUTPUT SECTION.");
  put(' ', "FILE-CONTROL.");
  for (int i = 0; i < 4; ++i) {
    const std::string w(rng.pick(kWords));
    put(' ', strf("    SELECT %s-FILE ASSIGN TO %sDD%d", w.c_str(), w.c_str(), i));
    put(' ', "        ORGANIZATION IS SEQUENTIAL.");
  }
  put(' ', "DATA DIVISION.");
  put(' ', "FILE SECTION.");
  for (int i = 0; i < 4; ++i) {
    put(' ', strf("FD  %s-FILE", std::string(rng.pick(kWords)).c_str()));
    put(' ', "    RECORDING MODE IS F.");
    const Member &m = rng.pick(lib.data[0]);
    t.include(cobolCopy(st, rng, 8, m), m);
  }
  put(' ', "WORKING-STORAGE SECTION.");
  // Working storage takes about a third of the deck, the procedure division the rest.
  int item = 0;
  while (p.deckBytes() < target / 3) {
    if (rng.chance(40))
      for (int i = rng.range(1, 4); i > 0; --i)
        cobolComment(t, st, rng);
    const int own = rng.range(2, 8);
    put(' ', strf("01  WS-%s-%04d.", std::string(rng.pick(kWords)).c_str(), ++item % 10000));
    for (int i = 0; i < own; ++i)
      cobolField(t, st, rng, 5, "WS");
    if (rng.chance(70)) {
      const Member &m = rng.pick(lib.data[0]);
      t.include(cobolCopy(st, rng, 8, m), m);
    }
    p.flush();
  }
  put(' ', "PROCEDURE DIVISION.");
  put(' ', "MAIN-PARA.");
  put(' ', "    PERFORM P000001-INIT THRU P000001-EXIT.");
  put(' ', "    STOP RUN.");
  int para = 0;
  while (p.deckBytes() < target) {
    ++para;
    const std::string w(rng.pick(kWords));
    if (rng.chance(30)) cobolComment(t, st, rng);
    put(' ', strf("P%06d-%s.", para % 1000000, w.c_str()));
    const int statements = rng.range(3, 14);
    const int copyAt = rng.chance(60) ? rng.range(0, statements) : -1;
    for (int i = 0; i <= statements; ++i) {
      if (i == copyAt) {
        const Member &m = rng.pick(lib.proc[0]);
        t.include(cobolCopy(st, rng, 12, m), m);
      }
      if (i < statements) cobolStatement(t, st, rng, 12);
    }
    put(' ', strf("P%06d-EXIT.", para % 1000000));
    put(' ', "    EXIT.");
    p.flush();
  }
  put(' ', "END PROGRAM BENCHPRG.");
}

void writePliPrimary(Rng &rng, const Library &lib, Primary &p, std::uint64_t target) {
  Text &t = p.text();
  int seq = 0;
  // Some lines carry a sequence number in columns 73-80.
  auto put = [&](const std::string &l) {
    seq += 10;
    if (l.size() <= 72 && rng.chance(40)) {
      std::string n = l;
      n.resize(72, ' ');
      n += strf("%08d", seq % 100000000);
      t.line(n);
    } else {
      t.line(l);
    }
  };
  put(" /*================================================================*/");
  put(" /* SYNTHETIC BATCH PROGRAM: DECLARATIONS AND PROCEDURE CODE COME  */");
  put(" /* FROM MEMBERS OF TWO LIBRARIES, NESTED UP TO FOUR LEVELS DEEP.  */");
  put(" /*================================================================*/");
  put(" BENCHPG: PROCEDURE OPTIONS(MAIN) REORDER;");
  put("   DCL EOF BIT(1) INIT('0'B);");
  put("   DCL I FIXED BIN(31);");
  int item = 0;
  while (p.deckBytes() < target / 3) {
    if (rng.chance(40)) pliComment(t, rng, 3);
    put(strf("   DCL 1 W_%s_%04d,", std::string(rng.pick(kWords)).c_str(), ++item % 10000));
    for (int i = rng.range(2, 8); i > 0; --i)
      pliField(t, rng, 2, "W");
    put("       2 FILLER CHAR(1);");
    if (rng.chance(70)) {
      const Member &m = rng.pick(lib.data[0]);
      t.include(pliInclude(rng, 3, m), m);
    }
    p.flush();
  }
  put("   CALL SUB000001;");
  int sub = 0;
  while (p.deckBytes() < target) {
    ++sub;
    if (rng.chance(30)) pliComment(t, rng, 1);
    put(strf(" SUB%06d: PROC;", sub % 1000000));
    const int statements = rng.range(3, 14);
    const int includeAt = rng.chance(60) ? rng.range(0, statements) : -1;
    for (int i = 0; i <= statements; ++i) {
      if (i == includeAt) {
        const Member &m = rng.pick(lib.proc[0]);
        t.include(pliInclude(rng, 3, m), m);
      }
      if (i < statements) pliStatement(t, rng, 3);
    }
    put(strf(" END SUB%06d;", sub % 1000000));
    p.flush();
  }
  put(" END BENCHPG;");
}

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: incprep_benchgen --lang cobol|pli --mb N --dir DIR [--seed N] "
                       "[--crlf] [--no-expect]\n");
  std::exit(2);
}

GenOptions parseArgs(int argc, char **argv) {
  GenOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage();
      return argv[++i];
    };
    if (a == "--lang") {
      const std::string v = value();
      if (v == "cobol")
        o.lang = Lang::Cobol;
      else if (v == "pli")
        o.lang = Lang::Pli;
      else
        usage();
    } else if (a == "--mb") {
      o.megabytes = std::strtod(value().c_str(), nullptr);
    } else if (a == "--dir") {
      o.dir = value();
    } else if (a == "--seed") {
      o.seed = std::strtoull(value().c_str(), nullptr, 10);
    } else if (a == "--crlf") {
      o.crlf = true;
    } else if (a == "--no-expect") {
      o.expect = false;
    } else {
      usage();
    }
  }
  if (o.dir.empty() || !(o.megabytes > 0.0)) usage();
  return o;
}

} // namespace

int main(int argc, char **argv) {
  const GenOptions o = parseArgs(argc, argv);
  namespace fs = std::filesystem;
  const fs::path dir(o.dir);
  std::error_code ec;
  for (const char *sub : {"lib1", "lib2"}) {
    fs::create_directories(dir / sub, ec);
    if (ec) {
      std::fprintf(stderr, "incprep_benchgen: cannot create %s: %s\n", (dir / sub).c_str(),
                   ec.message().c_str());
      return 2;
    }
  }
  Rng rng(o.seed);
  const Library lib = buildLibrary(o, rng);
  const char *ext = o.lang == Lang::Cobol ? ".cpy" : ".inc";
  std::uint64_t memberBytes = 0;
  std::size_t members = 0;
  auto writeMembers = [&](const std::vector<Member> &tier) {
    for (const Member &m : tier) {
      OutFile f(dir / (m.lib == 1 ? "lib1" : "lib2") / (m.name + ext));
      f.write(m.text);
      f.close();
      memberBytes += m.text.size();
      ++members;
    }
  };
  for (const auto &tier : lib.data)
    writeMembers(tier);
  for (const auto &tier : lib.proc)
    writeMembers(tier);

  const std::string primaryName = o.lang == Lang::Cobol ? "PROG.cbl" : "PROG.pli";
  Primary p(o, dir / primaryName);
  const auto target = static_cast<std::uint64_t>(o.megabytes * 1e6);
  if (o.lang == Lang::Cobol)
    writeCobolPrimary(rng, lib, p, target);
  else
    writePliPrimary(rng, lib, p, target);
  p.finish();

  OutFile info(dir / "gen.info");
  info.write(strf("lang=%s\n", o.lang == Lang::Cobol ? "cobol" : "pli"));
  info.write(strf("primary=%s\n", primaryName.c_str()));
  info.write(strf("target_mb=%g\n", o.megabytes));
  info.write(strf("seed=%" PRIu64 "\n", o.seed));
  info.write(strf("crlf=%d\n", o.crlf ? 1 : 0));
  info.write(strf("source_bytes=%" PRIu64 "\n", p.srcBytes()));
  info.write(strf("members=%zu\n", members));
  info.write(strf("member_bytes=%" PRIu64 "\n", memberBytes));
  info.write(strf("includes_expanded=%" PRIu64 "\n", p.includes()));
  info.write(strf("deck_bytes=%" PRIu64 "\n", p.deckBytes()));
  info.write(strf("deck_lines=%" PRIu64 "\n", p.deckLines()));
  info.write(strf("expected_deck=%s\n", o.expect ? "expected.deck" : ""));
  info.close();
  std::printf("%s: %" PRIu64 " source bytes, %zu members, %" PRIu64
              " includes expanded, deck %" PRIu64 " bytes in %" PRIu64 " lines\n",
              (dir / primaryName).c_str(), p.srcBytes(), members, p.includes(), p.deckBytes(),
              p.deckLines());
  return 0;
}
