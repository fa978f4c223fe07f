// The program's run: the command line into the options record, the names of the deck and the
// side file, opening the side file, the source and the deck in that order, the scan, closing,
// and the exit status. Abnormal termination is the only way to end a run early.
#include "driver.h"

#include "deps.h"
#include "outputs.h"
#include "diagnostics.h"
#include "scanner.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

namespace incprep {
namespace {

constexpr const char *kVersion = "incprep 1.0.0";
constexpr int kExitUsage = 2;
constexpr int kExitWarnings = 4;
constexpr std::size_t kArgumentShown = 200; // bytes of an ignored argument a warning quotes

constexpr const char *kUsage =
    "Usage: incprep SOURCE [OPTION...]\n"
    "       incprep --help | -h | --version\n"
    "\n"
    "Expands the include statements of a COBOL or PL/I source (COPY, -INC, ++INCLUDE,\n"
    "%INCLUDE, %XINCLUDE) with members found in the SYSLIB concatenation, and writes the\n"
    "expanded deck (SYSPUNCH) and an XML side file (SYSXMLSD) that maps every deck line back\n"
    "to the input file and line it came from.\n"
    "\n"
    "Options (keywords in any case, values as typed; arguments may also be joined by commas;\n"
    "the last of a kind wins; unknown keywords are ignored with a warning):\n"
    "  LANG(COBOL)   COBOL rules: COPY in column 8 or later, -INC in columns 1 and 7 to 10,\n"
    "                \"*\" or \"/\" in column 7 starts a comment line; members *.cpy, *.cbl, "
    "*.cob\n"
    "  LANG(PLI)     PL/I rules: %INCLUDE and %XINCLUDE anywhere, -INC in column 1, /* */\n"
    "                comments; members *.inc, *.cpy, *.mac\n"
    "                (without LANG only ++INCLUDE in column 8 is recognised)\n"
    "  CMT(ON)       write each expanded include statement into the deck as a comment\n"
    "  NOCOPY(ON)    leave COPY, %INCLUDE and %XINCLUDE unexpanded\n"
    "  SQLINC(ON)    also expand EXEC SQL INCLUDE name END-EXEC (COBOL) and\n"
    "                EXEC SQL INCLUDE name; (PL/I); SQLCA and SQLDA stay for the precompiler\n"
    "  FORMAT(ON)    six statement-table entries a line in the side file\n"
    "  EXT(a;b;...)  member extensions to try instead of the language's list\n"
    "  DECK(name)    the deck's file name (default: SOURCE's name with .DEK)\n"
    "  XML(name)     the side file's name (default: SOURCE's name with .XML)\n"
    "  DEPS(name)    also write a make-style dependency file after a completed run\n"
    "  TRACE(ON)     trace the run on standard output\n"
    "  MSGS(OFF)     no warnings or notes on standard error (MSGS(ON) is the default)\n"
    "  WARNRC(ON)    exit with 4 when a completed run raised a diagnostic (WARNRC(OFF): 0)\n"
    "\n"
    "Environment:\n"
    "  SYSLIB        the library directories, separated by \";\". A member is looked for as\n"
    "                DIR/MEMBER.EXT, every directory with the first extension before any\n"
    "                with the second, and the bare member name last. When no file has the\n"
    "                name as written, it is tried in upper and then in lower case.\n"
    "  DDNAME        %INCLUDE DDNAME(MEMBER); looks in the directories of the variable\n"
    "                DDNAME, in SYSLIB's form (SYSLIB when DDNAME is not set).\n"
    "\n"
    "Diagnostics (a member not found, a recursive include) are recorded in the side file and\n"
    "written to standard error as FILE:LINE: warning: ID TEXT.\n"
    "\n"
    "Outputs are written to temporary files and renamed into place when the run completes; an\n"
    "output that is an input of the run (the source or a member) is refused.\n"
    "\n"
    "Exit status: 0 when the run completed; 4 when it completed with diagnostics and\n"
    "WARNRC(ON) was given; 2 without arguments; 16 when a file could not be opened, read or\n"
    "written completely, an output would replace an input, or the run could not go on.\n";

// Abnormal-termination texts by code.
constexpr const char *kTerminationTexts[] = {
    "INCLUDE PREPROCESSOR: Insufficient storage\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSXMLSD.\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSIN.\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSLIB.\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSPRINT.\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSPUNCH.\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSOPTS.\n",
    "INCLUDE PREPROCESSOR: An error reallocating memory.\n",
};

// The side file's small pieces are gathered here; its statement table comes in large blocks that
// pass straight through.
constexpr std::size_t kOutputBuffer = 16 * 1024;
constexpr int32 kEndSYSXMLSD = 1;
constexpr int32 kEndSYSIN = 2;
constexpr int32 kEndSYSPUNCH = 5;

/// Splits the comma-joined command line into tokens; runs of commas count as one separator.
std::vector<std::string> commaTokens(std::string_view joined) {
  std::vector<std::string> tokens;
  std::size_t start = 0;
  while (start < joined.size()) {
    std::size_t end = joined.find(',', start);
    if (end == std::string_view::npos) end = joined.size();
    if (end > start) tokens.emplace_back(joined.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

/// A value option "KEY(value)": the token's upper-case copy must be longer than "KEY()", begin
/// with "KEY(" and end with ")". The value is taken from the token as typed.
bool valueOption(const std::string &token, const std::string &upper, std::string_view key,
                 std::string &field) {
  if (upper.size() <= key.size() + 2 || upper.compare(0, key.size(), key) != 0 ||
      upper[key.size()] != '(' || upper.back() != ')')
    return false;
  field = token.substr(key.size() + 1, token.size() - key.size() - 2);
  return true;
}

void applyOption(const std::string &token, t_optionsNode *opt) {
  const std::string upper = strUpper(token);
  if (upper == "LANG(COBOL)")
    opt->optLANG = kLangCOBOL;
  else if (upper == "LANG(PLI)")
    opt->optLANG = kLangPLI;
  else if (upper == "TRACE(ON)")
    opt->optTRACE = 1;
  else if (upper == "NOCOPY(ON)")
    opt->optNOCOPY = 1;
  else if (upper == "FORMAT(ON)")
    opt->optCOMPRESSSTMTTBL = 1;
  else if (valueOption(token, upper, "XML", opt->sysXML)) {
  } else if (valueOption(token, upper, "EXT", opt->extension)) {
  } else if (valueOption(token, upper, "DECK", opt->sysPUNCH)) {
  } else if (upper == "CMT(ON)")
    opt->optCMT = 1;
  else if (upper == "SQLINC(ON)")
    opt->optSQLINC = 1;
  else if (upper == "MSGS(OFF)" || upper == "MSGS(ON)")
    opt->optMSGSOFF = upper == "MSGS(OFF)" ? 1 : 0;
  else if (upper == "WARNRC(ON)" || upper == "WARNRC(OFF)")
    opt->optWARNRC = upper == "WARNRC(ON)" ? 1 : 0;
  else if (!valueOption(token, upper, "DEPS", opt->sysDEPS))
    opt->ignoredTokens.push_back(token);
}

bool messagesWanted(const t_optionsNode &opt) {
  return opt.optMSGSOFF == 0;
}

/// One line on standard error, after whatever the trace has written so far.
void tellUser(const std::string &text) {
  std::fflush(stdout);
  std::fprintf(stderr, "incprep: %s\n", text.c_str());
}

/// Without LANG only ++INCLUDE is recognised: a source whose extension says COBOL or PL/I gets
/// a note naming the option that expands its COPY, -INC or %INCLUDE statements.
void noteMissingLanguage(const t_optionsNode &opt) {
  if (opt.optLANG != 0) return;
  const std::string &name = opt.fileName;
  const std::size_t dot = name.rfind('.');
  const std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return;
  const std::string ext = strUpper(name.substr(dot + 1));
  const char *which = nullptr;
  if (ext == "CBL" || ext == "COB")
    which = "LANG(COBOL)";
  else if (ext == "INC" || ext == "MAC" || ext == "PLI" || ext == "PL1")
    which = "LANG(PLI)";
  else if (ext == "CPY")
    which = "LANG(COBOL) or LANG(PLI)";
  if (which == nullptr) return;
  tellUser("note: no LANG option: only ++INCLUDE statements are recognised in '" + name +
           "'; add " + which + " to expand COPY, -INC or %INCLUDE");
}

void traceOptions(int argc, const char *const *argv, const std::string &joined,
                  const t_optionsNode *opt) {
  std::printf("====================================================\n");
  std::printf("==            options processing                  ==\n");
  std::printf("====================================================\n");
  for (int i = 0; i < argc; ++i)
    std::printf("%s %s\n", "parms passed = ", argv[i]);
  std::printf("%s%s\n", "Options Passed => ", joined.c_str());
  std::printf("%s%s\n", "sysXML=", opt->sysXML.c_str());
  std::printf("%s%s\n", "sysPUNCH=", opt->sysPUNCH.c_str());
  std::printf("leaving parsIncOpts \n");
}

/// True when both names exist and are the same regular file (devices such as /dev/null or
/// /dev/full may well stand for several outputs at once).
bool sameRegularFile(const std::string &a, const std::string &b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && S_ISREG(sa.st_mode) &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

/// Every open member holds a descriptor: allow as many as the system lets this process have.
void raiseDescriptorLimit() {
  struct rlimit lim {};
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    (void)setrlimit(RLIMIT_NOFILE, &lim);
  }
}

/// The end of a run that cannot go on: no temporary output stays behind.
[[noreturn]] void endAbnormally(int32 code) {
  discardAllOutputFiles();
  error_exit(code);
}

void reportFailure(const std::string &text) {
  std::fflush(stdout);
  std::fprintf(stderr, "INCLUDE PREPROCESSOR: %s\n", text.c_str());
}

/// Closes an output stream, reporting whether everything written to it reached the file.
bool closeOutput(std::FILE *fp) {
  const bool clean = std::ferror(fp) == 0;
  return std::fclose(fp) == 0 && clean;
}

/// Reports what kept the run from completing; true when nothing did.
bool runCompleted(const t_runResult &result, bool deckOk, bool xmlOk) {
  bool completed = true;
  switch (result.failure) {
  case t_runFailure::none: break;
  case t_runFailure::outOfMemory:
    reportFailure("Insufficient storage; the run was stopped.");
    completed = false;
    break;
  case t_runFailure::tooManyOpenFiles:
    reportFailure("Too many open files while opening member " + result.failureDetail +
                  "; the run was stopped.");
    completed = false;
    break;
  }
  for (const std::string &name : result.readFailures) {
    reportFailure("An error occurred reading " + name + ".");
    completed = false;
  }
  if (!deckOk) {
    reportFailure("An error occurred writing SYSPUNCH.");
    completed = false;
  }
  if (!xmlOk) {
    reportFailure("An error occurred writing SYSXMLSD.");
    completed = false;
  }
  return completed;
}

/// The regular files a run read (the primary and its members), by device and inode, so that
/// no output replaces one of them whatever name it is given. The members are looked at only
/// when some output's target already exists: a first build has nothing to compare.
class t_inputFiles {
public:
  t_inputFiles(const t_fileId *source, const std::string &sourceName,
               const std::vector<std::string> &files)
      : files_(files) {
    if (source != nullptr) ids_.emplace_back(*source, sourceName);
  }
  /// The input that `out` would replace, or "" when it replaces none.
  [[nodiscard]] std::string replacedBy(const t_outputFile &out) const {
    t_fileId id{};
    if (out.tempName.empty() || !regularFileId(out.targetName, id)) return {};
    if (!membersKnown_) {
      membersKnown_ = true;
      for (std::size_t i = 1; i < files_.size(); ++i) {
        t_fileId member{};
        if (regularFileId(files_[i], member)) ids_.emplace_back(member, files_[i]);
      }
    }
    for (const auto &[input, name] : ids_)
      if (input.dev == id.dev && input.ino == id.ino) return name;
    return {};
  }

private:
  const std::vector<std::string> &files_;
  mutable std::vector<std::pair<t_fileId, std::string>> ids_;
  mutable bool membersKnown_ = false;
};

/// Writes the dependency file to its temporary file; false after reporting why not.
bool writeDependencyFile(t_outputFile &depsFile, const std::string &text,
                         const t_inputFiles &inputs) {
  if (!openOutputFile(depsFile, 0)) {
    reportFailure("An error occurred writing the dependency file " + depsFile.finalName + ".");
    return false;
  }
  const std::string input = inputs.replacedBy(depsFile);
  if (!input.empty()) {
    std::fclose(depsFile.fp);
    reportFailure("The dependency file " + depsFile.finalName + " is the input file " + input +
                  "; it is not overwritten.");
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), depsFile.fp) == text.size();
  if (!closeOutput(depsFile.fp) || !written) {
    reportFailure("An error occurred writing the dependency file " + depsFile.finalName + ".");
    return false;
  }
  return true;
}

} // namespace

void setDefaultINCOptions(t_optionsNode *optParm, int32 /*loglvl*/) {
  optParm->optTRACE = 0;
  optParm->optMDECK = 0;
  optParm->optSUBFILE = 0;
  optParm->optUPPERCASE = 0;
  optParm->optZEM = 0;
  optParm->optCOMPRESSSTMTTBL = 0;
  optParm->optNOCOPY = 0;
}

void parseINCOptions(int argcParm, const char *const *argvParm, t_optionsNode *optParm,
                     int32 /*loglvl*/) {
  std::string optstringBuffer;
  for (int i = 0; i < argcParm; ++i)
    optstringBuffer.append(argvParm[i]).append(",");
  const std::vector<std::string> tokens = commaTokens(optstringBuffer);
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    if (k == 0)
      optParm->thisPreproc = tokens[k];
    else if (k == 1)
      optParm->fileName = tokens[k];
    else
      applyOption(tokens[k], optParm);
  }
  if (optParm->optTRACE > 0) traceOptions(argcParm, argvParm, optstringBuffer, optParm);
}

std::string getFileName(std::string_view passed_cx, std::string_view suffx, int32 loglvl) {
  const std::size_t slash = passed_cx.rfind('\\');
  const std::string_view name =
      slash == std::string_view::npos ? passed_cx : passed_cx.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  const std::string_view stem =
      dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
  std::string result(stem);
  result.append(suffx);
  if (loglvl == 1) std::printf("%s %s \n", "Generated file = ", result.c_str());
  return result;
}

std::FILE *gen2OpenFile(const char *filename, const char *fileattributes, int32 loglvl) {
  if (loglvl > 0) {
    std::printf("%s %s\n", "Opening Source file ", filename);
    std::printf("%s %s\n", "Opening Source file with attributes ", fileattributes);
  }
  std::FILE *fp = std::fopen(filename, fileattributes);
  if (fp != nullptr) {
    struct stat st {};
    if (fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
      std::fclose(fp);
      fp = nullptr;
      errno = EISDIR;
    }
  }
  if (fp == nullptr) {
    if (loglvl > 0) {
      const int err = errno;
      std::fflush(stdout);
      errno = err;
      std::perror("FAILURE OPENING SOURCE FILE");
      std::printf("%s %s\n", "FAILURE OPENING SOURCE FILE ", filename);
      std::printf("%s %s\n", "FAILURE OPENING SOURCE FILE WITH ATTRIBUTES", fileattributes);
      errno = err; // the caller reports the reason
    }
    return nullptr;
  }
  if (loglvl > 0) std::printf("%s %s\n", "SUCCESSFUL OPEN OF SOURCE FILE ", filename);
  return fp;
}

void error_exit(int32 msgno) {
  discardAllOutputFiles();
  const bool known = msgno >= 0 && msgno < static_cast<int32>(std::size(kTerminationTexts));
  std::fputs(known ? kTerminationTexts[msgno] : kTerminationTexts[0], stdout);
  dumpEyeCatcher();
  std::printf("%s\n", "*******ABNORMAL TERMINATION OF INCLUDE PREPROCESSOR******");
  std::fflush(stdout);
  std::exit(kExitAbnormal);
}

int runIncprep(int argc, const char *const *argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string_view first(argv[1]);
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? kExitCompleted : kExitAbnormal;
  }
  if (first == "--version") {
    std::printf("%s\n", kVersion);
    return std::fflush(stdout) == 0 ? kExitCompleted : kExitAbnormal;
  }
  raiseDescriptorLimit();

