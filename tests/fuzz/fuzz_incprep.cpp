// libFuzzer target: one whole preprocessor run per input, in-process, through the scanner's
// entry incFSMPLI, followed by checks of what must hold after every run.
//
// Input layout (see README.md beside this file):
//   byte 0   bits 0-1 language (0 none, 1 COBOL, 2 PL/I, 3 COBOL), bit 2 CMT(ON),
//            bit 3 NOCOPY(ON), bit 4 FORMAT(ON), bits 5-6 SYSLIB variant, bit 7 options in
//            lower case
//   byte 1   bits 0-1 EXT(...) variant, bit 2 options joined by commas into one argument,
//            bit 3 options given twice, bit 4 no second run with TRACE(ON)
//   rest     split at the byte 0x1E: the primary source, then members A to G of the copylib
//
// Every run is made twice when the deck stays small (and byte 1 does not say otherwise):
// without and with TRACE(ON). The two decks
// and side files must be equal (the trace only reports; the scanner has fast paths that are
// taken only without it). Checks, each ending in abort() with a message when it fails:
//   - the run completed: no failure, nothing reported as unreadable or unwritable;
//   - the side file has its exact fixed layout, with entity references where they must be;
//   - each FILE names the primary or an existing member file; each message names a listed file
//     and a line of it;
//   - the deck has one statement row per line (rows of zeros included) and ends with a newline;
//   - each non-zero row names output file 1, a listed input file and a line of it (the line
//     after a final newline included); output line numbers run 1, 2, 3, ...;
//   - each non-zero row's deck line is its input line (only a carriage return before a newline
//     left out), unless that input line holds an include keyword or the member name of one, or
//     belongs to a COPY statement, or the run replaces text (COPY ... REPLACING);
//   - every input line of every listed file that is not such a line reaches the deck;
//   - without trace nothing is written to standard output; no descriptor is left open.
#include "driver.h"
#include "scanner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <limits.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using incprep::t_optionsNode;
using incprep::t_runFailure;
using incprep::t_runResult;

// ---------------------------------------------------------------------------------------------
// Failure report
// ---------------------------------------------------------------------------------------------

