// Member lookup: the extension list, the walk over the SYSLIB concatenation with its trace, the
// recursion check against the open chain of includes, and the push and numbering of a member.
#include "diagnostics.h"
#include "libsearch.h"
#include "scanner.h"
#include "tables.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace incprep {
namespace {

// -----------------------------------------------------------------------------------------------
// The extension list
// -----------------------------------------------------------------------------------------------

t_optionsNode options(int16 lang, const std::string &ext = "") {
  t_optionsNode opt{};
  opt.optLANG = lang;
  opt.extension = ext;
  return opt;
}

TEST(ExtensionList, DefaultsByLanguageThenTheBareName) {
  struct t_case {
    const char *what;
    t_optionsNode opt;
    std::vector<std::string> want;
  };
  const std::vector<t_case> cases = {
      {"COBOL", options(3), {".cpy", ".cbl", ".cob", ""}},
      {"PL/I", options(2), {".inc", ".cpy", ".mac", ""}},
      {"no language", options(0), {".inc", ".cpy", ".mac", ""}},
      {"any other language value", options(7), {".inc", ".cpy", ".mac", ""}},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(buildExtensionList(c.opt), c.want);
  }
}

TEST(ExtensionList, ExtReplacesTheLanguageList) {
  struct t_case {
    const char *what;
    t_optionsNode opt;
    std::vector<std::string> want;
  };
  const std::string longExt(40, 'x');
  const std::vector<t_case> cases = {
      {"COBOL with EXT(txt;cpy)", options(3, "txt;cpy"), {".txt", ".cpy", ""}},
      {"PL/I with EXT(txt;cpy)", options(2, "txt;cpy"), {".txt", ".cpy", ""}},
      {"no language with EXT(mbr)", options(0, "mbr"), {".mbr", ""}},
      {"case is kept", options(3, "CPY;Cbl"), {".CPY", ".Cbl", ""}},
      {"empty items skipped", options(3, ";txt;;cpy;"), {".txt", ".cpy", ""}},
      {"only separators: the bare name alone", options(3, ";;"), {""}},
      {"more than nine extensions, all kept",
       options(3, "a;b;c;d;e;f;g;h;i;j;k;l"),
       {".a", ".b", ".c", ".d", ".e", ".f", ".g", ".h", ".i", ".j", ".k", ".l", ""}},
      {"a long extension kept whole", options(3, longExt), {"." + longExt, ""}},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(buildExtensionList(c.opt), c.want);
  }
}

// -----------------------------------------------------------------------------------------------
// The walk over the concatenation
// -----------------------------------------------------------------------------------------------

class LibrarySearch : public testing::Test {
protected:
  unit::t_scratchDir scratch;
  unit::t_envGuard syslib{"SYSLIB"};
  std::string lib1 = scratch.makeDir("lib1");
  std::string lib2 = scratch.makeDir("lib2");
  std::string lib3 = scratch.makeDir("lib3");

  struct t_result {
    bool found = false;
    std::string path;
    std::string trace;
    std::string content;
  };

  /// Searches with trace on; reads and closes what was found.
  t_result search(const std::string &member, const t_optionsNode &opt, t_libraryRef library = {}) {
    t_result r;
    std::FILE *fp = nullptr;
    t_runFailure failure = t_runFailure::none;
    r.trace = unit::captureStdout(
        [&] { fp = concatOpenFile(library, member, r.path, opt, "rb", &failure, nullptr, 1); });
    EXPECT_EQ(failure, t_runFailure::none);
    if (fp != nullptr) {
      r.found = true;
      r.content = unit::readStream(fp);
      std::fclose(fp);
    }
    return r;
  }
};

/// The trace of trying the candidates in order: the directory, then the candidate.
std::string tried(const std::vector<std::pair<std::string, std::string>> &candidates) {
  std::string text;
  for (const auto &[dir, candidate] : candidates)
    text += dir + "\n" + "Searching for file  " + candidate + "\n";
  return text;
}

/// The trace of trying each stem ("NAME.ext") in every directory, stems outranking directories.
std::string triedStems(const std::vector<std::string> &dirs,
                       const std::vector<std::string> &stems) {
  std::string text;
  for (const std::string &stem : stems)
    for (const std::string &dir : dirs)
      text += dir + "\n" + "Searching for file  " + dir + "/" + stem + "\n";
  return text;
}

/// The trace line that starts the search for another spelling of the member name.
std::string folding(const std::string &name) {
  return "Member not found as written; searching for  " + name + "\n";
}

std::string foundLine(const std::string &path) {
  return "Found copy file  " + path + "\n";
}

TEST_F(LibrarySearch, EveryCandidateInOrderWhenNothingIsFound) {
  syslib.set(lib1 + ";" + lib2 + ";" + lib3);
  const t_result r = search("PAYREC", options(3));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.path, "");
  EXPECT_EQ(
      r.trace,
      tried({{lib1, lib1 + "/PAYREC.cpy"},
             {lib2, lib2 + "/PAYREC.cpy"},
             {lib3, lib3 + "/PAYREC.cpy"},
             {lib1, lib1 + "/PAYREC.cbl"},
             {lib2, lib2 + "/PAYREC.cbl"},
             {lib3, lib3 + "/PAYREC.cbl"},
             {lib1, lib1 + "/PAYREC.cob"},
             {lib2, lib2 + "/PAYREC.cob"},
             {lib3, lib3 + "/PAYREC.cob"},
             {lib1, lib1 + "/PAYREC"},
             {lib2, lib2 + "/PAYREC"},
             {lib3, lib3 + "/PAYREC"}}) +
          folding("PAYREC") +
          triedStems({lib1, lib2, lib3}, {"PAYREC.CPY", "PAYREC.CBL", "PAYREC.COB"}) +
          folding("payrec") +
          triedStems({lib1, lib2, lib3}, {"payrec.cpy", "payrec.cbl", "payrec.cob", "payrec"}));
}

TEST_F(LibrarySearch, ExtensionOrderOutranksDirectories) {
  // The second extension in the last directory wins over the third extension and the bare
  // name in the first directory.
  scratch.writeFile("lib1/PAYREC.cob", "lib1 cob\n");
  scratch.writeFile("lib1/PAYREC", "lib1 bare\n");
  scratch.writeFile("lib2/PAYREC.cbl", "lib2 cbl\n");
  syslib.set(lib1 + ";" + lib2);
  const t_result r = search("PAYREC", options(3));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib2 + "/PAYREC.cbl");
  EXPECT_EQ(r.content, "lib2 cbl\n");
  EXPECT_EQ(r.trace, tried({{lib1, lib1 + "/PAYREC.cpy"},
                            {lib2, lib2 + "/PAYREC.cpy"},
                            {lib1, lib1 + "/PAYREC.cbl"},
                            {lib2, lib2 + "/PAYREC.cbl"}}) +
                         foundLine(lib2 + "/PAYREC.cbl"));
}