  t_optionsNode globalOptNode{};
  int32 loglvl = 0;
  setDefaultINCOptions(&globalOptNode, 0);
  parseINCOptions(argc, argv, &globalOptNode, 0);
  if (globalOptNode.optTRACE == 1) loglvl = 1;
  const bool talk = messagesWanted(globalOptNode);
  if (talk)
    for (const std::string &token : globalOptNode.ignoredTokens)
      tellUser("warning: ignoring argument '" +
               (token.size() > kArgumentShown ? token.substr(0, kArgumentShown) + "..." : token) +
               "'");

  const std::string ddSYSIN = globalOptNode.fileName;
  std::string ddSYSPUNCH = getFileName(ddSYSIN, ".DEK", loglvl);
  std::string ddSYSXLMSD = getFileName(ddSYSIN, ".XML", loglvl);
  if (globalOptNode.sysXML.empty())
    globalOptNode.sysXML = ddSYSXLMSD;
  else
    ddSYSXLMSD = globalOptNode.sysXML;
  if (globalOptNode.sysPUNCH.empty())
    globalOptNode.sysPUNCH = ddSYSPUNCH;
  else
    ddSYSPUNCH = globalOptNode.sysPUNCH;
  if (loglvl == 1) std::printf("%s %d \n", "OH GREAT*** loglvl = ", loglvl);

