// The message catalogue and the capped collector of diagnostics.
#include "diagnostics.h"

#include <cstring>
#include <iterator>

namespace incprep {
namespace {

constexpr const char *kMsgTexts[] = {
    "INCLUDE PREPROCESSOR: Insufficient storage\n",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSXMLSD.",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSIN.",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSLIB.",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSPRINT.",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSPUNCH.",
    "INCLUDE PREPROCESSOR: An error occurred opening SYSOPTS.",
    "INCLUDE PREPROCESSOR: An error reallocating memory.",
    "UNABLE TO FIND THE FILE SPECIFIED IN THE SYSLIB CONCATENATION.",
    "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.",
    "++INCLUDE OR -INC STATEMENT TERMINATOR MISSING.",
    "INCORRECT INCLUDE PREPROCESSOR OPTIONS SPECIFIED.",
    "EXCEEDED ALLOWABLE NUMBER OF PREPROCESSOR ERROR MESSAGES.",
    "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.",
    "LAST ERROR MESSAGE.",
    "COPY STATEMENT INCOMPLETE OR INVALID; THE MEMBER IS NOT EXPANDED.",
    "MEMBER FILE FOUND IN THE LIBRARY CONCATENATION CANNOT BE READ.",
};

constexpr const char *kMsgIds[] = {
    "KVR0000-W", "KVR0001-W", "KVR0002-W", "KVR0003-W", "KVR0004-W", "KVR0005-W", "KVR0006-W",
    "KVR0007-W", "KVR0008-W", "KVR0009-W", "KVR0010-W", "KVR0011-W", "KVR0012-W", "KVR0013-W",
    "", // 14 is the old end marker of the texts and has no identifier
    "KVR0015-W", "KVR0016-W",
};

constexpr int32 kStoredMax = kErrMsgRows - 1; // rows kept as raised; the last row is for overflow

void fillRow(t_ppErrMsgNode &row, int32 filenum, int32 linenum, const char *msgid, int16 severity,
             const char *msgtxt) {
  row = t_ppErrMsgNode{};
  row.sourcefilenum = filenum;
  row.srcstmtnum = linenum;
  // Catalogue identifiers and texts always fit their fields.
  (void)copyField(row.msgid, sizeof row.msgid, msgid);
  row.severity = severity;
  (void)copyField(row.msgtxt, sizeof row.msgtxt, msgtxt);
}

} // namespace

const char *getErrorMsg(int32 msgno) {
  if (msgno < 0 || msgno >= static_cast<int32>(std::size(kMsgTexts))) return "";
  return kMsgTexts[msgno];
}

const char *getErrMsgID(int32 msgno) {
  if (msgno < 0 || msgno >= static_cast<int32>(std::size(kMsgIds))) return "";
  return kMsgIds[msgno];
}

void addErrorMessage(t_ppErrMsgNode *errmsgArray, int32 xsourcefilenum, int32 xsrcstmtnum,
                     const char *xmsgid, int16 xseverity, const char *xmsgtxt,
                     int32 *xmessagecount) {
  const int32 count = *xmessagecount;
  if (count == kStoredMax) {
    fillRow(errmsgArray[count], xsourcefilenum, xsrcstmtnum, getErrMsgID(kMsgOverflow),
            kSeverityWarning, getErrorMsg(kMsgOverflow));
    *xmessagecount = count + 1;
  } else if (count < kStoredMax) {
    fillRow(errmsgArray[count], xsourcefilenum, xsrcstmtnum, xmsgid, xseverity, xmsgtxt);
    *xmessagecount = count + 1;
  }
}

void raiseDiagnostic(t_ppErrMsgNode *errmsgArray, int32 *msgcounter, int32 msgno, int32 filenum,
                     int32 linenum, std::string_view detail) {
  char msgtxt[kMsgTextWidth];
  char msgid[kMsgIdWidth];
  (void)copyField(msgtxt, sizeof msgtxt, getErrorMsg(msgno));
  (void)copyField(msgid, sizeof msgid, getErrMsgID(msgno));
  const int32 before = *msgcounter;
  addErrorMessage(errmsgArray, filenum, linenum, msgid, kSeverityWarning, msgtxt, msgcounter);
  // The detail belongs to this occurrence only, not to an overflow row that stands for it.
  if (*msgcounter > before && std::strcmp(errmsgArray[before].msgid, msgid) == 0)
    errmsgArray[before].detail = detail;
}

std::string diagnosticEchoText(const t_ppErrMsgNode &row, std::string_view file,
                               const std::vector<t_includeStep> &chain) {
  std::string text;
  for (std::size_t k = 0; k < chain.size(); ++k) {
    text.append(k == 0 ? "In file included from " : "                 from ");
    text.append(chain[k].file).append(":").append(std::to_string(chain[k].line));
    text.append(k + 1 == chain.size() ? ":\n" : ",\n");
  }
  text.append(file).append(":").append(std::to_string(row.srcstmtnum)).append(": warning: ");
  text.append(row.msgid).append(" ");
  text.append(row.detail.empty() ? std::string_view(row.msgtxt) : std::string_view(row.detail));
  text.append("\n");
  return text;
}

} // namespace incprep

namespace incprep {

void dumpEyeCatcher() {
  std::fputs("**************************************************\n", stdout);
  std::fputs("***EYE CATCHER**EYE CATCHER**EYE CATCHER**********\n", stdout);
  std::fputs("**************************************************\n", stdout);
}

} // namespace incprep
