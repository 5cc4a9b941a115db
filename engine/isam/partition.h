// Partitioned files as file sets see them (see partition.cpp). Until
// partitioned files are built no partitioned set or host comes into being:
// the calls that would make one answer 454, and the rebuild of a
// partitioned set is answered 454 as well.
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

// ---- Rebuild of partitioned sets --------------------------------------------
// Rebuilds a partitioned set, its host and each member, through the set
// rebuild (RBLIFILz): 0 or an error.
int zvpartrbl(IFILPARM *params);
// The partitioned host whose member a set rebuild is working on, or null.
FCB *zvparthost();
// Adds the key of a member's record to its host's global index (key pass of
// a set with global indexes): 0, 2 a duplicate there, or an error.
int zvpartaddk(int hostno, int keyno, const void *key, uint32_t posh, uint32_t posl);

}  // namespace zv