  installOutputSignalHandlers();
  // An output that names the source would destroy it before it is read.
  if (sameRegularFile(ddSYSXLMSD, ddSYSIN)) {
    reportFailure("SYSXMLSD " + ddSYSXLMSD + " is the primary source; it is not overwritten.");
    error_exit(kEndSYSXMLSD);
  }
  t_outputFile sideFile;
  sideFile.finalName = ddSYSXLMSD;
  if (!openOutputFile(sideFile, loglvl)) {
    tellUser("cannot open '" + ddSYSXLMSD + "' for writing: " + std::strerror(errno));
    endAbnormally(kEndSYSXMLSD);
  }
  std::FILE *streamSYSXMLSD = sideFile.fp;
  std::FILE *streamSOURCE = gen2OpenFile(ddSYSIN.c_str(), "r", loglvl);
  if (streamSOURCE == nullptr) {
    tellUser("cannot open '" + ddSYSIN + "': " + std::strerror(errno));
    std::fclose(streamSYSXMLSD);
    endAbnormally(kEndSYSIN);
  }
  // The side file is not in place yet: the same name given twice is caught by its spelling.
  if (sameRegularFile(ddSYSPUNCH, ddSYSIN) || sameRegularFile(ddSYSPUNCH, ddSYSXLMSD) ||
      (ddSYSPUNCH == ddSYSXLMSD && !sideFile.tempName.empty())) {
    reportFailure("SYSPUNCH " + ddSYSPUNCH +
                  " is the primary source or the side file; it is not overwritten.");
    std::fclose(streamSOURCE);
    std::fclose(streamSYSXMLSD);
    endAbnormally(kEndSYSPUNCH);
  }
  t_outputFile deck;
  deck.finalName = ddSYSPUNCH;
  if (!openOutputFile(deck, loglvl)) {
    tellUser("cannot open '" + ddSYSPUNCH + "' for writing: " + std::strerror(errno));
    std::fclose(streamSOURCE);
    std::fclose(streamSYSXMLSD);
    endAbnormally(kEndSYSPUNCH);
  }
  std::FILE *streamSYSPUNCH = deck.fp;
  if (talk) noteMissingLanguage(globalOptNode);
  struct stat sourceStat {};
  const bool sourceRegular =
      fstat(fileno(streamSOURCE), &sourceStat) == 0 && S_ISREG(sourceStat.st_mode);
  const t_fileId sourceId{sourceStat.st_dev, sourceStat.st_ino};
  // The scanner gathers the deck in large blocks itself, so its stream passes them straight
  // to the file. stdio takes a buffer size only together with a buffer, which outlives the
  // side file's stream.
  std::setvbuf(streamSYSPUNCH, nullptr, _IONBF, 0);
  const std::unique_ptr<char[]> xmlBuffer(new (std::nothrow) char[kOutputBuffer]);
  if (xmlBuffer) std::setvbuf(streamSYSXMLSD, xmlBuffer.get(), _IOFBF, kOutputBuffer);

