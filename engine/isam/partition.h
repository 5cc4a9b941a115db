// Partitioned files as file sets see them (see partition.cpp). Until
// partitioned files are built no partitioned set or host comes into being:
// the calls that would make one answer 454.
#pragma once

#include "zarvo/zarvo.h"

struct FCB;

namespace zv {

// Reads a partitioned host's member table / partition rule at open.
int zvpartres(int filno);
int zvpartrule(FCB *host, int filno);
// Marks which index of a create holds the partition-key segments.
int zvchkprtidx(XCREblk *xcre, const IFIL *ifil, int pos, int keyidx);
// Builds a partitioned host's partition-key map.
int setkincmap(FCB *host, int datno);
// Closes the members of a host; frees its rule and member table.
int zvpartcls(FCB *host);
int zvpartcln(FCB *host);
// Deletes the partitions of a host before the host itself is deleted.
int zvpartdelete(int datno);

}  // namespace zv
