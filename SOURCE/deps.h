// The make-style dependency file: the deck and the side file depend on the primary source and
// on every member that took part.
#pragma once

#include "records.h"

namespace incprep {

/// Escapes `name` as GNU make reads a file name in a rule: blanks, "#" and ":" take a
/// backslash, "$" is doubled.
[[nodiscard]] std::string makeEscape(std::string_view name);

/// The text of the dependency file: "DECK SIDEFILE: FILE1 FILE2 ... DIR1 DIR2 ...", then an
/// empty rule for each file after the first (the members), in file-number order, each file
/// once. The directories are the library directories searched without success: creating a
/// member in one of them may change the deck.
[[nodiscard]] std::string dependencyText(std::string_view deck, std::string_view sideFile,
                                         const std::vector<std::string> &inputFiles,
                                         const std::vector<std::string> &directories = {});

/// Writes `text` to `path` atomically: a temporary file beside it, then a rename. False when it
/// could not be written whole; nothing is left behind then.
[[nodiscard]] bool writeFileAtomically(const std::string &path, std::string_view text);

} // namespace incprep
