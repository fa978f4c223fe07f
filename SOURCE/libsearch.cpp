// Member lookup through the library concatenation and the extension list, the recursion check,
// and the push of an accepted member.
#include "libsearch.h"

#include "diagnostics.h"
#include "tables.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace incprep {

namespace {

constexpr const char *kDefaultLibrary = "SYSLIB";
constexpr const char *kCobolExtensions = "cpy;cbl;cob";
constexpr const char *kOtherExtensions = "inc;cpy;mac";
constexpr std::size_t kCachedMemberMax = 1 << 20; // larger members are read from their file

/// Splits `text` at `sep`; empty items are skipped, as runs of separators count as one.
std::vector<std::string> splitSkippingEmpty(std::string_view text, char sep) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(sep, start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) items.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

bool isResourceExhaustion(int err) {
  return err == EMFILE || err == ENFILE || err == ENOMEM;
}

void traceLoadingResource(int32 resourcectr, int32 loglvl) {
  if (loglvl > 0) {
    std::printf("%s\n", "=========================================");
    std::printf("%s %d\n", "=  Loading resource #", resourcectr);
    std::printf("%s\n", "=========================================");
  }
}

// Reads the open member whole and closes it: one read when the file still has the size it was
// opened with (a short read of a regular file is its end).
std::shared_ptr<const std::string> readWhole(t_openedMember &m, bool &readError) {
  auto text = std::make_shared<std::string>();
  text->resize(m.size + 1);
  std::size_t got = 0;
  readError = false;
  for (;;) {
    if (got == text->size()) text->resize(got * 2 + 1);
    const ssize_t n = read(m.fd, text->data() + got, text->size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      readError = true;
      break;
    }
    got += static_cast<std::size_t>(n);
    if (n == 0 || got < text->size()) break;
  }
  text->resize(got);
  close(m.fd);
  m.fd = -1;
  return text;
}

// Holds `text` as the text of `path`, letting go of the texts used longest ago beyond the budget.
void holdText(t_memberCache &cache, const std::string &path,
              std::shared_ptr<const std::string> text, bool readError) {
  const std::size_t size = text->size();
  if (size > cache.budget) return;
  while (cache.bytes + size > cache.budget && !cache.byUse.empty()) {
    const auto oldest = cache.textOf.find(cache.byUse.back());
    cache.bytes -= oldest->second.bytes->size();
    cache.textOf.erase(oldest);
    cache.byUse.pop_back();
  }
  cache.byUse.push_front(path);
  cache.textOf[path] = t_memberCache::t_text{std::move(text), readError, cache.byUse.begin()};
  cache.bytes += size;
}

// A stream over the open member; the descriptor is closed with it.
std::FILE *streamOf(t_openedMember &m) {
  std::FILE *fp = fdopen(m.fd, "rb");
  if (fp == nullptr) close(m.fd);
  m.fd = -1;
  return fp;
}

// Whether `path` is the data set name of one of the nodes current..1. With the resource index,
// only the node into which the file was last pushed can hold it.
bool isOpenInChain(const std::vector<t_sourceInputNode> &sources, std::size_t current,
                   const std::string &path, const t_resourceIndex *index,
                   const std::vector<t_ppResourceNode> &resArray) {
  if (path.empty()) return false;
  if (index != nullptr) {
    const int32 row = index->find(resArray, path);
    if (row < 0) return false;
    const auto at = static_cast<std::size_t>(index->openAt[static_cast<std::size_t>(row)]);
    return at >= 1 && at <= current && sources[at].sourcedsn == path;
  }
  for (std::size_t k = current; k >= 1; --k)
    if (sources[k].sourcedsn == path) return true;
  return false;
}

constexpr std::size_t kCandidatesShown = 8; // paths a not-found message lists before "more"

bool isDirectory(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Notes the directories of the candidates tried before `hit` ("" for none: all of them).
} // namespace

namespace {
// The text with a to z made upper case (`toUpper`) or A to Z made lower case; other bytes stay.
std::string foldCase(std::string_view text, bool toUpper) {
  std::string folded(text);
  for (char &c : folded) {
    if (toUpper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!toUpper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

constexpr int kLastPass = 4;

// One spelling and extension a member is looked for under, and the pass that tries it.
struct t_memberStem {
  int pass = 0;
  std::string stem;
};

// The name as written; when no file of it exists, the name in upper case and then in lower
// case (sources written on a mainframe and files checked out elsewhere seldom agree), each with
// the extensions as given (passes 1 and 3) and then in the name's case (passes 2 and 4). A
// spelling and extension met before is not tried again.
// Only the passes up to `lastPass` are listed: most members are found as written.
std::vector<t_memberStem> memberStems(std::string_view memberName, const t_optionsNode &opt,
                                      int lastPass = kLastPass) {
  // The list is made once for as long as the options that make it stay the same: every search
  // of a run asks for it, some more than once.
  thread_local std::string madeFor;
  thread_local int16 madeForLang = -1;
  thread_local std::vector<std::string> extensions;
  if (madeForLang != opt.optLANG || madeFor != opt.extension) {
    extensions = buildExtensionList(opt);
    madeFor = opt.extension;
    madeForLang = opt.optLANG;
  }
  std::string spellings[kLastPass + 1];
  spellings[0] = memberName;
  if (lastPass > 0) {
    spellings[1] = spellings[2] = foldCase(memberName, true);
    spellings[3] = spellings[4] = foldCase(memberName, false);
  }
  std::vector<t_memberStem> stems;
  for (int pass = 0; pass <= lastPass; ++pass) {
    for (std::string ext : extensions) {
      if (pass == 2 || pass == 4) ext = foldCase(ext, pass == 2);
      std::string stem = spellings[pass] + ext;
      const bool tried = std::any_of(stems.begin(), stems.end(),
                                     [&](const t_memberStem &s) { return s.stem == stem; });
      if (pass == 0 || !tried) stems.push_back({pass, std::move(stem)});
    }
  }
  return stems;
}
} // namespace

std::vector<t_searchCandidate> searchCandidates(const t_libraryRef &library,
                                                std::string_view memberName,
                                                const t_optionsNode &opt, bool asWrittenOnly) {
  std::vector<t_searchCandidate> candidates;
  const std::vector<std::string> directories = libraryDirectories(library, 0);
  for (const t_memberStem &stem : memberStems(memberName, opt, asWrittenOnly ? 0 : kLastPass))
    for (const std::string &dir : directories)
      candidates.push_back({dir, dir + "/" + stem.stem, stem.pass == 0});
  return candidates;
}

std::string notFoundDetail(const t_libraryRef &library, std::string_view memberName,
                           const t_optionsNode &opt) {
  std::string text = "member '" + std::string(memberName) + "' not found (";
  const std::string name(library.name);
  if (!library.directory && std::getenv(name.c_str()) == nullptr) {
    if (name == kDefaultLibrary) return text + name + " is not set)";
    if (std::getenv(kDefaultLibrary) == nullptr)
      return text + name + " is not set, nor is " + kDefaultLibrary + ")";
  }
  // The paths of the name as written; its other spellings are tried too, but not listed.
  const std::vector<t_searchCandidate> candidates =
      searchCandidates(library, memberName, opt, true);
  if (candidates.empty()) return text + name + " names no directory)";
  text += "searched: ";
  for (std::size_t k = 0; k < candidates.size() && k < kCandidatesShown; ++k)
    text.append(k == 0 ? "" : ", ").append(candidates[k].path);
  if (candidates.size() > kCandidatesShown)
    text += " and " + std::to_string(candidates.size() - kCandidatesShown) + " more";
  text += ")";
  std::vector<std::string> absent;
  for (const t_searchCandidate &c : candidates)
    if (std::find(absent.begin(), absent.end(), c.directory) == absent.end() &&
        !isDirectory(c.directory))
      absent.push_back(c.directory);
  for (std::size_t k = 0; k < absent.size(); ++k)
    text.append(k == 0 ? "; no such directory: " : ", ").append(absent[k]);
  return text;
}

std::vector<std::string> buildExtensionList(const t_optionsNode &opt) {
  std::string_view list = opt.extension;
  if (list.empty()) list = opt.optLANG == kLangCOBOL ? kCobolExtensions : kOtherExtensions;
  std::vector<std::string> rows;
  for (std::string &ext : splitSkippingEmpty(list, ';'))
    rows.push_back("." + ext);
  rows.emplace_back(); // the member name without extension is tried last
  return rows;
}

std::vector<std::string> libraryDirectories(const t_libraryRef &library, int32 loglvl) {
  const std::string name(library.name);
  if (library.directory) {
    if (loglvl > 0) std::printf("%s %s\n", "Library directory ", name.c_str());
    if (name.empty()) return {};
    return {name};
  }
  const char *concatenation = std::getenv(name.c_str());
  if (concatenation == nullptr && name != kDefaultLibrary) {
    // A library named in the statement but not defined: the programs' own library is the
    // one the user meant in every build we know of, so it is searched, and the trace says so.
    if (loglvl > 0)
      std::printf("%s %s %s\n", "Library", name.c_str(), "is not set; searching SYSLIB");
    concatenation = std::getenv(kDefaultLibrary);
  }
  if (concatenation == nullptr) return {};
  return splitSkippingEmpty(concatenation, ';');
}

t_candidate openCandidate(const std::string &path, t_openedMember &found) {
  // Without O_NONBLOCK a FIFO would wait here for a writer.
  errno = 0;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    // The rare failures other than a missing file are told apart by a look at the path: without
    // a free descriptor even a missing file fails to open, and is still just missing.
    const int err = errno;
    if (err == ENOENT || err == ENOTDIR) return t_candidate::absent;
    struct stat st {};
    const bool regular = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) return t_candidate::absent;
    if (isResourceExhaustion(err)) return t_candidate::exhausted;
    if (err == EACCES || err == EPERM) return t_candidate::unreadable;
    return t_candidate::absent;
  }
  // Only a regular file is a member: a directory, a FIFO or a device such as /dev/zero would be
  // no member at all, or one that never ends.
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return t_candidate::absent;
  }
  found.fd = fd;
  found.size = static_cast<std::size_t>(st.st_size);
  return t_candidate::member;
}

bool findMember(const t_libraryRef &library, std::string_view memberName,
                std::string &pReturnedFileName, const t_optionsNode &opt, t_openedMember &found,
                t_runFailure *failure, std::vector<std::string> *unreadable, int32 loglvl) {
  // A name holding a NUL byte names no file.
  if (memberName.find('\0') != std::string_view::npos) return false;
  const std::vector<std::string> directories = libraryDirectories(library, loglvl);
  if (directories.empty()) return false;

  // The other spellings are listed only when the name as written is not found.
  std::vector<t_memberStem> stems = memberStems(memberName, opt, 0);
  bool anyFile = false;
  std::string candidate;
  std::size_t k = 0;
  for (int pass = 0; pass <= kLastPass && !(pass == 1 && anyFile); ++pass) {
    if (pass == 1) stems = memberStems(memberName, opt);
    if (pass % 2 == 1 && loglvl > 0) {
      const std::string name = foldCase(memberName, pass == 1);
      std::printf("%s %s\n", "Member not found as written; searching for ", name.c_str());
    }
    for (; k < stems.size() && stems[k].pass == pass; ++k) {
      for (const std::string &dir : directories) {
        if (loglvl > 0) std::printf("%s\n", dir.c_str());
        candidate.assign(dir).append("/").append(stems[k].stem);
        if (loglvl > 0) std::printf("%s %s\n", "Searching for file ", candidate.c_str());
        switch (openCandidate(candidate, found)) {
        case t_candidate::member:
          if (loglvl > 0) std::printf("%s %s\n", "Found copy file ", candidate.c_str());
          pReturnedFileName = candidate;
          return true;
        case t_candidate::exhausted:
          *failure = t_runFailure::tooManyOpenFiles;
          pReturnedFileName = candidate;
          return false;
        case t_candidate::unreadable:
          // A member that exists but cannot be read (permissions) is reported; the search goes
          // on with the next candidate.
          anyFile = true;
          if (loglvl > 0) std::printf("%s %s\n", "Cannot read file ", candidate.c_str());
          if (unreadable != nullptr) unreadable->push_back(candidate);
          break;
        case t_candidate::absent: break;
        }
      }
    }
  }
  return false;
}

std::FILE *concatOpenFile(const t_libraryRef &library, std::string_view memberName,
                          std::string &pReturnedFileName, const t_optionsNode &opt,
                          const char * /*fileattributes*/, t_runFailure *failure,
                          std::vector<std::string> *unreadable, int32 loglvl) {
  t_openedMember found;
  std::string path;
  if (!findMember(library, memberName, path, opt, found, failure, unreadable, loglvl)) {
    if (*failure != t_runFailure::none) pReturnedFileName = path;
    return nullptr;
  }
  std::FILE *fp = streamOf(found);
  if (fp == nullptr) {
    *failure = t_runFailure::outOfMemory;
    return nullptr;
  }
  pReturnedFileName = path;
  return fp;
}

// Diagnostic 16 for each member file met that could not be read, naming it.
static void reportUnreadable(const std::vector<std::string> &unreadable,
                             t_ppErrMsgNode *errmsgArray, int32 *errmsgctr, int32 filenum,
                             int32 linenum) {
  for (const std::string &file : unreadable) {
    const std::string named = std::string(getErrorMsg(kMsgUnreadable)) + " " + file;
    char msgtxt[kMsgTextWidth];
    (void)copyField(msgtxt, sizeof msgtxt, named); // a long path is cut to the field
    const int32 before = *errmsgctr;
    addErrorMessage(errmsgArray, filenum, linenum, getErrMsgID(kMsgUnreadable), kSeverityWarning,
                    msgtxt, errmsgctr);
    // Standard error names the file in the compiler's manner; not an overflow row standing for it.
    if (*errmsgctr == before + 1 && before < kErrMsgRows - 1)
      errmsgArray[before].detail = "member file '" + file + "' exists but cannot be read";
  }
}

// After a search: the directories searched in vain, for the dependency file.
static void noteSearch(t_commArrayNode *pcommNode, const t_libraryRef &library,
                       std::string_view memberName, const t_optionsNode &opt,
                       const std::string &hit) {
  if (pcommNode == nullptr || pcommNode->searchNotes == nullptr) return;
  t_searchNotes &notes = *pcommNode->searchNotes;
  // Candidates are tried spelling by spelling, each in every directory in turn: every directory
  // was searched in vain unless the hit is the first spelling's, in the directories before it.
  const std::vector<std::string> directories = libraryDirectories(library, 0);
  std::size_t missed = directories.size();
  const std::vector<t_memberStem> first =
      hit.empty() ? std::vector<t_memberStem>{} : memberStems(memberName, opt, 0);
  if (!first.empty()) {
    const std::string_view stem = first.front().stem;
    for (std::size_t d = 0; d < directories.size() && missed == directories.size(); ++d) {
      const std::string &dir = directories[d];
      if (hit.size() == dir.size() + 1 + stem.size() &&
          hit.compare(0, dir.size(), dir) == 0 && hit[dir.size()] == '/' &&
          hit.compare(dir.size() + 1, stem.size(), stem) == 0)
        missed = d;
    }
  }
  for (std::size_t d = 0; d < missed; ++d)
    if (notes.noted.insert(directories[d]).second) notes.missedDirectories.push_back(directories[d]);
}

int32 includeFileOpener(const t_libraryRef &library, std::string_view memberName,
                        int32 *stackcounter, int32 *errmsgctr, int32 *resourcectr,
                        int32 *maxEltsInArray, std::vector<t_sourceInputNode> &sources,
                        const t_optionsNode &opt, t_ppErrMsgNode *errmsgArray,
                        std::vector<t_ppResourceNode> &resArray, t_commArrayNode *pcommNode,
                        t_memberCache *cache, t_runFailure *failure, int32 loglvl) {
  if (loglvl > 0) {
    std::printf("%s %.*s\n",
                "includeFileOpener:>libraryName = ", static_cast<int>(library.name.size()),
                library.name.data());
    std::printf("%s %.*s\n",
                "includeFileOpener:>memberName = ", static_cast<int>(memberName.size()),
                memberName.data());
  }
  // Cache keys separate a library from its member with a NUL; a name holding one is never found.
  if (memberName.find('\0') != std::string_view::npos) cache = nullptr;
  const auto current = static_cast<std::size_t>(*stackcounter);
  const int32 filenum = sources[current].sourcefilenum;
  const int32 linenum = sources[current].sourcelinenum;

  std::string path;
  std::FILE *fp = nullptr;
  std::shared_ptr<const std::string> text;
  bool textReadError = false;
  std::vector<std::string> unreadable; // member files met that could not be read
  if (cache == nullptr) {
    fp = concatOpenFile(library, memberName, path, opt, "rb", failure, &unreadable, loglvl);
    if (*failure != t_runFailure::none) return 0;
    reportUnreadable(unreadable, errmsgArray, errmsgctr, filenum, linenum);
    noteSearch(pcommNode, library, memberName, opt, path);
  } else {
    // A member met before is not searched for again; its text may still be held. Members of
    // SYSLIB are known by their name; those of another library by the library too.
    std::string qualified;
    std::string_view key = memberName;
    if (library.directory || library.name != kDefaultLibrary) {
      qualified.assign(library.directory ? "/" : "$").append(library.name).append(1, '\0');
      qualified.append(memberName);
      key = qualified;
    }
    t_openedMember found;
    bool opened = false;
    const auto known = cache->pathOf.find(key);
    if (known != cache->pathOf.end()) {
      path = known->second;
      const auto held = path.empty() ? cache->textOf.end() : cache->textOf.find(path);
      if (held != cache->textOf.end()) {
        text = held->second.bytes;
        textReadError = held->second.readError;
        cache->byUse.splice(cache->byUse.begin(), cache->byUse, held->second.use);
      } else if (!path.empty()) {
        const t_candidate got = openCandidate(path, found);
        if (got == t_candidate::exhausted) {
          *failure = t_runFailure::tooManyOpenFiles;
          return 0;
        }
        opened = got == t_candidate::member;
      }
    } else {
      opened = findMember(library, memberName, path, opt, found, failure, &unreadable, loglvl);
      if (*failure != t_runFailure::none) return 0;
      if (!opened) path.clear();
      reportUnreadable(unreadable, errmsgArray, errmsgctr, filenum, linenum);
      // A search that met an unreadable file is made again when the member is named again, so
      // that the file is reported each time.
      if (unreadable.empty()) cache->pathOf.emplace(key, path);
      noteSearch(pcommNode, library, memberName, opt, path);
    }
    if (opened && found.size <= kCachedMemberMax) {
      text = readWhole(found, textReadError);
      holdText(*cache, path, text, textReadError);
    } else if (opened) {
      fp = streamOf(found);
      if (fp == nullptr) {
        *failure = t_runFailure::outOfMemory;
        return 0;
      }
    }
  }
  if (fp == nullptr && text == nullptr) {
    if (loglvl > 0)
      std::printf("%s %.*s\n", "Problem opening file", static_cast<int>(memberName.size()),
                  memberName.data());
    raiseDiagnostic(errmsgArray, errmsgctr, kMsgNotFound, filenum, linenum,
                    notFoundDetail(library, memberName, opt));
    return 0;
  }
  if (loglvl > 0) std::printf("%s %s\n", "Successful file open:>fileNameBuffer = ", path.c_str());

  // A member open in the current chain of includes (nodes n..1) would recurse without end.
  const bool recursive = isOpenInChain(sources, current, path, pcommNode->resIndex, resArray);
  if (recursive) {
    if (fp != nullptr) std::fclose(fp);
    raiseDiagnostic(errmsgArray, errmsgctr, kMsgRecursive, filenum, linenum,
                    "member '" + std::string(memberName) + "' (" + path +
                        ") is already being included; recursive include not expanded");
    traceLoadingResource(*resourcectr, loglvl);
    return 0;
  }

  const std::size_t next = current + 1;
  if (next >= sources.size()) {
    try {
      sources.resize(next + 1);
    } catch (const std::bad_alloc &) {
      if (fp != nullptr) std::fclose(fp);
      *failure = t_runFailure::outOfMemory;
      return 0;
    }
  }
  *stackcounter += 1;
  t_sourceInputNode &node = sources[next];
  node.sourcefn = path;
  node.src.fp = fp;
  node.src.mem = std::move(text);
  node.src.memReadError = textReadError;
  node.src.memServed = false;
  node.src.pos = node.src.len = 0;
  node.src.eof = node.src.readError = false;
  node.sourcelinenum = 0;
  node.sourcefilenum = 0;
  node.sourcedsn = path;
  traceLoadingResource(*resourcectr, loglvl);
  // A file keeps the number it was given when first met.
  const int32 number =
      loadResourceArrayInfo(resArray, &node, resourcectr, maxEltsInArray, pcommNode, loglvl);
  if (number == 0) {
    *failure = t_runFailure::outOfMemory;
    return 1; // pushed: the scanner closes it as it unwinds
  }
  node.sourcefilenum = number;
  if (pcommNode->resIndex != nullptr)
    pcommNode->resIndex->openAt[static_cast<std::size_t>(number - 1)] = static_cast<int32>(next);
  return 1;
}

} // namespace incprep
