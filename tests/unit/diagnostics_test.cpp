// The message catalogue and the collector of diagnostics with its cap of 99 rows as raised plus
// one overflow row.
#include "diagnostics.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace incprep {
namespace {

TEST(MessageCatalogue, IdentifiersAreKvrFourDigitsAndW) {
  for (int32 n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16}) {
    SCOPED_TRACE(n);
    char want[16];
    std::snprintf(want, sizeof want, "KVR%04d-W", static_cast<int>(n));
    EXPECT_STREQ(getErrMsgID(n), want);
  }
}

TEST(MessageCatalogue, TextsByNumber) {
  const char *texts[] = {
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
  for (int32 n = 0; n <= 16; ++n) {
    SCOPED_TRACE(n);
    EXPECT_STREQ(getErrorMsg(n), texts[n]);
    // Every text fits the 200-byte message field.
    EXPECT_LT(std::strlen(getErrorMsg(n)), 200u);
  }
}

TEST(MessageCatalogue, TheEndMarkerHasNoIdentifier) {
  EXPECT_STREQ(getErrMsgID(14), "");
  EXPECT_STREQ(getErrMsgID(17), "");
  EXPECT_STREQ(getErrorMsg(17), "");
}

TEST(MessageCatalogue, NumbersTheSystemRaisesMatchTheCatalogue) {
  EXPECT_STREQ(getErrMsgID(kMsgNotFound), "KVR0009-W");
  EXPECT_STREQ(getErrMsgID(kMsgTerminator), "KVR0010-W");
  EXPECT_STREQ(getErrMsgID(kMsgOverflow), "KVR0012-W");
  EXPECT_STREQ(getErrMsgID(kMsgRecursive), "KVR0013-W");
  EXPECT_STREQ(getErrMsgID(kMsgBadCopy), "KVR0015-W");
  EXPECT_STREQ(getErrMsgID(kMsgUnreadable), "KVR0016-W");
  EXPECT_EQ(kSeverityWarning, 4);
}

// -----------------------------------------------------------------------------------------------
// The collector
// -----------------------------------------------------------------------------------------------

/// A diagnostic table as the scanner creates it: exactly 100 cleared rows, so that any write
/// past the last row is caught by the address sanitizer.
struct t_diagnostics {
  std::vector<t_ppErrMsgNode> rows = std::vector<t_ppErrMsgNode>(100);
  int32 count = 0;

  void add(int32 file, int32 line, const char *id = "KVR0009-W", int16 severity = 4,
           const char *text = "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.") {
    addErrorMessage(rows.data(), file, line, id, severity, text, &count);
  }
};

void expectRow(const t_ppErrMsgNode &row, int32 file, int32 line, const char *id, int16 severity,
               const char *text) {
  EXPECT_EQ(row.sourcefilenum, file);
  EXPECT_EQ(row.srcstmtnum, line);
  EXPECT_STREQ(row.msgid, id);
  EXPECT_EQ(row.severity, severity);
  EXPECT_STREQ(row.msgtxt, text);
}

TEST(DiagnosticCollector, StoresRowsInTheOrderRaised) {
  t_diagnostics d;
  d.add(1, 10, "KVR0009-W", 4, "first");
  d.add(2, 20, "KVR0013-W", 8, "second");
  EXPECT_EQ(d.count, 2);
  expectRow(d.rows[0], 1, 10, "KVR0009-W", 4, "first");
  expectRow(d.rows[1], 2, 20, "KVR0013-W", 8, "second");
  expectRow(d.rows[2], 0, 0, "", 0, "");
}

TEST(DiagnosticCollector, ARowIsClearedBeforeItIsFilled) {
  t_diagnostics d;
  std::memset(d.rows[0].msgid, 'Z', sizeof d.rows[0].msgid);
  std::memset(d.rows[0].msgtxt, 'Z', sizeof d.rows[0].msgtxt);
  d.add(3, 4, "ID", 4, "short");
  EXPECT_STREQ(d.rows[0].msgid, "ID");
  EXPECT_STREQ(d.rows[0].msgtxt, "short");
  for (std::size_t i = 2; i < sizeof d.rows[0].msgid; ++i)
    EXPECT_EQ(d.rows[0].msgid[i], '\0');
  for (std::size_t i = 5; i < sizeof d.rows[0].msgtxt; ++i)
    EXPECT_EQ(d.rows[0].msgtxt[i], '\0');
}

TEST(DiagnosticCollector, KeepsNinetyNineAsRaisedThenOneOverflowRowThenNothing) {
  t_diagnostics d;
  for (int32 k = 1; k <= 98; ++k)
    d.add(k % 5 + 1, k);
  EXPECT_EQ(d.count, 98);

  // The 99th is stored as raised, in row 98.
  d.add(6, 990, "KVR0013-W", 4, "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.");
  EXPECT_EQ(d.count, 99);
  expectRow(d.rows[98], 6, 990, "KVR0013-W", 4, "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.");

  // The 100th becomes the overflow row with its own file and line; what it carried is dropped.
  d.add(7, 1000, "KVR0013-W", 2, "dropped text");
  EXPECT_EQ(d.count, 100);
  expectRow(d.rows[99], 7, 1000, "KVR0012-W", 4,
            "EXCEEDED ALLOWABLE NUMBER OF PREPROCESSOR ERROR MESSAGES.");

  // The 101st and later change nothing.
  d.add(8, 1010, "KVR0009-W", 4, "later");
  d.add(9, 1020);
  EXPECT_EQ(d.count, 100);
  expectRow(d.rows[99], 7, 1000, "KVR0012-W", 4,
            "EXCEEDED ALLOWABLE NUMBER OF PREPROCESSOR ERROR MESSAGES.");
  expectRow(d.rows[98], 6, 990, "KVR0013-W", 4, "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.");

  // The first 98 rows are untouched.
  for (int32 k = 1; k <= 98; ++k) {
    const t_ppErrMsgNode &row = d.rows[static_cast<std::size_t>(k - 1)];
    EXPECT_EQ(row.sourcefilenum, k % 5 + 1);
    EXPECT_EQ(row.srcstmtnum, k);
    EXPECT_STREQ(row.msgid, "KVR0009-W");
  }
}

TEST(DiagnosticCollector, ACountAlreadyAtTheCapStoresNothing) {
  t_diagnostics d;
  d.count = 100;
  d.add(1, 1);
  EXPECT_EQ(d.count, 100);
  for (const t_ppErrMsgNode &row : d.rows)
    expectRow(row, 0, 0, "", 0, "");
}

TEST(DiagnosticCollector, RaisingTakesTheCatalogueEntryWithSeverityFour) {
  t_diagnostics d;
  raiseDiagnostic(d.rows.data(), &d.count, kMsgNotFound, 2, 14);
  raiseDiagnostic(d.rows.data(), &d.count, kMsgRecursive, 3, 1);
  raiseDiagnostic(d.rows.data(), &d.count, kMsgTerminator, 1, 99);
  EXPECT_EQ(d.count, 3);
  expectRow(d.rows[0], 2, 14, "KVR0009-W", 4,
            "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.");
  expectRow(d.rows[1], 3, 1, "KVR0013-W", 4, "RECURSIVE INCLUDE PREPROCESSING IS NOT ALLOWED.");
  expectRow(d.rows[2], 1, 99, "KVR0010-W", 4, "++INCLUDE OR -INC STATEMENT TERMINATOR MISSING.");
}

TEST(DiagnosticCollector, RaisingObeysTheSameCap) {
  t_diagnostics d;
  for (int32 k = 1; k <= 105; ++k)
    raiseDiagnostic(d.rows.data(), &d.count, kMsgNotFound, 1, k);
  EXPECT_EQ(d.count, 100);
  expectRow(d.rows[98], 1, 99, "KVR0009-W", 4,
            "UNABLE TO FIND THE FILE SPECIFIED IN THE LIBRARY CONCATENATION.");
  expectRow(d.rows[99], 1, 100, "KVR0012-W", 4,
            "EXCEEDED ALLOWABLE NUMBER OF PREPROCESSOR ERROR MESSAGES.");
}

TEST(DiagnosticCollector, ADetailStaysWithItsOwnRowNeverWithTheOverflowRow) {
  t_diagnostics d;
  for (int32 k = 1; k <= 100; ++k)
    raiseDiagnostic(d.rows.data(), &d.count, kMsgNotFound, 1, k, "member 'M" + std::to_string(k) + "'");
  EXPECT_EQ(d.rows[0].detail, "member 'M1'");
  EXPECT_EQ(d.rows[98].detail, "member 'M99'");
  EXPECT_EQ(d.rows[99].detail, "");
  raiseDiagnostic(d.rows.data(), &d.count, kMsgTerminator, 1, 1);
  EXPECT_EQ(d.rows[99].detail, "");
}

TEST(DiagnosticEcho, CompilerFormWithTheIncludeChainInnermostFirst) {
  t_diagnostics d;
  raiseDiagnostic(d.rows.data(), &d.count, kMsgNotFound, 3, 7, "member 'X' not found (here)");
  raiseDiagnostic(d.rows.data(), &d.count, kMsgTerminator, 1, 12);
  struct t_case {
    const char *what;
    std::size_t row;
    std::vector<t_includeStep> chain;
    std::string want;
  };
  const std::vector<t_case> cases = {
      {"in the primary, catalogue text", 1, {},
       "P.cbl:7: warning: KVR0010-W ++INCLUDE OR -INC STATEMENT TERMINATOR MISSING.\n"},
      {"one level", 0, {{"P.cbl", 12}},
       "In file included from P.cbl:12:\n"
       "P.cbl:7: warning: KVR0009-W member 'X' not found (here)\n"},
      {"three levels", 0, {{"lib/B.cpy", 2}, {"lib/A.cpy", 40}, {"P.cbl", 12}},
       "In file included from lib/B.cpy:2,\n"
       "                 from lib/A.cpy:40,\n"
       "                 from P.cbl:12:\n"
       "P.cbl:7: warning: KVR0009-W member 'X' not found (here)\n"},
  };
  for (const t_case &c : cases) {
    SCOPED_TRACE(c.what);
    t_ppErrMsgNode row = d.rows[c.row];
    row.srcstmtnum = 7;
    EXPECT_EQ(diagnosticEchoText(row, "P.cbl", c.chain), c.want);
  }
}

} // namespace
} // namespace incprep
