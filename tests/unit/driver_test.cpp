// The driver's own routines: the command-line parser and its trace, the option defaults, the
// derivation of the deck and side-file names, opening a run's file, and abnormal termination.
#include "diagnostics.h"
#include "driver.h"
#include "scanner.h"

#include "unit_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace incprep {
namespace {

// -----------------------------------------------------------------------------------------------
// The option parser
// -----------------------------------------------------------------------------------------------

/// Parses `args` as the process would receive them (argument 0 included), from a cleared record
/// with its defaults set, as the driver does. Whatever the parser traces is captured and returned
/// through `traced` when asked for.
t_optionsNode parse(const std::vector<std::string> &args, std::string *traced = nullptr) {
  std::vector<const char *> argv;
  argv.reserve(args.size());
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  t_optionsNode opt{};
  setDefaultINCOptions(&opt, 0);
  const std::string out = unit::captureStdout(
      [&] { parseINCOptions(static_cast<int>(argv.size()), argv.data(), &opt, 0); });
  if (traced != nullptr) *traced = out;
  return opt;
}

/// The whole record a case expects; fields not named keep their "nothing given" values.
class t_wantOptions {
public:
  std::string fileName = "SRC.CBL";
  std::string sysXML;
  std::string sysPUNCH;
  std::string extension;
  std::string sysDEPS;
  int optLANG = 0;
  int optTRACE = 0;
  int optNOCOPY = 0;
  int optFORMAT = 0;
  int optCMT = 0;
  int optSQLINC = 0;