// The candidates listed for messages and dependencies are exactly the paths the search tries,
// in its order, for every mix of languages, extension lists and concatenations.
TEST_F(LibrarySearch, CandidatesAreThePathsTheSearchTries) {
  const std::vector<std::string> concatenations = {lib1, lib1 + ";" + lib2 + ";;" + lib3, ";;", ""};
  const std::vector<t_optionsNode> optionSets = {options(3), options(2), options(0),
                                                 options(3, "txt;;a")};
  for (const std::string &concat : concatenations)
    for (const t_optionsNode &opt : optionSets) {
      SCOPED_TRACE(concat + " / " + opt.extension);
      syslib.set(concat);
      const t_result r = search("M", opt);
      std::vector<std::pair<std::string, std::string>> want;
      for (const t_searchCandidate &c : searchCandidates(t_libraryRef{}, "M", opt))
        want.emplace_back(c.directory, c.path);
      // The trace also announces each spelling tried after the name as written.
      std::string trace;
      std::istringstream lines(r.trace);
      for (std::string line; std::getline(lines, line);)
        if (line.rfind("Member not found as written", 0) != 0) trace += line + "\n";
      EXPECT_EQ(trace, tried(want));
      // Each set of options has its own extensions, whatever the searches before it used.
      if (concat == lib1) {
        std::vector<std::string> asWritten;
        for (const t_searchCandidate &c : searchCandidates(t_libraryRef{}, "M", opt, true))
          asWritten.push_back(c.path);
        std::vector<std::string> expected;
        for (const std::string &ext : buildExtensionList(opt))
          expected.push_back(lib1 + "/M" + ext);
        EXPECT_EQ(asWritten, expected);
      }
    }
}

TEST_F(LibrarySearch, NotFoundDetailNamesTheMemberAndWhereItWasLookedFor) {
  syslib.unset();
  EXPECT_EQ(notFoundDetail(t_libraryRef{}, "AB", options(3)),
            "member 'AB' not found (SYSLIB is not set)");
  syslib.set(";;");
  EXPECT_EQ(notFoundDetail(t_libraryRef{}, "AB", options(3)),
            "member 'AB' not found (SYSLIB names no directory)");
  syslib.set(lib1 + ";nodir");
  EXPECT_EQ(notFoundDetail(t_libraryRef{}, "AB", options(3, "x")),
            "member 'AB' not found (searched: " + lib1 + "/AB.x, nodir/AB.x, " + lib1 +
                "/AB, nodir/AB); no such directory: nodir");
  syslib.set(lib1 + ";" + lib2 + ";" + lib3);
  EXPECT_EQ(notFoundDetail(t_libraryRef{}, "AB", options(2)),
            "member 'AB' not found (searched: " + lib1 + "/AB.inc, " + lib2 + "/AB.inc, " + lib3 +
                "/AB.inc, " + lib1 + "/AB.cpy, " + lib2 + "/AB.cpy, " + lib3 + "/AB.cpy, " + lib1 +
                "/AB.mac, " + lib2 + "/AB.mac and 4 more)");
}

TEST_F(LibrarySearch, FirstDirectoryWinsForTheSameExtension) {
  scratch.writeFile("lib2/PAYREC.cpy", "lib2\n");
  scratch.writeFile("lib3/PAYREC.cpy", "lib3\n");
  syslib.set(lib1 + ";" + lib2 + ";" + lib3);
  const t_result r = search("PAYREC", options(3));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib2 + "/PAYREC.cpy");
  EXPECT_EQ(r.trace, tried({{lib1, lib1 + "/PAYREC.cpy"}, {lib2, lib2 + "/PAYREC.cpy"}}) +
                         foundLine(lib2 + "/PAYREC.cpy"));
}

TEST_F(LibrarySearch, TheBareNameIsTriedLastOfAll) {
  scratch.writeFile("lib2/PAYREC", "bare\n");
  syslib.set(lib1 + ";" + lib2);
  const t_result r = search("PAYREC", options(2));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib2 + "/PAYREC");
  EXPECT_EQ(r.trace, tried({{lib1, lib1 + "/PAYREC.inc"},
                            {lib2, lib2 + "/PAYREC.inc"},
                            {lib1, lib1 + "/PAYREC.cpy"},
                            {lib2, lib2 + "/PAYREC.cpy"},
                            {lib1, lib1 + "/PAYREC.mac"},
                            {lib2, lib2 + "/PAYREC.mac"},
                            {lib1, lib1 + "/PAYREC"},
                            {lib2, lib2 + "/PAYREC"}}) +
                         foundLine(lib2 + "/PAYREC"));
}

TEST_F(LibrarySearch, WithoutALanguageThePliListIsUsed) {
  scratch.writeFile("lib1/MEM.mac", "mac\n");
  scratch.writeFile("lib1/MEM.cbl", "cbl\n");
  syslib.set(lib1);
  const t_result r = search("MEM", options(0));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib1 + "/MEM.mac");
  EXPECT_EQ(
      r.trace,
      tried({{lib1, lib1 + "/MEM.inc"}, {lib1, lib1 + "/MEM.cpy"}, {lib1, lib1 + "/MEM.mac"}}) +
          foundLine(lib1 + "/MEM.mac"));
}

TEST_F(LibrarySearch, ExtListReplacesTheLanguageDefaults) {
  scratch.writeFile("lib1/PAYREC.cbl", "cbl\n");
  scratch.writeFile("lib2/PAYREC.cpy", "cpy\n");
  syslib.set(lib1 + ";" + lib2);
  const t_result r = search("PAYREC", options(3, "txt;cpy"));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib2 + "/PAYREC.cpy");
  EXPECT_EQ(r.trace, tried({{lib1, lib1 + "/PAYREC.txt"},
                            {lib2, lib2 + "/PAYREC.txt"},
                            {lib1, lib1 + "/PAYREC.cpy"},
                            {lib2, lib2 + "/PAYREC.cpy"}}) +
                         foundLine(lib2 + "/PAYREC.cpy"));

  // The language's own extensions are not tried at all.
  const t_result none = search("PAYREC", options(3, "txt"));
  EXPECT_FALSE(none.found);
  EXPECT_EQ(none.trace, tried({{lib1, lib1 + "/PAYREC.txt"},
                               {lib2, lib2 + "/PAYREC.txt"},
                               {lib1, lib1 + "/PAYREC"},
                               {lib2, lib2 + "/PAYREC"}}) +
                            folding("PAYREC") + triedStems({lib1, lib2}, {"PAYREC.TXT"}) +
                            folding("payrec") + triedStems({lib1, lib2}, {"payrec.txt", "payrec"}));
}

