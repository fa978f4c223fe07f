// Member lookup through the library concatenation and the extension list, the recursion check,
// and the push of an accepted member.
#include "libsearch.h"

#include "diagnostics.h"
#include "tables.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace incprep {
namespace {

constexpr const char *kDefaultLibrary = "SYSLIB";
constexpr const char *kCobolExtensions = "cpy;cbl;cob";
constexpr const char *kOtherExtensions = "inc;cpy;mac";
constexpr std::size_t kCachedMemberMax = 1 << 20;  // larger members are read from their file
constexpr std::size_t kCachedTotalMax = 64u << 20; // text held in memory at most

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

// The text with a to z made upper case (`toUpper`) or A to Z made lower case; other bytes stay.
std::string foldCase(std::string_view text, bool toUpper) {
  std::string folded(text);
  for (char &c : folded) {
    if (toUpper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!toUpper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

bool isRegularFile(std::FILE *fp) {
  struct stat st {};
  return fstat(fileno(fp), &st) == 0 && S_ISREG(st.st_mode);
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

// Reads a small regular member whole into the cache and closes it; returns its cached text, or
// nullptr when the member is to be read from its file (left open).
const t_memberCache::t_text *cacheText(t_memberCache &cache, const std::string &path,
                                       std::FILE *fp) {
  struct stat st {};
  if (fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size > kCachedMemberMax || cache.bytes + size > kCachedTotalMax) return nullptr;
  t_memberCache::t_text text;
  text.bytes.resize(size + 1);
  std::size_t got = 0;
  for (;;) {
    if (got == text.bytes.size()) text.bytes.resize(got * 2 + 1);
    const std::size_t n = std::fread(text.bytes.data() + got, 1, text.bytes.size() - got, fp);
    if (n == 0) break;
    got += n;
  }
  text.readError = std::ferror(fp) != 0;
  text.bytes.resize(got);
  std::fclose(fp);
  cache.bytes += got;
  return &(cache.textOf[path] = std::move(text));
}

} // namespace

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

std::FILE *concatOpenFile(const t_libraryRef &library, std::string_view memberName,
                          std::string &pReturnedFileName, const t_optionsNode &opt,
                          const char *fileattributes, t_runFailure *failure,
                          std::vector<std::string> *unreadable, int32 loglvl) {
  // A name holding a NUL byte names no file.
  if (memberName.find('\0') != std::string_view::npos) return nullptr;
  const std::vector<std::string> extensions = buildExtensionList(opt);
  const std::vector<std::string> directories = libraryDirectories(library, loglvl);
  if (directories.empty()) return nullptr;

  // The name as written; when no file of it exists, the name in upper case and then in lower
  // case (sources written on a mainframe and files checked out elsewhere seldom agree), each
  // with the extensions as given and then in the name's case. A spelling and extension met
  // before is not tried again.
  const std::string upper = foldCase(memberName, true);
  const std::string lower = foldCase(memberName, false);
  const std::string_view spellings[] = {memberName, upper, upper, lower, lower};
  std::vector<std::string> tried; // spelling and extension of every pass so far
  bool anyFile = false;
  std::string candidate;
  for (int pass = 0; pass < 5 && !(pass == 1 && anyFile); ++pass) {
    const std::string_view name = spellings[pass];
    if (pass % 2 == 1 && loglvl > 0)
      std::printf("%s %.*s\n", "Member not found as written; searching for ",
                  static_cast<int>(name.size()), name.data());
    for (std::string ext : extensions) {
      if (pass == 2 || pass == 4) ext = foldCase(ext, pass == 2);
      std::string stem = std::string(name).append(ext);
      if (pass > 0 && std::find(tried.begin(), tried.end(), stem) != tried.end()) continue;
      tried.push_back(std::move(stem));
      for (const std::string &dir : directories) {
        if (loglvl > 0) std::printf("%s\n", dir.c_str());
        candidate.assign(dir).append("/").append(name).append(ext);
        if (loglvl > 0) std::printf("%s %s\n", "Searching for file ", candidate.c_str());
        // Only a regular file is a member: a directory, a FIFO without a writer or a device
        // such as /dev/zero would be no member at all, or one that never ends.
        struct stat st {};
        if (stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        anyFile = true;
        errno = 0;
        std::FILE *fp = std::fopen(candidate.c_str(), fileattributes);
        if (fp == nullptr) {
          if (isResourceExhaustion(errno)) {
            *failure = t_runFailure::tooManyOpenFiles;
            pReturnedFileName = candidate;
            return nullptr;
          }
          // A member that exists but cannot be read (permissions) is reported; the search goes
          // on with the next candidate.
          if (loglvl > 0) std::printf("%s %s\n", "Cannot read file ", candidate.c_str());
          if (unreadable != nullptr) unreadable->push_back(candidate);
          continue;
        }
        // The file may have been replaced since it was looked at.
        if (!isRegularFile(fp)) {
          std::fclose(fp);
          continue;
        }
        if (loglvl > 0) std::printf("%s %s\n", "Found copy file ", candidate.c_str());
        pReturnedFileName = candidate;
        return fp;
      }
    }
  }
  return nullptr;
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
  const t_memberCache::t_text *text = nullptr;
  // Members of SYSLIB are known by their name; those of another library by the library too.
  std::string qualified;
  std::string_view key = memberName;
  if (library.directory || library.name != kDefaultLibrary) {
    qualified.assign(library.directory ? "/" : "$").append(library.name).append(1, '\0');
    qualified.append(memberName);
    key = qualified;
  }
  const auto known =
      cache != nullptr ? cache->pathOf.find(key) : decltype(cache->pathOf)::iterator{};
  if (cache != nullptr && known != cache->pathOf.end()) {
    path = known->second;
    if (!path.empty()) {
      const auto held = cache->textOf.find(path);
      if (held != cache->textOf.end()) {
        text = &held->second;
      } else {
        errno = 0;
        fp = std::fopen(path.c_str(), "rb");
        if (fp == nullptr && isResourceExhaustion(errno)) {
          *failure = t_runFailure::tooManyOpenFiles;
          return 0;
        }
      }
    }
  } else {
    std::vector<std::string> unreadable;
    fp = concatOpenFile(library, memberName, path, opt, "rb", failure, &unreadable, loglvl);
    if (*failure != t_runFailure::none) return 0;
    if (fp == nullptr) path.clear();
    for (const std::string &file : unreadable) {
      const std::string named = std::string(getErrorMsg(kMsgUnreadable)) + " " + file;
      char msgtxt[kMsgTextWidth];
      (void)copyField(msgtxt, sizeof msgtxt, named); // a long path is cut to the field
      addErrorMessage(errmsgArray, filenum, linenum, getErrMsgID(kMsgUnreadable),
                      kSeverityWarning, msgtxt, errmsgctr);
    }
    // A search that met an unreadable file is made again when the member is named again, so
    // that the file is reported each time.
    if (cache != nullptr && unreadable.empty()) cache->pathOf.emplace(key, path);
  }
  if (fp == nullptr && text == nullptr) {
    if (loglvl > 0)
      std::printf("%s %.*s\n", "Problem opening file", static_cast<int>(memberName.size()),
                  memberName.data());
    raiseDiagnostic(errmsgArray, errmsgctr, kMsgNotFound, filenum, linenum);
    return 0;
  }
  if (loglvl > 0) std::printf("%s %s\n", "Successful file open:>fileNameBuffer = ", path.c_str());

  // A member open in the current chain of includes (nodes n..1) would recurse without end.
  bool recursive = false;
  for (std::size_t k = current; k >= 1; --k) {
    if (!sources[k].sourcedsn.empty() && sources[k].sourcedsn == path) {
      recursive = true;
      break;
    }
  }
  if (recursive) {
    if (fp != nullptr) std::fclose(fp);
    raiseDiagnostic(errmsgArray, errmsgctr, kMsgRecursive, filenum, linenum);
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
  if (cache != nullptr && fp != nullptr) {
    const t_memberCache::t_text *read = cacheText(*cache, path, fp);
    if (read != nullptr) {
      text = read;
      fp = nullptr; // closed: the member is served from memory
    }
  }
  *stackcounter += 1;
  t_sourceInputNode &node = sources[next];
  node.sourcefn = path;
  node.src.fp = fp;
  node.src.mem = text != nullptr ? &text->bytes : nullptr;
  node.src.memReadError = text != nullptr && text->readError;
  node.src.memServed = false;
  node.src.data = nullptr;
  node.src.pos = node.src.len = 0;
  node.src.eof = node.src.readError = false;
  node.sourcelinenum = 0;
  node.sourcefilenum = 0;
  node.sourcedsn = path;
  traceLoadingResource(*resourcectr, loglvl);
  // A file keeps the number it was given when first met.
  const auto numbered =
      cache != nullptr ? cache->numberOf.find(path) : decltype(cache->numberOf)::iterator{};
  const bool numberKnown = cache != nullptr && numbered != cache->numberOf.end();
  const int32 number = numberKnown ? numbered->second
                                   : loadResourceArrayInfo(resArray, &node, resourcectr,
                                                           maxEltsInArray, pcommNode, loglvl);
  if (cache != nullptr && !numberKnown && number != 0) cache->numberOf.emplace(path, number);
  if (number == 0) {
    *failure = t_runFailure::outOfMemory;
    return 1; // pushed: the scanner closes it as it unwinds
  }
  node.sourcefilenum = number;
  return 1;
}

} // namespace incprep
