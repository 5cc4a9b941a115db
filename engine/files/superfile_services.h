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
}  // namespace zv
