// Superfiles and segmented files, as creation and open use them.
//
// Member names are recognised; until superfiles and segmented files are
// built, creating or opening a member, a superfile host or a segmented file
// answers 454 (not supported).
#pragma once

#include <cstdint>

struct FCB;

extern "C" {
// 1-based position of the member separator in a name; 0 when the name has
// none or starts with it.
int zvsname1(const char *name);
}

namespace zv {

// Creation of a superfile member `name` on `filno`: 0 or an error code.
int superfile_member_create(int filno, const char *name);
// Open of a superfile member into `fcb`: 0 or an error code.
int superfile_member_open(FCB *fcb, const char *name);
// Binds the directory index of an open superfile host: 0 or an error code.
int superfile_host_bind(FCB *host);
// Creation of a superfile host's directory index: 0 or an error code.
int zvcresi(FCB *host);
// Segment definitions of a new segmented file, and their reading at open.
int zvstrsegmdef(FCB *fcb);
int zvopnsegmdef(FCB *fcb);
// End of the last segment of a segmented file, when that segment has an end
// limit: the limit rounded down to the instance page size; 0 when none.
uint64_t zvseglimit(FCB *fcb);
// Rewrites the segment headers of a segmented file (they carry the
// creation time): 0 or an error code.
int zvputsegmdef(FCB *fcb);

}  // namespace zv
