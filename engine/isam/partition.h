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

// The partition state of a data file that ISAM contexts save and restore:
// the raw number of the current member with its companion word, and the
// current partition number with its companion word (zeros while the file
// keeps none).
struct PartState {
    int32_t member[2];
    int32_t partno[2];
};
void partition_state_get(const FCB *f, PartState *out);
void partition_state_set(FCB *f, const PartState *in);
// The lowest raw member number of a partitioned host (INT32_MAX when it
// has no member table).
int32_t partition_lowest_raw(const FCB *host);
// File number of the member recorded for raw number raw (-1: the host's
// current one, returned through *rawout); -1 with 722 when the host has
// no member table.
int hostpartno(FCB *host, int32_t *rawout, int hostno, int32_t raw);
// Makes the host's current record the member's: 0, or negative on failure.
int partcuri(int memberno, int hostno);

// ---- Set-wide changes reaching the members ------------------------------------
// Renames the member sets of a partitioned host after its set was renamed
// to the names of p's IFIL: 0 for a set that is not partitioned.
int part_ren(IFILPARM *p);
// Copies the resources of file `from` to file `to`: 0 or the error.
int zvxfrres(int from, int to);
// Drops the index of relative number relkey (file `index`) from every
// member of a host: 0 or the first member's error.
int zvpartdrop(FCB *host, FCB *index, int hostno, int relkey);
// Adds the indexes of p (the first of relative number relkey) to every
// member of a host (add set) or rebuilds them there: 0 or the first
// member's error.
int zvpartiidx(FCB *host, int hostno, int relkey, IFILPARM *p, int add, int flag);

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