  t_wantOptions &file(std::string v) {
    fileName = std::move(v);
    return *this;
  }
  t_wantOptions &xml(std::string v) {
    sysXML = std::move(v);
    return *this;
  }
  t_wantOptions &punch(std::string v) {
    sysPUNCH = std::move(v);
    return *this;
  }
  t_wantOptions &ext(std::string v) {
    extension = std::move(v);
    return *this;
  }
  t_wantOptions &deps(std::string v) {
    sysDEPS = std::move(v);
    return *this;
  }
  t_wantOptions &lang(int v) {
    optLANG = v;
    return *this;
  }
  t_wantOptions &trace(int v) {
    optTRACE = v;
    return *this;
  }
  t_wantOptions &nocopy(int v) {
    optNOCOPY = v;
    return *this;
  }
  t_wantOptions &format(int v) {
    optFORMAT = v;
    return *this;
  }
  t_wantOptions &cmt(int v) {
    optCMT = v;
    return *this;
  }
  t_wantOptions &sqlinc(int v) {
    optSQLINC = v;
    return *this;
  }
};

t_wantOptions want() {
  return t_wantOptions{};
}

void expectOptions(const t_optionsNode &got, const t_wantOptions &want) {
  EXPECT_EQ(got.thisPreproc, "prog");
  EXPECT_EQ(got.fileName, want.fileName);
  EXPECT_EQ(got.sysXML, want.sysXML);
  EXPECT_EQ(got.sysPUNCH, want.sysPUNCH);
  EXPECT_EQ(got.extension, want.extension);
  EXPECT_EQ(got.sysDEPS, want.sysDEPS);
  EXPECT_EQ(got.optLANG, want.optLANG);
  EXPECT_EQ(got.optTRACE, want.optTRACE);
  EXPECT_EQ(got.optNOCOPY, want.optNOCOPY);
  EXPECT_EQ(got.optCOMPRESSSTMTTBL, want.optFORMAT);
  EXPECT_EQ(got.optCMT, want.optCMT);
  EXPECT_EQ(got.optSQLINC, want.optSQLINC);
  // Switches without an option of their own never move.
  EXPECT_EQ(got.optMDECK, 0);
  EXPECT_EQ(got.optSUBFILE, 0);
  EXPECT_EQ(got.optUPPERCASE, 0);
  EXPECT_EQ(got.optZEM, 0);
}

struct t_optionCase {
  const char *what;
  std::vector<std::string> args; // after the program's name "prog"
  t_wantOptions want;
};

void runOptionCases(const std::vector<t_optionCase> &cases) {
  for (const t_optionCase &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"prog"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    expectOptions(parse(args), c.want);
  }
}

TEST(OptionParser, EachKeywordSetsItsOwnFieldInAnyCase) {
  runOptionCases({
      {"nothing but the source", {"SRC.CBL"}, want()},
      {"LANG(COBOL)", {"SRC.CBL", "LANG(COBOL)"}, want().lang(3)},
      {"LANG(PLI)", {"SRC.CBL", "LANG(PLI)"}, want().lang(2)},
      {"TRACE(ON)", {"SRC.CBL", "TRACE(ON)"}, want().trace(1)},
      {"NOCOPY(ON)", {"SRC.CBL", "NOCOPY(ON)"}, want().nocopy(1)},
      {"FORMAT(ON)", {"SRC.CBL", "FORMAT(ON)"}, want().format(1)},
      {"CMT(ON)", {"SRC.CBL", "CMT(ON)"}, want().cmt(1)},
      {"SQLINC(ON)", {"SRC.CBL", "sqlinc(On)"}, want().sqlinc(1)},
      {"XML(a)", {"SRC.CBL", "XML(a)"}, want().xml("a")},
      {"EXT(txt;cpy)", {"SRC.CBL", "EXT(txt;cpy)"}, want().ext("txt;cpy")},
      {"DECK(out.dek)", {"SRC.CBL", "DECK(out.dek)"}, want().punch("out.dek")},
      {"DEPS(out.d)", {"SRC.CBL", "DEPS(out.d)"}, want().deps("out.d")},
      {"lower case keywords", {"SRC.CBL", "lang(cobol)", "trace(on)"}, want().lang(3).trace(1)},
      {"mixed case keywords",
       {"SRC.CBL", "Lang(Pli)", "nOcOpY(oN)", "Format(On)", "cmt(on)"},
       want().lang(2).nocopy(1).format(1).cmt(1)},
  });
}

TEST(OptionParser, ArgumentsAreJoinedAndSplitAtCommas) {
  runOptionCases({
      {"two options in one argument",
       {"SRC.CBL", "LANG(PLI),NOCOPY(ON)"},
       want().lang(2).nocopy(1)},
      {"the source and an option in one argument", {"SRC.CBL,LANG(COBOL)"}, want().lang(3)},
      {"runs of commas are one separator",
       {"SRC.CBL", ",,LANG(PLI),,,CMT(ON),"},
       want().lang(2).cmt(1)},
      {"an empty second argument is skipped", {"", "SRC.CBL", "LANG(COBOL)"}, want().lang(3)},
      {"empty arguments anywhere are skipped", {"", "", "SRC.CBL", "", "CMT(ON)"}, want().cmt(1)},
  });
}

TEST(OptionParser, TheSecondTokenIsTheSourceWhateverItLooksLike) {
  // TRACE(ON) in the source's place is the source name; SRC.CBL after it is an unknown keyword.
  std::string traced;
  const t_optionsNode opt = parse({"prog", "TRACE(ON)", "SRC.CBL"}, &traced);
  expectOptions(opt, want().file("TRACE(ON)"));
  EXPECT_EQ(traced, "");

  expectOptions(parse({"prog", "xml(a)"}), want().file("xml(a)"));
}

TEST(OptionParser, OnlyTheProgramNameLeavesTheSourceEmpty) {
  expectOptions(parse({"prog"}), want().file(""));
}

TEST(OptionParser, ValuesKeepTheirCase) {
  runOptionCases({
      {"XML", {"SRC.CBL", "xml(Out.Xml)"}, want().xml("Out.Xml")},
      {"EXT", {"SRC.CBL", "Ext(Txt;cPy)"}, want().ext("Txt;cPy")},
      {"DECK", {"SRC.CBL", "deck(My.Deck)"}, want().punch("My.Deck")},
      {"DEPS", {"SRC.CBL", "deps(Out.D)"}, want().deps("Out.D")},
      {"a keyword's text inside a value stays a value",
       {"SRC.CBL", "xml(lang(cobol))"},
       want().xml("lang(cobol)")},
      {"the source name", {"Src.Cbl"}, want().file("Src.Cbl")},
  });
}

TEST(OptionParser, OnlyTheLastCharacterClosesAValue) {
  runOptionCases({
      {"DECK(a)b)", {"SRC.CBL", "DECK(a)b)"}, want().punch("a)b")},
      {"XML((x))", {"SRC.CBL", "XML((x))"}, want().xml("(x)")},
      {"EXT(a)(b)", {"SRC.CBL", "EXT(a)(b)"}, want().ext("a)(b")},
  });
}

TEST(OptionParser, FirstTestThatHoldsDecides) {
  // Each token is decided by the first test that holds; the text of another keyword inside a
  // value sets nothing else.
  runOptionCases({
      {"XML holding EXT", {"SRC.CBL", "XML(EXT(a))"}, want().xml("EXT(a)")},
      {"EXT holding DECK", {"SRC.CBL", "EXT(DECK(b))"}, want().ext("DECK(b)")},
      {"DECK holding CMT(ON)", {"SRC.CBL", "DECK(CMT(ON))"}, want().punch("CMT(ON)")},
      {"XML holding TRACE(ON)", {"SRC.CBL", "XML(TRACE(ON))"}, want().xml("TRACE(ON)")},
      {"DEPS holding DECK", {"SRC.CBL", "DEPS(DECK(c))"}, want().deps("DECK(c)")},
  });
}

TEST(OptionParser, LastOneWins) {
  runOptionCases({
      {"two XML values", {"SRC.CBL", "XML(a)", "XML(b)"}, want().xml("b")},
      {"a shorter value replaces a longer one whole",
       {"SRC.CBL", "DECK(longer.name)", "DECK(s)"},
       want().punch("s")},
      {"two EXT lists", {"SRC.CBL", "EXT(a;b;c)", "EXT(d)"}, want().ext("d")},
      {"COBOL then PL/I", {"SRC.CBL", "LANG(COBOL)", "LANG(PLI)"}, want().lang(2)},
      {"PL/I then COBOL", {"SRC.CBL", "LANG(PLI)", "LANG(COBOL)"}, want().lang(3)},
      {"an ignored empty value leaves the earlier one",
       {"SRC.CBL", "XML(a)", "XML()"},
       want().xml("a")},
  });
}

TEST(OptionParser, UnknownAndIncompleteKeywordsAreIgnored) {
  runOptionCases({
      {"empty values", {"SRC.CBL", "XML()", "EXT()", "DECK()", "DEPS()"}, want()},
      {"switches with other values",
       {"SRC.CBL", "TRACE(OFF)", "LANG(C)", "NOCOPY(OFF)", "CMT(OFF)", "FORMAT(YES)"},
       want()},
      {"blanks inside the parentheses", {"SRC.CBL", "TRACE( ON )", "LANG (COBOL)"}, want()},
      {"value options without their closing parenthesis",
       {"SRC.CBL", "XML(a", "EXT(b", "DECK(c"},
       want()},
      {"value options without their opening parenthesis",
       {"SRC.CBL", "XMLa)", "XMLX(a)", "DECKa)"},
       want()},
      {"misspelt keywords", {"SRC.CBL", "LANGUAGE(COBOL)", "TRACE(ON", "CMT(ON))"}, want()},
  });
}

TEST(OptionParser, DefaultsSwitchEveryOptionOff) {
  t_optionsNode opt{};
  opt.optTRACE = opt.optMDECK = opt.optSUBFILE = opt.optUPPERCASE = 5;
  opt.optZEM = opt.optCOMPRESSSTMTTBL = opt.optNOCOPY = 5;
  setDefaultINCOptions(&opt, 0);
  EXPECT_EQ(opt.optTRACE, 0);
  EXPECT_EQ(opt.optMDECK, 0);
  EXPECT_EQ(opt.optSUBFILE, 0);
  EXPECT_EQ(opt.optUPPERCASE, 0);
  EXPECT_EQ(opt.optZEM, 0);
  EXPECT_EQ(opt.optCOMPRESSSTMTTBL, 0);
  EXPECT_EQ(opt.optNOCOPY, 0);
}

TEST(OptionParser, LongCommandLineIsTakenWhole) {
  // A command line of 100,000 characters: every value whole, and the keywords after the
  // thousandth byte still count.
  const std::string longSource = std::string(2000, 's') + ".CBL";
  const std::string xmlValue = "side/" + std::string(60000, 'x') + ".Xml";
  const std::string extValue = std::string(30000, 'e') + ";cpy";
  std::vector<std::string> args{
      "prog",        longSource, "XML(" + xmlValue + ")", "ext(" + extValue + ")",
      "LANG(COBOL)", "CMT(ON)"};
  std::string joined;
  for (const std::string &a : args)
    joined += a + ",";
  ASSERT_GT(joined.size(), 92000u);
  const std::string pad(100000 - joined.size(), 'z');
  args.push_back("DECK(" + pad.substr(0, pad.size() - 7) + ")");
  joined += args.back() + ",";
  ASSERT_EQ(joined.size(), 100000u);

  expectOptions(parse(args), want()
                                 .file(longSource)
                                 .xml(xmlValue)
                                 .punch(pad.substr(0, pad.size() - 7))
                                 .ext(extValue)
                                 .lang(3)
                                 .cmt(1));

  // With tracing the joined text is echoed whole.
  args.push_back("TRACE(ON)");
  joined += "TRACE(ON),";
  std::string traced;
  (void)parse(args, &traced);
  EXPECT_NE(traced.find("\nOptions Passed => " + joined + "\n"), std::string::npos);
}

TEST(OptionParser, StrUpperMapsOnlyLowerCaseLetters) {
  EXPECT_EQ(strUpper("lang(cobol)"), "LANG(COBOL)");
  EXPECT_EQ(strUpper("AbC xYz 0129"), "ABC XYZ 0129");
  // The neighbours of the letters are not letters: a bit-flipping shortcut would change them.
  EXPECT_EQ(strUpper("`{|}~@[\\]^_"), "`{|}~@[\\]^_");
  // Bytes above 127 (Latin-1 letters among them) are left as they are.
  EXPECT_EQ(strUpper("\xe9\xe0\xff\xb5"), "\xe9\xe0\xff\xb5");
  EXPECT_EQ(strUpper(""), "");
  EXPECT_EQ(strUpper(std::string_view("a\0b", 3)), std::string("A\0B", 3));
  // No length limit.
  const std::string longText(100000, 'q');
  EXPECT_EQ(strUpper(longText), std::string(100000, 'Q'));
}

// The parser's trace: three banner lines, one line per argument as given, the joined text, the
// two names as the options gave them, and the leaving line.
std::string optionsBanner() {
  const std::string rule(52, '=');
  return rule + "\n" + "==            options processing                  ==\n" + rule + "\n";
}

TEST(OptionParserTrace, ListsArgumentsJoinedTextAndNames) {
  std::string traced;
  (void)parse({"prog", "SRC.CBL", "TRACE(ON)", "xml(Out.Xml)", "DECK(a.dek)"}, &traced);
  EXPECT_EQ(traced, optionsBanner() +
                        "parms passed =  prog\n"
                        "parms passed =  SRC.CBL\n"
                        "parms passed =  TRACE(ON)\n"
                        "parms passed =  xml(Out.Xml)\n"
                        "parms passed =  DECK(a.dek)\n"
                        "Options Passed => prog,SRC.CBL,TRACE(ON),xml(Out.Xml),DECK(a.dek),\n"
                        "sysXML=Out.Xml\n"
                        "sysPUNCH=a.dek\n"
                        "leaving parsIncOpts \n");
}

TEST(OptionParserTrace, ShowsEachArgumentAsGivenAndNamesNotYetDerived) {
  std::string traced;
  (void)parse({"prog", "", "SRC.CBL,trace(on)", "LANG(COBOL)"}, &traced);
  EXPECT_EQ(traced, optionsBanner() + "parms passed =  prog\n"
                                      "parms passed =  \n"
                                      "parms passed =  SRC.CBL,trace(on)\n"
                                      "parms passed =  LANG(COBOL)\n"
                                      "Options Passed => prog,,SRC.CBL,trace(on),LANG(COBOL),\n"
                                      "sysXML=\n"
                                      "sysPUNCH=\n"
                                      "leaving parsIncOpts \n");
}

TEST(OptionParserTrace, SilentWithoutTraceOn) {
  std::string traced;
  (void)parse({"prog", "SRC.CBL", "LANG(COBOL)", "XML(a)", "TRACE(OFF)"}, &traced);
  EXPECT_EQ(traced, "");
}

// -----------------------------------------------------------------------------------------------
// Output names
// -----------------------------------------------------------------------------------------------

TEST(OutputNames, DerivedFromTheNameAfterTheLastBackslash) {
  struct t_case {
    const char *source;
    const char *deck;
    const char *side;
  };
  const t_case cases[] = {
      {"C:\\src\\PROG.CBL", "PROG.DEK", "PROG.XML"},
      {"prog.cbl", "prog.DEK", "prog.XML"},
      {"prog", "prog.DEK", "prog.XML"},
      {"prog.cobol", "prog.DEK", "prog.XML"},
      {"C:\\a.b\\prog", "prog.DEK", "prog.XML"},
      {".cbl", ".cbl.DEK", ".cbl.XML"},
      {"dir/prog.cbl", "dir/prog.DEK", "dir/prog.XML"},
      {"dir.x/prog", "dir.DEK", "dir.XML"}, // "/" separates nothing: the last period decides
      {"a.b.c", "a.b.DEK", "a.b.XML"},
      {".a.b", ".a.DEK", ".a.XML"}, // the last period is not the first character
      {"..cbl", "..DEK", "..XML"},
      {"prog.", "prog.DEK", "prog.XML"},
      {"C:\\lib\\.hidden", ".hidden.DEK", ".hidden.XML"},
      {"C:\\lib\\", ".DEK", ".XML"},
      {"", ".DEK", ".XML"},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.source);
    EXPECT_EQ(getFileName(c.source, ".DEK", 0), c.deck);
    EXPECT_EQ(getFileName(c.source, ".XML", 0), c.side);
  }
}

