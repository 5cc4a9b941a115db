// Virtual close: releasing the descriptors of the least recently used files.
#pragma once

// Releases the descriptor of the least recently used file of the open-file
// ring that is in state 'y'; the file becomes 'v' and is reopened before
// its next use. 1 when a descriptor was released, else 0 (reported to the
// status log unless quiet). Nothing happens when no engine is started.
int vtclosex(int quiet);
int vtclose(void);
// Logs a walk that released nothing: where it ended (2 empty ring, 3 ring
// walked through), the blocks visited, the blocks moved to the front and
// the blocks found without a descriptor.
void vtclose_rep(int loc, int tot, int chn, int nov);
