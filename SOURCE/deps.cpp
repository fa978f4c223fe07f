// The make-style dependency file.
#include "deps.h"

#include <cstdio>
#include <unistd.h>

namespace incprep {

std::string makeEscape(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (const char c : name) {
    if (c == ' ' || c == '\t' || c == '#' || c == ':') out += '\\';
    if (c == '$') out += '$';
    out += c;
  }
  return out;
}

std::string dependencyText(std::string_view deck, std::string_view sideFile,
                           const std::vector<std::string> &inputFiles,
                           const std::vector<std::string> &directories) {
  std::string text = makeEscape(deck);
  text.append(" ").append(makeEscape(sideFile)).append(":");
  for (const std::string &file : inputFiles)
    text.append(" \\\n ").append(makeEscape(file));
  for (const std::string &dir : directories)
    text.append(" \\\n ").append(makeEscape(dir));
  text.append("\n");
  // An empty rule per member, so that a deleted copybook does not stop make.
  for (std::size_t i = 1; i < inputFiles.size(); ++i)
    text.append("\n").append(makeEscape(inputFiles[i])).append(":\n");
  return text;
}

bool writeFileAtomically(const std::string &path, std::string_view text) {
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  std::FILE *fp = std::fopen(temp.c_str(), "w");
  if (fp == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
  const bool closed = std::fclose(fp) == 0;
  if (!written || !closed || std::rename(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

} // namespace incprep
