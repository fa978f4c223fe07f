// incprep-map: translates positions in an expanded deck back to the sources, using the XML side
// file that incprep wrote beside the deck.
//
//   incprep-map SIDEFILE LINE       prints FILE:LINE for deck line LINE
//   incprep-map SIDEFILE --filter   copies standard input to standard output, rewriting every
//                                   DECK:N: into FILE:LINE:
//
// Exit status: 0 done; 1 the deck line is out of range or has no source line; 2 usage error,
// unreadable or malformed side file, or a failure reading or writing the standard streams.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "deckmap.h"
#include "filter.h"
#include "sidefile.h"

#ifndef INCPREP_VERSION
#define INCPREP_VERSION "unknown"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoLine = 1;
constexpr int kExitTrouble = 2;

constexpr const char *kProgram = "incprep-map";

constexpr const char *kUsage =
    "Usage: incprep-map SIDEFILE LINE\n"
    "       incprep-map SIDEFILE --filter\n"
    "       incprep-map --help | --version\n"
    "\n"
    "Translates lines of a deck expanded by incprep back to the source lines they came\n"
    "from, using the XML side file that incprep wrote beside the deck.\n"
    "\n"
    "  SIDEFILE LINE      print FILE:LINE for deck line LINE (counted from 1)\n"
    "  SIDEFILE --filter  copy standard input to standard output, rewriting every\n"
    "                     DECK:N: (DECK = the deck name recorded in the side file)\n"
    "                     into FILE:LINE:, for example:\n"
    "                       cobc -fsyntax-only PROG.DEK 2>&1 | incprep-map PROG.XML --filter\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 done; 1 the line is out of range or has no source line;\n"
    "2 usage error, unreadable or malformed side file, or an input/output error.\n";

void complain(const std::string &message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

// Writes all of `text` to standard output; false on failure.
bool writeOut(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

// Flushes and closes standard output; reports and returns false on failure.
bool closeOut() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const int saved = errno;
    std::fclose(stdout);
    complain(std::string("error writing standard output: ") + std::strerror(saved));
    return false;
  }
  if (std::fclose(stdout) != 0) {
    complain(std::string("error writing standard output: ") + std::strerror(errno));
    return false;
  }
  return true;
}

int usageError(const std::string &problem) {
  complain(problem);
  std::fputs(kUsage, stderr);
  return kExitTrouble;
}

// A deck line number: decimal digits only. Returns false when `text` is not one; a number too
// large for 64 bits is clamped (it is out of range anyway).
bool parseDeckLine(std::string_view text, std::uint64_t &value) {
  if (text.empty()) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
  }
  return true;
}

int mapOneLine(const incmap::t_sideFile &side, const incmap::t_deckMap &map,
               std::string_view lineText, std::uint64_t deckLine) {
  const incmap::t_mapResult where = map.map(deckLine);
  const std::string shown(lineText);
  switch (where.status) {
  case incmap::t_mapStatus::outOfRange:
    if (deckLine == 0)
      complain("deck line 0 does not exist: deck lines are counted from 1");
    else
      complain("deck line " + shown + " is out of range: the deck has " +
               std::to_string(side.statements.rowCount()) + " lines");
    return kExitNoLine;
  case incmap::t_mapStatus::noSourceLine:
    complain("deck line " + shown + " has no source line");
    return kExitNoLine;
  case incmap::t_mapStatus::found: break;
  }
  const std::string *name = side.fileName(where.file);
  if (name == nullptr) {
    complain("deck line " + shown + " comes from input file " + std::to_string(where.file) +
             ", which the side file does not name");
    return kExitNoLine;
  }
  std::string out = *name;
  out += ':';
  out += std::to_string(where.line);
  out += '\n';
  if (!writeOut(out)) {
    complain(std::string("error writing standard output: ") + std::strerror(errno));
    return kExitTrouble;
  }
  return closeOut() ? kExitOk : kExitTrouble;
}

