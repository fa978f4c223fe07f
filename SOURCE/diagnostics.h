// The message catalogue and the capped collector of diagnostics. Diagnostics reach the user
// through the side file and, as the scanner echoes each row it adds, on standard error in the
// form compilers use; raising one prints nothing by itself.
#pragma once

#include "records.h"

namespace incprep {

inline constexpr int32 kMsgNotFound = 9;    // member in no library of the concatenation
inline constexpr int32 kMsgTerminator = 10; // -INC / ++INCLUDE terminator missing
inline constexpr int32 kMsgOverflow = 12;   // more diagnostics than the table keeps
inline constexpr int32 kMsgRecursive = 13;  // member already open in the include chain
inline constexpr int32 kMsgBadCopy = 15;    // COPY statement that cannot be taken as written
inline constexpr int32 kMsgUnreadable = 16; // member file exists but cannot be read
inline constexpr int16 kSeverityWarning = 4;

/// The constant text of message `msgno` (0 to 16); "" outside the catalogue.
[[nodiscard]] const char *getErrorMsg(int32 msgno);

/// The constant identifier of message `msgno` (0 to 13, 15, 16), such as "KVR0009-W"; "" for 14
/// and outside.
[[nodiscard]] const char *getErrMsgID(int32 msgno);

/// Adds a diagnostic to the 100-row table `errmsgArray`. Rows 0 to 98 take the first 99
/// diagnostics as raised; the 100th becomes the overflow row "KVR0012-W" with its file and
/// line; later ones are dropped. `*xmessagecount` is the count of rows in use (never above 100).
void addErrorMessage(t_ppErrMsgNode *errmsgArray, int32 xsourcefilenum, int32 xsrcstmtnum,
                     const char *xmsgid, int16 xseverity, const char *xmsgtxt,
                     int32 *xmessagecount);

/// Raises catalogue message `msgno` with severity 4 at file `filenum`, line `linenum`. `detail`,
/// when given, is what standard error says about this occurrence in place of the catalogue
/// text (the member's name, where it was looked for); the side file keeps the catalogue text.
void raiseDiagnostic(t_ppErrMsgNode *errmsgArray, int32 *msgcounter, int32 msgno, int32 filenum,
                     int32 linenum, std::string_view detail = {});

/// One file of the include chain above a diagnostic: the including file and the line of its
/// include statement.
struct t_includeStep {
  std::string file;
  int32 line = 0;
};

/// The lines standard error shows for diagnostic `row` found in file `file`: for a file nested
/// in others, "In file included from A:N," lines (innermost includer first, "from" lines
/// aligned under it, the last ending in ":"), then "FILE:LINE: warning: ID TEXT", where TEXT
/// is the row's detail or else its catalogue text.
[[nodiscard]] std::string diagnosticEchoText(const t_ppErrMsgNode &row, std::string_view file,
                                             const std::vector<t_includeStep> &chain);

} // namespace incprep

namespace incprep {

/// Writes the three eye-catcher lines to standard output, whatever the trace level.
void dumpEyeCatcher();

} // namespace incprep