TEST_F(LibrarySearch, NoCandidateWhenSyslibIsUnsetOrEmpty) {
  scratch.writeFile("lib1/PAYREC.cpy", "x\n");
  syslib.unset();
  const t_result unset = search("PAYREC", options(3));
  EXPECT_FALSE(unset.found);
  EXPECT_EQ(unset.trace, "");

  syslib.set("");
  const t_result empty = search("PAYREC", options(3));
  EXPECT_FALSE(empty.found);
  EXPECT_EQ(empty.trace, "");

  syslib.set(";;;");
  const t_result separators = search("PAYREC", options(3));
  EXPECT_FALSE(separators.found);
  EXPECT_EQ(separators.trace, "");
}

TEST_F(LibrarySearch, EmptyItemsOfTheConcatenationAreSkipped) {
  syslib.set(";" + lib1 + ";;" + lib2 + ";");
  const t_result r = search("M", options(0, "inc"));
  EXPECT_FALSE(r.found);
  EXPECT_EQ(r.trace, tried({{lib1, lib1 + "/M.inc"},
                            {lib2, lib2 + "/M.inc"},
                            {lib1, lib1 + "/M"},
                            {lib2, lib2 + "/M"}}) +
                         folding("M") + triedStems({lib1, lib2}, {"M.INC"}) + folding("m") +
                         triedStems({lib1, lib2}, {"m.inc", "m"}));
}

TEST_F(LibrarySearch, ADirectoryIsComposedAsWritten) {
  // A trailing "/" gives two in a row; the path goes to the open call unchanged.
  scratch.writeFile("lib1/PAYREC.cpy", "x\n");
  syslib.set(lib1 + "/");
  const t_result r = search("PAYREC", options(3));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib1 + "//PAYREC.cpy");
  EXPECT_EQ(r.trace,
            tried({{lib1 + "/", lib1 + "//PAYREC.cpy"}}) + foundLine(lib1 + "//PAYREC.cpy"));
}

TEST_F(LibrarySearch, MemberNamesAreCaseFoldedWhenNoFileHasTheNameAsWritten) {
  syslib.set(lib1 + ";" + lib2);
  struct t_case {
    const char *what;
    std::vector<std::string> files;
    std::string member;
    std::string want; // "" for none
  };
  const std::vector<t_case> cases = {
      {"lower name, upper file", {"lib2/CUSTREC.cpy"}, "custrec", "lib2/CUSTREC.cpy"},
      {"lower name, upper file and extension", {"lib1/CUSTREC.CPY"}, "custrec", "lib1/CUSTREC.CPY"},
      {"upper name, lower file", {"lib1/custrec.cpy"}, "CUSTREC", "lib1/custrec.cpy"},
      {"upper before lower",
       {"lib1/custrec.cpy", "lib2/CUSTREC.CPY"},
       "CustRec",
       "lib2/CUSTREC.CPY"},
      {"the exact spelling wins, also in a later directory",
       {"lib1/CUSTREC.cpy", "lib2/custrec.cbl"},
       "custrec",
       "lib2/custrec.cbl"},
      {"the bare name is folded too", {"lib2/CUSTREC"}, "custrec", "lib2/CUSTREC"},
      {"other bytes are not folded", {"lib1/\xe6.cpy"}, "\xc6", ""},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.what);
    unit::t_scratchDir dir;
    const std::string a = dir.makeDir("lib1");
    const std::string b = dir.makeDir("lib2");
    syslib.set(a + ";" + b);
    for (const std::string &file : c.files)
      dir.writeFile(file, "x\n");
    const t_result r = search(c.member, options(3));
    EXPECT_EQ(r.found, !c.want.empty());
    EXPECT_EQ(r.path, c.want.empty() ? "" : dir.path() + "/" + c.want);
  }
  // Every candidate once: the name in upper case with the extensions as given repeats the
  // exact pass and is not tried again.
  syslib.set(lib1);
  scratch.writeFile("lib1/payrec.cpy", "lower\n");
  const t_result r = search("PAYREC", options(3));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.trace, triedStems({lib1}, {"PAYREC.cpy", "PAYREC.cbl", "PAYREC.cob", "PAYREC"}) +
                         folding("PAYREC") +
                         triedStems({lib1}, {"PAYREC.CPY", "PAYREC.CBL", "PAYREC.COB"}) +
                         folding("payrec") + triedStems({lib1}, {"payrec.cpy"}) +
                         foundLine(lib1 + "/payrec.cpy"));
}

TEST_F(LibrarySearch, ADirectoryCandidateIsSkipped) {
  scratch.makeDir("lib1/PAYREC.cpy");
  scratch.makeDir("lib1/PAYREC.cbl");
  scratch.writeFile("lib2/PAYREC.cbl", "member\n");
  syslib.set(lib1 + ";" + lib2);
  const int before = unit::openDescriptorCount();
  const t_result r = search("PAYREC", options(3));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, lib2 + "/PAYREC.cbl");
  EXPECT_EQ(r.content, "member\n");
  EXPECT_EQ(r.trace, tried({{lib1, lib1 + "/PAYREC.cpy"},
                            {lib2, lib2 + "/PAYREC.cpy"},
                            {lib1, lib1 + "/PAYREC.cbl"},
                            {lib2, lib2 + "/PAYREC.cbl"}}) +
                         foundLine(lib2 + "/PAYREC.cbl"));
  // The directories that were opened and skipped were closed again.
  EXPECT_EQ(unit::openDescriptorCount(), before);

  // Only directories: nothing is found.
  scratch.makeDir("lib1/ONLYDIR");
  EXPECT_FALSE(search("ONLYDIR", options(3)).found);
}

