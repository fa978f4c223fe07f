// The program's run from start to end: options, the names and opening of the run's files, the
// scan, the closing of the files, abnormal termination and the process's exit status.
#pragma once

#include "records.h"

namespace incprep {

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitAbnormal = 16;

/// Sets the option switches to their defaults (off).
void setDefaultINCOptions(t_optionsNode *optParm, int32 loglvl);

/// Reads the command line into `optParm`: the arguments are joined with commas and split again
/// at commas; token 1 is the program's name, token 2 the source, later tokens are keywords
/// matched in upper case (values keep their case, the last of a kind wins, unknown ones are
/// ignored). Traces the options when TRACE(ON) was given.
void parseINCOptions(int argcParm, const char *const *argvParm, t_optionsNode *optParm,
                     int32 loglvl);

/// Derives an output name from `passed_cx`: the part after the last backslash, its extension
/// (from the last period, unless that is its first character) replaced by `suffx`.
[[nodiscard]] std::string getFileName(std::string_view passed_cx, std::string_view suffx,
                                      int32 loglvl);

/// Opens `filename` with mode `fileattributes`, tracing the attempt; nullptr on failure. A
/// directory is not a file: opening one fails.
[[nodiscard]] std::FILE *gen2OpenFile(const char *filename, const char *fileattributes,
                                      int32 loglvl);

/// Reports abnormal termination for code `msgno` (0 to 7) on standard output and ends the
/// process with status 16.
[[noreturn]] void error_exit(int32 msgno);

/// The whole program: returns the process's exit status.
[[nodiscard]] int runIncprep(int argc, const char *const *argv);

} // namespace incprep