TEST(OutputNames, LongNamesAreKeptWhole) {
  const std::string stem(3000, 'n');
  EXPECT_EQ(getFileName("C:\\x\\" + stem + ".cbl", ".DEK", 0), stem + ".DEK");
}

TEST(OutputNames, TracedOnlyAtTraceLevelOne) {
  EXPECT_EQ(unit::captureStdout([] { (void)getFileName("C:\\src\\PROG.CBL", ".DEK", 1); }),
            "Generated file =  PROG.DEK \n");
  EXPECT_EQ(unit::captureStdout([] { (void)getFileName("PROG.CBL", ".XML", 0); }), "");
  EXPECT_EQ(unit::captureStdout([] { (void)getFileName("PROG.CBL", ".XML", 2); }), "");
}

// -----------------------------------------------------------------------------------------------
// Opening a run's file
// -----------------------------------------------------------------------------------------------

TEST(FileOpening, SuccessfulOpenTracesNameModeAndSuccess) {
  unit::t_scratchDir dir;
  const std::string name = dir.writeFile("SRC.CBL", "A\n");
  std::FILE *fp = nullptr;
  const unit::t_output got = unit::captureOutput([&] { fp = gen2OpenFile(name.c_str(), "r", 1); });
  ASSERT_NE(fp, nullptr);
  std::fclose(fp);
  EXPECT_EQ(got.out, "Opening Source file  " + name + "\n" +
                         "Opening Source file with attributes  r\n" +
                         "SUCCESSFUL OPEN OF SOURCE FILE  " + name + "\n");
  EXPECT_EQ(got.err, "");
}