TEST_F(LibrarySearch, TheLibraryNameChoosesTheDirectories) {
  unit::t_envGuard mylib{"INCPREP_UNIT_MYLIB"};
  scratch.writeFile("lib1/MEM.cpy", "one\n");
  scratch.writeFile("lib3/MEM.cpy", "three\n");
  syslib.set(lib1);
  struct t_case {
    const char *what;
    t_libraryRef library;
    bool mylibSet;
    std::string wantPath;
    std::string wantTracePrefix;
  };
  const std::vector<t_case> cases = {
      {"a named library that is set", {"INCPREP_UNIT_MYLIB", false}, true, lib3 + "/MEM.cpy", ""},
      {"a named library that is not set falls back to SYSLIB",
       {"INCPREP_UNIT_MYLIB", false},
       false,
       lib1 + "/MEM.cpy",
       "Library INCPREP_UNIT_MYLIB is not set; searching SYSLIB\n"},
      {"a literal library is one directory",
       {lib3, true},
       false,
       lib3 + "/MEM.cpy",
       "Library directory  " + lib3 + "\n"},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.what);
    if (c.mylibSet)
      mylib.set(lib3 + ";" + lib1);
    else
      mylib.unset();
    const t_result r = search("MEM", options(3), c.library);
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.path, c.wantPath);
    const std::string dir = c.wantPath.substr(0, c.wantPath.rfind('/'));
    EXPECT_EQ(r.trace, c.wantTracePrefix + tried({{dir, c.wantPath}}) + foundLine(c.wantPath));
  }
  // SYSLIB unset too: a library that is not set finds nothing.
  syslib.unset();
  EXPECT_FALSE(search("MEM", options(3), {"INCPREP_UNIT_MYLIB", false}).found);
}

TEST_F(LibrarySearch, LongValuesAreHandledWhole) {
  // A concatenation of more than 5000 characters whose last directory holds the member, and a
  // candidate path of more than 255 characters.
  const std::string longDir = scratch.makeDir(std::string(200, 'd'));
  const std::string member(100, 'M');
  scratch.writeFile(std::string(200, 'd') + "/" + member + ".cpy", "deep\n");
  std::string concatenation;
  for (int k = 0; k < 200; ++k)
    concatenation += scratch.path() + "/missing" + std::to_string(k) + ";";
  concatenation += longDir;
  ASSERT_GT(concatenation.size(), 5000u);
  syslib.set(concatenation);
  const t_result r = search(member, options(3));
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.path, longDir + "/" + member + ".cpy");
  EXPECT_GT(r.path.size(), 255u);
  EXPECT_EQ(r.content, "deep\n");
}

// -----------------------------------------------------------------------------------------------
// Bringing a member in
// -----------------------------------------------------------------------------------------------

/// The scanner's side of an include: a source stack with the primary in node 0 (file 1), the
/// diagnostic and resource tables, the bundle.
struct t_chain {
  std::vector<t_sourceInputNode> sources = std::vector<t_sourceInputNode>(8);
  int32 stackcounter = 0;
  std::vector<t_ppErrMsgNode> msgs = std::vector<t_ppErrMsgNode>(100);
  int32 msgct = 0;
  std::vector<t_ppResourceNode> res = std::vector<t_ppResourceNode>(100);
  int32 resct = 0;
  int32 maxres = 100;
  t_commArrayNode bundle{};
  t_runFailure failure = t_runFailure::none;
  t_optionsNode opt = options(3);
  t_memberCache *cache = nullptr; // the scanner's memory of members met, when it keeps one
  t_resourceIndex index;          // as the scanner's: file numbers and the recursion check

  t_chain() {
    sources[0].sourcefn = sources[0].sourcedsn = "PROG.CBL";
    bundle.resArray = res.data();
    bundle.resIndex = &index;
    sources[0].sourcefilenum = loadResourceArrayInfo(res, &sources[0], &resct, &maxres, &bundle, 0);
    sources[0].sourcelinenum = 5;
  }
  t_chain(const t_chain &) = delete;
  t_chain &operator=(const t_chain &) = delete;
  ~t_chain() {
    for (std::size_t k = 1; k < sources.size(); ++k)
      if (sources[k].src.fp != nullptr) std::fclose(sources[k].src.fp);
  }

  int32 include(const std::string &member, int32 loglvl = 0, std::string *trace = nullptr,
                t_libraryRef library = {}) {
    int32 rc = -1;
    const std::string out = unit::captureStdout([&] {
      rc = includeFileOpener(library, member, &stackcounter, &msgct, &resct, &maxres, sources, opt,
                             msgs.data(), res, &bundle, cache, &failure, loglvl);
    });
    if (trace != nullptr) *trace = out;
    return rc;
  }
  /// What the scanner does at a member's end: close it, clear its node, go back to its parent.
  void pop() {
    t_sourceInputNode &node = sources[static_cast<std::size_t>(stackcounter)];
    if (node.src.fp != nullptr) std::fclose(node.src.fp);
    node = t_sourceInputNode{};
    --stackcounter;
  }
  t_sourceInputNode &top() { return sources[static_cast<std::size_t>(stackcounter)]; }
};

class MemberOpening : public testing::Test {
protected:
  unit::t_scratchDir scratch;
  unit::t_envGuard syslib{"SYSLIB"};
  std::string lib1 = scratch.makeDir("lib1");
  std::string rec = scratch.writeFile("lib1/REC.cpy", "REC LINE\n");
  std::string other = scratch.writeFile("lib1/OTHER.cpy", "OTHER LINE\n");
  std::string third = scratch.writeFile("lib1/THIRD.cpy", "THIRD LINE\n");
  void SetUp() override { syslib.set(lib1); }
};

std::string loadingResource(int32 count) {
  const std::string rule(41, '=');
  return rule + "\n" + "=  Loading resource # " + std::to_string(count) + "\n" + rule + "\n";
}

void expectDiagnostic(const t_ppErrMsgNode &row, int32 file, int32 line, int32 msgno) {
  EXPECT_EQ(row.sourcefilenum, file);
  EXPECT_EQ(row.srcstmtnum, line);
  EXPECT_STREQ(row.msgid, getErrMsgID(msgno));
  EXPECT_STREQ(row.msgtxt, getErrorMsg(msgno));
  EXPECT_EQ(row.severity, 4);
}

