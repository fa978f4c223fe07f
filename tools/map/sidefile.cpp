#include "sidefile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

namespace incmap {

// ---------------------------------------------------------------------------------------------
// Statement table storage

bool t_stmtTable::append(std::uint32_t line, std::uint32_t file) {
  if (rows_ == UINT32_MAX) return false;
  const std::uint32_t k = rows_ + 1;
  if (!runs_.empty()) {
    t_rowRun &last = runs_.back();
    if (last.file == file) {
      // A run of a real file continues when the line is the next one; rows without a source
      // (file 0) continue their run when they repeat the same line value.
      const std::uint64_t expected =
          file == 0 ? last.firstLine : std::uint64_t{last.firstLine} + (k - last.firstRow);
      if (expected == line) {
        rows_ = k;
        return true;
      }
    }
  }
  runs_.push_back(t_rowRun{k, line, file});
  rows_ = k;
  return true;
}

std::size_t t_stmtTable::runIndexOf(std::uint32_t k) const {
  // The last run whose first row is at most k.
  const auto after =
      std::upper_bound(runs_.begin(), runs_.end(), k,
                       [](std::uint32_t row, const t_rowRun &run) { return row < run.firstRow; });
  return static_cast<std::size_t>(after - runs_.begin()) - 1;
}

std::uint32_t t_stmtTable::runLength(std::size_t i) const {
  const std::uint32_t next = i + 1 < runs_.size() ? runs_[i + 1].firstRow : rows_ + 1;
  return next - runs_[i].firstRow;
}

t_stmtRow t_stmtTable::row(std::uint32_t k) const {
  const t_rowRun &run = runs_[runIndexOf(k)];
  if (run.file == 0) return t_stmtRow{run.firstLine, 0};
  return t_stmtRow{run.firstLine + (k - run.firstRow), run.file};
}

// ---------------------------------------------------------------------------------------------
// Statement table text

namespace {

constexpr std::uint32_t kMaxNumber = 2147483647U; // numbers in the side file are 32-bit signed

bool isXmlSpace(char c) {
  return c == ' ' || c == '\n' || c == '\t' || c == '\r';
}

// Message texts are put together by appending (the compiler's string operators give false
// warnings under high optimisation).
std::string joined(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts)
    text.append(part);
  return text;
}

std::string describeChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x21 && u <= 0x7E) return joined({"'", std::string_view(&c, 1), "'"});
  if (c == ' ') return "a blank";
  if (c == '\n') return "a line end";
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", u);
  return std::string("byte ") + hex;
}

} // namespace

bool t_stmtTextParser::fail(std::string &error, const std::string &what) {
  failed_ = true;
  error = joined(
      {"statement table entry ", std::to_string(std::uint64_t{table_.rowCount()} + 1), ": ", what});
  return false;
}

bool t_stmtTextParser::feed(std::string_view piece, std::string &error) {
  if (failed_) {
    error = "statement table already rejected";
    return false;
  }
  for (const char c : piece) {
    if (field_ == -1) {
      if (isXmlSpace(c)) continue;
      if (c != '(') return fail(error, joined({"expected '(' but found ", describeChar(c)}));
      field_ = 0;
      haveDigit_ = false;
      value_ = 0;
      continue;
    }
    if (field_ == 4) {
      if (c != ';')
        return fail(error, joined({"expected ';' after ')' but found ", describeChar(c)}));
      if (!table_.append(values_[2], values_[3])) return fail(error, "too many rows");
      field_ = -1;
      continue;
    }
    if (c >= '0' && c <= '9') {
      value_ = value_ * 10 + static_cast<unsigned>(c - '0');
      if (value_ > kMaxNumber) return fail(error, "number larger than 2147483647");
      haveDigit_ = true;
      continue;
    }
    const char expected = field_ < 3 ? ',' : ')';
    if (c != expected || !haveDigit_) {
      if (!haveDigit_) return fail(error, joined({"expected a digit but found ", describeChar(c)}));
      return fail(error, joined({"expected '", std::string_view(&expected, 1), "' but found ",
                                 describeChar(c)}));
    }
    values_[field_] = static_cast<std::uint32_t>(value_);
    ++field_;
    haveDigit_ = false;
    value_ = 0;
  }
  return true;
}

