// Conditional-index tables built in memory: tests give a file its table
// from condition texts directly, as loading the stored conditions would,
// without storing them in the file.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zvtest {

// Gives the open data file datno a table of conditions: per entry the
// relative index number and the text, parsed against the file's fields
// (a text beginning with "@" is a callback filter, initialised). The
// file's previous table is released; the file's close releases this one.
// 0, or the code of the text that does not parse (597) or of a failed
// allocation (82).
int install_conditions(int datno, const std::vector<std::pair<int, std::string>> &conditions);

}  // namespace zvtest