int filter(const incmap::t_sideFile &side, const incmap::t_deckMap &map,
           const std::string &sideFilePath) {
  const incmap::t_lineRewriter rewriter(side, map, sideFilePath);
  char *buffer = nullptr;
  std::size_t capacity = 0;
  std::string out;
  std::string file;
  // Context lines ("PROG.DEK: in paragraph 'MAIN':") wait for the message they introduce,
  // whose source file they then name; each with the length of its deck name.
  constexpr std::size_t kPendingMax = 64;
  std::vector<std::pair<std::string, std::size_t>> pending;
  const auto release = [&](const std::string &toFile, std::string &text) {
    for (const auto &[line, nameLength] : pending)
      text += toFile.empty() ? line : toFile + line.substr(nameLength);
    pending.clear();
  };
  int status = kExitOk;
  for (;;) {
    errno = 0;
    const ssize_t got = getline(&buffer, &capacity, stdin);
    if (got < 0) {
      if (std::ferror(stdin) != 0 || (errno != 0 && std::feof(stdin) == 0)) {
        complain(std::string("error reading standard input: ") + std::strerror(errno));
        status = kExitTrouble;
      }
      break;
    }
    const std::string_view line(buffer, static_cast<std::size_t>(got));
    std::size_t nameLength = 0;
    if (pending.size() < kPendingMax && rewriter.contextName(line, nameLength)) {
      pending.emplace_back(std::string(line), nameLength);
      continue;
    }
    std::string rewritten;
    rewriter.rewrite(line, rewritten, &file);
    out.clear();
    release(file, out);
    out += rewritten;
    // Flushed line by line, so that messages pass through as the compiler writes them.
    if (!writeOut(out) || std::fflush(stdout) != 0) {
      complain(std::string("error writing standard output: ") + std::strerror(errno));
      status = kExitTrouble;
      break;
    }
  }
  out.clear();
  release({}, out);
  if (status == kExitOk && !out.empty() && !writeOut(out)) {
    complain(std::string("error writing standard output: ") + std::strerror(errno));
    status = kExitTrouble;
  }
  std::free(buffer);
  if (!closeOut()) status = kExitTrouble;
  return status;
}

int run(int argc, char **argv) {
  std::vector<std::string_view> positional;
  bool wantFilter = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!optionsEnded && arg == "--help") {
      if (!writeOut(kUsage)) {
        complain(std::string("error writing standard output: ") + std::strerror(errno));
        return kExitTrouble;
      }
      return closeOut() ? kExitOk : kExitTrouble;
    }
    if (!optionsEnded && arg == "--version") {
      if (!writeOut(std::string("incprep-map ") + INCPREP_VERSION + "\n")) {
        complain(std::string("error writing standard output: ") + std::strerror(errno));
        return kExitTrouble;
      }
      return closeOut() ? kExitOk : kExitTrouble;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "--filter") {
      wantFilter = true;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + std::string(arg) + "'");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) return usageError("no side file given");
  if (wantFilter && positional.size() != 1)
    return usageError("--filter takes the side file and nothing else");
  if (!wantFilter && positional.size() != 2)
    return usageError(positional.size() < 2 ? "no deck line given" : "too many arguments");

  std::uint64_t deckLine = 0;
  if (!wantFilter && !parseDeckLine(positional[1], deckLine))
    return usageError("'" + std::string(positional[1]) + "' is not a deck line number");

  incmap::t_sideFile side;
  std::string error;
  if (!incmap::loadSideFile(std::string(positional[0]), side, error)) {
    complain(error);
    return kExitTrouble;
  }
  const incmap::t_deckMap map(side.statements);
  if (wantFilter) return filter(side, map, std::string(positional[0]));
  return mapOneLine(side, map, positional[1], deckLine);
}

} // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc &) {
    complain("out of memory");
  } catch (const std::exception &e) {
    complain(std::string("internal error: ") + e.what());
  } catch (...) {
    complain("internal error");
  }
  return kExitTrouble;
}
