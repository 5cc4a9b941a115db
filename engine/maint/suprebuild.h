// Superfile rebuild (see suprebuild.cpp; ZVSBLDX is declared in zarvo.h),
// and the repair of single members of a host that it shares with the set
// rebuild.
#pragma once

#include <string>
#include <vector>

namespace zv {

// A closed file of a set, by name, and the file numbers it takes open: 1 +
// its member indexes.
struct MemberFile {
    std::string name;
    int files = 1;
};

// Repairs the superfile members among `files` (other names are passed
// over) from the areas each owns in its host, as the superfile rebuild does
// for every member: a data member's record count, delete stack and area
// chain, every member's resource ring, and index members emptied (their
// nodes on the deleted-node stack) to be loaded again. Each is opened
// whatever its update flag says and marked on disk before it changes; a
// data member is closed cleanly, an index member left marked (update flag
// 0xFF) until its load closes it. The host must stand as it is: one not
// closed cleanly gives 14 (it needs the superfile rebuild). A host that was
// not open is opened and left open for the caller to close: its number is
// added to *opened. 0 or the error; a failure leaves the members marked.
int rbl_member_pass(const std::vector<MemberFile> &files, std::vector<int> *opened);

}  // namespace zv