TEST_F(MemberOpening, SearchesNoteTheDirectoriesTriedBeforeTheHitOrAllWhenMissing) {
  const std::string lib2 = scratch.makeDir("lib2");
  const std::string lib3 = scratch.makeDir("lib3");
  scratch.writeFile("lib2/MID.cpy", "MID\n");
  scratch.writeFile("lib1/LATE", "LATE\n");
  syslib.set(lib1 + ";" + lib2 + ";" + lib3);
  t_chain c;
  t_searchNotes notes;
  c.bundle.searchNotes = &notes;
  ASSERT_EQ(c.include("REC"), 1); // first directory, first extension: nothing missed
  c.pop();
  EXPECT_EQ(notes.missedDirectories, std::vector<std::string>{});
  ASSERT_EQ(c.include("MID"), 1);
  c.pop();
  EXPECT_EQ(notes.missedDirectories, std::vector<std::string>{lib1});
  ASSERT_EQ(c.include("LATE"), 1); // the bare name: every directory was searched before
  c.pop();
  EXPECT_EQ(notes.missedDirectories, (std::vector<std::string>{lib1, lib2, lib3}));
  notes = t_searchNotes{}; // a fresh record
  EXPECT_EQ(c.include("GONE"), 0);
  EXPECT_EQ(notes.missedDirectories, (std::vector<std::string>{lib1, lib2, lib3}));
  EXPECT_EQ(c.msgs[0].detail.rfind("member 'GONE' not found (searched: " + lib1 + "/GONE.cpy", 0),
            0u);
  // A directory named twice is noted once; a member found under its name in upper case was
  // searched for as written in every directory first.
  syslib.set(lib2 + ";" + lib3 + ";" + lib2 + ";" + lib1);
  scratch.writeFile("lib3/lower.cpy", "LOWER\n");
  scratch.writeFile("lib1/UPPER.cpy", "UPPER\n");
  const std::vector<std::pair<std::string, std::vector<std::string>>> searches = {
      {"MID", {}}, {"lower", {lib2}}, {"upper", {lib2, lib3, lib1}}, {"NONE", {lib2, lib3, lib1}}};
  for (const auto &[name, missed] : searches) {
    notes = t_searchNotes{};
    t_chain d;
    d.bundle.searchNotes = &notes;
    (void)d.include(name);
    EXPECT_EQ(notes.missedDirectories, missed) << name;
  }
}

TEST_F(MemberOpening, TheMemberIsPushedAndNumbered) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.stackcounter, 1);
  const t_sourceInputNode &node = c.sources[1];
  EXPECT_EQ(node.sourcefn, rec);
  EXPECT_EQ(node.sourcedsn, rec);
  EXPECT_EQ(node.sourcelinenum, 0);
  EXPECT_EQ(node.sourcefilenum, 2);
  ASSERT_NE(node.src.fp, nullptr);
  char line[32] = {};
  ASSERT_NE(std::fgets(line, sizeof line, node.src.fp), nullptr);
  EXPECT_STREQ(line, "REC LINE\n");
  EXPECT_EQ(c.resct, 2);
  EXPECT_EQ(c.res[1].sourcedsn, rec);
  EXPECT_EQ(c.res[1].sourcefilenum, 2);
  EXPECT_EQ(c.msgct, 0);
  EXPECT_EQ(c.failure, t_runFailure::none);
  // The including node is left as it was.
  EXPECT_EQ(c.sources[0].sourcefilenum, 1);
  EXPECT_EQ(c.sources[0].sourcelinenum, 5);
}

TEST_F(MemberOpening, TheSameMemberAgainKeepsItsNumber) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1);
  c.pop();
  ASSERT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.top().sourcefilenum, 2);
  c.pop();
  ASSERT_EQ(c.include("OTHER"), 1);
  EXPECT_EQ(c.top().sourcefilenum, 3);
  c.pop();
  ASSERT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.top().sourcefilenum, 2);
  EXPECT_EQ(c.resct, 3);
  EXPECT_EQ(c.msgct, 0);
}

TEST_F(MemberOpening, NestedMembersStackUp) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1);
  ASSERT_EQ(c.include("OTHER"), 1);
  ASSERT_EQ(c.include("THIRD"), 1);
  EXPECT_EQ(c.stackcounter, 3);
  EXPECT_EQ(c.sources[1].sourcedsn, rec);
  EXPECT_EQ(c.sources[2].sourcedsn, other);
  EXPECT_EQ(c.sources[3].sourcedsn, third);
  EXPECT_EQ(c.sources[3].sourcefilenum, 4);
}

TEST_F(MemberOpening, TheStackGrowsWhenFull) {
  t_chain c;
  c.sources.resize(1);
  ASSERT_EQ(c.include("REC"), 1);
  ASSERT_GE(c.sources.size(), 2u);
  EXPECT_EQ(c.sources[1].sourcedsn, rec);
  ASSERT_EQ(c.include("OTHER"), 1);
  EXPECT_EQ(c.stackcounter, 2);
  EXPECT_EQ(c.sources[2].sourcedsn, other);
  EXPECT_EQ(c.sources[0].sourcedsn, "PROG.CBL");
}

TEST_F(MemberOpening, NotFoundRaisesNineAtTheIncludingFileAndLine) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1);
  c.top().sourcelinenum = 7;
  const int before = unit::openDescriptorCount();
  EXPECT_EQ(c.include("NOSUCH"), 0);
  EXPECT_EQ(unit::openDescriptorCount(), before);
  EXPECT_EQ(c.stackcounter, 1);
  EXPECT_EQ(c.resct, 2);
  ASSERT_EQ(c.msgct, 1);
  expectDiagnostic(c.msgs[0], 2, 7, 9);
  EXPECT_EQ(c.failure, t_runFailure::none);
  EXPECT_EQ(c.sources[2].src.fp, nullptr);
}

// A write-only file of the kernel's settings cannot be opened for reading, not even by root.
constexpr const char *kUnreadableFile = "/proc/sys/vm/drop_caches";

TEST_F(MemberOpening, AnUnreadableMemberRaisesSixteenAndTheSearchGoesOn) {
  if (std::FILE *probe = std::fopen(kUnreadableFile, "rb")) {
    std::fclose(probe);
    GTEST_SKIP() << kUnreadableFile << " is readable here";
  }
  const std::string unreadable = lib1 + "/UNR.cpy";
  ASSERT_EQ(symlink(kUnreadableFile, unreadable.c_str()), 0);
  const std::string next = scratch.writeFile("lib1/UNR.cbl", "NEXT\n");
  t_memberCache memory;
  for (t_memberCache *cache : {static_cast<t_memberCache *>(nullptr), &memory}) {
    t_chain c;
    c.cache = cache;
    std::string trace;
    // Twice: a cached search reports the file again.
    for (int k = 1; k <= 2; ++k) {
      ASSERT_EQ(c.include("UNR", cache == nullptr ? 1 : 0, &trace), 1);
      EXPECT_EQ(c.sources[1].sourcefn, next);
      c.pop();
      ASSERT_EQ(c.msgct, k);
      const t_ppErrMsgNode &row = c.msgs[static_cast<std::size_t>(k - 1)];
      EXPECT_EQ(row.sourcefilenum, 1);
      EXPECT_EQ(row.srcstmtnum, 5);
      EXPECT_STREQ(row.msgid, "KVR0016-W");
      EXPECT_EQ(std::string(row.msgtxt),
                std::string(getErrorMsg(kMsgUnreadable)) + " " + unreadable);
      EXPECT_EQ(row.severity, 4);
    }
    if (cache == nullptr) {
      EXPECT_NE(trace.find("Cannot read file  " + unreadable + "\n"), std::string::npos) << trace;
    }
  }
}

