// The XML side file: the run's tables written as one document, piece by piece, with the
// escaping of names and texts and the decimal text of numbers. Reads the tables, changes none.
#pragma once

#include "blockwriter.h"
#include "records.h"

#include <span>

namespace incprep {

/// Appends `passed_cx` to `returned_cx` with "&", "'", '"', ">" and "<" replaced by their
/// entity references; every other byte is copied unchanged. Nothing is ever cut.
void provideXMLEntityRefs(std::string_view passed_cx, std::string &returned_cx);

/// Writes the decimal text of `n` (no leading zeros, "-" for negatives, INT32_MIN included) and
/// its terminator into the 20-byte field `passed_cx`. Used for line numbers.
void change_ltoa(int32 n, char *passed_cx);

/// The same operation as change_ltoa, used for counts and file numbers.
void change_itoa(int32 n, char *passed_cx);

/// Appends the decimal text of `n` to `out` (the text change_ltoa makes).
void appendDecimal(std::string &out, int32 n);

/// Writes `bufftowrite_len` items of `buffcount` bytes from `bufftowrite` to the side file and
/// returns the items written. With tracing it first echoes the piece with its length; a short
/// write is reported under trace (system error, eye-catcher, a fixed line), and the caller goes on.
int32 fwritexml(const char *bufftowrite, int32 bufftowrite_len, int32 buffcount,
                std::FILE *streamSYSXMLSD, int32 loglvl);

/// Writes the whole side file: files, diagnostics, the deck, and statement rows 1..outstmtct
/// (six to a line when `formattingOn` is 1, else lines closed once past 2000 characters).
/// Returns false when some piece was not written whole. `scratch`, when given, is memory the
/// statement lines may be gathered in; `writer`, when given, makes and writes half of a large
/// table on its thread (and lends a block of its ring otherwise), and is done by the time this
/// returns.
[[nodiscard]] bool writeXMLFile(std::FILE *streamSYSXMLSD, const t_ppErrMsgNode *errmsgArray,
                                const std::vector<t_ppResourceNode> &resArray,
                                const t_ppGendFileNode *gendfileArray,
                                const t_ppStmtTblNode *stmttblArray, int32 resourcectr,
                                int32 outstmtct, int32 errmsgct, int16 formattingOn, int32 loglvl,
                                std::span<char> scratch = {}, t_blockWriter *writer = nullptr);

} // namespace incprep
