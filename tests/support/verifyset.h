// The verification oracle of the tests: a closed file set checked record
// against key and every index file of it checked structurally.
#pragma once

#include <string>

namespace zvtest {

// On a closed set (the cross-check opens it by its data file's name) runs
// zvVerifyFile with flags 4 | 16 and zvVERIFYidx with checks 1 | 2 | 8 on
// every index of the set; on any non-zero code the test fails with every
// line the runs reported. True when every run answered 0.
bool verify_set(const std::string &datname);

}  // namespace zvtest