TEST(FileOpening, FailureTracesTheSystemErrorAndReturnsNoStream) {
  unit::t_scratchDir dir;
  const std::string name = dir.path() + "/NOSUCH.CBL";
  std::FILE *fp = nullptr;
  const unit::t_output got = unit::captureOutput([&] { fp = gen2OpenFile(name.c_str(), "r", 1); });
  EXPECT_EQ(fp, nullptr);
  EXPECT_EQ(got.out, "Opening Source file  " + name + "\n" +
                         "Opening Source file with attributes  r\n" +
                         "FAILURE OPENING SOURCE FILE  " + name + "\n" +
                         "FAILURE OPENING SOURCE FILE WITH ATTRIBUTES r\n");
  EXPECT_EQ(got.err, "FAILURE OPENING SOURCE FILE: No such file or directory\n");
}

TEST(FileOpening, SilentWithoutTrace) {
  unit::t_scratchDir dir;
  const std::string missing = dir.path() + "/NOSUCH.CBL";
  const std::string present = dir.writeFile("SRC.CBL", "");
  const unit::t_output got = unit::captureOutput([&] {
    EXPECT_EQ(gen2OpenFile(missing.c_str(), "r", 0), nullptr);
    std::FILE *fp = gen2OpenFile(present.c_str(), "r", 0);
    EXPECT_NE(fp, nullptr);
    if (fp != nullptr) std::fclose(fp);
  });
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "");
}

