// The message catalogue and the capped collector of diagnostics. Diagnostics reach the user only
// through the side file; raising one prints nothing.
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

/// Raises catalogue message `msgno` with severity 4 at file `filenum`, line `linenum`.
void raiseDiagnostic(t_ppErrMsgNode *errmsgArray, int32 *msgcounter, int32 msgno, int32 filenum,
                     int32 linenum);

} // namespace incprep

namespace incprep {

/// Writes the three eye-catcher lines to standard output, whatever the trace level.
void dumpEyeCatcher();

} // namespace incprep