bool t_stmtTextParser::finish(std::string &error) {
  if (failed_) {
    error = "statement table already rejected";
    return false;
  }
  if (field_ != -1) return fail(error, "the table ends inside an entry");
  return true;
}

const std::string *t_sideFile::fileName(std::uint32_t number) const {
  const auto it = fileNames.find(number);
  return it == fileNames.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------------------------
// Document structure

namespace {

enum class t_kind { container, number, text, statements };

struct t_childRule {
  const char *name;
  unsigned min;
  unsigned max;
};

struct t_elementRule {
  const char *name;
  t_kind kind;
  std::vector<t_childRule> children;
};

const std::vector<t_elementRule> &elementRules() {
  static const std::vector<t_elementRule> rules = {
      {"BUILD", t_kind::container, {{"PACKAGE", 1, 1}}},
      {"PACKAGE",
       t_kind::container,
       {{"FILEREFERENCETABLE", 1, 1},
        {"MESSAGE", 0, UINT_MAX},
        {"OUTFILEREFERENCETABLE", 1, 1},
        {"STATEMENTTABLE", 1, 1}}},
      {"FILEREFERENCETABLE", t_kind::container, {{"FILECOUNT", 1, 1}, {"FILE", 0, UINT_MAX}}},
      {"FILE", t_kind::container, {{"FILENUMBER", 1, 1}, {"FILENAME", 1, 1}}},
      {"MESSAGE",
       t_kind::container,
       {{"MSGNUMBER", 1, 1}, {"MSGLINE", 1, 1}, {"MSGFILE", 1, 1}, {"MSGTEXT", 1, 1}}},
      {"OUTFILEREFERENCETABLE", t_kind::container, {{"OUTFILECOUNT", 1, 1}, {"OUTFILE", 1, 1}}},
      {"OUTFILE", t_kind::container, {{"OUTFILENUMBER", 1, 1}, {"OUTFILENAME", 1, 1}}},
      {"FILECOUNT", t_kind::number, {}},
      {"FILENUMBER", t_kind::number, {}},
      {"FILENAME", t_kind::text, {}},
      {"MSGNUMBER", t_kind::text, {}},
      {"MSGLINE", t_kind::number, {}},
      {"MSGFILE", t_kind::number, {}},
      {"MSGTEXT", t_kind::text, {}},
      {"OUTFILECOUNT", t_kind::number, {}},
      {"OUTFILENUMBER", t_kind::number, {}},
      {"OUTFILENAME", t_kind::text, {}},
      {"STATEMENTTABLE", t_kind::statements, {}},
  };
  return rules;
}

const t_elementRule *findRule(std::string_view name) {
  for (const t_elementRule &rule : elementRules())
    if (name == rule.name) return &rule;
  return nullptr;
}

// The parameter type of libxml2's structured error callback (its constness differs between
// library versions).
template <typename F> struct t_secondParameter;
template <typename R, typename A, typename B> struct t_secondParameter<R (*)(A, B)> {
  using type = B;
};
using t_xmlErrorParam = t_secondParameter<xmlStructuredErrorFunc>::type;

struct t_xmlErrorSink {
  bool seen = false;
  int code = 0;
  int line = 0;
  std::string message;
};

void recordXmlError(void *context, t_xmlErrorParam error) {
  auto *sink = static_cast<t_xmlErrorSink *>(context);
  if (sink == nullptr || error == nullptr || sink->seen) return;
  if (error->level != XML_ERR_ERROR && error->level != XML_ERR_FATAL) return;
  sink->seen = true;
  sink->code = error->code;
  sink->line = error->line;
  // libxml2's messages end with a line end and may go on with details on further lines.
  const std::string_view text = error->message != nullptr ? error->message : "unknown XML error";
  sink->message = std::string(text.substr(0, text.find('\n')));
  while (!sink->message.empty() && isXmlSpace(sink->message.back()))
    sink->message.pop_back();
}

void ignoreGenericError(void *, const char *, ...) {}

struct t_openElement {
  const t_elementRule *rule = nullptr;
  std::size_t pos = 0; // position in rule->children
  unsigned count = 0;  // children matched at that position
  std::string text;    // leaf elements: their text
};

class t_loader {
public:
  t_loader(xmlTextReaderPtr reader, const std::string &name, t_sideFile &out)
      : reader_(reader), name_(name), out_(out), stmtParser_(out.statements) {}

  bool run(std::string &error);
  /// True when the document failed only because it is not UTF-8.
  [[nodiscard]] bool notUtf8() const { return notUtf8_; }

private:
  bool fail(std::string &error, const std::string &what, int line = -1);
  bool startElement(std::string &error);
  bool endElement(std::string &error);
  bool text(std::string_view value, bool whitespaceOnly, std::string &error);
  bool leafValue(const t_openElement &element, std::string &error);
  bool parseNumber(const t_openElement &element, std::uint32_t &value, std::string &error);

  xmlTextReaderPtr reader_;
  const std::string &name_;
  t_sideFile &out_;
  t_stmtTextParser stmtParser_;
  std::vector<t_openElement> open_;
  bool rootSeen_ = false;
  bool rootClosed_ = false;
  bool notUtf8_ = false;
  long stmtLine_ = 0; // document line reached in the statement table's text (0: unknown)
  std::uint32_t pendingFileNumber_ = 0;
  std::string pendingFileName_;
};

bool t_loader::fail(std::string &error, const std::string &what, int line) {
  if (line < 0) {
    const xmlNodePtr node = xmlTextReaderCurrentNode(reader_);
    line = node != nullptr ? static_cast<int>(xmlGetLineNo(node)) : 0;
  }
  error = name_;
  if (line > 0) {
    error += ':';
    error += std::to_string(line);
  }
  error += ": not a valid side file: ";
  error += what;
  return false;
}

bool t_loader::run(std::string &error) {
  t_xmlErrorSink sink;
  xmlTextReaderSetStructuredErrorHandler(reader_, recordXmlError, &sink);
  for (;;) {
    const int rc = xmlTextReaderRead(reader_);
    if (rc < 0 || sink.seen) {
      if (!sink.seen) return fail(error, "the document cannot be read", 0);
      notUtf8_ =
          sink.code == XML_ERR_INVALID_CHAR && sink.message.find("UTF-8") != std::string::npos;
      // The streaming reader reports a document cut short as extra content at its end.
      if (sink.code == XML_ERR_DOCUMENT_END && !open_.empty())
        return fail(error, joined({"the document ends inside <", open_.back().rule->name, ">"}),
                    sink.line);
      return fail(error, sink.message, sink.line);
    }
    if (rc == 0) break;
    switch (xmlTextReaderNodeType(reader_)) {
    case XML_READER_TYPE_ELEMENT:
      if (!startElement(error)) return false;
      if (xmlTextReaderIsEmptyElement(reader_) == 1 && !endElement(error)) return false;
      break;
    case XML_READER_TYPE_END_ELEMENT:
      if (!endElement(error)) return false;
      break;
    case XML_READER_TYPE_TEXT:
    case XML_READER_TYPE_CDATA:
    case XML_READER_TYPE_WHITESPACE:
    case XML_READER_TYPE_SIGNIFICANT_WHITESPACE: {
      const xmlChar *value = xmlTextReaderConstValue(reader_);
      const std::string_view text_ =
          value == nullptr ? std::string_view{} : reinterpret_cast<const char *>(value);
      const bool ws = std::all_of(text_.begin(), text_.end(), isXmlSpace);
      if (!text(text_, ws, error)) return false;
      break;
    }
    case XML_READER_TYPE_ENTITY_REFERENCE:
      return fail(error, "entity references other than &amp; &apos; &quot; &gt; &lt; are not "
                         "allowed");
    default: // comments, processing instructions, the document type: no content
      break;
    }
  }
  if (!rootSeen_) return fail(error, "no <BUILD> element");
  if (!rootClosed_) return fail(error, "the document ends before </BUILD>");
  return true;
}

bool t_loader::startElement(std::string &error) {
  const xmlChar *rawName = xmlTextReaderConstName(reader_);
  const std::string name = rawName == nullptr ? "" : reinterpret_cast<const char *>(rawName);
  const t_elementRule *rule = findRule(name);
  if (open_.empty()) {
    if (rootSeen_) return fail(error, "content after </BUILD>");
    if (name != "BUILD")
      return fail(error, joined({"the document element is <", name, ">, not <BUILD>"}));
    rootSeen_ = true;
    open_.push_back(t_openElement{rule, 0, 0, {}});
    return true;
  }
  t_openElement &parent = open_.back();
  if (parent.rule->kind != t_kind::container)
    return fail(error,
                joined({"unexpected element <", name, "> inside <", parent.rule->name, ">"}));
  const auto &children = parent.rule->children;
  while (parent.pos < children.size()) {
    const t_childRule &child = children[parent.pos];
    if (name == child.name && parent.count < child.max) {
      ++parent.count;
      open_.push_back(t_openElement{rule, 0, 0, {}});
      if (rule->kind == t_kind::statements) {
        // The table's text starts on the line of its start tag.
        const xmlNodePtr node = xmlTextReaderCurrentNode(reader_);
        stmtLine_ = node != nullptr ? xmlGetLineNo(node) : 0;
      }
      return true;
    }
    if (parent.count < child.min)
      return fail(error, joined({"expected <", child.name, "> in <", parent.rule->name,
                                 "> but found <", name, ">"}));
    ++parent.pos;
    parent.count = 0;
  }
  return fail(error, joined({"unexpected element <", name, "> in <", parent.rule->name, ">"}));
}

bool t_loader::endElement(std::string &error) {
  if (open_.empty()) return fail(error, "unbalanced end tag");
  t_openElement element = std::move(open_.back());
  open_.pop_back();
  const t_elementRule &rule = *element.rule;
  if (rule.kind == t_kind::container) {
    for (; element.pos < rule.children.size(); ++element.pos, element.count = 0) {
      const t_childRule &child = rule.children[element.pos];
      if (element.count < child.min)
        return fail(error, joined({"<", rule.name, "> lacks <", child.name, ">"}));
    }
    const std::string_view name = rule.name;
    if (name == "FILE") {
      if (!out_.fileNames.emplace(pendingFileNumber_, pendingFileName_).second)
        return fail(error, joined({"file number ", std::to_string(pendingFileNumber_),
                                   " is listed twice"}));
    } else if (name == "MESSAGE") {
      ++out_.messageCount;
    } else if (name == "BUILD") {
      rootClosed_ = true;
    }
    return true;
  }
  if (rule.kind == t_kind::statements) {
    std::string what;
    if (!stmtParser_.finish(what)) return fail(error, what);
    return true;
  }
  return leafValue(element, error);
}

bool t_loader::text(std::string_view value, bool whitespaceOnly, std::string &error) {
  if (open_.empty()) return whitespaceOnly ? true : fail(error, "text outside <BUILD>");
  t_openElement &element = open_.back();
  switch (element.rule->kind) {
  case t_kind::container:
    if (!whitespaceOnly)
      return fail(error, joined({"unexpected text in <", element.rule->name, ">"}));
    return true;
  case t_kind::statements: {
    // Fed line by line, so that a fault can be reported at its line in the document.
    std::string what;
    while (!value.empty()) {
      const std::size_t end = std::min(value.find('\n'), value.size() - 1) + 1;
      if (!stmtParser_.feed(value.substr(0, end), what))
        return fail(error, what, static_cast<int>(std::min<long>(stmtLine_, INT_MAX)));
      if (value[end - 1] == '\n' && stmtLine_ > 0) ++stmtLine_;
      value.remove_prefix(end);
    }
    return true;
  }
  default: element.text.append(value); return true;
  }
}

bool t_loader::parseNumber(const t_openElement &element, std::uint32_t &value, std::string &error) {
  std::string_view text_ = element.text;
  while (!text_.empty() && isXmlSpace(text_.front()))
    text_.remove_prefix(1);
  while (!text_.empty() && isXmlSpace(text_.back()))
    text_.remove_suffix(1);
  std::uint64_t v = 0;
  bool ok = !text_.empty();
  for (const char c : text_) {
    if (c < '0' || c > '9') {
      ok = false;
      break;
    }
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > kMaxNumber) {
      ok = false;
      break;
    }
  }
  if (!ok)
    return fail(error, joined({"<", element.rule->name, "> holds \"", element.text,
                               "\", not a number from 0 to 2147483647"}));
  value = static_cast<std::uint32_t>(v);
  return true;
}

bool t_loader::leafValue(const t_openElement &element, std::string &error) {
  const std::string_view name = element.rule->name;
  if (element.rule->kind == t_kind::number) {
    std::uint32_t value = 0;
    if (!parseNumber(element, value, error)) return false;
    if (name == "FILECOUNT")
      out_.fileCount = value;
    else if (name == "FILENUMBER")
      pendingFileNumber_ = value;
    else if (name == "OUTFILENUMBER")
      out_.deckNumber = value;
    return true;
  }
  if (name == "FILENAME" || name == "OUTFILENAME") {
    if (element.text.empty()) return fail(error, joined({"<", name, "> is empty"}));
    if (name == "FILENAME")
      pendingFileName_ = element.text;
    else
      out_.deckName = element.text;
  }
  return true;
}

constexpr int kParseOptions = XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_BIG_LINES;

// incprep writes names as they are, under a prolog that names no encoding. A name that is not
// UTF-8 makes the document unreadable as UTF-8; it is then read as ISO-8859-1, which gives every
// byte a character, and the names are turned back into the bytes they were.
constexpr const char *kFallbackEncoding = "ISO-8859-1";

std::string latin1Bytes(const std::string &utf8) {
  std::string bytes;
  bytes.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xE0U) == 0xC0U && i + 1 < utf8.size()) {
      const auto next = static_cast<unsigned char>(utf8[i + 1]);
      bytes.push_back(static_cast<char>(((c & 0x1FU) << 6) | (next & 0x3FU)));
      ++i;
    } else {
      bytes.push_back(static_cast<char>(c));
    }
  }
  return bytes;
}