TEST_F(MemberOpening, SyslibUnsetRaisesNineAndTracesTheProblem) {
  syslib.unset();
  t_chain c;
  std::string trace;
  EXPECT_EQ(c.include("REC", 1, &trace), 0);
  EXPECT_EQ(c.stackcounter, 0);
  ASSERT_EQ(c.msgct, 1);
  expectDiagnostic(c.msgs[0], 1, 5, 9);
  EXPECT_EQ(trace, "includeFileOpener:>libraryName =  SYSLIB\n"
                   "includeFileOpener:>memberName =  REC\n"
                   "Problem opening file REC\n");
}

TEST_F(MemberOpening, APushIsTraced) {
  t_chain c;
  std::string trace;
  ASSERT_EQ(c.include("REC", 1, &trace), 1);
  EXPECT_EQ(trace, "includeFileOpener:>libraryName =  SYSLIB\n"
                   "includeFileOpener:>memberName =  REC\n" +
                       tried({{lib1, rec}}) + foundLine(rec) +
                       "Successful file open:>fileNameBuffer =  " + rec + "\n" +
                       loadingResource(1));
  // The count shown is the one before the member is numbered.
  ASSERT_EQ(c.include("OTHER", 1, &trace), 1);
  EXPECT_NE(trace.find(loadingResource(2)), std::string::npos);
}

TEST_F(MemberOpening, SilentWithoutTrace) {
  t_chain c;
  std::string trace = "unset";
  ASSERT_EQ(c.include("REC", 0, &trace), 1);
  EXPECT_EQ(trace, "");
  EXPECT_EQ(c.include("NOSUCH", 0, &trace), 0);
  EXPECT_EQ(trace, "");
}

TEST_F(MemberOpening, AMemberIncludingItselfIsRefused) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1);
  c.top().sourcelinenum = 2;
  const int before = unit::openDescriptorCount();
  std::string trace;
  EXPECT_EQ(c.include("REC", 1, &trace), 0);
  // The member opened for the check is closed at once.
  EXPECT_EQ(unit::openDescriptorCount(), before);
  EXPECT_EQ(c.stackcounter, 1);
  EXPECT_EQ(c.resct, 2);
  ASSERT_EQ(c.msgct, 1);
  expectDiagnostic(c.msgs[0], 2, 2, 13);
  EXPECT_EQ(c.sources[2].src.fp, nullptr);
  EXPECT_EQ(c.sources[2].sourcedsn, "");
  EXPECT_EQ(trace, "includeFileOpener:>libraryName =  SYSLIB\n"
                   "includeFileOpener:>memberName =  REC\n" +
                       tried({{lib1, rec}}) + foundLine(rec) +
                       "Successful file open:>fileNameBuffer =  " + rec + "\n" +
                       loadingResource(2));
}

TEST_F(MemberOpening, RecursionIsCheckedAgainstEveryNodeDownToNodeOne) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1);   // node 1, file 2
  ASSERT_EQ(c.include("OTHER"), 1); // node 2, file 3
  ASSERT_EQ(c.include("THIRD"), 1); // node 3, file 4
  c.top().sourcelinenum = 9;
  EXPECT_EQ(c.include("REC"), 0); // open in node 1, the deepest compared
  EXPECT_EQ(c.stackcounter, 3);
  ASSERT_EQ(c.msgct, 1);
  expectDiagnostic(c.msgs[0], 4, 9, 13);
  EXPECT_EQ(c.include("OTHER"), 0);
  EXPECT_EQ(c.msgct, 2);
  EXPECT_EQ(c.resct, 4);
}

TEST_F(MemberOpening, ThePrimaryInNodeZeroIsNotCompared) {
  t_chain c;
  c.sources[0].sourcefn = c.sources[0].sourcedsn = rec;
  EXPECT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.stackcounter, 1);
  EXPECT_EQ(c.msgct, 0);
  c.pop();
  ASSERT_EQ(c.include("OTHER"), 1);
  EXPECT_EQ(c.include("REC"), 1); // node 1 holds OTHER; node 0 is still not compared
  EXPECT_EQ(c.stackcounter, 2);
  EXPECT_EQ(c.msgct, 0);
}

TEST_F(MemberOpening, ANodeReusedByAnotherMemberNoLongerHoldsTheFirst) {
  t_chain c;
  ASSERT_EQ(c.include("REC"), 1); // node 1
  c.pop();
  ASSERT_EQ(c.include("OTHER"), 1); // node 1 again
  EXPECT_EQ(c.include("REC"), 1);   // REC was pushed into node 1 once, but has ended
  EXPECT_EQ(c.include("OTHER"), 0); // OTHER is open in node 1
  c.pop();
  c.pop();
  ASSERT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.include("REC"), 0);
  ASSERT_EQ(c.msgct, 2);
  EXPECT_EQ(c.resct, 3);
}

TEST_F(MemberOpening, APathDifferingInCaseIsNotRecursion) {
  t_chain c;
  ASSERT_EQ(c.include("OTHER"), 1);
  std::string upper = rec;
  upper.replace(upper.size() - 7, 7, "REC.CPY"); // ".../REC.cpy" spelt with another case
  c.top().sourcedsn = upper;
  EXPECT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.msgct, 0);
}

TEST_F(MemberOpening, NodesAboveTheCurrentOneAreNotCompared) {
  // A node left above the current one (as after a pop) takes no part in the check.
  t_chain c;
  ASSERT_EQ(c.include("OTHER"), 1);
  c.sources[2].sourcefn = c.sources[2].sourcedsn = rec;
  EXPECT_EQ(c.include("REC"), 1);
  EXPECT_EQ(c.stackcounter, 2);
  EXPECT_EQ(c.msgct, 0);
}

// The scanner keeps members it has met in memory when it runs without trace; a member taken
// from there must behave exactly like one read from its file.

