// A small reader for the side file's fixed element set, and the line-map check. The reader
// builds a tree of elements with their text, resolves the five entity references, and maps the
// tree onto t_sideFile; it knows no attributes, CDATA or comments because the side file has none.
#include "sidefile.h"

#include "files.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

namespace e2e {

namespace {

struct t_element {
  std::string name;
  std::string text; // the element's own character data, entities still unresolved
  std::vector<t_element> children;
};

// Resolves &amp; &apos; &quot; &gt; &lt;; anything else after "&" is a problem.
std::string resolveEntities(std::string_view raw, std::vector<std::string> &problems) {
  static const std::pair<std::string_view, char> entities[] = {
      {"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'}, {"&gt;", '>'}, {"&lt;", '<'}};
  std::string out;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      out += raw[i];
      continue;
    }
    bool known = false;
    for (const auto &[entity, character] : entities) {
      if (raw.substr(i, entity.size()) == entity) {
        out += character;
        i += entity.size() - 1;
        known = true;
        break;
      }
    }
    if (!known) {
      problems.push_back("side file: unknown entity reference at \"" +
                         escapeBytes(raw.substr(i, 12)) + "\"");
      out += '&';
    }
  }
  return out;
}

bool isTagName(std::string_view name) {
  return !name.empty() &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// Builds the element tree under a pseudo root; problems for anything outside the subset.
t_element parseTree(std::string_view text, std::vector<std::string> &problems) {
  size_t pos = 0;
  if (text.substr(0, 5) == "<?xml") {
    const size_t end = text.find("?>");
    pos = end == std::string_view::npos ? text.size() : end + 2;
  } else {
    problems.push_back("side file: does not start with an XML prolog");
  }
  std::vector<t_element> stack(1);
  while (pos < text.size()) {
    const size_t lt = text.find('<', pos);
    stack.back().text += text.substr(pos, (lt == std::string_view::npos ? text.size() : lt) - pos);
    if (lt == std::string_view::npos) break;
    const size_t gt = text.find('>', lt);
    if (gt == std::string_view::npos) {
      problems.push_back("side file: unterminated tag at byte " + std::to_string(lt));
      break;
    }
    const std::string_view tag = text.substr(lt + 1, gt - lt - 1);
    pos = gt + 1;
    if (!tag.empty() && tag[0] == '/') {
      const std::string_view name = tag.substr(1);
      if (stack.size() < 2 || stack.back().name != name) {
        problems.push_back("side file: unexpected end tag </" + std::string(name) + ">");
        continue;
      }
      t_element done = std::move(stack.back());
      stack.pop_back();
      stack.back().children.push_back(std::move(done));
    } else if (isTagName(tag)) {
      stack.push_back(t_element{std::string(tag), {}, {}});
    } else {
      problems.push_back("side file: unexpected markup <" + escapeBytes(tag) + ">");
    }
  }
  if (stack.size() != 1)
    problems.push_back("side file: element <" + stack.back().name + "> is not closed");
  t_element root = std::move(stack.front());
  if (root.text.find_first_not_of(" \n") != std::string::npos)
    problems.push_back("side file: text outside the document element");
  return root;
}

std::vector<const t_element *> childrenNamed(const t_element &parent, std::string_view name) {
  std::vector<const t_element *> found;
  for (const auto &child : parent.children)
    if (child.name == name) found.push_back(&child);
  return found;
}

// The one child called `name`; a problem when there is not exactly one.
const t_element *onlyChild(const t_element &parent, std::string_view name,
                           std::vector<std::string> &problems) {
  const auto found = childrenNamed(parent, name);
  if (found.size() == 1) return found.front();
  problems.push_back("side file: <" + parent.name + "> holds " + std::to_string(found.size()) +
                     " <" + std::string(name) + "> elements, expected 1");
  return nullptr;
}

bool parseNumber(std::string_view text, long &value) {
  if (text.empty() || text.size() > 10 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  value = std::stol(std::string(text));
  return true;
}

long numberIn(const t_element &parent, std::string_view name, std::vector<std::string> &problems) {
  const t_element *element = onlyChild(parent, name, problems);
  long value = -1;
  if (element != nullptr && !parseNumber(element->text, value))
    problems.push_back("side file: <" + std::string(name) + "> holds \"" +
                       escapeBytes(element->text) + "\", not a number");
  return value;
}

std::string textIn(const t_element &parent, std::string_view name,
                   std::vector<std::string> &problems) {
  const t_element *element = onlyChild(parent, name, problems);
  return element == nullptr ? std::string() : resolveEntities(element->text, problems);
}

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \n") - first + 1);
}

// Entries "(oln,ofn,iln,ifn);" with blanks and newlines only between them.
void parseStatementTable(std::string_view text, std::vector<t_stmtRow> &rows,
                         std::vector<std::string> &problems) {
  size_t pos = 0;
  while (true) {
    pos = text.find_first_not_of(" \n", pos);
    if (pos == std::string_view::npos) return;
    const size_t close = text.find(')', pos);
    if (text[pos] != '(' || close == std::string_view::npos || close + 1 >= text.size() ||
        text[close + 1] != ';') {
      problems.push_back("side file: bad statement entry at \"" +
                         escapeBytes(text.substr(pos, 40)) + "\"");
      return;
    }
    const std::string_view inner = text.substr(pos + 1, close - pos - 1);
    long values[4] = {0, 0, 0, 0};
    size_t start = 0;
    bool ok = true;
    for (int k = 0; k < 4 && ok; ++k) {
      const size_t comma = k < 3 ? inner.find(',', start) : inner.size();
      ok = comma != std::string_view::npos &&
           parseNumber(inner.substr(start, comma - start), values[k]);
      start = comma + 1;
    }
    if (!ok || start != inner.size() + 1) {
      problems.push_back("side file: bad statement entry \"(" + escapeBytes(inner) + ");\"");
      return;
    }
    rows.push_back(t_stmtRow{values[0], values[1], values[2], values[3]});
    pos = close + 2;
  }
}

} // namespace

std::vector<std::string> parseSideFile(std::string_view text, t_sideFile &sideFile) {
  std::vector<std::string> problems;
  sideFile = t_sideFile{};
  const t_element root = parseTree(text, problems);
  const t_element *build = onlyChild(root, "BUILD", problems);
  const t_element *package = build == nullptr ? nullptr : onlyChild(*build, "PACKAGE", problems);
  if (package == nullptr) return problems;

  static const std::set<std::string, std::less<>> packageParts = {
      "FILEREFERENCETABLE", "MESSAGE", "OUTFILEREFERENCETABLE", "STATEMENTTABLE"};
  for (const auto &child : package->children)
    if (packageParts.count(child.name) == 0)
      problems.push_back("side file: unexpected element <" + child.name + "> in <PACKAGE>");

  if (const t_element *table = onlyChild(*package, "FILEREFERENCETABLE", problems)) {
    sideFile.fileCount = numberIn(*table, "FILECOUNT", problems);
    for (const t_element *file : childrenNamed(*table, "FILE")) {
      const long number = numberIn(*file, "FILENUMBER", problems);
      std::string name = textIn(*file, "FILENAME", problems);
      if (sideFile.files.count(number) != 0)
        problems.push_back("side file: file number " + std::to_string(number) + " listed twice");
      sideFile.files[number] = std::move(name);
    }
  }
  for (const t_element *message : childrenNamed(*package, "MESSAGE")) {
    t_sideFileMessage m;
    m.id = textIn(*message, "MSGNUMBER", problems);
    m.line = numberIn(*message, "MSGLINE", problems);
    m.file = numberIn(*message, "MSGFILE", problems);
    m.text = std::string(trimmed(textIn(*message, "MSGTEXT", problems)));
    sideFile.messages.push_back(std::move(m));
  }
  if (const t_element *table = onlyChild(*package, "OUTFILEREFERENCETABLE", problems)) {
    sideFile.outFileCount = numberIn(*table, "OUTFILECOUNT", problems);
    if (const t_element *outFile = onlyChild(*table, "OUTFILE", problems)) {
      sideFile.outFileNumber = numberIn(*outFile, "OUTFILENUMBER", problems);
      sideFile.outFileName = textIn(*outFile, "OUTFILENAME", problems);
    }
  }
  if (const t_element *table = onlyChild(*package, "STATEMENTTABLE", problems))
    parseStatementTable(table->text, sideFile.rows, problems);
  return problems;
}

namespace {

bool isWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// `keyword` in any case at `at`, starting a word and followed by white space or the line end.
bool wordKeywordAt(std::string_view line, size_t at, std::string_view keyword) {
  if (!equalsIgnoringCase(line.substr(at, keyword.size()), keyword)) return false;
  if (at > 0 && isWordChar(line[at - 1])) return false;
  const size_t after = at + keyword.size();
  return after >= line.size() || isBlank(line[after]);
}

bool holdsWordKeyword(std::string_view line, std::string_view keyword) {
  for (size_t at = 0; at + keyword.size() <= line.size(); ++at)
    if (wordKeywordAt(line, at, keyword)) return true;
  return false;
}

// A part of an SQL INCLUDE statement (SQLINC(ON)), which may span lines: the word EXEC or
// INCLUDE, or END-EXEC, in any case.
bool holdsSqlIncludePart(std::string_view line) {
  if (holdsWordKeyword(line, "EXEC") || holdsWordKeyword(line, "INCLUDE")) return true;
  for (size_t at = 0; at + 8 <= line.size(); ++at)
    if (equalsIgnoringCase(line.substr(at, 8), "END-EXEC")) return true;
  return false;
}

// "%" with blanks after it and then INCLUDE or XINCLUDE, or with only white space after it up to
// the line end (the keyword may begin the next line).
bool holdsPercentKeyword(std::string_view line) {
  for (size_t at = line.find('%'); at != std::string_view::npos; at = line.find('%', at + 1)) {
    if (at > 0 && isWordChar(line[at - 1])) continue;
    size_t k = at + 1;
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t' || line[k] == '\r'))
      ++k;
    if (k >= line.size() || line[k] == '\n') return true;
    if (wordKeywordAt(line, k, "INCLUDE") || wordKeywordAt(line, k, "XINCLUDE")) return true;
  }
  return false;
}

// True when the line's last word is a keyword whose member name may follow on the next line.
bool endsWithKeywordWord(std::string_view line) {
  const size_t end = line.find_last_not_of(" \t\r\n");
  if (end == std::string_view::npos) return false;
  if (line[end] == '%' && (end == 0 || !isWordChar(line[end - 1]))) return true;
  for (std::string_view keyword : {"COPY", "%INCLUDE", "%XINCLUDE", "++INCLUDE", "INCLUDE"}) {
    if (end + 1 < keyword.size()) continue;
    const size_t at = end + 1 - keyword.size();
    if (keyword == "INCLUDE") {
      // "% INCLUDE" or "% XINCLUDE" at the end of the line.
      if (!wordKeywordAt(line, at, keyword) && !(at > 0 && wordKeywordAt(line, at - 1, "XINCLUDE")))
        continue;
      size_t k = at > 0 && (line[at - 1] == 'X' || line[at - 1] == 'x') ? at - 1 : at;
      while (k > 0 && (line[k - 1] == ' ' || line[k - 1] == '\t'))
        --k;
      if (k > 0 && line[k - 1] == '%') return true;
      continue;
    }
    if (keyword == "++INCLUDE" ? line.substr(at, keyword.size()) == keyword
                               : wordKeywordAt(line, at, keyword))
      return true;
  }
  return false;
}

// The same, also for the line without columns 73 and beyond (a COBOL line's identification
// area, which holds no part of a statement).
bool endsWithOpenKeyword(std::string_view line) {
  constexpr size_t codeColumns = 72;
  return endsWithKeywordWord(line) ||
         (line.size() > codeColumns && endsWithKeywordWord(line.substr(0, codeColumns)));
}

bool isBlankLine(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return isBlank(c) || c == '\0'; });
}


// The deck line is the input line with some characters blanked and/or its end cut off, and it
// is not blank itself.
bool isMaskedCopy(std::string_view deckLine, std::string_view inputLine) {
  if (deckLine.size() > inputLine.size() || isBlankLine(deckLine)) return false;
  for (size_t j = 0; j < deckLine.size(); ++j)
    if (deckLine[j] != inputLine[j] && deckLine[j] != ' ') return false;
  return true;
}

// One input file of the run, split into lines.
struct t_inputFile {
  std::string name;
  std::string content;
  std::vector<std::string_view> segments; // lines; the last is "" when the file ends in "\n"
  [[nodiscard]] size_t realLines() const {
    return segments.back().empty() ? segments.size() - 1 : segments.size();
  }
  // Line n (1-based) as the scanner keeps it: every byte, except the carriage return of a
  // carriage return and newline.
  [[nodiscard]] std::string_view line(size_t n) const {
    const std::string_view text = segments[n - 1];
    const bool newlineFollows = n < segments.size();
    return newlineFollows && !text.empty() && text.back() == '\r' ? text.substr(0, text.size() - 1)
                                                                   : text;
  }
};

// Collects problems per check, keeping the first few of each kind readable.
class t_problemList {
public:
  void add(const std::string &kind, std::string text) {
    if (++counts_[kind] <= shownPerKind) problems_.push_back(std::move(text));
  }
  std::vector<std::string> take() {
    for (const auto &[kind, count] : counts_)
      if (count > shownPerKind)
        problems_.push_back("(" + kind + ": " + std::to_string(count - shownPerKind) +
                            " more problems of this kind not shown)");
    return std::move(problems_);
  }

private:
  static constexpr int shownPerKind = 12;
  std::vector<std::string> problems_;
  std::map<std::string, int> counts_;
};

// The COBOL COPY statements of a file that go on past their first line, read roughly as the
// compiler does: the lines after a statement's first that belong to it, and the text of every
// REPLACING phrase (where replaced deck lines take their words from).
struct t_copySpans {
  std::set<size_t> continuationLines; // 1-based
  bool replacing = false;
  std::string replacingText;
};

t_copySpans findCopySpans(const t_inputFile &input) {
  constexpr size_t codeStart = 7;
  constexpr size_t codeEnd = 72;
  t_copySpans spans;
  const size_t lines = input.realLines();
  // Words of the code area from (line, col) on, comment lines skipped; "==" and literals whole.
  struct t_cursor {
    size_t line = 0, col = 0;
  };
  const auto codeOf = [&](size_t line) -> std::string_view {
    std::string_view text = input.segments[line];
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    if (text.size() > codeStart - 1 && (text[codeStart - 1] == '*' || text[codeStart - 1] == '/'))
      return {};
    return text.substr(0, std::min(text.size(), codeEnd));
  };
  const auto nextWord = [&](t_cursor &at, std::string &word) -> bool {
    for (; at.line < lines; ++at.line, at.col = codeStart) {
      const std::string_view code = codeOf(at.line);
      size_t i = std::max(at.col, codeStart);
      while (i < code.size() && (isBlank(code[i]) || code[i] == ',' || code[i] == ';'))
        ++i;
      if (i >= code.size()) continue;
      size_t j = i + 1;
      if (code[i] == '.') {
      } else if (code.substr(i, 2) == "==") {
        // Pseudo-text, possibly over several lines: the word is all of it.
        word.clear();
        size_t from = i + 2;
        for (; at.line < lines; ++at.line, from = codeStart) {
          const std::string_view c = codeOf(at.line);
          const size_t close = from <= c.size() ? c.find("==", from) : std::string_view::npos;
          if (close != std::string_view::npos) {
            word += std::string(c.substr(from, close - from));
            at.col = close + 2;
            return true;
          }
          if (from < c.size()) word += std::string(c.substr(from)) + " ";
        }
        return true;
      } else if (code[i] == '\'' || code[i] == '"') {
        const size_t close = code.find(code[i], i + 1);
        j = close == std::string_view::npos ? code.size() : close + 1;
      } else {
        while (j < code.size() && !isBlank(code[j]) && code[j] != ',' && code[j] != ';' &&
               !(code[j] == '.' && (j + 1 >= code.size() || isBlank(code[j + 1]))))
          ++j;
      }
      word.assign(code.substr(i, j - i));
      at.col = j;
      return true;
    }
    return false;
  };
  const auto upper = [](std::string w) {
    for (char &c : w)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return w;
  };
  for (size_t line = 0; line < lines; ++line) {
    const std::string_view code = codeOf(line);
    size_t at = std::string_view::npos;
    for (size_t k = codeStart; k + 4 <= code.size(); ++k)
      if (wordKeywordAt(code, k, "COPY")) {
        at = k;
        break;
      }
    if (at == std::string_view::npos) continue;
    t_cursor cur{line, at + 4};
    std::string word;
    if (!nextWord(cur, word)) break; // the name
    size_t last = cur.line;
    t_cursor peek = cur;
    bool goesOn = last != line;
    bool inReplacing = false;
    bool libraryNext = false;
    while (nextWord(peek, word)) {
      const std::string up = upper(word);
      if (word == ".") {
        goesOn = goesOn || peek.line != last;
        last = peek.line;
        break;
      }
      if (!inReplacing && !libraryNext && up != "OF" && up != "IN" && up != "SUPPRESS" &&
          up != "PRINTING" && up != "REPLACING")
        break; // the statement ended after its name (or its library name)
      libraryNext = !inReplacing && (up == "OF" || up == "IN");
      if (up == "REPLACING") {
        inReplacing = true;
        spans.replacing = true;
      } else if (inReplacing) {
        spans.replacingText += word + " ";
      }
      goesOn = true;
      last = peek.line;
      cur = peek;
    }
    if (!goesOn) continue;
    for (size_t k = line + 2; k <= last + 1; ++k)
      spans.continuationLines.insert(k);
    line = last;
  }
  return spans;
}

// The first text word of a fixed-form line's code area (columns 8 to 72), or "".
std::string_view firstCodeWord(std::string_view line) {
  constexpr size_t codeStart = 7;
  const std::string_view code = line.substr(0, std::min<size_t>(line.size(), 72));
  size_t i = codeStart;
  while (i < code.size() && (isBlank(code[i]) || code[i] == ',' || code[i] == ';'))
    ++i;
  size_t j = i;
  while (j < code.size() && !isBlank(code[j]) && code[j] != ',' && code[j] != ';' &&
         code[j] != '.' && code[j] != '(')
    ++j;
  return i < code.size() ? code.substr(i, j - i) : std::string_view{};
}

// A member line changed by REPLACING: its sequence area is the input line's, and its first text
// word comes from that line or from a REPLACING phrase of the run.
bool isReplacedLine(std::string_view deckLine, std::string_view inputLine,
                    const std::string &replacingText) {
  constexpr size_t sequenceArea = 6;
  if (deckLine.substr(0, std::min(deckLine.size(), sequenceArea)) !=
      inputLine.substr(0, std::min(inputLine.size(), sequenceArea)))
    return false;
  const std::string_view word = firstCodeWord(deckLine);
  if (word.empty()) return true;
  const auto has = [&](std::string_view text) {
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
                       [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) ==
                                                   std::toupper(static_cast<unsigned char>(b)); }) !=
           text.end();
  };
  return has(inputLine) || has(replacingText);
}

