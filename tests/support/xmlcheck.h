// Well-formedness and schema checks of a side file through xmllint, for both end-to-end runners.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace e2e {

/// Runs `xmllint --noout` on `file`, and when `schemaFile` exists also
/// `xmllint --noout --schema schemaFile`. Returns the problems (xmllint's complaints, or that
/// xmllint is not on PATH); empty when the file passed.
[[nodiscard]] std::vector<std::string> checkWithXmllint(const std::filesystem::path &file,
                                                        const std::filesystem::path &schemaFile);

} // namespace e2e
