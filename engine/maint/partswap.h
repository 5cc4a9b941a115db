// The members of a closed partitioned host, for a swap that puts a new
// partitioned set in an old one's place: their files, and the names stored
// inside the new set (each member's definition, the host's member table)
// rewritten to the old set's before its files take those names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

// One member set: its raw number and its files, the data file first, then
// per index position of the host's definition the member's own index file
// ("" where that position is no file of its own).
struct PartMemberFiles {
    int32_t raw = 0;
    std::vector<std::string> files;
};

// Whether the data file `name` is a partitioned host (*host), with a rule
// (*rule), and the files of its members that have files: 0 or the error.
// Each member set is opened on its own, read only; a host this instance
// has open is read through its open block (its members table as it is in
// memory, its open members' files from their open sets).
int part_member_files(const char *name, bool *host, bool *rule, std::vector<PartMemberFiles> *out);

// The files of member raw of a host whose host-side files (the data file,
// then per index position its own index file or "") are `hostside`, by the
// members' naming: 0, or 418 a name past 255 bytes.
int part_member_names(bool rule, int32_t raw, const std::vector<std::string> &hostside, PartMemberFiles *out);

// Stores `names` in the closed host `name` whose members' files are `now`
// (one entry each, in the same order): each member's definition names its
// files so, and the host's member table its data file. No file is
// renamed. 0 or the first error (names stored before it stay: storing
// `now` again puts them back).
int part_store_names(const char *name, const std::vector<PartMemberFiles> &now,
                     const std::vector<PartMemberFiles> &names);

}  // namespace zv