// Reads one document; `opener` makes a reader for the given encoding (nullptr: as declared).
template <typename Opener>
bool loadWith(Opener opener, const std::string &name, t_sideFile &out, std::string &error) {
  xmlSetGenericErrorFunc(nullptr, ignoreGenericError);
  for (const char *encoding : {static_cast<const char *>(nullptr), kFallbackEncoding}) {
    const xmlTextReaderPtr reader = opener(encoding);
    if (reader == nullptr) {
      error = joined({name, ": cannot read the side file"});
      return false;
    }
    out = t_sideFile{};
    t_loader loader(reader, name, out);
    const bool ok = loader.run(error);
    const bool retry = !ok && loader.notUtf8() && encoding == nullptr;
    xmlFreeTextReader(reader);
    if (retry) continue;
    if (ok && encoding != nullptr) {
      for (auto &entry : out.fileNames)
        entry.second = latin1Bytes(entry.second);
      out.deckName = latin1Bytes(out.deckName);
    }
    return ok;
  }
  return false;
}

} // namespace

bool loadSideFile(const std::string &path, t_sideFile &out, std::string &error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = joined({path, ": cannot open the side file: ", std::strerror(errno)});
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    error = joined({path, ": cannot read the side file: ", std::strerror(EISDIR)});
    return false;
  }
  const bool ok = loadWith(
      [&](const char *encoding) -> xmlTextReaderPtr {
        if (lseek(fd, 0, SEEK_SET) != 0 && encoding != nullptr) return nullptr;
        return xmlReaderForFd(fd, path.c_str(), encoding, kParseOptions);
      },
      path, out, error);
  close(fd);
  return ok;
}

bool loadSideFileFromMemory(std::string_view document, const std::string &name, t_sideFile &out,
                            std::string &error) {
  if (document.size() > static_cast<std::size_t>(INT_MAX)) {
    error = joined({name, ": document too large"});
    return false;
  }
  return loadWith(
      [&](const char *encoding) {
        return xmlReaderForMemory(document.data(), static_cast<int>(document.size()), name.c_str(),
                                  encoding, kParseOptions);
      },
      name, out, error);
}

} // namespace incmap