TEST(FileOpening, ADirectoryIsNotAFile) {
  unit::t_scratchDir dir;
  const std::string sub = dir.makeDir("SRC.CBL");
  std::FILE *fp = nullptr;
  (void)unit::captureOutput([&] { fp = gen2OpenFile(sub.c_str(), "r", 0); });
  EXPECT_EQ(fp, nullptr);
  if (fp != nullptr) std::fclose(fp);
}

// -----------------------------------------------------------------------------------------------
// Abnormal termination and the eye-catcher
// -----------------------------------------------------------------------------------------------

std::string eyeCatcher() {
  const std::string stars(50, '*');
  return stars + "\n" + "***EYE CATCHER**EYE CATCHER**EYE CATCHER**********\n" + stars + "\n";
}

TEST(AbnormalTermination, EyeCatcherIsThreeMarkerLines) {
  EXPECT_EQ(unit::captureStdout([] { dumpEyeCatcher(); }), eyeCatcher());
}

TEST(AbnormalTermination, PrintsTheTextOfItsCodeAndEndsWithStatus16) {
  const char *texts[] = {
      "INCLUDE PREPROCESSOR: Insufficient storage\n",
      "INCLUDE PREPROCESSOR: An error occurred opening SYSXMLSD.\n",
      "INCLUDE PREPROCESSOR: An error occurred opening SYSIN.\n",
      "INCLUDE PREPROCESSOR: An error occurred opening SYSLIB.\n",
      "INCLUDE PREPROCESSOR: An error occurred opening SYSPRINT.\n",
      "INCLUDE PREPROCESSOR: An error occurred opening SYSPUNCH.\n",
      "INCLUDE PREPROCESSOR: An error occurred opening SYSOPTS.\n",
      "INCLUDE PREPROCESSOR: An error reallocating memory.\n",
  };
  unit::t_scratchDir dir;
  for (int32 code = 0; code < 8; ++code) {
    SCOPED_TRACE(code);
    const std::string report = dir.path() + "/report" + std::to_string(code);
    EXPECT_EXIT(
        {
          if (std::freopen(report.c_str(), "w", stdout) == nullptr) std::_Exit(99);
          error_exit(code);
        },
        testing::ExitedWithCode(16), "");
    std::FILE *fp = std::fopen(report.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    const std::string printed = unit::readStream(fp);
    std::fclose(fp);
    EXPECT_EQ(printed, texts[code] + eyeCatcher() +
                           "*******ABNORMAL TERMINATION OF INCLUDE PREPROCESSOR******\n");
  }
}

// -----------------------------------------------------------------------------------------------
// Usage and version
// -----------------------------------------------------------------------------------------------

/// Runs the whole program with `args` in a fresh directory; returns its status, what it printed
/// and whether the directory is still empty afterwards.
struct t_programRun {
  int status = -1;
  unit::t_output printed;
  bool directoryEmpty = false;
};

t_programRun runProgram(const std::vector<std::string> &args) {
  unit::t_scratchDir dir;
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  std::vector<const char *> argv;
  for (const std::string &a : args)
    argv.push_back(a.c_str());
  t_programRun run;
  run.printed = unit::captureOutput(
      [&] { run.status = runIncprep(static_cast<int>(argv.size()), argv.data()); });
  run.directoryEmpty = std::filesystem::is_empty(dir.path());
  std::filesystem::current_path(home);
  return run;
}

TEST(Usage, HelpDescribesTheCommandLineAndCreatesNoFile) {
  const t_programRun run = runProgram({"incprep", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.directoryEmpty);
  EXPECT_EQ(run.printed.err, "");
  for (const char *word : {"LANG(COBOL)", "LANG(PLI)", "TRACE(ON)", "NOCOPY(ON)", "FORMAT(ON)",
                           "CMT(ON)", "XML(", "EXT(", "DECK(", "DEPS(", "SYSLIB", "16"}) {
    SCOPED_TRACE(word);
    EXPECT_NE(run.printed.out.find(word), std::string::npos);
  }
}

TEST(Usage, VersionIsOneLineAndCreatesNoFile) {
  const t_programRun run = runProgram({"incprep", "--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.directoryEmpty);
  EXPECT_EQ(run.printed.err, "");
  ASSERT_FALSE(run.printed.out.empty());
  EXPECT_EQ(run.printed.out.find('\n'), run.printed.out.size() - 1);
}

} // namespace
} // namespace incprep