/// Every line of the top member as line input reads it: its text and its count.
std::vector<std::pair<std::string, std::int64_t>> readMember(t_sourceInputNode &node) {
  std::vector<std::pair<std::string, std::int64_t>> lines;
  std::string buffer;
  bool mark = false;
  while (!node.src.eof && lines.size() < 100) {
    const std::int64_t count = getCurrentSourceLine(buffer, node, &mark, 0);
    lines.emplace_back(buffer, count);
    if (count == 0) break;
  }
  return lines;
}

TEST_F(MemberOpening, AMemberMetAgainReadsTheSameFromTheScannersMemory) {
  scratch.writeFile("lib1/CRLF.cpy", "A\r\nB");
  const std::string crlf = lib1 + "/CRLF.cpy";
  const std::vector<std::pair<std::string, std::int64_t>> wantRec = {{"REC LINE\n", 9},
                                                                     {"\xff", 1}};
  const std::vector<std::pair<std::string, std::int64_t>> wantCrlf = {{"A\n", 3}, {"B\xff", 2}};
  t_memberCache cache;
  t_chain c;
  c.cache = &cache;
  const int before = unit::openDescriptorCount();
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(c.include("REC"), 1);
    EXPECT_EQ(c.top().sourcedsn, rec);
    EXPECT_EQ(c.top().sourcefilenum, 2);
    EXPECT_EQ(readMember(c.top()), wantRec);
    ASSERT_EQ(c.include("CRLF"), 1); // nested in REC
    EXPECT_EQ(c.top().sourcedsn, crlf);
    EXPECT_EQ(c.top().sourcefilenum, 3);
    EXPECT_EQ(readMember(c.top()), wantCrlf);
    c.pop();
    c.pop();
    EXPECT_EQ(unit::openDescriptorCount(), before);
  }
  EXPECT_EQ(c.resct, 3);
  EXPECT_EQ(c.msgct, 0);
}

TEST_F(MemberOpening, TheScannersMemoryKeepsMembersOfEachLibraryApart) {
  const std::string lib2 = scratch.makeDir("lib2");
  const std::string rec2 = scratch.writeFile("lib2/REC.cpy", "OTHER REC\n");
  t_memberCache cache;
  t_chain c;
  c.cache = &cache;
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(c.include("REC"), 1);
    EXPECT_EQ(c.top().sourcedsn, rec);
    c.pop();
    ASSERT_EQ(c.include("REC", 0, nullptr, {lib2, true}), 1);
    EXPECT_EQ(c.top().sourcedsn, rec2);
    c.pop();
  }
  EXPECT_EQ(c.resct, 3);
}

TEST_F(MemberOpening, AMissingMemberRaisesNineEachTimeWithTheScannersMemory) {
  t_memberCache cache;
  t_chain c;
  c.cache = &cache;
  EXPECT_EQ(c.include("NOSUCH"), 0);
  c.top().sourcelinenum = 8;
  EXPECT_EQ(c.include("NOSUCH"), 0);
  ASSERT_EQ(c.msgct, 2);
  expectDiagnostic(c.msgs[0], 1, 5, 9);
  expectDiagnostic(c.msgs[1], 1, 8, 9);
  EXPECT_EQ(c.stackcounter, 0);
}

TEST_F(MemberOpening, RecursionIsRefusedWithTheScannersMemory) {
  t_memberCache cache;
  t_chain c;
  c.cache = &cache;
  ASSERT_EQ(c.include("REC"), 1);
  ASSERT_EQ(c.include("OTHER"), 1);
  c.pop();
  c.top().sourcelinenum = 3;
  const int before = unit::openDescriptorCount();
  EXPECT_EQ(c.include("REC"), 0);
  EXPECT_EQ(unit::openDescriptorCount(), before);
  ASSERT_EQ(c.msgct, 1);
  expectDiagnostic(c.msgs[0], 2, 3, 13);
  EXPECT_EQ(c.stackcounter, 1);
  // Once REC has ended it can be included again, from the primary.
  c.pop();
  ASSERT_EQ(c.include("REC"), 1);
  EXPECT_EQ(readMember(c.top()).front().first, "REC LINE\n");
}

TEST_F(MemberOpening, AnEmptyMemberGivesJustTheEndOfFileMark) {
  scratch.writeFile("lib1/EMPTY.cpy", "");
  for (const bool withMemory : {false, true}) {
    SCOPED_TRACE(withMemory);
    t_memberCache cache;
    t_chain c;
    if (withMemory) c.cache = &cache;
    for (int round = 1; round <= 2; ++round) {
      ASSERT_EQ(c.include("EMPTY"), 1);
      EXPECT_EQ(readMember(c.top()),
                (std::vector<std::pair<std::string, std::int64_t>>{{"\xff", 1}}));
      c.pop();
    }
  }
}

/// In a child process that checks a condition: says on standard error what did not hold, so
/// that the parent's report shows it; returns 1 for an unmet condition.
int unmet(bool holds, const char *what) {
  if (holds) return 0;
  std::fprintf(stderr, "unmet: %s\n", what);
  return 1;
}

