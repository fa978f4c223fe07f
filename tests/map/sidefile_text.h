// Building side-file documents for the tests in the layout incprep writes: no indentation, every
// line ending in a blank and a newline, the last line "</BUILD>" without line end. Only the tags
// come from here; each test states its own values and statement lines.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace maptest {

struct t_message {
  std::string id; // already escaped
  int line = 0;
  int file = 0;
  std::string text; // already escaped
};

struct t_sideDoc {
  int fileCount = 0;
  std::vector<std::pair<int, std::string>> files; // number, escaped name
  std::vector<t_message> messages;
  std::string deck;                        // escaped name
  std::vector<std::string> statementLines; // each without its line end
};

inline std::string sideFileText(const t_sideDoc &d) {
  const std::string nl = " \n";
  std::string s = "<?xml version=\"1.0\" standalone=\"yes\"?>" + nl + "<BUILD>" + nl + "<PACKAGE>" +
                  nl + "<FILEREFERENCETABLE>" + nl + "<FILECOUNT>" + std::to_string(d.fileCount) +
                  "</FILECOUNT>";
  for (const auto &[number, name] : d.files)
    s += nl + "<FILE>" + nl + "<FILENUMBER>" + std::to_string(number) + "</FILENUMBER>" + nl +
         "<FILENAME>" + name + "</FILENAME>" + nl + "</FILE>";
  s += nl + "</FILEREFERENCETABLE>" + nl;
  for (const t_message &m : d.messages)
    s += "<MESSAGE>" + nl + "<MSGNUMBER>" + m.id + "</MSGNUMBER>" + nl + "<MSGLINE>" +
         std::to_string(m.line) + "</MSGLINE>" + nl + "<MSGFILE>" + std::to_string(m.file) +
         "</MSGFILE>" + nl + "<MSGTEXT>" + nl + m.text + nl + "</MSGTEXT>" + nl + "</MESSAGE>" + nl;
  s += "<OUTFILEREFERENCETABLE>" + nl + "<OUTFILECOUNT>1</OUTFILECOUNT>" + nl + "<OUTFILE>" + nl +
       "<OUTFILENUMBER>1</OUTFILENUMBER>" + nl + "<OUTFILENAME>" + d.deck + "</OUTFILENAME>" + nl +
       "</OUTFILE>" + nl + "</OUTFILEREFERENCETABLE>" + nl + "<STATEMENTTABLE>" + nl;
  for (const std::string &line : d.statementLines)
    s += line + nl;
  s += "</STATEMENTTABLE>" + nl + "</PACKAGE>" + nl + "</BUILD>";
  return s;
}

/// One statement-table entry.
inline std::string entry(long oln, long ofn, long iln, long ifn) {
  return "(" + std::to_string(oln) + "," + std::to_string(ofn) + "," + std::to_string(iln) + "," +
         std::to_string(ifn) + ");";
}

} // namespace maptest
