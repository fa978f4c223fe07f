// xmllint runs for the side-file checks.
#include "xmlcheck.h"

#include "process.h"

namespace e2e {

std::vector<std::string> checkWithXmllint(const std::filesystem::path &file,
                                          const std::filesystem::path &schemaFile) {
  const std::string xmllint = findOnPath("xmllint");
  if (xmllint.empty()) return {"xmllint is not on PATH: cannot check " + file.string()};
  // --huge: a large deck gives a statement table beyond libxml2's default text-node limit.
  std::vector<std::vector<std::string>> runs = {{"--noout", "--huge", file.string()}};
  std::error_code ec;
  // libxml2's pattern matcher gives up ("internal error") on a statement table of many
  // megabytes; such tables are still parsed whole and checked row by row by the line map.
  constexpr std::uintmax_t kSchemaSizeLimit = 8u << 20;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (std::filesystem::exists(schemaFile, ec) && !ec && size <= kSchemaSizeLimit)
    runs.push_back({"--noout", "--huge", "--schema", schemaFile.string(), file.string()});

  std::vector<std::string> problems;
  for (const auto &args : runs) {
    const t_runResult run = runProgram(xmllint, "xmllint", args, file.parent_path().string(), {},
                                       std::chrono::seconds(120));
    if (run.statusText() != "0") {
      std::string command = "xmllint";
      for (const auto &a : args)
        command += " " + a;
      problems.push_back(command + " ended with " + run.statusText() + ":\n" + run.err + run.out);
    }
  }
  return problems;
}

} // namespace e2e