TEST_F(MemberOpening, RunningOutOfDescriptorsStopsTheRunNotJustTheSearch) {
  // Without a free descriptor no candidate can be opened: that is no missing member, so no
  // diagnostic is raised and the failure goes back to the scanner with the path being opened.
  EXPECT_EXIT(
      {
        t_chain c;
        std::string path;
        t_runFailure searchFailure = t_runFailure::none;
        struct rlimit lim {};
        if (getrlimit(RLIMIT_NOFILE, &lim) != 0) std::_Exit(100);
        lim.rlim_cur = 0;
        if (setrlimit(RLIMIT_NOFILE, &lim) != 0) std::_Exit(101);
        std::FILE *fp =
            concatOpenFile(t_libraryRef{}, "REC", path, c.opt, "rb", &searchFailure, nullptr, 0);
        const int32 rc = includeFileOpener(t_libraryRef{}, "REC", &c.stackcounter, &c.msgct,
                                           &c.resct, &c.maxres, c.sources, c.opt, c.msgs.data(),
                                           c.res, &c.bundle, nullptr, &c.failure, 0);
        int wrong = 0;
        wrong += unmet(fp == nullptr, "the search returned a stream");
        wrong += unmet(searchFailure == t_runFailure::tooManyOpenFiles,
                       "the search did not report running out of descriptors");
        wrong += unmet(path == rec, "the search did not give the path being opened");
        wrong += unmet(rc == 0, "the member was pushed");
        wrong += unmet(c.failure == t_runFailure::tooManyOpenFiles,
                       "the opener did not report running out of descriptors");
        wrong += unmet(c.msgct == 0, "a diagnostic was raised");
        wrong += unmet(c.stackcounter == 0, "the stack moved");
        std::_Exit(wrong);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(MemberOpening, RunningOutOfDescriptorsIsNoMissingMemberWithTheScannersMemory) {
  // A member too large to be held in memory is opened from its file each time it is included.
  // When no descriptor is left for it, the member is not missing: the failure goes back to the
  // scanner, as it does for the first search.
  const std::string big = scratch.writeFile("lib1/BIG.cpy", std::string(3 << 20, 'B') + "\n");
  EXPECT_EXIT(
      {
        t_memberCache cache;
        t_chain c;
        c.cache = &cache;
        auto include = [&c] {
          return includeFileOpener(t_libraryRef{}, "BIG", &c.stackcounter, &c.msgct, &c.resct,
                                   &c.maxres, c.sources, c.opt, c.msgs.data(), c.res, &c.bundle,
                                   c.cache, &c.failure, 0);
        };
        if (include() != 1 || c.top().sourcedsn != big) std::_Exit(100);
        c.pop();
        struct rlimit lim {};
        if (getrlimit(RLIMIT_NOFILE, &lim) != 0) std::_Exit(101);
        lim.rlim_cur = 0;
        if (setrlimit(RLIMIT_NOFILE, &lim) != 0) std::_Exit(102);
        const int32 rc = include();
        int wrong = 0;
        wrong += unmet(rc == 0, "the member was pushed");
        wrong += unmet(c.failure == t_runFailure::tooManyOpenFiles,
                       "the opener did not report running out of descriptors");
        wrong += unmet(c.msgct == 0, "a diagnostic was raised (a member that exists reported as "
                                     "not found)");
        std::_Exit(wrong);
      },
      testing::ExitedWithCode(0), "");
}

// -----------------------------------------------------------------------------------------------
// The memory of members within its budget, and one candidate's system calls
// -----------------------------------------------------------------------------------------------

TEST_F(MemberOpening, MembersBeyondTheBudgetAreLetGoAndReadAgainWhenMetAgain) {
  scratch.writeFile("lib1/A.cpy", "AAAAAAAAAAAAAAAAAAA\n"); // 20 bytes
  scratch.writeFile("lib1/B.cpy", "BBBBBBBBBBBBBBBBBBB\n");
  t_memberCache cache;
  cache.budget = 30; // room for one of them
  t_chain c;
  c.cache = &cache;
  ASSERT_EQ(c.include("A"), 1);
  c.pop();
  EXPECT_EQ(cache.bytes, 20u);
  ASSERT_EQ(c.include("B"), 1);
  c.pop();
  EXPECT_EQ(cache.bytes, 20u); // A was let go for B
  EXPECT_EQ(cache.textOf.count(lib1 + "/A.cpy"), 0u);
  EXPECT_EQ(cache.textOf.count(lib1 + "/B.cpy"), 1u);
  // A is read again from the path found the first time: a changed file shows it.
  const std::string a2 = "A2AAAAAAAAAAAAAAAAA\n"; // 20 bytes again
  scratch.writeFile("lib1/A.cpy", a2);
  ASSERT_EQ(c.include("A"), 1);
  EXPECT_EQ(readMember(c.top()).front().first, a2);
  c.pop();
  // B, used longest ago, went for A; a member met while held is not read again.
  EXPECT_EQ(cache.textOf.count(lib1 + "/B.cpy"), 0u);
  scratch.writeFile("lib1/A.cpy", "A3\n");
  ASSERT_EQ(c.include("A"), 1);
  EXPECT_EQ(readMember(c.top()).front().first, a2);
  c.pop();
  EXPECT_LE(cache.bytes, cache.budget);
  EXPECT_EQ(c.resct, 3); // numbers are kept whatever the memory holds
  EXPECT_EQ(c.msgct, 0);
}

TEST_F(MemberOpening, AMemberLetGoWhileOpenIsStillReadWhole) {
  scratch.writeFile("lib1/A.cpy", "AAAAAAAAAAAAAAAAAAA\n");
  scratch.writeFile("lib1/B.cpy", "BBBBBBBBBBBBBBBBBBB\n");
  t_memberCache cache;
  cache.budget = 30;
  t_chain c;
  c.cache = &cache;
  ASSERT_EQ(c.include("A"), 1);
  ASSERT_EQ(c.include("B"), 1); // lets A's text go while A is open below it
  EXPECT_EQ(cache.textOf.count(lib1 + "/A.cpy"), 0u);
  c.pop();
  EXPECT_EQ(readMember(c.top()).front().first, "AAAAAAAAAAAAAAAAAAA\n");
  // A member larger than the whole budget is served without being held.
  scratch.writeFile("lib1/C.cpy", std::string(40, 'C') + "\n");
  c.pop();
  ASSERT_EQ(c.include("C"), 1);
  EXPECT_EQ(readMember(c.top()).front().first, std::string(40, 'C') + "\n");
  EXPECT_EQ(cache.textOf.count(lib1 + "/C.cpy"), 0u);
  EXPECT_LE(cache.bytes, cache.budget);
}

TEST_F(MemberOpening, ACandidateIsAMemberOnlyWhenItIsARegularFile) {
  scratch.makeDir("lib1/DIR.cpy");
  const std::string fifo = lib1 + "/FIFO.cpy";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  t_openedMember m;
  EXPECT_EQ(openCandidate(lib1 + "/NOSUCH.cpy", m), t_candidate::absent);
  EXPECT_EQ(openCandidate(lib1 + "/REC.cpy/x", m), t_candidate::absent);
  EXPECT_EQ(openCandidate(lib1 + "/DIR.cpy", m), t_candidate::absent);
  EXPECT_EQ(openCandidate(fifo, m), t_candidate::absent); // no wait for a writer
  EXPECT_EQ(m.fd, -1);
  const int before = unit::openDescriptorCount();
  ASSERT_EQ(openCandidate(rec, m), t_candidate::member);
  EXPECT_EQ(m.size, 9u);
  EXPECT_EQ(unit::openDescriptorCount(), before + 1);
  close(m.fd);
}

TEST_F(MemberOpening, AFileThatCannotBeReadIsToldApartFromAMissingOne) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  const std::string locked = scratch.writeFile("lib1/LOCKED.cpy", "X\n");
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  t_openedMember m;
  EXPECT_EQ(openCandidate(locked, m), t_candidate::unreadable);
  chmod(locked.c_str(), 0600);
}

} // namespace
} // namespace incprep