std::string rowText(const t_stmtRow &r) {
  return "(" + std::to_string(r.oln) + "," + std::to_string(r.ofn) + "," + std::to_string(r.iln) +
         "," + std::to_string(r.ifn) + ")";
}

std::string quoteText(std::string_view text) {
  return "\"" + escapeBytes(text) + "\"";
}

} // namespace

bool holdsIncludeKeyword(std::string_view line) {
  if (line.find("-INC") != std::string_view::npos) return true;
  if (line.find("++INCLUDE") != std::string_view::npos) return true;
  return holdsWordKeyword(line, "COPY") || holdsWordKeyword(line, "%INCLUDE") ||
         holdsWordKeyword(line, "%XINCLUDE") || holdsPercentKeyword(line) ||
         holdsSqlIncludePart(line);
}

std::vector<std::string> checkLineMap(const std::filesystem::path &workDir,
                                      const t_sideFile &sideFile) {
  t_problemList problems;
  const auto deck = readFile(workDir / sideFile.outFileName);
  if (!deck) return {"line map: cannot read the deck " + quoteText(sideFile.outFileName)};
  std::vector<std::string_view> deckLines = splitAtNewlines(*deck);
  if (!deckLines.back().empty())
    problems.add("deck end",
                 "line map: the deck's last line has no newline: " + quoteText(deckLines.back()));
  else
    deckLines.pop_back();

  // (a) one row per deck line.
  if (sideFile.rows.size() != deckLines.size())
    problems.add("row count", "line map: " + std::to_string(sideFile.rows.size()) +
                                  " statement rows for " + std::to_string(deckLines.size()) +
                                  " deck lines");

  std::map<long, t_inputFile> inputs;
  for (const auto &[number, name] : sideFile.files) {
    auto content = readFile(workDir / name);
    if (!content) {
      problems.add("input", "line map: cannot read input file " + std::to_string(number) + " " +
                                quoteText(name));
      continue;
    }
    t_inputFile &input = inputs[number];
    input.name = name;
    input.content = std::move(*content);
    input.segments = splitAtNewlines(input.content);
  }
  // COPY statements over several lines, and REPLACING anywhere in the run.
  std::map<long, std::set<size_t>> statementLines;
  bool replacing = false;
  std::string replacingText;
  for (const auto &[number, input] : inputs) {
    t_copySpans spans = findCopySpans(input);
    statementLines[number] = std::move(spans.continuationLines);
    replacing = replacing || spans.replacing;
    replacingText += spans.replacingText;
  }

  std::set<std::pair<long, long>> seen; // (ifn, iln) of every non-zero row
  long nextOln = 1;
  const t_stmtRow *previous = nullptr; // the last non-zero row
  size_t zeroGroupStart = 0;           // first row of the current run of zero rows, 1-based
  for (size_t k = 1; k <= sideFile.rows.size(); ++k) {
    const t_stmtRow &row = sideFile.rows[k - 1];
    const std::string where = "row " + std::to_string(k) + " " + rowText(row);
    const bool haveDeckLine = k <= deckLines.size();

    // (f) a run of zero rows: the commented statement and the empty line after it.
    if (row.isZero()) {
      if (zeroGroupStart == 0) zeroGroupStart = k;
      const bool groupEnds = k == sideFile.rows.size() || !sideFile.rows[k].isZero();
      if (groupEnds && haveDeckLine) {
        bool keyword = false;
        for (size_t j = zeroGroupStart; j <= k; ++j)
          keyword = keyword || holdsIncludeKeyword(deckLines[j - 1]);
        // A statement whose member name stands on a later line: the keyword's line was written
        // as ordinary text before the commented name line.
        size_t before = zeroGroupStart - 1;
        while (before >= 1 && isBlankLine(deckLines[before - 1]))
          --before;
        keyword = keyword || (before >= 1 && endsWithOpenKeyword(deckLines[before - 1]));
        if (!deckLines[k - 1].empty() || !keyword)
          problems.add("commented lines",
                       "line map: rows " + std::to_string(zeroGroupStart) + ".." +
                           std::to_string(k) +
                           " are (0,0,0,0) but their deck lines are not a commented include "
                           "statement followed by an empty line; last of them: " +
                           quoteText(deckLines[k - 1]));
      }
      if (groupEnds) zeroGroupStart = 0;
      continue;
    }

    // (b) the row's own values.
    const auto input = inputs.find(row.ifn);
    if (row.ofn != 1)
      problems.add("row values", "line map: " + where + ": output file number is not 1");
    if (row.oln != nextOln)
      problems.add("row values", "line map: " + where + ": output line number should be " +
                                     std::to_string(nextOln));
    nextOln = row.oln + 1; // report each break in the numbering once
    if (sideFile.files.count(row.ifn) == 0) {
      problems.add("row values", "line map: " + where + ": input file " + std::to_string(row.ifn) +
                                     " is not listed");
      continue;
    }
    if (input == inputs.end()) continue; // unreadable, reported above
    if (row.iln < 1 || static_cast<size_t>(row.iln) > input->second.segments.size()) {
      problems.add("row values", "line map: " + where + ": line " + std::to_string(row.iln) +
                                     " is outside " + quoteText(input->second.name) + " (" +
                                     std::to_string(input->second.realLines()) + " lines)");
      continue;
    }
    seen.insert({row.ifn, row.iln});

    // (e) order within one file.
    if (previous != nullptr && previous->ifn == row.ifn && row.iln != previous->iln &&
        row.iln != previous->iln + 1 && row.iln != 1)
      problems.add("order", "line map: " + where + " follows " + rowText(*previous) +
                                ": a line of " + quoteText(input->second.name) +
                                " is skipped or repeated out of order");
    previous = &row;

    // (c) the deck line is the input line.
    if (!haveDeckLine) continue;
    const std::string_view inputLine = input->second.line(static_cast<size_t>(row.iln));
    const std::string_view deckLine = deckLines[k - 1];
    if (deckLine == inputLine) continue;
    if (isMaskedCopy(deckLine, inputLine)) {
      // Text after a statement: on its line, or on the last line of one that spans lines.
      size_t before = static_cast<size_t>(row.iln) - 1;
      while (before >= 1 && isBlankLine(input->second.line(before)))
        --before;
      if (holdsIncludeKeyword(inputLine) ||
          statementLines[row.ifn].count(static_cast<size_t>(row.iln)) != 0 ||
          (before >= 1 && holdsIncludeKeyword(input->second.line(before))))
        continue;
    }
    if (replacing && isReplacedLine(deckLine, inputLine, replacingText)) continue;
    problems.add("text", "line map: deck line " + std::to_string(k) + " " + quoteText(deckLine) +
                             " is not line " + std::to_string(row.iln) + " of " +
                             quoteText(input->second.name) + " " + quoteText(inputLine) + " (" +
                             where + ")");
  }

  // (d) every input line without an include keyword reaches the deck.
  for (const auto &[number, input] : inputs) {
    for (size_t line = 1; line <= input.realLines(); ++line) {
      if (seen.count({number, static_cast<long>(line)}) != 0) continue;
      const std::string_view text = input.line(line);
      if (holdsIncludeKeyword(text)) continue;
      if (statementLines[number].count(line) != 0) continue; // part of a COPY statement
      size_t before = line - 1;
      while (before >= 1 && isBlankLine(input.segments[before - 1]))
        --before;
      if (before >= 1 && endsWithOpenKeyword(input.line(before))) continue;
      problems.add("lost lines", "line map: line " + std::to_string(line) + " of " +
                                     quoteText(input.name) + " " + quoteText(text) +
                                     " is in no statement row");
    }
  }

  // (g) messages point at include statements.
  for (const auto &message : sideFile.messages) {
    const std::string what = "line map: message " + message.id + " at line " +
                             std::to_string(message.line) + " of file " +
                             std::to_string(message.file);
    const auto input = inputs.find(message.file);
    if (sideFile.files.count(message.file) == 0) {
      problems.add("messages", what + ": the file is not listed");
      continue;
    }
    if (input == inputs.end()) continue;
    // A statement completed by the end of its file is reported on the line after the last.
    if (message.line < 1 || static_cast<size_t>(message.line) > input->second.segments.size()) {
      problems.add("messages", what + ": no such line in " + quoteText(input->second.name));
      continue;
    }
    size_t line = static_cast<size_t>(message.line);
    bool found = holdsIncludeKeyword(input->second.line(line));
    while (!found && line > 1) {
      --line;
      if (isBlankLine(input->second.segments[line - 1])) continue;
      found = holdsIncludeKeyword(input->second.line(line));
      break;
    }
    if (!found)
      problems.add("messages",
                   what + ": that line " +
                       quoteText(input->second.segments[static_cast<size_t>(message.line) - 1]) +
                       " holds no include statement");
  }
  return problems.take();
}

std::vector<std::string> checkSideFileLineMap(const std::filesystem::path &workDir,
                                              const std::filesystem::path &sideFilePath) {
  const auto text = readFile(sideFilePath);
  if (!text) return {"cannot read the side file " + sideFilePath.string()};
  t_sideFile sideFile;
  std::vector<std::string> problems = parseSideFile(*text, sideFile);
  if (!problems.empty()) return problems;
  return checkLineMap(workDir, sideFile);
}

} // namespace e2e
