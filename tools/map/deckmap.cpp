#include "deckmap.h"

#include <algorithm>
#include <unordered_map>

namespace incmap {

namespace {

// A stretch of rows: either consecutive lines of one file (file != 0) or rows without a source.
struct t_stretch {
  std::uint32_t firstRow = 0;
  std::uint32_t length = 0;
  std::uint32_t file = 0;
  std::uint32_t firstLine = 0;
};

// The table's runs, with neighbouring runs of file 0 joined into one stretch.
std::vector<t_stretch> stretchesOf(const t_stmtTable &table) {
  std::vector<t_stretch> result;
  const auto &runs = table.runs();
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::uint32_t length = table.runLength(i);
    if (runs[i].file == 0 && !result.empty() && result.back().file == 0) {
      result.back().length += length;
      continue;
    }
    result.push_back(t_stretch{runs[i].firstRow, length, runs[i].file, runs[i].firstLine});
  }
  return result;
}

// One file being read while the table is replayed.
struct t_frame {
  std::uint32_t file = 0;           // 0 while the member is not known yet
  std::uint32_t last = 0;           // last line read from it
  std::vector<std::size_t> pending; // blocks whose statement lies in this (unknown) file
};

} // namespace

t_deckMap::t_deckMap(const t_stmtTable &table) : table_(table) {
  bool anyZero = false;
  bool notFours = false;
  for (const t_stretch &s : stretchesOf(table_)) {
    if (s.file != 0) continue;
    anyZero = true;
    if (s.length % 4 != 0) notFours = true;
  }
  if (!anyZero) return;
  if (!notFours) {
    blockSize_ = 4;
    if (replay(4, stretches_, blocks_)) return;
  }
  blockSize_ = 2;
  replay(2, stretches_, blocks_);
}

bool t_deckMap::replay(unsigned blockSize, std::vector<t_zeroStretch> &stretches,
                       std::vector<t_stmtRow> &blocks) const {
  stretches.clear();
  blocks.clear();
  const std::vector<t_stretch> all = stretchesOf(table_);

  // The highest line recorded for each file: a file read up to that line has ended.
  std::unordered_map<std::uint32_t, std::uint32_t> endLine;
  for (const t_stretch &s : all) {
    if (s.file == 0) continue;
    std::uint32_t &end = endLine[s.file];
    end = std::max(end, s.firstLine + (s.length - 1));
  }

  bool consistent = true;
  std::vector<t_frame> stack{t_frame{1, 0, {}}}; // the primary source is input file 1

  for (const t_stretch &s : all) {
    if (s.file != 0) {
      const std::uint32_t f = s.file;
      if (stack.back().file != f) {
        auto known = std::find_if(stack.rbegin(), stack.rend(),
                                  [f](const t_frame &fr) { return fr.file == f; });
        auto unknown = std::find_if(stack.rbegin(), stack.rend(),
                                    [](const t_frame &fr) { return fr.file == 0; });
        if (known != stack.rend()) {
          // The files above it have ended; members never seen again stay unknown.
          stack.resize(static_cast<std::size_t>(stack.rend() - known));
        } else if (unknown != stack.rend()) {
          stack.resize(static_cast<std::size_t>(stack.rend() - unknown));
          t_frame &member = stack.back();
          member.file = f;
          for (const std::size_t b : member.pending)
            blocks[b].file = f;
          member.pending.clear();
        } else {
          // A member that came in without commented include lines.
          consistent = false;
          stack.push_back(t_frame{f, 0, {}});
        }
      }
      stack.back().last = s.firstLine + (s.length - 1);
      continue;
    }

    // Rows of zeros: leave the files that have ended, then one member per block.
    while (stack.size() > 1 && stack.back().file != 0 &&
           stack.back().last >= endLine[stack.back().file])
      stack.pop_back();
    const std::size_t count = s.length / blockSize;
    if (count * blockSize != s.length) consistent = false;
    stretches.push_back(t_zeroStretch{s.firstRow, s.length, blocks.size(), count});
    for (std::size_t i = 0; i < count; ++i) {
      t_frame &top = stack.back();
      const std::size_t b = blocks.size();
      blocks.push_back(t_stmtRow{top.last + 1, top.file});
      if (top.file == 0) top.pending.push_back(b);
      ++top.last;
      stack.push_back(t_frame{0, 0, {}});
    }
  }
  return consistent;
}

t_mapResult t_deckMap::map(std::uint64_t deckLine) const {
  if (deckLine == 0 || deckLine > table_.rowCount()) return {t_mapStatus::outOfRange, 0, 0};
  const auto k = static_cast<std::uint32_t>(deckLine);
  const t_stmtRow row = table_.row(k);
  if (row.file != 0) {
    if (row.line == 0) return {t_mapStatus::noSourceLine, 0, 0};
    return {t_mapStatus::found, row.file, row.line};
  }
  const auto after =
      std::upper_bound(stretches_.begin(), stretches_.end(), k,
                       [](std::uint32_t r, const t_zeroStretch &z) { return r < z.firstRow; });
  if (after == stretches_.begin() || blockSize_ == 0) return {t_mapStatus::noSourceLine, 0, 0};
  const t_zeroStretch &z = *(after - 1);
  const std::size_t block = (k - z.firstRow) / blockSize_;
  if (k - z.firstRow >= z.length || block >= z.blockCount) return {t_mapStatus::noSourceLine, 0, 0};
  const t_stmtRow &statement = blocks_[z.firstBlock + block];
  if (statement.file == 0 || statement.line == 0) return {t_mapStatus::noSourceLine, 0, 0};
  return {t_mapStatus::found, statement.file, statement.line};
}

} // namespace incmap
