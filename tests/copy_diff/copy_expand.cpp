// A bare COPY expander over the statement parser and the replacer alone, so that the differential
// test can hold the module against the compiler apart from the scanner: statements are found by
// their first word only, members are "<library>/<name>.cpy". Writes the deck to standard output.
// Usage: copy_expand MAIN LIBDIR
#include "copystmt.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using incprep::t_copyStatement;
using incprep::t_copyStatementParser;
using incprep::t_lineOrigin;
using incprep::t_replacer;
using incprep::t_stmtStatus;

bool readLines(const std::string &path, std::vector<std::string> &lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string l;
  while (std::getline(in, l))
    lines.push_back(l);
  return true;
}

// Index just past a COPY keyword that is the line's first word, or 0.
std::size_t copyKeyword(const std::string &line) {
  if (line.size() < 11 || line[6] == '*' || line[6] == '/') return 0;
  std::size_t p = 7;
  while (p < line.size() && line[p] == ' ')
    ++p;
  if (line.compare(p, 4, "COPY") != 0) return 0;
  if (p + 4 < line.size() && line[p + 4] != ' ' && line[p + 4] != ',' && line[p + 4] != ';')
    return 0;
  return p + 4;
}

struct t_expander {
  std::string libdir;
  incprep::t_replacer::t_emit deck = [](std::string_view l, t_lineOrigin) {
    std::fwrite(l.data(), 1, l.size(), stdout);
    std::fputc('\n', stdout);
  };

  // Expands `lines`; `into` takes the lines that are not COPY statements (nullptr: the deck).
  bool expand(const std::vector<std::string> &lines, t_replacer *into, int depth) {
    auto put = [&](const std::string &l) {
      if (into != nullptr)
        into->line(l, t_lineOrigin{});
      else
        deck(l, t_lineOrigin{});
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::size_t from = copyKeyword(lines[i]);
      if (from == 0 || depth > 10) {
        put(lines[i]);
        continue;
      }
      t_copyStatementParser parser;
      t_stmtStatus s = parser.begin(lines[i], from);
      std::size_t j = i + 1;
      while (s == t_stmtStatus::needMore && j < lines.size())
        s = parser.next(lines[j++]);
      if (s == t_stmtStatus::needMore) s = parser.end();
      if (s != t_stmtStatus::complete) {
        std::cerr << "bad statement at line " << i + 1 << ": " << parser.why() << "\n";
        return false;
      }
      const t_copyStatement &st = parser.statement();
      std::string dir = libdir;
      if (!st.library.empty()) dir = st.libraryLiteral ? st.library : libdir + "/" + st.library;
      std::vector<std::string> member;
      if (!readLines(dir + "/" + st.name + ".cpy", member)) {
        std::cerr << "no member " << st.name << "\n";
        return false;
      }
      // A member nested in a replaced member takes both phrases at once, its own first.
      std::unique_ptr<t_replacer> r;
      if (into != nullptr) {
        into->finish();
        r = std::make_unique<t_replacer>(st, *into);
      } else if (st.hasReplacing) {
        r = std::make_unique<t_replacer>(st, deck);
      }
      if (!expand(member, r.get(), depth + 1)) return false;
      if (r) r->finish();
      i = st.endLine + i; // lines after the statement's end are read again
    }
    return true;
  }
};

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::cerr << "usage: copy_expand MAIN LIBDIR\n";
    return 2;
  }
  std::vector<std::string> lines;
  if (!readLines(argv[1], lines)) return 2;
  t_expander e;
  e.libdir = argv[2];
  return e.expand(lines, nullptr, 0) ? 0 : 1;
}