  const t_runResult result = incFSMPLI(streamSOURCE, streamSYSPUNCH, streamSYSXMLSD,
                                       ddSYSIN.c_str(), &globalOptNode, loglvl);

  std::fclose(streamSOURCE);
  const bool xmlOk = closeOutput(streamSYSXMLSD) && !result.xmlWriteFailed;
  const bool deckOk = closeOutput(streamSYSPUNCH) && !result.deckWriteFailed;
  if (!runCompleted(result, deckOk, xmlOk)) {
    discardAllOutputFiles();
    std::fflush(stdout);
    return kExitAbnormal;
  }

  // No output may replace a file the run read: the outputs are checked before any of them is
  // renamed into place.
  const t_inputFiles inputs(sourceRegular ? &sourceId : nullptr, ddSYSIN, result.inputFiles);
  const struct {
    const t_outputFile *out;
    const char *ddName;
    int32 code;
  } checks[] = {{&sideFile, "SYSXMLSD", kEndSYSXMLSD}, {&deck, "SYSPUNCH", kEndSYSPUNCH}};
  for (const auto &check : checks) {
    const std::string input = inputs.replacedBy(*check.out);
    if (input.empty()) continue;
    reportFailure(std::string(check.ddName) + " " + check.out->finalName + " is the input file " +
                  input + "; it is not overwritten.");
    endAbnormally(check.code);
  }
  t_outputFile depsFile;
  depsFile.finalName = globalOptNode.sysDEPS;
  if (!depsFile.finalName.empty() &&
      !writeDependencyFile(depsFile,
                           dependencyText(ddSYSPUNCH, ddSYSXLMSD, result.inputFiles,
                                          result.missedDirectories),
                           inputs)) {
    discardAllOutputFiles();
    return kExitAbnormal;
  }
  for (t_outputFile *out : {&sideFile, &deck, &depsFile}) {
    if (out->finalName.empty() || commitOutputFile(*out)) continue;
    tellUser("cannot replace '" + out->finalName + "': " + std::strerror(errno));
    discardAllOutputFiles();
    return kExitAbnormal;
  }
  // After the last rename: an output is never older than a library directory it went into.
  touchOutputs({&sideFile, &deck, &depsFile});
  std::fflush(stdout);
  if (globalOptNode.optWARNRC != 0 && result.diagnostics > 0) return kExitWarnings;
  return kExitCompleted;
}

} // namespace incprep