[[noreturn]] void failInvariant(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void failInvariant(const char *fmt, ...) {
  std::fflush(stdout);
  std::fputs("\nincprep fuzz: invariant failed: ", stderr);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputs("\n", stderr);
  std::abort();
}

std::string shown(std::string_view text, std::size_t max = 200) {
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < max; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (text.size() > max) out += "...";
  return out;
}

// ---------------------------------------------------------------------------------------------
// The copylib: created once per process in a temporary folder
// ---------------------------------------------------------------------------------------------

constexpr char kPartSeparator = '\x1E';
constexpr std::size_t kMemberSlots = 7;
// Member A..G: its file, relative to the temporary folder. lib1/G.cpy is a directory, so G is
// found in lib2 after the directory is passed over.
constexpr std::array<const char *, kMemberSlots> kMemberFiles = {
    "lib1/A.cpy", "lib2/B.inc", "lib1/C", "lib2/D.cbl", "lib1/E.mac", "lib2/F.txt", "lib2/G.cpy"};
constexpr std::array<const char *, 4> kExtOptions = {"", "EXT(cpy)", "EXT(txt;inc;cbl)",
                                                     "EXT(;mac;;cpy;)"};

struct t_world {
  std::string root;                                             // the temporary folder
  std::string primaryPath;                                      // the primary source
  std::array<std::string, kMemberSlots> memberPaths;            // absolute member paths
  std::array<std::string, kMemberSlots> memberReal;             // their real paths
  std::array<std::optional<std::string>, kMemberSlots> written; // each member file's content
  std::optional<std::string> primaryWritten;
  std::string primaryReal;
};

t_world *world = nullptr;

std::string realPathOf(const std::string &p) {
  char buf[PATH_MAX];
  return realpath(p.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

void makeDir(const std::string &p) {
  if (mkdir(p.c_str(), 0755) != 0 && errno != EEXIST) failInvariant("cannot create %s", p.c_str());
}

bool writeWholeFile(const std::string &path, std::string_view text) {
  std::FILE *fp = std::fopen(path.c_str(), "wb");
  if (fp == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
  return std::fclose(fp) == 0 && ok;
}

// A descriptor still open on a file of the temporary folder (standard output's scratch file
// aside) was left open by the run: members and the primary are closed when their reading ends.
std::string leakedDescriptor() {
  DIR *dir = opendir("/proc/self/fd");
  if (dir == nullptr) return {};
  std::string leaked;
  const std::string scratch = world->root + "/stdout";
  while (const dirent *e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + e->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string path(target, static_cast<std::size_t>(n));
    if (path.rfind(world->root + "/", 0) == 0 && path != scratch) leaked = path;
  }
  closedir(dir);
  return leaked;
}

int removeEntry(const char *path, const struct stat * /*st*/, int /*flag*/, FTW * /*ftw*/) {
  return std::remove(path);
}

// The temporary folder goes when the process ends normally; after a failure it stays, with the
// files of the failing input.
void removeWorld() {
  if (world != nullptr) (void)nftw(world->root.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void setUpWorld() {
  world = new t_world;
  const char *tmp = std::getenv("TMPDIR");
  std::string templ =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/incprep-fuzz-XXXXXX";
  std::vector<char> name(templ.begin(), templ.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == nullptr) failInvariant("mkdtemp failed");
  world->root = realPathOf(name.data());
  std::atexit(removeWorld);
  for (const char *d : {"/lib1", "/lib2", "/src", "/lib1/G.cpy", "/lib1/H", "/lib1/H.cpy",
                        "/lib2/H", "/lib2/H.inc"})
    makeDir(world->root + d);
  // A symbolic link to itself: opening it fails with ELOOP and the search goes on.
  (void)symlink("L.cpy", (world->root + "/lib1/L.cpy").c_str());
  world->primaryPath = world->root + "/src/P.cbl";
  for (std::size_t i = 0; i < kMemberSlots; ++i)
    world->memberPaths[i] = world->root + "/" + kMemberFiles[i];

  // Standard output goes to a scratch file: the trace is thrown away, and a run without trace
  // must write nothing there.
  const std::string outPath = world->root + "/stdout";
  const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  if (fd < 0 || dup2(fd, 1) < 0) failInvariant("cannot redirect standard output");
  close(fd);

  // A deep chain of members holds one descriptor per open member.
  struct rlimit lim {};
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    (void)setrlimit(RLIMIT_NOFILE, &lim);
  }
}

off_t stdoutSize() {
  std::fflush(stdout);
  struct stat st {};
  return fstat(1, &st) == 0 ? st.st_size : -1;
}

void emptyStdout() {
  std::fflush(stdout);
  if (ftruncate(1, 0) != 0) failInvariant("cannot empty standard output");
}

// ---------------------------------------------------------------------------------------------
// The input
// ---------------------------------------------------------------------------------------------

struct t_input {
  int lang = 0; // 0 none, 3 COBOL, 2 PL/I
  bool cmt = false;
  bool nocopy = false;
  bool format = false;
  int syslibVariant = 0;
  bool lowerCase = false;
  int extVariant = 0;
  bool joined = false;
  bool twice = false;
  bool noTraceRun = false;
  std::string primary;
  std::array<std::optional<std::string>, kMemberSlots> members;
};

t_input splitInput(const std::uint8_t *data, std::size_t size) {
  t_input in;
  const std::uint8_t b0 = size > 0 ? data[0] : 0;
  const std::uint8_t b1 = size > 1 ? data[1] : 0;
  static constexpr int kLangs[] = {0, incprep::kLangCOBOL, incprep::kLangPLI, incprep::kLangCOBOL};
  in.lang = kLangs[b0 & 3];
  in.cmt = (b0 & 4) != 0;
  in.nocopy = (b0 & 8) != 0;
  in.format = (b0 & 16) != 0;
  in.syslibVariant = (b0 >> 5) & 3;
  in.lowerCase = (b0 & 128) != 0;
  in.extVariant = b1 & 3;
  in.joined = (b1 & 4) != 0;
  in.twice = (b1 & 8) != 0;
  in.noTraceRun = (b1 & 16) != 0;
  const std::string_view body =
      size > 2 ? std::string_view(reinterpret_cast<const char *>(data) + 2, size - 2) : "";
  std::size_t start = 0;
  for (std::size_t part = 0; start <= body.size() && part <= kMemberSlots; ++part) {
    std::size_t end = body.find(kPartSeparator, start);
    if (end == std::string_view::npos) end = body.size();
    const std::string text(body.substr(start, end - start));
    if (part == 0)
      in.primary = text;
    else
      in.members[part - 1] = text;
    if (end == body.size()) break;
    start = end + 1;
  }
  return in;
}

std::string syslibValue(int variant) {
  const std::string &r = world->root;
  switch (variant) {
  case 0: return r + "/lib1;" + r + "/lib2";
  case 1: return r + "/lib2/;" + r + "/lib1";
  case 2: return ";" + r + "/missing;;" + r + "/lib1;" + r + "/lib2;";
  default: return {};
  }
}

std::string caseOf(std::string text, bool lower) {
  if (lower)
    for (char &c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The command line, as the program would receive it, read by the program's own parser.
t_optionsNode optionsFor(const t_input &in, bool trace) {
  std::vector<std::string> keywords;
  if (in.lang == incprep::kLangCOBOL) keywords.emplace_back("LANG(COBOL)");
  if (in.lang == incprep::kLangPLI) keywords.emplace_back("LANG(PLI)");
  if (in.cmt) keywords.emplace_back("CMT(ON)");
  if (in.nocopy) keywords.emplace_back("NOCOPY(ON)");
  if (in.format) keywords.emplace_back("FORMAT(ON)");
  if (in.extVariant != 0)
    keywords.emplace_back(kExtOptions[static_cast<std::size_t>(in.extVariant)]);
  if (trace) keywords.emplace_back("TRACE(ON)");
  for (std::string &k : keywords)
    k = caseOf(k, in.lowerCase && k.rfind("EXT(", 0) != 0);
  if (in.twice) {
    const std::vector<std::string> again = keywords;
    keywords.insert(keywords.end(), again.begin(), again.end());
  }
  keywords.emplace_back("DECK(P.DEK)");
  keywords.emplace_back("XML(P.XML)");
  // Half of the runs echo their diagnostics on standard error, the other half are quiet.
  if (!in.twice) keywords.emplace_back("MSGS(OFF)");

  std::vector<std::string> args = {"incprep", world->primaryPath};
  if (in.joined) {
    std::string all;
    for (const std::string &k : keywords)
      all += (all.empty() ? "" : ",") + k;
    args.push_back(all);
  } else {
    args.insert(args.end(), keywords.begin(), keywords.end());
  }
  std::vector<const char *> argv;
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);

  t_optionsNode opt{};
  incprep::setDefaultINCOptions(&opt, 0);
  incprep::parseINCOptions(static_cast<int>(args.size()), argv.data(), &opt, 0);
  if (opt.optLANG != in.lang || opt.optCMT != (in.cmt ? 1 : 0) ||
      opt.optNOCOPY != (in.nocopy ? 1 : 0) || opt.optCOMPRESSSTMTTBL != (in.format ? 1 : 0) ||
      opt.optTRACE != (trace ? 1 : 0) || opt.fileName != world->primaryPath ||
      opt.sysPUNCH != "P.DEK" || opt.sysXML != "P.XML" || opt.optMSGSOFF != (in.twice ? 0 : 1))
    failInvariant("the options parser did not read the command line it was given");
  return opt;
}

// ---------------------------------------------------------------------------------------------
// A bound on the size of the expansion, so that an input whose members include each other many
// times over is not run (it would only take time). Each include statement can at most bring in
// the largest expansion of any file one level deeper; a file can be open at most once per
// distinct path that names it, and only names holding "/" give a file a second path.
// ---------------------------------------------------------------------------------------------

std::string storedText(std::string_view raw) {
  std::string s;
  s.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i)
    if (!(raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')) s += raw[i];
  return s;
}

bool startsAtCaseless(std::string_view text, std::size_t at, std::string_view key) {
  if (at + key.size() > text.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    char c = text[at + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != key[i]) return false;
  }
  return true;
}

// Offsets just past every include keyword that the scanner could possibly take, in any
// language and column: a superset.
std::vector<std::size_t> keywordEnds(std::string_view text) {
  std::vector<std::size_t> ends;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '-' && text.compare(i, 4, "-INC") == 0)
      ends.push_back(i + 4);
    else if (c == '+' && text.compare(i, 9, "++INCLUDE") == 0)
      ends.push_back(i + 9);
    else if (c == '%' && startsAtCaseless(text, i, "%INCLUDE"))
      ends.push_back(i + 8);
    else if (c == '%' && startsAtCaseless(text, i, "%XINCLUDE"))
      ends.push_back(i + 9);
    else if ((c == 'C' || c == 'c') && startsAtCaseless(text, i, "COPY"))
      ends.push_back(i + 4);
    else if (c == '%') {
      // Blanks after the "%", then the keyword, or the line's end (the keyword may follow on
      // the next line).
      std::size_t k = i + 1;
      while (k < text.size() && (text[k] == ' ' || text[k] == '\t' || text[k] == '\r'))
        ++k;
      if (k >= text.size() || text[k] == '\n')
        ends.push_back(k);
      else if (startsAtCaseless(text, k, "INCLUDE"))
        ends.push_back(k + 7);
      else if (startsAtCaseless(text, k, "XINCLUDE"))
        ends.push_back(k + 8);
    }
  }
  return ends;
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct t_partShape {
  double lines = 1;
  double bytes = 0;
  double keywords = 0;
  double slashNames = 0;
};

t_partShape shapeOf(std::string_view raw) {
  const std::string text = storedText(raw);
  t_partShape s;
  s.lines = 1 + static_cast<double>(std::count(text.begin(), text.end(), '\n'));
  s.bytes = static_cast<double>(text.size());
  for (const std::size_t end : keywordEnds(text)) {
    s.keywords += 1;
    std::size_t i = end;
    while (i < text.size() && isBlank(text[i]))
      ++i;
    while (i < text.size() && !isBlank(text[i])) {
      if (text[i] == '/') {
        s.slashNames += 1;
        break;
      }
      ++i;
    }
  }
  return s;
}

constexpr double kMaxDeckLines = 150000;
constexpr double kMaxDeckBytes = 6e6;
constexpr double kMaxTracedDeckBytes = 24e3;

struct t_bound {
  double lines = 0;
  double bytes = 0;
};

t_bound expansionBound(const t_input &in) {
  std::vector<t_partShape> parts = {shapeOf(in.primary)};
  for (const auto &m : in.members)
    if (m) parts.push_back(shapeOf(*m));
  double slash = 0;
  for (const auto &p : parts)
    slash += p.slashNames;
  const double depth = static_cast<double>(parts.size()) * (1 + slash);
  std::vector<t_bound> level(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i)
    level[i] = {parts[i].lines, 3 * parts[i].bytes + 16 * parts[i].keywords + parts[i].lines};
  for (double d = 1; d <= depth; ++d) {
    t_bound deepest;
    for (const auto &b : level) {
      deepest.lines = std::max(deepest.lines, b.lines);
      deepest.bytes = std::max(deepest.bytes, b.bytes);
    }
    bool changed = false;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const t_bound next = {parts[i].lines + parts[i].keywords * deepest.lines,
                            3 * parts[i].bytes + 16 * parts[i].keywords + parts[i].lines +
                                parts[i].keywords * deepest.bytes};
      if (next.lines != level[i].lines || next.bytes != level[i].bytes) changed = true;
      level[i] = next;
      if (next.lines > kMaxDeckLines || next.bytes > kMaxDeckBytes) return next;
    }
    if (!changed) break;
  }
  return level[0];
}

// ---------------------------------------------------------------------------------------------
// One run
// ---------------------------------------------------------------------------------------------

struct t_runOutput {
  t_runResult result;
  std::string deck;
  std::string sideFile;
};

std::string closeMemoryStream(std::FILE *fp, char *&buf, std::size_t &len) {
  if (std::fclose(fp) != 0) failInvariant("closing a memory stream failed");
  std::string text(buf, len);
  std::free(buf);
  buf = nullptr;
  return text;
}

t_runOutput runOnce(const t_input &in, bool trace) {
  const t_optionsNode opt = optionsFor(in, trace);
  std::FILE *source = std::fopen(world->primaryPath.c_str(), "r");
  if (source == nullptr) failInvariant("cannot open the primary source");
  char *deckBuf = nullptr;
  std::size_t deckLen = 0;
  char *xmlBuf = nullptr;
  std::size_t xmlLen = 0;
  std::FILE *deck = open_memstream(&deckBuf, &deckLen);
  std::FILE *xml = open_memstream(&xmlBuf, &xmlLen);
  if (deck == nullptr || xml == nullptr) failInvariant("open_memstream failed");

  const off_t before = stdoutSize();
  t_runOutput out;
  out.result =
      incprep::incFSMPLI(source, deck, xml, world->primaryPath.c_str(), &opt, trace ? 1 : 0);
  if (trace) {
    emptyStdout();
  } else if (stdoutSize() != before) {
    failInvariant("a run without TRACE(ON) wrote to standard output");
  }
  std::fclose(source);
  out.deck = closeMemoryStream(deck, deckBuf, deckLen);
  out.sideFile = closeMemoryStream(xml, xmlBuf, xmlLen);
  const std::string leaked = leakedDescriptor();
  if (!leaked.empty()) failInvariant("a descriptor was left open on %s", leaked.c_str());
  return out;
}

// ---------------------------------------------------------------------------------------------
// The side file, read back by its fixed layout
// ---------------------------------------------------------------------------------------------

struct t_row {
  long oln, ofn, iln, ifn;
  bool zero() const { return oln == 0 && ofn == 0 && iln == 0 && ifn == 0; }
};

struct t_message {
  std::string id, text;
  long line = 0, file = 0;
};

struct t_sideFile {
  long fileCount = 0;
  std::vector<std::string> files; // FILENAME of file numbers 1, 2, ... (unescaped)
  std::vector<t_message> messages;
  std::string outFileName;
  std::vector<t_row> rows;
};

class t_layoutReader {
public:
  explicit t_layoutReader(std::string_view text) : text_(text) {}

  // The next line, which must end with " \n" (the last line, "</BUILD>", with nothing).
  std::string_view line() {
    const std::size_t nl = text_.find('\n', pos_);
    if (nl == std::string_view::npos) {
      const std::string_view last = text_.substr(pos_);
      pos_ = text_.size();
      return last;
    }
    if (nl == pos_ || text_[nl - 1] != ' ') fail("a line does not end with \" \\n\"");
    const std::string_view l = text_.substr(pos_, nl - 1 - pos_);
    pos_ = nl + 1;
    return l;
  }
  bool atEnd() const { return pos_ >= text_.size(); }
  std::string_view peekLine() const {
    const std::size_t nl = text_.find('\n', pos_);
    return text_.substr(pos_, (nl == std::string_view::npos ? text_.size() : nl) - pos_);
  }
  void expect(std::string_view want) {
    const std::string_view got = line();
    if (got != want)
      fail("expected line \"" + std::string(want) + "\", found \"" + shown(got) + "\"");
  }
  // "<TAG>value</TAG>" on one line; returns the value.
  std::string_view element(std::string_view tag) {
    const std::string_view l = line();
    const std::string open = "<" + std::string(tag) + ">";
    const std::string close = "</" + std::string(tag) + ">";
    if (l.size() < open.size() + close.size() || l.substr(0, open.size()) != open ||
        l.substr(l.size() - close.size()) != close)
      fail("expected a " + std::string(tag) + " element, found \"" + shown(l) + "\"");
    return l.substr(open.size(), l.size() - open.size() - close.size());
  }
  [[noreturn]] void fail(const std::string &why) const {
    failInvariant("side file at byte %zu: %s", pos_, why.c_str());
  }

private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

long decimal(const t_layoutReader &r, std::string_view text) {
  if (text.empty() || text.size() > 10) r.fail("bad number \"" + shown(text) + "\"");
  if (text.size() > 1 && text[0] == '0') r.fail("number with a leading zero: " + shown(text));
  long v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') r.fail("bad number \"" + shown(text) + "\"");
    v = v * 10 + (c - '0');
  }
  if (v > INT32_MAX) r.fail("number out of range: " + shown(text));
  return v;
}

// Resolves the five entity references; any other "&" or a raw "<", ">", "'" or '"' is an error.
std::string unescaped(const t_layoutReader &r, std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' || c == '>' || c == '\'' || c == '"') r.fail("unescaped special character");
    if (c != '&') {
      out += c;
      continue;
    }
    static constexpr std::pair<std::string_view, char> kRefs[] = {
        {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}, {"&gt;", '>'}, {"&lt;", '<'}};
    bool known = false;
    for (const auto &[ref, ch] : kRefs) {
      if (text.compare(i, ref.size(), ref) == 0) {
        out += ch;
        i += ref.size() - 1;
        known = true;
        break;
      }
    }
    if (!known) r.fail("unknown entity reference");
  }
  return out;
}

t_sideFile readSideFile(std::string_view text, bool format) {
  t_layoutReader r(text);
  t_sideFile sf;
  r.expect("<?xml version=\"1.0\" standalone=\"yes\"?>");
  r.expect("<BUILD>");
  r.expect("<PACKAGE>");
  r.expect("<FILEREFERENCETABLE>");
  sf.fileCount = decimal(r, r.element("FILECOUNT"));
  while (r.peekLine() == "<FILE> ") {
    r.expect("<FILE>");
    const long number = decimal(r, r.element("FILENUMBER"));
    if (number != static_cast<long>(sf.files.size()) + 1) r.fail("FILENUMBER out of order");
    const std::string name = unescaped(r, r.element("FILENAME"));
    if (name.empty()) r.fail("empty FILENAME");
    sf.files.push_back(name);
    r.expect("</FILE>");
  }
  if (static_cast<long>(sf.files.size()) != sf.fileCount)
    r.fail("FILECOUNT differs from the FILE elements");
  r.expect("</FILEREFERENCETABLE>");
  while (r.peekLine() == "<MESSAGE> ") {
    r.expect("<MESSAGE>");
    t_message m;
    m.id = unescaped(r, r.element("MSGNUMBER"));
    m.line = decimal(r, r.element("MSGLINE"));
    m.file = decimal(r, r.element("MSGFILE"));
    r.expect("<MSGTEXT>");
    m.text = unescaped(r, r.line());
    r.expect("</MSGTEXT>");
    r.expect("</MESSAGE>");
    sf.messages.push_back(m);
  }
  r.expect("<OUTFILEREFERENCETABLE>");
  if (decimal(r, r.element("OUTFILECOUNT")) != 1) r.fail("OUTFILECOUNT is not 1");
  r.expect("<OUTFILE>");
  if (decimal(r, r.element("OUTFILENUMBER")) != 1) r.fail("OUTFILENUMBER is not 1");
  sf.outFileName = unescaped(r, r.element("OUTFILENAME"));
  r.expect("</OUTFILE>");
  r.expect("</OUTFILEREFERENCETABLE>");
  r.expect("<STATEMENTTABLE>");
  for (;;) {
    const std::string_view l = r.line();
    if (l == "</STATEMENTTABLE>") break;
    if (r.atEnd()) r.fail("the statement table is not closed");
    // Entries "(oln,ofn,iln,ifn);" with nothing between them.
    std::size_t i = 0;
    std::size_t entries = 0;
    std::size_t lengthBeforeLast = 0;
    while (i < l.size()) {
      lengthBeforeLast = i;
      if (l[i] != '(') r.fail("bad statement entry in \"" + shown(l) + "\"");
      long v[4];
      ++i;
      for (int k = 0; k < 4; ++k) {
        const std::size_t end = l.find(k < 3 ? ',' : ')', i);
        if (end == std::string_view::npos) r.fail("bad statement entry");
        v[k] = decimal(r, l.substr(i, end - i));
        i = end + 1;
      }
      if (i >= l.size() || l[i] != ';') r.fail("statement entry without \";\"");
      ++i;
      sf.rows.push_back({v[0], v[1], v[2], v[3]});
      ++entries;
    }
    if (entries == 0) r.fail("empty statement line");
    const bool lastLine = r.peekLine() == "</STATEMENTTABLE> ";
    if (format) {
      if (entries > 6 || (!lastLine && entries != 6)) r.fail("FORMAT(ON) line without 6 entries");
    } else {
      // A line closes after the entry that first takes it past 2000 characters.
      if (entries > 1 && lengthBeforeLast > 2000) r.fail("statement line runs on past 2000");
      if (!lastLine && l.size() <= 2000) r.fail("statement line closed before 2000");
    }
  }
  r.expect("</PACKAGE>");
  if (r.line() != "</BUILD>" || !r.atEnd()) r.fail("the document does not end with </BUILD>");
  return sf;
}

// ---------------------------------------------------------------------------------------------
// The line map
// ---------------------------------------------------------------------------------------------

// An input file as the scanner reads it: lines split at newlines, the carriage return before a
// newline left out; a file always has one line more than it has newlines (the empty line after a final
// newline, or the last line without one).
struct t_inputFile {
  std::vector<std::string> lines;
  std::vector<bool> exempt; // holds an include keyword, or the member name after one, or
                            // is a later line of a COPY statement
  bool replacing = false;   // mentions REPLACING: member lines may be changed in the deck
};

bool findCaseless(std::string_view text, std::string_view word) {
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i)
    if (startsAtCaseless(text, i, word)) return true;
  return false;
}

t_inputFile inputFileOf(std::string_view raw) {
  t_inputFile f;
  const std::string text = storedText(raw);
  std::size_t start = 0;
  for (;;) {
    const std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      f.lines.push_back(text.substr(start));
      break;
    }
    f.lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  f.exempt.assign(f.lines.size(), false);
  bool nameMayFollow = false;
  bool keywordMayFollow = false; // after a "%" that ends its line: blank lines up to "INCLUDE"
                                 // are part of the statement
  bool inCopyStatement = false;  // a COPY statement that may go on up to a period
  for (std::size_t i = 0; i < f.lines.size(); ++i) {
    const std::string &line = f.lines[i];
    const bool blank = std::all_of(line.begin(), line.end(), isBlank);
    const std::vector<std::size_t> ends = keywordEnds(line);
    const bool keyword = !ends.empty();
    if (keyword || (nameMayFollow && !blank) || (keywordMayFollow && blank) || inCopyStatement)
      f.exempt[i] = true;
    if (keyword)
      nameMayFollow = true;
    else if (!blank)
      nameMayFollow = false;
    if (keyword) {
      const std::size_t last = line.find_last_not_of(" \t\r");
      keywordMayFollow = last != std::string::npos && line[last] == '%';
    } else if (!blank) {
      keywordMayFollow = false;
    }
    // A COPY statement's later lines, roughly: up to the first line holding a period in its
    // code area (columns 8 to 72; text outside it is no part of the statement, so a keyword
    // or name beyond it leaves the name to a later line).
    constexpr std::size_t kCodeStart = 7;
    constexpr std::size_t kCodeEnd = 72;
    // A comment line (or a debugging line, a comment too) holds no part of the statement.
    const bool comment = line.size() > kCodeStart - 1 &&
                         std::string_view("*/Dd").find(line[kCodeStart - 1]) != std::string_view::npos;
    const std::size_t period = line.find('.', kCodeStart);
    if (inCopyStatement && period < kCodeEnd && !comment) inCopyStatement = false;
    for (const std::size_t end : ends)
      if (end >= 4 && startsAtCaseless(line, end - 4, "COPY"))
        inCopyStatement = line.find('.', end) >= kCodeEnd;
    f.replacing = f.replacing || findCaseless(line, "REPLACING");
  }
  return f;
}

void checkRun(const t_input &in, const t_runOutput &run) {
  if (run.result.failure != t_runFailure::none)
    failInvariant("the run did not complete (failure %d, %s)", static_cast<int>(run.result.failure),
                  run.result.failureDetail.c_str());
  if (run.result.deckWriteFailed || run.result.xmlWriteFailed || !run.result.readFailures.empty())
    failInvariant("a write or read was reported as failed");

  const t_sideFile sf = readSideFile(run.sideFile, in.format);
  if (sf.outFileName != "P.DEK") failInvariant("OUTFILENAME is not the deck");

  // Every listed file is the primary or a member file of this input.
  std::vector<t_inputFile> files;
  for (std::size_t k = 0; k < sf.files.size(); ++k) {
    const std::string &name = sf.files[k];
    if (k == 0) {
      if (name != world->primaryPath) failInvariant("file 1 is not the primary source");
      files.push_back(inputFileOf(in.primary));
      continue;
    }
    const std::string real = realPathOf(name);
    if (real.empty()) failInvariant("file %zu, %s, does not exist", k + 1, shown(name).c_str());
    bool found = false;
    for (std::size_t m = 0; m < kMemberSlots && !found; ++m) {
      if (in.members[m] && real == world->memberReal[m]) {
        files.push_back(inputFileOf(*in.members[m]));
        found = true;
      }
    }
    if (!found && real == world->primaryReal) {
      files.push_back(inputFileOf(in.primary));
      found = true;
    }
    if (!found) failInvariant("file %zu, %s, is no input of the run", k + 1, shown(name).c_str());
  }
  if (sf.messages.size() > 100) failInvariant("more than 100 messages");
  for (std::size_t i = 0; i < sf.messages.size(); ++i) {
    const t_message &m = sf.messages[i];
    const bool overflow = m.id == "KVR0012-W";
    if (!(m.id == "KVR0009-W" &&
          m.text == "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.") &&
        !(m.id == "KVR0013-W" && m.text == "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.") &&
        !(m.id == "KVR0010-W" && m.text == "++INCLUDE OR -INC STATEMENT TERMINATOR MISSING.") &&
        !(m.id == "KVR0015-W" &&
          m.text == "COPY STATEMENT INCOMPLETE OR INVALID; THE MEMBER IS NOT EXPANDED.") &&
        !(overflow && m.text == "EXCEEDED ALLOWABLE NUMBER OF PREPROCESSOR ERROR MESSAGES."))
      failInvariant("unknown message %s: %s", shown(m.id).c_str(), shown(m.text).c_str());
    if (overflow != (i == 99)) failInvariant("the overflow message is not the 100th");
    if (m.file < 1 || m.file > static_cast<long>(files.size()) || m.line < 1 ||
        m.line > static_cast<long>(files[static_cast<std::size_t>(m.file - 1)].lines.size()))
      failInvariant("message %zu names file %ld line %ld, which does not exist", i + 1, m.file,
                    m.line);
  }

  // One row per deck line.
  if (!run.deck.empty() && run.deck.back() != '\n') failInvariant("the deck ends inside a line");
  std::vector<std::string_view> deckLines;
  for (std::size_t start = 0; start < run.deck.size();) {
    const std::size_t nl = run.deck.find('\n', start);
    deckLines.push_back(std::string_view(run.deck).substr(start, nl - start));
    start = nl + 1;
  }
  if (deckLines.size() != sf.rows.size())
    failInvariant("the deck has %zu lines but the statement table %zu rows", deckLines.size(),
                  sf.rows.size());

  // Under REPLACING a member line may reach the deck changed, and text may move to a line of
  // its own: only the rows' places are checked then.
  const bool replacing = std::any_of(files.begin(), files.end(),
                                     [](const t_inputFile &f) { return f.replacing; });
  std::vector<std::vector<bool>> seen(files.size());
  for (std::size_t k = 0; k < files.size(); ++k)
    seen[k].assign(files[k].lines.size(), false);
  long nextOln = 1;
  for (std::size_t i = 0; i < sf.rows.size(); ++i) {
    const t_row &row = sf.rows[i];
    if (row.zero()) continue;
    if (row.oln != nextOln++ || row.ofn != 1 || row.ifn < 1 ||
        row.ifn > static_cast<long>(files.size()))
      failInvariant("row %zu (%ld,%ld,%ld,%ld) is out of place", i + 1, row.oln, row.ofn, row.iln,
                    row.ifn);
    const t_inputFile &f = files[static_cast<std::size_t>(row.ifn - 1)];
    if (row.iln < 1 || row.iln > static_cast<long>(f.lines.size()))
      failInvariant("row %zu names line %ld of file %ld, which has %zu lines", i + 1, row.iln,
                    row.ifn, f.lines.size());
    const auto line = static_cast<std::size_t>(row.iln - 1);
    if (!replacing && !f.exempt[line] && deckLines[i] != f.lines[line])
      failInvariant("deck line %zu \"%s\" is not line %ld of file %ld \"%s\"", i + 1,
                    shown(deckLines[i]).c_str(), row.iln, row.ifn, shown(f.lines[line]).c_str());
    seen[static_cast<std::size_t>(row.ifn - 1)][line] = true;
  }
  for (std::size_t k = 0; k < files.size(); ++k)
    for (std::size_t l = 0; l < files[k].lines.size(); ++l)
      if (!files[k].exempt[l] && !seen[k][l])
        failInvariant("line %zu of file %zu \"%s\" is missing from the deck", l + 1, k + 1,
                      shown(files[k].lines[l]).c_str());
}

// Writes the files of this input; a file that already holds its content is left alone.
void writeInputFiles(const t_input &in) {
  if (world->primaryWritten != in.primary) {
    if (!writeWholeFile(world->primaryPath, in.primary)) failInvariant("cannot write the primary");
    world->primaryWritten = in.primary;
  }
  for (std::size_t m = 0; m < kMemberSlots; ++m) {
    if (in.members[m] == world->written[m]) continue;
    if (in.members[m]) {
      if (!writeWholeFile(world->memberPaths[m], *in.members[m]))
        failInvariant("cannot write member %s", kMemberFiles[m]);
    } else {
      (void)unlink(world->memberPaths[m].c_str());
    }
    world->written[m] = in.members[m];
  }
  if (world->primaryReal.empty()) world->primaryReal = realPathOf(world->primaryPath);
  for (std::size_t m = 0; m < kMemberSlots; ++m)
    if (in.members[m] && world->memberReal[m].empty())
      world->memberReal[m] = realPathOf(world->memberPaths[m]);
}

} // namespace

// A small quarantine: each run allocates and frees the scanner's tables, and a large quarantine
// only turns that into page faults.
extern "C" const char *__asan_default_options() {
  return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  setUpWorld();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const t_input in = splitInput(data, size);
  const t_bound bound = expansionBound(in);
  if (bound.lines > kMaxDeckLines || bound.bytes > kMaxDeckBytes) return -1;

  writeInputFiles(in);
  const std::string syslib = syslibValue(in.syslibVariant);
  if (in.syslibVariant == 3)
    unsetenv("SYSLIB");
  else
    setenv("SYSLIB", syslib.c_str(), 1);

  const t_runOutput plain = runOnce(in, false);
  checkRun(in, plain);
  if (!in.noTraceRun && bound.bytes <= kMaxTracedDeckBytes) {
    const t_runOutput traced = runOnce(in, true);
    if (traced.deck != plain.deck)
      failInvariant("the deck with TRACE(ON) differs from the deck without it:\n  without: "
                    "\"%s\"\n  with:    \"%s\"",
                    shown(plain.deck, 2000).c_str(), shown(traced.deck, 2000).c_str());
    if (traced.sideFile != plain.sideFile)
      failInvariant("the side file with TRACE(ON) differs from the side file without it:\n"
                    "  without: \"%s\"\n  with:    \"%s\"",
                    shown(plain.sideFile, 4000).c_str(), shown(traced.sideFile, 4000).c_str());
  }
  return 0;
}
