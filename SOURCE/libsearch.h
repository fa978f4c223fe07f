// Member lookup: a member name becomes an open member file by walking the extension list and
// the library concatenation (directories in an environment variable); recursive includes are
// refused, accepted members are pushed on the source stack and numbered.
#pragma once

#include "records.h"

#include <functional>
#include <list>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace incprep {

/// Members already met in this run, so that a member included again is taken from memory
/// without searching the library and reading the file again. Only for runs without trace: the
/// trace shows every search. Files are assumed not to change while a run is in progress.
/// The texts held stay within `budget` bytes: the member used longest ago is let go first, and a
/// member let go is read again from its path (found once, remembered) when it is met again.
/// A member still open keeps its text until it ends, held or not.
struct t_memberCache {
  struct t_text {
    std::shared_ptr<const std::string> bytes;
    bool readError = false;               // reading stopped part-way; bytes holds what was read
    std::list<std::string>::iterator use; // its place in `byUse`
  };
  // Hashing of names that looks them up as they stand, without a copy.
  struct t_nameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const noexcept {
      return std::hash<std::string_view>{}(name);
    }
  };
  static constexpr std::size_t kDefaultBudget = std::size_t{4} << 20U;
  // member name -> path found, "" for none
  std::unordered_map<std::string, std::string, t_nameHash, std::equal_to<>> pathOf;
  std::unordered_map<std::string, t_text> textOf; // path -> the member's text
  std::list<std::string> byUse;                   // paths held, used most recently first
  std::size_t bytes = 0;                          // text held, in bytes
  std::size_t budget = kDefaultBudget;            // text held at most, in bytes
};

/// Where a member is looked for: the library concatenation in the environment variable `name`
/// (SYSLIB's form: directories separated by ";"), or, for a literal library name, the one
/// directory `name`. A named concatenation that is not set falls back to SYSLIB.
struct t_libraryRef {
  std::string_view name = "SYSLIB";
  bool directory = false;
};

/// A candidate member file opened for reading: its descriptor and size when opened.
struct t_openedMember {
  int fd = -1;
  std::size_t size = 0;
};

/// What trying one candidate path found.
enum class t_candidate {
  member,     // a regular file, now open
  absent,     // nothing there, or something other than a regular file
  unreadable, // a regular file that cannot be opened for reading (permissions)
  exhausted   // the system ran out of descriptors or memory
};

/// Opens `path` when it names a regular file: one open and one fstat; a missing file costs the
/// failed open alone. FIFOs are opened without waiting for a writer and then passed over.
[[nodiscard]] t_candidate openCandidate(const std::string &path, t_openedMember &found);

/// The candidate extensions for the options: each ".ext" row in list order, then "" for the
/// bare member name. EXT(...) replaces the language's default list.
[[nodiscard]] std::vector<std::string> buildExtensionList(const t_optionsNode &opt);

/// The directories of `library` in search order (empty items skipped): the literal directory, the
/// named concatenation, or SYSLIB's when the named one is not set. Traces the fallback and a
/// literal directory.
[[nodiscard]] std::vector<std::string> libraryDirectories(const t_libraryRef &library,
                                                          int32 loglvl);
/// One place a member is looked for: a library directory and the path tried in it.
struct t_searchCandidate {
  std::string directory;
  std::string path;
  bool asWritten = true; // the name as written, not one of its upper- or lower-case spellings
};

/// Every path the search for `memberName` tries, in the order tried: extensions outrank
/// directories; the directories are those of `library` (see libraryDirectories). With
/// `asWrittenOnly`, only those of the name as written.
[[nodiscard]] std::vector<t_searchCandidate> searchCandidates(const t_libraryRef &library,
                                                              std::string_view memberName,
                                                              const t_optionsNode &opt,
                                                              bool asWrittenOnly = false);

/// What standard error says about a member that no library holds: its name and where it was
/// looked for (the first paths of the name as written, then how many more), or that the
/// concatenation names no directory, and which of its directories do not exist.
[[nodiscard]] std::string notFoundDetail(const t_libraryRef &library, std::string_view memberName,
                                         const t_optionsNode &opt);

/// Opens the first candidate "dir/member.ext" that is a readable file, extensions outranking
/// directories, the directories those of `library` (see libraryDirectories). When no file of
/// the name as written exists, the name is tried in upper case and then in lower case, each with
/// the extensions as given and then in the name's case; no candidate is tried twice. Returns the
/// stream and stores its path in `pReturnedFileName`, or returns nullptr. A regular file that
/// cannot be opened is passed over and added to `*unreadable` (may be nullptr). When the system
/// runs out of descriptors or memory the search stops, returns nullptr and sets `*failure`.
[[nodiscard]] std::FILE *concatOpenFile(const t_libraryRef &library, std::string_view memberName,
                                        std::string &pReturnedFileName, const t_optionsNode &opt,
                                        const char *fileattributes, t_runFailure *failure,
                                        std::vector<std::string> *unreadable, int32 loglvl);

/// The candidate loop: tries "dir/member.ext" for every extension and, within it, every directory
/// of `library` (see libraryDirectories), and leaves the first member file open in `found`, its
/// path in `pReturnedFileName`. The name is tried as written and, when no file of it exists, in
/// upper and then lower case, as for concatOpenFile; regular files that cannot be read are added
/// to `*unreadable` (may be nullptr). False when none was found, or after setting `*failure`.
[[nodiscard]] bool findMember(const t_libraryRef &library, std::string_view memberName,
                              std::string &pReturnedFileName, const t_optionsNode &opt,
                              t_openedMember &found, t_runFailure *failure,
                              std::vector<std::string> *unreadable, int32 loglvl);

/// Brings member `memberName` of `library` in: finds it, refuses it when its path is open in nodes
/// *stackcounter..1, else pushes it as node *stackcounter+1 (growing the stack when needed) and
/// numbers it. With `cache` (may be nullptr) a member met before is taken from memory.
/// Returns 1 when pushed; 0 otherwise, after raising diagnostic 9 (not found) or 13
/// (recursive) at the including node's file and line, or after setting `*failure`. A search
/// notes its failed directories in `pcommNode->searchNotes` when there is one. Each member file
/// met that cannot be read raises diagnostic 16, naming the file, before the search goes on.
[[nodiscard]] int32 includeFileOpener(
    const t_libraryRef &library, std::string_view memberName, int32 *stackcounter, int32 *errmsgctr,
    int32 *resourcectr, int32 *maxEltsInArray, std::vector<t_sourceInputNode> &sources,
    const t_optionsNode &opt, t_ppErrMsgNode *errmsgArray, std::vector<t_ppResourceNode> &resArray,
    t_commArrayNode *pcommNode, t_memberCache *cache, t_runFailure *failure, int32 loglvl);

} // namespace incprep
